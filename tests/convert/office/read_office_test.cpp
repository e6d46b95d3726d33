// The office readers on documents made here: DOCX and ODT archives built
// in memory, RTF as text. Each row is a document and the blocks it must
// give, written one a line as the writer would see them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/charset.h"
#include "convert/convert.h"
#include "convert/document.h"
#include "convert/formats.h"
#include "convert/readers.h"
#include "convert/xml.h"
#include "helpers.h"
#include "../dump.h"
#include "../zip_maker.h"

namespace {

using Blocks = std::vector<std::string>;



// `bytes`, read by `read` as a file named `file_name`, give the blocks `want`.
void expect_blocks(ReadFunction read, const std::string &bytes, const char *file_name,
                   const Blocks &want, const std::string &row_name)
{
    ASSERT_FALSE(bytes.empty()) << row_name;
    Document doc;
    EXPECT_NE(read(Input{bytes, file_name}, doc), ReadResult::not_this_format) << row_name;
    EXPECT_EQ(dump(doc), want) << row_name;
}

class OfficeReaders : public ::testing::Test {
protected:
    static void SetUpTestSuite() { xml_init(); }
};

// ---------------------------------------------------------------- DOCX

const std::string w_ns = R"( xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main")"
                         R"( xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006")"
                         R"( xmlns:wps="http://schemas.microsoft.com/office/word/2010/wordprocessingShape")"
                         R"( xmlns:wp="http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing")"
                         R"( xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main")"
                         R"( xmlns:v="urn:schemas-microsoft-com:vml")";

std::string w_part(const std::string &root, const std::string &inner)
{
    return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)" "\n<w:" + root + w_ns + ">" + inner +
           "</w:" + root + ">";
}

std::string run(const std::string &text)
{
    return "<w:r><w:t xml:space=\"preserve\">" + text + "</w:t></w:r>";
}

std::string para(const std::string &text, const std::string &ppr = "")
{
    return "<w:p>" + (ppr.empty() ? "" : "<w:pPr>" + ppr + "</w:pPr>") + run(text) + "</w:p>";
}

std::string styled(const std::string &style, const std::string &text)
{
    return para(text, "<w:pStyle w:val=\"" + style + "\"/>");
}

std::string numbered(int num_id, int ilvl, const std::string &text)
{
    return para(text, "<w:numPr><w:ilvl w:val=\"" + std::to_string(ilvl) + "\"/><w:numId w:val=\"" +
                          std::to_string(num_id) + "\"/></w:numPr>");
}

std::string cell(const std::string &content)
{
    return "<w:tc><w:tcPr/>" + content + "</w:tc>";
}

struct DocxRow {
    const char *name;
    std::string body;
    std::string styles = {}, numbering = {}, footnotes = {}, endnotes = {}; // members left out when empty
    Blocks want = {};
};

std::string make_docx(const DocxRow &row)
{
    ziptest::Members members = {{"[Content_Types].xml", "<Types/>"},
                                {"word/document.xml", w_part("document", "<w:body>" + row.body + "</w:body>")}};
    const std::pair<const char *, const std::string *> parts[] = {{"word/styles.xml", &row.styles},
                                                                  {"word/numbering.xml", &row.numbering},
                                                                  {"word/footnotes.xml", &row.footnotes},
                                                                  {"word/endnotes.xml", &row.endnotes}};
    for (const auto &[name, part] : parts)
        if (!part->empty())
            members.push_back({name, *part});
    return ziptest::make_zip(members);
}

std::string level(int ilvl, const std::string &format, int start, const std::string &text)
{
    return "<w:lvl w:ilvl=\"" + std::to_string(ilvl) + "\"><w:start w:val=\"" + std::to_string(start) +
           "\"/><w:numFmt w:val=\"" + format + "\"/><w:lvlText w:val=\"" + text + "\"/></w:lvl>";
}

const std::string numbering_part = w_part(
    "numbering",
    "<w:abstractNum w:abstractNumId=\"10\">" + level(0, "decimal", 7, "%1.") + level(1, "lowerLetter", 1, "%2)") +
        "</w:abstractNum>"
        "<w:abstractNum w:abstractNumId=\"20\">" + level(0, "bullet", 1, "–") + level(1, "bullet", 1, "\xEF\x82\xB7") +
        "</w:abstractNum>"
        "<w:abstractNum w:abstractNumId=\"30\">" + level(0, "upperRoman", 1, "%1.") + level(1, "none", 1, "") +
        "</w:abstractNum>"
        "<w:num w:numId=\"1\"><w:abstractNumId w:val=\"10\"/></w:num>"
        "<w:num w:numId=\"2\"><w:abstractNumId w:val=\"20\"/></w:num>"
        "<w:num w:numId=\"3\"><w:abstractNumId w:val=\"10\"/>"
        "<w:lvlOverride w:ilvl=\"0\"><w:startOverride w:val=\"3\"/></w:lvlOverride></w:num>"
        "<w:num w:numId=\"4\"><w:abstractNumId w:val=\"30\"/></w:num>");

const std::string styles_part = w_part(
    "styles", R"(<w:style w:type="paragraph" w:styleId="Normal"><w:name w:val="Normal"/></w:style>)"
              R"(<w:style w:type="paragraph" w:styleId="berschrift2"><w:name w:val="heading 2"/></w:style>)"
              R"(<w:style w:type="paragraph" w:styleId="Mine"><w:name w:val="Mine"/>)"
              R"(<w:basedOn w:val="berschrift2"/></w:style>)"
              R"(<w:style w:type="paragraph" w:styleId="Heading1"><w:name w:val="Heading One Look"/></w:style>)"
              R"(<w:style w:type="paragraph" w:styleId="BlockText"><w:name w:val="Block Text"/></w:style>)"
              R"(<w:style w:type="paragraph" w:styleId="ListDash"><w:name w:val="List Dash"/>)"
              R"(<w:pPr><w:numPr><w:numId w:val="2"/></w:numPr></w:pPr></w:style>)");

const std::string footnotes_part = w_part(
    "footnotes", R"(<w:footnote w:type="separator" w:id="-1"><w:p><w:r><w:separator/></w:r></w:p></w:footnote>)"
                 R"(<w:footnote w:type="continuationSeparator" w:id="0"><w:p><w:r><w:t>cont</w:t></w:r></w:p>)"
                 R"(</w:footnote>)"
                 R"(<w:footnote w:id="1"><w:p><w:r><w:footnoteRef/></w:r><w:r><w:t xml:space="preserve"> First)"
                 R"( note.</w:t></w:r></w:p><w:p><w:r><w:t>Its second paragraph.</w:t></w:r></w:p></w:footnote>)"
                 R"(<w:footnote w:id="2"><w:p><w:r><w:footnoteRef/><w:t>Second.</w:t></w:r></w:p></w:footnote>)");

const std::string footnote_ref = R"(<w:r><w:footnoteReference w:id="1"/></w:r>)";

const std::string field = R"(<w:r><w:fldChar w:fldCharType="begin"/></w:r>)"
                          R"(<w:r><w:instrText xml:space="preserve"> HYPERLINK "http://x" </w:instrText></w:r>)"
                          R"(<w:r><w:fldChar w:fldCharType="separate"/></w:r>)" +
                          run("shown") + R"(<w:r><w:fldChar w:fldCharType="end"/></w:r>)";

const std::string text_box = R"(<w:r><mc:AlternateContent><mc:Choice Requires="wps"><w:drawing><wp:anchor>)"
                             R"(<a:graphic><a:graphicData><wps:wsp><wps:txbx><w:txbxContent>)" +
                             para("Boxed") +
                             R"(</w:txbxContent></wps:txbx></wps:wsp></a:graphicData></a:graphic></wp:anchor>)"
                             R"(</w:drawing></mc:Choice><mc:Fallback><w:pict><v:shape><v:textbox>)"
                             R"(<w:txbxContent>)" +
                             para("Boxed") + R"(</w:txbxContent></v:textbox></v:shape></w:pict>)"
                                             R"(</mc:Fallback></mc:AlternateContent></w:r>)";

TEST_F(OfficeReaders, DocxDocumentsGiveTheirBlocks)
{
    const DocxRow rows[] = {
        {.name = "runs, tabs, breaks and hyphens",
         .body = R"(<w:p><w:r><w:t xml:space="preserve">Hello </w:t></w:r><w:r><w:t>world</w:t><w:tab/>)"
                 R"(<w:t>tab</w:t><w:br/><w:t xml:space="preserve">line </w:t></w:r>)"
                 R"(<w:r><w:t>non</w:t><w:noBreakHyphen/>)"
                 R"(<w:t>break</w:t><w:softHyphen/><w:t>able</w:t></w:r></w:p><w:p/><w:sectPr/>)",
         .want = {"P Hello world tab line non-breakable"}},
        {.name = "headings by styleId without styles.xml",
         .body = styled("Heading1", "One") + styled("Title", "Top") + styled("Heading9", "Nine") +
                 styled("Normal", "Body") + para("Outlined", "<w:outlineLvl w:val=\"0\"/>") +
                 para("Body level", "<w:outlineLvl w:val=\"9\"/>") + styled("Quote", "Quoted"),
         .want = {"H One", "H Top", "H Nine", "P Body", "H Outlined", "P Body level", "Q Quoted"}},
        {.name = "headings by style name, through basedOn",
         .body = styled("berschrift2", "Zwei") + styled("Mine", "Based") + styled("Heading1", "Renamed") +
                 styled("Normal", "Body") + styled("BlockText", "Quoted"),
         .styles = styles_part,
         .want = {"H Zwei", "H Based", "P Renamed", "P Body", "Q Quoted"}},
        {.name = "lists: formats, starts, levels, overrides",
         .body = numbered(1, 0, "seven") + numbered(1, 1, "a") + numbered(1, 1, "b") + numbered(1, 0, "eight") +
                 numbered(1, 1, "a again") + numbered(2, 0, "dash") + numbered(2, 1, "bullet") +
                 numbered(3, 0, "three") + numbered(3, 0, "four") + numbered(1, 0, "nine") +
                 numbered(4, 0, "roman") + numbered(4, 1, "no marker") + styled("ListDash", "by style") +
                 numbered(0, 0, "numbering off") + numbered(99, 0, "unknown list"),
         .styles = styles_part,
         .numbering = numbering_part,
         .want = {"L decimal 7 @0 seven", "L lower_alpha 1 @1 a", "L lower_alpha 2 @1 b", "L decimal 8 @0 eight",
                  "L lower_alpha 1 @1 a again", "L dash @0 dash", "L bullet @1 bullet", "L decimal 3 @0 three",
                  "L decimal 4 @0 four", "L decimal 9 @0 nine", "L upper_roman 1 @0 roman", "P no marker",
                  "L dash @0 by style", "P numbering off", "P unknown list"}},
        {.name = "tables: a row per w:tr, nested tables flattened",
         .body = "<w:tbl><w:tblPr/><w:tr>" + cell(para("a") + para("b")) + cell(para("c")) + "</w:tr>" +
                 "<w:tr>" + cell("<w:p/>") + cell("<w:p/>") + "</w:tr>" + "<w:tr>" +
                 cell("<w:tbl><w:tr>" + cell(para("x")) + cell(para("y")) + "</w:tr></w:tbl>") +
                 "<w:sdt><w:sdtPr/><w:sdtContent>" + cell(para("z")) + "</w:sdtContent></w:sdt>" +
                 cell("<w:p/>") + "</w:tr></w:tbl>" + para("After"),
         .want = {"T a b | c", "T x y | z", "P After"}},
        {.name = "footnotes after their paragraph, separators skipped, a repeated one once",
         .body = "<w:p>" + run("One") + footnote_ref + run(" two") +
                 R"(<w:r><w:footnoteReference w:id="2"/></w:r>)" + "</w:p>" + para("Next") + "<w:p>" +
                 run("Again") + footnote_ref + R"(<w:r><w:footnoteReference w:id="7"/></w:r>)" + "</w:p>" +
                 "<w:tbl><w:tr>" + cell("<w:p>" + run("cell") + R"(<w:r><w:footnoteReference w:id="2"/></w:r>)" +
                                        "</w:p>") +
                 "</w:tr></w:tbl>",
         .footnotes = footnotes_part,
         .want = {"P One[1] two[2]", "N [1] First note. Its second paragraph.", "N [2] Second.", "P Next",
                  "P Again[1]", "T cell[2]"}},
        {.name = "endnotes at the end, in roman",
         .body = "<w:p>" + run("See") + R"(<w:r><w:endnoteReference w:id="2"/></w:r>)" + "</w:p>" +
                 "<w:p>" + run("and") + R"(<w:r><w:endnoteReference w:id="3"/></w:r>)" + "</w:p>",
         .endnotes = w_part("endnotes", R"(<w:endnote w:type="separator" w:id="0"><w:p/></w:endnote>)"
                                        R"(<w:endnote w:id="2"><w:p><w:r><w:t>End one.</w:t></w:r></w:p>)"
                                        R"(</w:endnote><w:endnote w:id="3"><w:p><w:r><w:t>End two.</w:t>)"
                                        R"(</w:r></w:p></w:endnote>)"),
         .want = {"P See[i]", "P and[ii]", "N [i] End one.", "N [ii] End two."}},
        {.name = "revisions: inserted kept, deleted, moved-away and hidden text dropped",
         .body = "<w:p><w:ins>" + run("kept ") + "<w:r><w:rPr><w:vanish/></w:rPr><w:t>hidden</w:t></w:r>" +
                 "</w:ins><w:del><w:r><w:delText>gone</w:delText></w:r></w:del>" +
                 "<w:moveFrom>" + run("moved away") + "</w:moveFrom><w:moveTo>" + run("moved") + "</w:moveTo></w:p>",
         .want = {"P kept moved"}},
        {.name = "fields show their result; links, content controls and smart tags their text",
         .body = "<w:p>" + run("page ") + R"(<w:fldSimple w:instr=" PAGE ">)" + run("5") + "</w:fldSimple>" +
                 run(" ") + field + run(" ") + R"(<w:hyperlink r:id="rId1" xmlns:r="urn:r">)" + run("site") +
                 "</w:hyperlink>" + "<w:sdt><w:sdtPr><w:alias w:val=\"hidden\"/></w:sdtPr><w:sdtContent>" +
                 run(" control") + "</w:sdtContent></w:sdt>" + "<w:smartTag>" + run(" tag") + "</w:smartTag></w:p>" +
                 "<w:sdt><w:sdtPr/><w:sdtContent>" + para("Block control") + "</w:sdtContent></w:sdt>" +
                 // A table of contents: one field whose result runs over paragraphs.
                 R"(<w:p><w:r><w:fldChar w:fldCharType="begin"/><w:instrText>TOC \o</w:instrText>)"
                 R"(<w:fldChar w:fldCharType="separate"/></w:r>)" + run("Entry one") + "</w:p><w:p>" +
                 run("Entry two") + R"(<w:r><w:fldChar w:fldCharType="end"/></w:r></w:p>)" +
                 // A field that never reaches its result hides its own paragraph's rest only.
                 R"(<w:p><w:r><w:fldChar w:fldCharType="begin"/><w:instrText>broken</w:instrText></w:r>)" +
                 run("instruction") + "</w:p>" + para("Still shown"),
         .want = {"P page 5 shown site control tag", "P Block control", "P Entry one", "P Entry two",
                  "P Still shown"}},
        {.name = "text boxes as paragraphs of their own, alternate content once",
         .body = "<w:p>" + run("Before ") + text_box + run("after") + "</w:p>" +
                 "<mc:AlternateContent><mc:Choice Requires=\"w14\">" + para("Chosen") +
                 "</mc:Choice><mc:Fallback>" + para("Fallback") + "</mc:Fallback></mc:AlternateContent>",
         .want = {"P Before after", "P Boxed", "P Chosen"}},
        {.name = "symbols of the Symbol font, other fonts' private codes dropped",
         .body = R"(<w:p><w:r><w:sym w:font="Symbol" w:char="F0B7"/><w:t xml:space="preserve"> a=</w:t>)"
                 R"(<w:sym w:font="Symbol" w:char="F061"/><w:sym w:font="Wingdings" w:char="F04A"/></w:r></w:p>)",
         .want = {"P • a=α"}},
        {.name = "a symbol by its Unicode code",
         .body = R"(<w:p><w:r><w:t>x</w:t><w:sym w:font="Arial" w:char="2192"/><w:t>y</w:t></w:r></w:p>)",
         .want = {"P x→y"}},
    };
    for (const DocxRow &row : rows)
        expect_blocks(read_docx, make_docx(row), "test.docx", row.want, row.name);
}

// ---------------------------------------------------------------- ODT

const std::string odf_ns = R"( xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0")"
                           R"( xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0")"
                           R"( xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0")"
                           R"( xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0")"
                           R"( xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0")"
                           R"( xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0")"
                           R"( xmlns:dc="http://purl.org/dc/elements/1.1/" office:version="1.3")";

struct OdtRow {
    const char *name;
    std::string body;
    std::string automatic_styles = {}, named_styles = {};
    Blocks want = {};
};

std::string make_odt(const OdtRow &row)
{
    std::string content = R"(<?xml version="1.0" encoding="UTF-8"?><office:document-content)" + odf_ns +
                          "><office:automatic-styles>" + row.automatic_styles +
                          "</office:automatic-styles><office:body><office:text>" + row.body +
                          "</office:text></office:body></office:document-content>";
    ziptest::Members members = {{"mimetype", "application/vnd.oasis.opendocument.text"},
                                {"content.xml", content}};
    if (!row.named_styles.empty())
        members.push_back({"styles.xml", R"(<?xml version="1.0" encoding="UTF-8"?><office:document-styles)" +
                                             odf_ns + "><office:styles>" + row.named_styles +
                                             "</office:styles></office:document-styles>"});
    return ziptest::make_zip(members);
}

std::string item(const std::string &content, const std::string &attrs = "")
{
    return "<text:list-item" + attrs + ">" + content + "</text:list-item>";
}

std::string p(const std::string &text)
{
    return "<text:p>" + text + "</text:p>";
}

std::string list(const std::string &attrs, const std::string &items)
{
    return "<text:list" + attrs + ">" + items + "</text:list>";
}

const std::string odt_list_styles =
    R"(<text:list-style style:name="L1">)"
    R"(<text:list-level-style-number text:level="1" style:num-format="1" text:start-value="3"/>)"
    R"(<text:list-level-style-number text:level="2" style:num-format="a"/></text:list-style>)"
    R"(<text:list-style style:name="L2"><text:list-level-style-bullet text:level="1" text:bullet-char="–"/>)"
    R"(<text:list-level-style-bullet text:level="2" text:bullet-char="•"/></text:list-style>)"
    R"(<style:style style:name="P1" style:family="paragraph" style:parent-style-name="Title"/>)"
    R"(<style:style style:name="P2" style:family="paragraph" style:list-style-name="L2"/>)"
    R"(<style:style style:name="P3" style:family="paragraph" style:parent-style-name="Quotations"/>)";

std::string tcell(const std::string &content, const std::string &attrs = "")
{
    return "<table:table-cell" + attrs + ">" + content + "</table:table-cell>";
}

TEST_F(OfficeReaders, OdtDocumentsGiveTheirBlocks)
{
    const OdtRow rows[] = {
        {.name = "headings, spaces, tabs, breaks; comments and tracked changes dropped",
         .body = R"(<text:sequence-decls><text:sequence-decl text:name="Figure"/></text:sequence-decls>)"
                 R"(<text:tracked-changes><text:changed-region><text:deletion><text:p>deleted</text:p>)"
                 R"(</text:deletion></text:changed-region></text:tracked-changes>)"
                 R"(<text:h text:outline-level="1">Chapter</text:h>)"
                 R"(<text:p>a<text:s text:c="3"/>b<text:tab/>c<text:line-break/>d<text:span>e</text:span>)"
                 R"(<text:soft-page-break/><office:annotation><dc:creator>x</dc:creator><text:p>comment)"
                 R"(</text:p></office:annotation>f <text:a xlink:href="#x" xmlns:xlink="urn:x">link</text:a>)"
                 R"(<text:change-start text:change-id="c1"/></text:p>)"
                 R"(<text:p text:style-name="P1">Big title</text:p><text:p text:style-name="P3">Quoted</text:p>)"
                 R"(<text:p text:style-name="Heading_20_2">Styled heading</text:p>)"
                 R"(<text:section><text:p>In a section</text:p></text:section>)",
         .automatic_styles = odt_list_styles,
         .want = {"H Chapter", "P a b c def link", "H Big title", "Q Quoted", "H Styled heading", "P In a section"}},
        {.name = "lists: styles, nesting, starts, continued numbering",
         .body = list(R"( text:style-name="L1" xml:id="list1")",
                      item(p("three") + list("", item(p("a")) + item(p("b")))) +
                          item(p("four") + p("more of four") + list("", item(p("a again"))))) +
                 p("between") + list(R"( text:style-name="L1" text:continue-numbering="true")", item(p("five"))) +
                 list(R"( text:style-name="L2")", item(p("dash") + list("", item(p("bullet"))))) +
                 list(R"( text:style-name="L1" text:continue-list="list1")",
                      item(p("six")) + item(p("ten"), R"( text:start-value="10")")) +
                 list(R"( text:style-name="Numbering_20_123")",
                      item(p("one")) + "<text:list-header>" + p("header") + "</text:list-header>") +
                 list("", item(R"(<text:p text:style-name="P2">by paragraph style</text:p>)")) +
                 list(R"( text:style-name="L1")", item(list("", item(p("only nested"))))),
         .automatic_styles = odt_list_styles,
         .named_styles = R"(<text:list-style style:name="Numbering_20_123">)"
                         R"(<text:list-level-style-number text:level="1" style:num-format="I"/></text:list-style>)",
         .want = {"L decimal 3 @0 three", "L lower_alpha 1 @1 a", "L lower_alpha 2 @1 b", "L decimal 4 @0 four",
                  "P more of four", "L lower_alpha 1 @1 a again", "P between", "L decimal 5 @0 five",
                  "L dash @0 dash", "L bullet @1 bullet", "L decimal 6 @0 six", "L decimal 10 @0 ten",
                  "L upper_roman 1 @0 one", "P header", "L dash @0 by paragraph style",
                  "L lower_alpha 1 @1 only nested"}},
        {.name = "tables: rows of cells, repeats capped, empty ones dropped",
         .body = R"(<table:table table:name="T1"><table:table-column table:number-columns-repeated="3"/>)"
                 "<table:table-header-rows><table:table-row>" +
                 tcell(p("h1")) + tcell(p("h2")) + "</table:table-row></table:table-header-rows><table:table-row>" +
                 tcell(p("wide"), R"( table:number-columns-spanned="2")") + "<table:covered-table-cell/>" +
                 tcell("", R"( table:number-columns-repeated="16384")") + "</table:table-row><table:table-row>" +
                 tcell(p("same"), R"( table:number-columns-repeated="2")") +
                 tcell("<table:table><table:table-row>" + tcell(p("in")) + tcell(p("ner")) +
                       "</table:table-row></table:table>") +
                 R"(</table:table-row><table:table-row table:number-rows-repeated="1048576">)" +
                 tcell("", R"( table:number-columns-repeated="16384")") + "</table:table-row></table:table>" +
                 p("After"),
         .want = {"T h1 | h2", "T wide", "T same | same | in ner", "P After"}},
        {.name = "footnotes after their paragraph, endnotes at the end",
         .body = R"(<text:p>Text<text:note text:id="ftn1" text:note-class="footnote"><text:note-citation>1)"
                 R"(</text:note-citation><text:note-body><text:p>Foot one.</text:p><text:p>Second para.</text:p>)"
                 R"(</text:note-body></text:note> and<text:note text:id="ftn2" text:note-class="endnote">)"
                 R"(<text:note-citation>i</text:note-citation><text:note-body><text:p>End one.</text:p>)"
                 R"(</text:note-body></text:note>.</text:p><text:p>Next<text:note text:note-class="footnote">)"
                 R"(<text:note-citation text:label="*">*</text:note-citation><text:note-body><text:p>Starred.)"
                 R"(</text:p></text:note-body></text:note></text:p>)",
         .want = {"P Text[1] and[i].", "N [1] Foot one. Second para.", "P Next[*]", "N [*] Starred.",
                  "N [i] End one."}},
        {.name = "frames: text boxes' paragraphs kept, images' titles not",
         .body = R"(<text:p>Before<draw:frame draw:name="F1"><draw:text-box><text:p>In box</text:p>)"
                 R"(</draw:text-box></draw:frame> after<draw:frame><draw:image/><svg:title>alt</svg:title>)"
                 R"(</draw:frame></text:p>)",
         .want = {"P Before after", "P In box"}},
    };
    for (const OdtRow &row : rows)
        expect_blocks(read_odt, make_odt(row), "test.odt", row.want, row.name);
}

// What is no DOCX or ODT is refused, and nothing is made of it.
TEST_F(OfficeReaders, ArchivesWithoutTheirDocumentAreRefused)
{
    const harness::NamedText rows[] = {
        {"not a zip", "PK\x03\x04 but no archive"},
        {"a zip without the document", ziptest::make_zip({{"word/styles.xml", "<w:styles/>"}, {"content.xm", "x"}})},
        {"a document that is no XML", ziptest::make_zip({{"word/document.xml", "<w:document><w:body>"},
                                                          {"content.xml", "<office:document-content"}})},
    };
    for (const auto &row : rows) {
        Document doc;
        EXPECT_EQ(read_docx(Input{row.text, "x.docx"}, doc), ReadResult::not_this_format) << row.name;
        EXPECT_EQ(read_odt(Input{row.text, "x.odt"}, doc), ReadResult::not_this_format) << row.name;
        EXPECT_TRUE(doc.blocks.empty()) << row.name;
    }
}

// ---------------------------------------------------------------- Word 97

// Word 97 files that LibreOffice made from the flat ODT beside each
// (tests/convert/samples/README.md); their DOCX gives the same blocks.
TEST_F(OfficeReaders, Word97DocumentsGiveTheirBlocks)
{
    const struct {
        const char *file;
        Blocks want;
    } rows[] = {
        {"word97-features.doc",
         {"H First heading", "P A paragraph with a footnote[1] and an emoji \U0001F600 in it.",
          "N [1] The footnote text.", "H Second level", "L decimal 1 @0 Numbered one", "L decimal 2 @0 Numbered two",
          "L lower_alpha 1 @1 Nested a", "L lower_alpha 2 @1 Nested b", "L decimal 3 @0 Numbered three",
          "L bullet @0 Bullet one", "L dash @1 Dash inside", "L bullet @0 Bullet two",
          "L upper_roman 3 @0 Roman three", "L upper_roman 4 @0 Roman four", "T Name | Value", "T Alpha | One Two",
          "P Русский текст, 日本語のテキスト, Ελληνικά.", "P See the link and page 1 here.",
          "P An endnote[i] ends it.", "N [i] The endnote text."}},
        {"word97-revisions.doc",
         {"H The Title", "P Kept words, shown, a alpha.", "Q A quoted passage.", "L decimal 1 @0 One",
          "L decimal 2 @0 Two", "P Between the lists.", "L decimal 3 @0 Three", "T Outer[1] | in ner",
          "N [1] Cell note.", "P After the table."}},
    };
    for (const auto &row : rows) {
        std::string bytes = read_file(std::string(DRIFTERM_SOURCE_DIR "/tests/convert/samples/") + row.file);
        expect_blocks(read_doc, bytes, row.file, row.want, row.file);
    }
}

// ---------------------------------------------------------------- RTF

std::string deep_groups(size_t depth)
{
    return std::string(depth, '{') + "deep" + std::string(depth, '}');
}

TEST_F(OfficeReaders, RtfDocumentsGiveTheirBlocks)
{
    const struct {
        const char *name;
        std::string rtf;
        Blocks want;
    } rows[] = {
        {"paragraphs, breaks and escapes; tables of fonts, colours, styles and info skipped",
         R"({\rtf1\ansi\deff0{\fonttbl{\f0\fswiss Helvetica;}}{\colortbl;\red0\green0\blue0;})"
         R"({\info{\title Secret}{\author Someone}}{\*\generator Writer;}{\stylesheet{\s0 Normal;}})"
         "\n\\pard Hello\\par\r\nWorld\\line next\\tab tab \\{braces\\} \\\\ back\\par}",
         {"P Hello", "P World next tab {braces} \\ back"}},
        {"control symbols and the words for punctuation",
         R"({\rtf1 a\~b c\_d op\-tion \emdash\endash\lquote x\rquote\ldblquote y\rdblquote\bullet\par})",
         {"P a\u00A0b c-d option —–‘x’“y”•"}},
        {"\\u with a fallback: the word after it kept",
         R"({\rtf1\ansi\uc1 The \u8220?code\u8221? and \u8220"quoted\u8221" word\par})",
         {"P The “code” and “quoted” word"}},
        {"\\uc: fallbacks of \\'hh, control words and text, cut at the group's end",
         R"({\rtf1 {\uc2\u8364\'80\'80} euro {\uc0\u8364 zero} \u8212\lquote x {\uc3\u8212 abc}d)"
         R"( {\uc5\u8212 ab}cd \u8220 ?spaced\par})",
         {"P € euro €zero —x —d —cd “spaced"}},
        {"surrogate pairs as one character, lone halves and values out of range as U+FFFD",
         R"({\rtf1 smile \u-10179?\u-8704? grin \u-10179?\u-8703?\par)"
         R"( lone \u-10179? x \u-8704? y \u-10179?\u-10179?\u-8704?\par big \u70000? z\par})",
         {"P smile \U0001F600 grin \U0001F601", "P lone \uFFFD x \uFFFD y \uFFFD\U0001F600",
          "P big \uFFFD z"}},
        {"\\'hh in the document's code page", R"({\rtf1\ansi\ansicpg1252 caf\'e9 \'93q\'94\par})", {"P café “q”"}},
        {"\\'hh in another code page", R"({\rtf1\ansi\ansicpg1251 \'cf\'f0\'e8\'e2\'e5\'f2\par})", {"P Привет"}},
        {"\\'hh in the Mac's code page", R"({\rtf1\mac caf\'8e\par})", {"P café"}},
        {"\\'hh in its font's charset, double-byte pairs as one character",
         R"({\rtf1\ansi\ansicpg1252\deff0{\fonttbl{\f0 Times;}{\f1\fcharset128 MS Mincho;})"
         R"({\f2\fcharset136 MingLiU;}{\f3\fcharset161 Greek;}{\f4\fcharset204 Cyr;}{\f5\fcharset2 Symbol;}})"
         R"({\f1 \'93\'fa\'96\'7b \'83A\'83\\}{\f2 \'a4\'a4} {\f3 \'e1} {\f4 \'c4\'e0} {\f5 \'b7\'61} caf\'e9\par})",
         {"P 日本 アソ中 α Да •α café"}},
        {"destinations skipped, field results and \\bin data not taken as text",
         R"({\rtf1{\*\unknown secret}{\header head}{\footerl foot}{\pict\pngblip 89504e47})"
         R"({\object{\*\objdata 0102}{\result res}}{\*\bkmkstart b}{\field{\*\fldinst HYPERLINK "http://x"})"
         R"({\fldrslt link}} {\fldinst PAGE}kept \bin4 }}{{after {\v hidden}{\deleted gone}shown\par})",
         {"P link kept after shown"}},
        {"footnotes after their paragraph, at the group's place",
         R"({\rtf1 Text{\super\chftn}{\footnote\pard\plain{\super\chftn} Foot one.\par Two.}more)"
         R"({\footnote Second.} end.\par Next\par})",
         {"P Text[1]more[2] end.", "N [1] Foot one. Two.", "N [2] Second.", "P Next"}},
        {"endnotes at the end, in roman",
         R"({\rtf1 See{\footnote\ftnalt End one.}\par and{\footnote\ftnalt End two.}\par})",
         {"P See[i]", "P and[ii]", "N [i] End one.", "N [ii] End two."}},
        {"notes behind \\*, as pandoc and LibreOffice write them; an unknown word behind it skipped",
         R"({\rtf1{\pard Claim{\super\chftn}{\*\footnote\chftn\~\plain\pard {\pard\ql Pandoc's.\par}}.\par})"
         R"({\pard Text{\super \chftn{\*\footnote \chftn\pard\plain Foot.\par}} and{\super \chftn)"
         R"({\*\footnote\ftnalt \chftn\pard\plain End.\par}}{\*\unknown{\footnote hid}}.\par}Next\par})",
         {"P Claim[1].", "N [1] Pandoc's.", "P Text[2] and[i].", "N [2] Foot.", "P Next", "N [i] End."}},
        {"tables: a row of cells per \\row, nested cells flattened",
         R"({\rtf1\trowd\cellx1000\cellx2000\cellx3000\pard\intbl A1\cell B1\cell C1\cell\row)"
         R"(\trowd\cellx1000\cellx2000\pard\intbl A2{\footnote In a cell.}\cell\cell\row)"
         R"(\pard\intbl one\par two\cell x\cell{\trowd\cellx1\cellx2\row})"
         R"(\pard\intbl\itap2 n1\nestcell n2\nestcell{\*\nesttableprops\trowd\cellx1\nestrow})"
         R"({\nonesttables\par}\pard\intbl\itap1 outer\cell last\cell\row\pard After\par)"
         R"(\trowd\pard\intbl left\cell right\cell\pard Without its row\par})",
         {"T A1 | B1 | C1", "T A2[1]", "N [1] In a cell.", "T one two | x", "T n1 n2 outer | last", "P After",
          "T left | right", "P Without its row"}},
        {"lists from the marker text Word leaves",
         R"({\rtf1{\fonttbl{\f0 Times;}{\f1\fcharset2 Symbol;}{\f2\fnil\fcharset2 Wingdings;}})"
         R"(\pard{\listtext\f1\'b7\tab}first\par{\listtext\f1\'b7\tab}second\par)"
         R"(\pard\ilvl1{\listtext 3.\tab}three\par\pard{\listtext i.\tab}roman\par{\listtext ii.\tab}roman two\par)"
         R"({\listtext a)\tab}alpha\par{\listtext b)\tab}beta\par{\listtext -\tab}dash\par)"
         R"({\pntext\f0 B.\tab}{\*\pn\pnlvlbody{\pntxta .}}upper\par{\listtext 2.1.\tab}sub\par)"
         R"({\listtext\f2\'a7\tab}wing{\f2\'a7}s\par\pard plain\par})",
         {"L bullet @0 first", "L bullet @0 second", "L decimal 3 @1 three", "L lower_roman 1 @0 roman",
          "L lower_roman 2 @0 roman two", "L lower_alpha 1 @0 alpha", "L lower_alpha 2 @0 beta", "L dash @0 dash",
          "L upper_alpha 2 @0 upper", "L decimal 1 @0 sub", "L bullet @0 wings", "P plain"}},
        {"headings from a style named heading N and from \\outlinelevel, quotes from their style",
         R"({\rtf1{\stylesheet{\s0 Normal;}{\s1\sbasedon0 heading 1;}{\*\cs10 Default Paragraph Font;}{\s2 Quote;}})"
         R"(\pard\s1 Styled\par\pard\outlinelevel1 Outlined\par\pard Body\par\pard\s2 Quoted\par\pard\s1 Last})",
         {"H Styled", "H Outlined", "P Body", "Q Quoted", "H Last"}},
        {"100,000 nested groups read flat, unbalanced braces",
         "{\\rtf1 " + deep_groups(100000) + " shallow\\par}}}} tail", {"P deep shallow", "P tail"}},
        {"destinations past the depth skipped",
         "{\\rtf1 " + std::string(300, '{') + "flat{\\*\\gen gone}{\\pict ff} kept\\par two" + std::string(300, '}') + "}",
         {"P flat kept", "P two"}},
        {"\\bin past the end", "{\\rtf1 before\\par\\bin99999999999 xyz\\par}", {"P before"}},
    };
    for (const auto &row : rows)
        expect_blocks(read_rtf, row.rtf, "test.rtf", row.want, row.name);
    Document doc;
    EXPECT_EQ(read_rtf(Input{"{\\rt not rtf", "x.rtf"}, doc), ReadResult::not_this_format);
}

} // namespace
