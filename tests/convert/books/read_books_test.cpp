// The book readers on samples made here: HTML, EPUB and FictionBook bytes
// in, the blocks they make out (blocks, not text: the writer lays them
// out), and hostile books that must neither leak a file nor block.
#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <zip.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
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

// libxml2's own loader, taken before xml_init replaces it: the hostile
// samples are first shown to leak through it, so that their safety below
// means something.
const xmlExternalEntityLoader naive_loader = xmlGetExternalEntityLoader();

// ---------------------------------------------------------------- samples

using Member = std::pair<std::string, std::string>;

using ziptest::make_zip;

std::string xhtml(const std::string &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\">"
           "<head><title>Page title</title><link rel=\"stylesheet\" href=\"s.css\"/></head><body>" +
           body + "</body></html>\n";
}

std::string container_for(const std::string &opf_path)
{
    return "<?xml version=\"1.0\"?>\n<container version=\"1.0\" "
           "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles>"
           "<rootfile full-path=\"" + opf_path + "\" media-type=\"application/oebps-package+xml\"/>"
           "</rootfiles></container>\n";
}

std::string package(const std::string &manifest, const std::string &spine)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<package xmlns=\"http://www.idpf.org/2007/opf\" "
           "version=\"3.0\" unique-identifier=\"id\"><metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
           "<dc:title>Metadata title</dc:title><dc:identifier id=\"id\">x</dc:identifier></metadata>"
           "<manifest>" + manifest + "</manifest><spine toc=\"ncx\">" + spine + "</spine></package>\n";
}

std::string item(const std::string &id, const std::string &href, const std::string &properties = "")
{
    return "<item id=\"" + id + "\" href=\"" + href + "\" media-type=\"application/xhtml+xml\"" +
           (properties.empty() ? "" : " properties=\"" + properties + "\"") + "/>";
}

std::string itemref(const std::string &id, bool linear = true)
{
    return "<itemref idref=\"" + id + "\"" + (linear ? "" : " linear=\"no\"") + "/>";
}

// A book: mimetype, container.xml naming OEBPS/content.opf, that package,
// and the members given.
std::string epub(const std::string &opf, std::vector<Member> members)
{
    members.insert(members.begin(), {{"mimetype", "application/epub+zip"},
                                     {"META-INF/container.xml", container_for("OEBPS/content.opf")},
                                     {"OEBPS/content.opf", opf}});
    return make_zip(members);
}

// A book of one page holding `page` (for the hostile rows).
std::string epub_of_page(const std::string &page)
{
    return epub(package(item("c", "c.xhtml"), itemref("c")), {{"OEBPS/c.xhtml", page}});
}

std::string repeat(const std::string &piece, size_t count)
{
    std::string out;
    out.reserve(piece.size() * count);
    for (size_t i = 0; i < count; i++)
        out += piece;
    return out;
}

// ASCII as UTF-16 with its BOM.
std::string utf16(const std::string &ascii, bool big_endian)
{
    std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) {
        out += big_endian ? '\0' : c;
        out += big_endian ? c : '\0';
    }
    return out;
}

// ASCII as UTF-7, the markup characters in base64 as a hostile file hides
// them; the XML declaration itself stays readable, as it must.
std::string utf7(const std::string &ascii)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t declaration_end = ascii.find("?>") + 2;
    std::string out = ascii.substr(0, declaration_end);
    for (char c : ascii.substr(declaration_end)) {
        if (std::string_view("<>!&[]\"=").find(c) == std::string_view::npos) {
            out += c;
            continue;
        }
        unsigned bits = static_cast<unsigned char>(c) << 2; // 16 bits, padded to 18
        out += '+';
        out += digits[(bits >> 12) & 63];
        out += digits[(bits >> 6) & 63];
        out += digits[bits & 63];
        out += '-';
    }
    return out;
}

// ---------------------------------------------------------------- blocks as lines

enum class Reader { html, epub, fb2 };

// What the reader makes of the bytes, a line a block; "not read" when it
// says they are not its format, "notice: " and the notice when it gives one.
std::vector<std::string> read_lines(Reader reader, const std::string &bytes)
{
    Input in{bytes, reader == Reader::epub ? "book.epub" : "book"};
    Document doc;
    bool read = (reader == Reader::html   ? read_html(in, doc)
                 : reader == Reader::epub ? read_epub(in, doc)
                                          : read_fb2(in, doc)) != ReadResult::not_this_format;
    if (!read)
        return {"not read"};
    return dump(doc);
}

// ---------------------------------------------------------------- the table

struct BookRow {
    const char *name;
    Reader reader;
    std::string bytes;
    std::vector<std::string> blocks;
};

const std::string pandoc_notes =
    "<p>Text<a href=\"#fn1\" class=\"footnote-ref\" id=\"fnref1\" role=\"doc-noteref\"><sup>1</sup></a> and"
    " more<a href=\"#fn2\" class=\"footnote-ref\" id=\"fnref2\" role=\"doc-noteref\"><sup>2</sup></a>.</p>\n"
    "<section class=\"footnotes footnotes-end-of-document\" role=\"doc-endnotes\"><hr />\n<ol>\n"
    "<li id=\"fn1\"><p>First note.<a href=\"#fnref1\" class=\"footnote-back\" role=\"doc-backlink\">"
    "\u21A9\uFE0E</a></p></li>\n"
    "<li id=\"fn2\"><p>Second</p><p>paragraph.<a href=\"#fnref2\" class=\"footnote-back\">\u21A9\uFE0E</a></p>"
    "</li>\n</ol>\n</section>";

const std::string fb2_book =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" xmlns:l=\"http://www.w3.org/1999/xlink\">"
    "<description><title-info><book-title>Metadata title</book-title><author><first-name>Meta</first-name>"
    "</author></title-info></description>"
    "<body><title><p>The Book</p><p>of Tests</p></title>"
    "<epigraph><p>Words first.</p><text-author>Someone</text-author></epigraph>"
    "<section id=\"s1\"><title><p>Chapter 1</p></title>"
    "<p>Plain <emphasis>and</emphasis> <strong>strong</strong>"
    "<a l:href=\"#n1\" type=\"note\">[1]</a>.</p><empty-line/>"
    "<subtitle>* * *</subtitle>"
    "<poem><title><p>Song</p></title><stanza><v>First   line,</v>\n<v>second line.</v></stanza>"
    "<stanza><v>Again.</v></stanza><text-author>Poet</text-author></poem>"
    "<cite><p>Cited<a l:href=\"#n2\" type=\"note\">2</a></p></cite>"
    "<table><tr><th>k</th><th>v</th></tr><tr><td>a</td><td>b</td></tr></table>"
    "<image l:href=\"#pic\" alt=\"A map\"/>"
    "<section><title><p>Inner</p></title><p>Deeper.</p></section>"
    "</section></body>"
    "<body name=\"notes\"><title><p>Notes</p></title>"
    "<section id=\"n1\"><title><p>1</p></title><p>One note</p><p>in two.</p></section>"
    "<section id=\"n2\"><title><p>[2]</p></title><p>Two.</p></section>"
    "</body>"
    "<binary id=\"pic\" content-type=\"image/png\">iVBORw0KGgo=</binary></FictionBook>\n";

std::vector<BookRow> book_rows()
{
    const std::string nav_page = xhtml(
        "<nav epub:type=\"toc\" id=\"toc\"><h1>Contents</h1><ol><li><a href=\"Text/ch%201.xhtml\">One</a></li>"
        "</ol></nav><nav epub:type=\"landmarks\" hidden=\"\"><ol><li><a href=\"x\">Start</a></li></ol></nav>");
    const std::string manifest = item("nav", "nav.xhtml", "nav") + item("one", "Text/ch%201.xhtml") +
                                 item("two", "../ch[2].xhtml") + item("three", "Text/./three.xhtml#part") +
                                 item("gone", "absent.xhtml") +
                                 "<item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>"
                                 "<item id=\"css\" href=\"s.css\" media-type=\"text/css\"/>";
    const std::vector<Member> pages = {
        {"OEBPS/nav.xhtml", nav_page},
        {"OEBPS/Text/ch 1.xhtml", xhtml("<h1>One</h1><p>First page.</p>")},
        {"ch[2].xhtml", xhtml("<p>Aside page.</p>")},
        {"OEBPS/Text/three.xhtml", xhtml("<p>Third page.</p>")},
        {"OEBPS/toc.ncx", "<ncx><navMap><navPoint><navLabel><text>NCX entry</text></navLabel></navPoint>"
                          "</navMap></ncx>"},
        {"OEBPS/s.css", "p { color: red }"}};
    const std::string one_page = item("one", "one.xhtml");
    const std::vector<Member> just_one = {{"OEBPS/one.xhtml", xhtml("<p>Only page.</p>")}};

    std::string windows_1251_fb2 =
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<FictionBook><body><section><p>"
        "\xCF\xF0\xE8\xE2\xE5\xF2</p></section></body></FictionBook>";
    std::string latin1_xhtml = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                               "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>Caf\xE9</p></body></html>";

    return {
        // ---- HTML: structure
        {"headings_and_paragraphs", Reader::html,
         "<html><head><title>Page title</title><style>p { x: y }</style><script>run()</script></head><body>"
         "<h1>Title</h1><p>One <em>two</em> <b>th</b>ree</p><div>Div text<p>inner</p>tail</div><h6>Six</h6>"
         "</body></html>",
         {"H Title", "P One two three", "P Div text", "P inner", "P tail", "H Six"}},
        // glibc's SHIFT_JIS would make the backslash of 表 (0x95 0x5C) and of the path a yen sign.
        {"xhtml_declaring_shift_jis", Reader::html,
         "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><html><body><p>\x95\x5C C:\\temp</p></body></html>",
         {"P 表 C:\\temp"}},
        {"line_breaks_and_pre", Reader::html,
         "<p>a<br>b</p><pre>\n  code<br>  more\n\n</pre>",
         {"P a b", "R   code\n  more"}},
        {"ordered_lists_keep_start_type_value_and_reversed", Reader::html,
         "<ol start=\"7\"><li>Seven</li><li>Eight</li></ol><ol type=\"a\" start=\"3\"><li>c</li></ol>"
         "<ol type=\"I\"><li>one</li><li>two</li></ol><ol type=\"i\" reversed><li>iii</li><li>ii</li>"
         "<li>i</li></ol><ol><li value=\"10\">ten</li><li>eleven</li></ol><ol type=\"A\"><li>A</li></ol>"
         "<ol start=\"x\"><li>bad start</li></ol>",
         {"L decimal 7 @0 Seven", "L decimal 8 @0 Eight", "L lower_alpha 3 @0 c", "L upper_roman 1 @0 one", "L upper_roman 2 @0 two", "L lower_roman 3 @0 iii", "L lower_roman 2 @0 ii",
          "L lower_roman 1 @0 i", "L decimal 10 @0 ten", "L decimal 11 @0 eleven", "L upper_alpha 1 @0 A", "L decimal 1 @0 bad start"}},
        {"nested_and_loose_lists", Reader::html,
         "<ul><li>a<ul><li>b<ol><li>c</li></ol></li></ul></li><li>d</li></ul>"
         "<ul><li><p>para one</p><p>para two</p></li></ul><li>stray</li>",
         {"L bullet @0 a", "L bullet @1 b", "L decimal 1 @2 c", "L bullet @0 d", "L bullet @0 para one", "P para two", "L bullet @0 stray"}},
        {"definitions_and_quotes", Reader::html,
         "<dl><dt>Term</dt><dd>Definition</dd></dl>"
         "<blockquote><p>outer</p><blockquote><p>inner</p></blockquote>bare</blockquote>",
         {"P Term", "Q Definition", "Q outer", "Q@1 inner", "Q bare"}},
        {"tables_a_row_per_line_nested_flattened", Reader::html,
         "<table><caption>Cap</caption><thead><tr><th>A</th><th>B</th></tr></thead><tbody>"
         "<tr><td>1</td><td><p>two</p><p>lines</p></td></tr>"
         "<tr><td>x</td><td><table><tr><td>in1</td><td>in2</td></tr></table></td></tr>"
         "<tr><td> </td><td></td></tr><tr><td></td><td>last</td></tr></tbody></table><td>lone cell</td>",
         {"P Cap", "T A | B", "T 1 | two lines", "T x | in1 in2", "T  | last", "P lone cell"}},
        {"no_markup_forms_or_hidden_text", Reader::html,
         "<p>See<svg><title>svg title</title><text>svg text</text></svg> <math><semantics><mi>x</mi>"
         "<annotation encoding=\"TeX\">x^2</annotation></semantics></math> here"
         "<!-- a comment --></p><form><input value=\"v\"><select><option>opt</option></select>"
         "<textarea>ta</textarea><button>btn</button></form><noscript>enable it</noscript>"
         "<nav hidden><p>landmarks</p></nav><p hidden=\"hidden\">gone</p><ruby>kan<rt>ka</rt></ruby>",
         {"P See x here", "P kan"}},
        {"pictures_by_their_alt_text_but_decoration", Reader::html,
         "<p>A <img alt=\" flow\n chart \"> and<img alt=\"\"><img src=\"c.png\"><img alt=\"rule\" role=\"none\">"
         "<img alt=\"dot\" aria-hidden=\"true\">.</p><h2><img alt=\"Logo\"></h2><td><img alt=\"icon\"></td>",
         {"P A [flow chart] and.", "H [Logo]", "P [icon]"}},
        {"fragment_with_two_roots", Reader::html, "<p>a</p><p>b</p>", {"P a", "P b"}},
        // ---- HTML: footnotes
        {"pandoc_footnotes", Reader::html, "<html><body>" + pandoc_notes + "</body></html>",
         {"P Text[1] and more[2].", "N [1] First note.", "N [2] Second paragraph."}},
        {"epub_footnote_asides", Reader::html,
         xhtml("<p>Word<a epub:type=\"noteref\" href=\"#n1\" id=\"r1\">*</a> and<a epub:type=\"noteref\" "
               "href=\"#n2\"><sup>[2]</sup></a></p><aside epub:type=\"footnote\" id=\"n1\"><p><a href=\"#r1\">*"
               "</a> Star note</p></aside><aside epub:type=\"footnote\" id=\"n2\"><p>Second.</p></aside>"),
         {"P Word[*] and[2]", "N [*] Star note", "N [2] Second."}},
        {"old_pandoc_footnotes_and_unlabelled_markers", Reader::html,
         "<p>x<a href=\"#fn1\" class=\"footnoteRef\" id=\"fnref1\"><sup>1</sup></a> y<a class=\"footnote-ref\" "
         "href=\"#fn9\">a long linked phrase</a></p><div class=\"footnotes\"><hr><ol><li id=\"fn1\"><p>Old style."
         " <a href=\"#fnref1\">\u21A9</a></p></li><li id=\"fn9\">Phrase note.</li></ol></div>",
         {"P x[1] ya long linked phrase[2]", "N [1] Old style.", "N [2] Phrase note."}},
        // ---- HTML: entities and encodings
        {"named_entities_in_xhtml_with_a_dtd", Reader::html,
         "<?xml version=\"1.0\"?>\n<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" "
         "\"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n<html xmlns=\"http://www.w3.org/1999/xhtml\">"
         "<body><p>Caf&eacute;&nbsp;x &amp; y&#8212;z</p></body></html>",
         {"P Café\u00A0x & y\u2014z"}},
        {"named_entities_in_xhtml_without_a_dtd", Reader::html,
         "<?xml version=\"1.0\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>Caf&eacute; "
         "&hellip;</p></body></html>",
         {"P Café …"}},
        {"not_well_formed_xhtml_reads_as_html", Reader::html,
         "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><body>"
         "<p>In <year> 1999</p><p>Next</p></body></html>",
         {"P In 1999", "P Next"}},
        {"xml_declaration_latin1", Reader::html, latin1_xhtml, {"P Café"}},
        {"xml_declaration_latin1_not_well_formed", Reader::html,
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<html><body><p>Caf\xE9<br></p></body></html>",
         {"P Café"}},
        {"meta_charset", Reader::html,
         "<html><head><meta charset=\"iso-8859-1\"></head><body><p>na\xEFve</p></body></html>", {"P naïve"}},
        {"meta_http_equiv_charset", Reader::html,
         "<html><head><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1252\"></head>"
         "<body><p>\x93quoted\x94</p></body></html>",
         {"P \u201Cquoted\u201D"}},
        {"utf8_bom", Reader::html, "\xEF\xBB\xBF<p>caf\xC3\xA9<br></p>", {"P café"}},
        {"utf16le_bom_xhtml", Reader::html,
         utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?><html><body><p>wide</p></body></html>", false),
         {"P wide"}},
        {"utf16be_bom_html", Reader::html, utf16("<html><body><p>wide<br></p></body></html>", true),
         {"P wide"}},
        {"undeclared_windows_1251", Reader::html,
         "<html><body><p>\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0</p></body></html>", {"P Привет, мир"}},
        {"inline_dtd_is_not_text", Reader::html,
         "<!DOCTYPE html [\n<!ENTITY x \"y\">\n]>\n<html><body><p>Body<br></p></body></html>", {"P Body"}},
        // ---- EPUB
        {"epub_spine_order_hrefs_and_nav_once", Reader::epub,
         epub(package(manifest, itemref("nav") + itemref("one") + itemref("two", false) + itemref("gone") +
                                    itemref("three") + itemref("one") + itemref("missing-id") + itemref("nav")),
              pages),
         {"H Contents", "L decimal 1 @0 One", "H One", "P First page.", "P Third page.", "P Aside page."}},
        {"epub_nav_not_linear_is_not_shown", Reader::epub,
         epub(package(manifest, itemref("one") + itemref("nav", false)), pages), {"H One", "P First page."}},
        {"epub_spine_repeating_a_page", Reader::epub,
         epub(package(one_page, repeat(itemref("one"), 100000)), just_one), {"P Only page."}},
        {"epub_spine_of_absent_members", Reader::epub,
         [&] {
             std::string items = one_page, refs;
             for (int i = 0; i < 300; i++) {
                 items += item("g" + std::to_string(i), "gone" + std::to_string(i) + ".xhtml");
                 refs += itemref("g" + std::to_string(i));
             }
             return epub(package(items, refs + itemref("one")), just_one);
         }(),
         {"P Only page."}},
        {"epub_notes_on_a_page_of_their_own", Reader::epub,
         epub(package(item("c", "c.xhtml") + item("n", "notes.xhtml"), itemref("c") + itemref("n")),
              {{"OEBPS/c.xhtml", xhtml("<p>Claim<a epub:type=\"noteref\" href=\"notes.xhtml#fn7\" id=\"ref7\">"
                                       "<sup>7</sup></a>.</p>")},
               {"OEBPS/notes.xhtml",
                xhtml("<section epub:type=\"endnotes\"><h2>Notes</h2><ol><li id=\"fn7\"><p>Proof. "
                      "<a href=\"c.xhtml#ref7\">back</a></p></li></ol></section>")}}),
         {"P Claim[7].", "H Notes", "N [7] Proof."}},
        {"epub_page_not_well_formed", Reader::epub,
         epub(package(one_page, itemref("one")),
              {{"OEBPS/one.xhtml", "<?xml version=\"1.0\"?><html><body><p>It was <year> then."
                                   "<p>&eacute;t&eacute;</body></html>"}}),
         {"P It was then.", "P été"}},
        {"epub2_without_container_finds_the_usual_package", Reader::epub,
         make_zip({{"mimetype", "application/epub+zip"},
                   {"OEBPS/content.opf", package(one_page, itemref("one"))},
                   {"OEBPS/one.xhtml", xhtml("<p>Only page.</p>")}}),
         {"P Only page."}},
        {"epub_without_a_package", Reader::epub,
         make_zip({{"mimetype", "application/epub+zip"}, {"META-INF/container.xml", "<container>"},
                   {"OEBPS/one.xhtml", xhtml("<p>Only page.</p>")}}),
         {"not read"}},
        {"epub_not_a_zip", Reader::epub, "PK\3\4 but nothing more", {"not read"}},
        {"epub_enciphered_pages", Reader::epub,
         [&] {
             std::vector<Member> members = {{"OEBPS/one.xhtml", "\x8f\x12\xee random bytes"}};
             members.push_back({"META-INF/encryption.xml",
                                "<encryption xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\" "
                                "xmlns:enc=\"http://www.w3.org/2001/04/xmlenc#\"><enc:EncryptedData>"
                                "<enc:CipherData><enc:CipherReference URI=\"OEBPS/one.xhtml\"/></enc:CipherData>"
                                "</enc:EncryptedData></encryption>"});
             return epub(package(one_page, itemref("one")), members);
         }(),
         {"notice: book.epub is protected by DRM: its text cannot be shown"}},
        // ---- FictionBook
        {"fb2_book", Reader::fb2, fb2_book,
         {"H The Book of Tests", "Q Words first.", "Q Someone", "H Chapter 1", "P Plain and strong[1].",
          "H * * *", "H Song", "R First line,\nsecond line.", "R Again.", "P Poet", "Q Cited[2]",
          "T k | v", "T a | b", "P [A map]", "H Inner", "P Deeper.", "H Notes", "N [1] One note in two.", "N [2] Two."}},
        {"fb2_notes_without_titles", Reader::fb2,
         "<FictionBook><body><section><p>See<a xlink:href=\"#x\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
         "type=\"note\">{a}</a></p></section></body><body name=\"comments\"><section id=\"x\"><p>Comment.</p>"
         "</section></body></FictionBook>",
         {"P See[a]", "N [a] Comment."}},
        {"fb2_windows_1251", Reader::fb2, windows_1251_fb2, {"P Привет"}},
        {"fb2_other_xml_is_not_read", Reader::fb2, "<html><body><p>x</p></body></html>", {"not read"}},
    };
}

void PrintTo(const BookRow &row, std::ostream *os)
{
    *os << row.name;
}

class ReadBooks : public ::testing::TestWithParam<BookRow> {
protected:
    void SetUp() override { xml_init(); }
};

TEST_P(ReadBooks, MakeTheBlocksOfTheBook)
{
    EXPECT_EQ(read_lines(GetParam().reader, GetParam().bytes), GetParam().blocks);
}

INSTANTIATE_TEST_SUITE_P(Books, ReadBooks, ::testing::ValuesIn(book_rows()),
                         [](const ::testing::TestParamInfo<BookRow> &info) { return info.param.name; });

// ---------------------------------------------------------------- hostile books

const char *const secret = "TOPSECRET-4711";

enum class Wrap { html, epub, fb2 };

struct HostileRow {
    const char *name;
    Wrap wrap;
    // The document; "ENTITY" in it becomes the hostile declaration.
    std::string (*document)(const std::string &entity);
    const char *target; // "secret", "tty", "fifo"; nullptr: no entity
    const char *shown;  // a line the reader must still make, or nullptr
};

std::string page_with(const std::string &entity, const std::string &encoding)
{
    return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\n<!DOCTYPE html [ " + entity +
           " ]>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>a &e; b</p></body></html>\n";
}

std::string fb2_with(const std::string &entity, const std::string &encoding)
{
    return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\n<!DOCTYPE FictionBook [ " + entity +
           " ]>\n<FictionBook><body><section><p>a &e; b</p></section></body></FictionBook>\n";
}

// Nine levels of ten references each: a billion "lol"s if expanded.
std::string billion_laughs(const std::string &root)
{
    std::string dtd = "<!ENTITY lol0 \"lollollollollollollollollollol\">\n";
    for (int i = 1; i < 10; i++)
        dtd += "<!ENTITY lol" + std::to_string(i) + " \"" + repeat("&lol" + std::to_string(i - 1) + ";", 10) +
               "\">\n";
    return "<?xml version=\"1.0\"?>\n<!DOCTYPE " + root + " [\n" + dtd + "]>\n<" + root + "><body><p>&lol9;</p>" +
           "</body></" + root + ">\n";
}

const std::vector<HostileRow> hostile_rows = {
    {"xhtml_utf8", Wrap::html, [](const std::string &e) { return page_with(e, "UTF-8"); }, "secret", "P a b"},
    {"xhtml_utf16le", Wrap::html, [](const std::string &e) { return utf16(page_with(e, "UTF-16"), false); },
     "secret", "P a b"},
    {"xhtml_utf16be", Wrap::html, [](const std::string &e) { return utf16(page_with(e, "UTF-16"), true); },
     "secret", "P a b"},
    {"xhtml_utf7", Wrap::html, [](const std::string &e) { return utf7(page_with(e, "UTF-7")); }, "secret",
     "P a b"},
    {"epub_utf8", Wrap::epub, [](const std::string &e) { return page_with(e, "UTF-8"); }, "secret", "P a b"},
    {"epub_utf16le", Wrap::epub, [](const std::string &e) { return utf16(page_with(e, "UTF-16"), false); },
     "secret", "P a b"},
    {"epub_utf16be", Wrap::epub, [](const std::string &e) { return utf16(page_with(e, "UTF-16"), true); },
     "secret", "P a b"},
    {"epub_utf7", Wrap::epub, [](const std::string &e) { return utf7(page_with(e, "UTF-7")); }, "secret", "P a b"},
    {"fb2_utf8", Wrap::fb2, [](const std::string &e) { return fb2_with(e, "UTF-8"); }, "secret", "P a b"},
    {"fb2_utf16le", Wrap::fb2, [](const std::string &e) { return utf16(fb2_with(e, "UTF-16"), false); }, "secret",
     "P a b"},
    {"fb2_utf16be", Wrap::fb2, [](const std::string &e) { return utf16(fb2_with(e, "UTF-16"), true); }, "secret",
     "P a b"},
    {"fb2_utf7", Wrap::fb2, [](const std::string &e) { return utf7(fb2_with(e, "UTF-7")); }, "secret", "P a b"},
    {"xhtml_tty", Wrap::html, [](const std::string &e) { return page_with(e, "UTF-8"); }, "tty", "P a b"},
    {"xhtml_fifo", Wrap::html, [](const std::string &e) { return page_with(e, "UTF-8"); }, "fifo", "P a b"},
    {"epub_tty", Wrap::epub, [](const std::string &e) { return page_with(e, "UTF-8"); }, "tty", "P a b"},
    {"epub_fifo", Wrap::epub, [](const std::string &e) { return page_with(e, "UTF-8"); }, "fifo", "P a b"},
    {"fb2_fifo", Wrap::fb2, [](const std::string &e) { return fb2_with(e, "UTF-8"); }, "fifo", "P a b"},
    {"epub_member_named_with_brackets", Wrap::epub,
     [](const std::string &) {
         return epub(package(item("c", "ch%5B1%5D.xhtml") + item("d", "ch[2].xhtml"), itemref("c") + itemref("d")),
                     {{"OEBPS/ch[1].xhtml", xhtml("<p>first</p>")}, {"OEBPS/ch[2].xhtml", xhtml("<p>second</p>")}});
     },
     nullptr, "P first\nP second"},
    {"xhtml_billion_laughs", Wrap::html,
     [](const std::string &) { return billion_laughs("html"); }, nullptr, nullptr},
    {"fb2_billion_laughs", Wrap::fb2,
     [](const std::string &) { return billion_laughs("FictionBook"); }, nullptr, nullptr},
    {"html_nested_100000_divs", Wrap::html,
     [](const std::string &) {
         return "<html><body><p>before</p>" + repeat("<div>", 100000) + "deep" + repeat("</div>", 100000) +
                "</body></html>";
     },
     nullptr, "P before"},
    {"xhtml_nested_100000_quotes_and_lists", Wrap::html,
     [](const std::string &) {
         return "<html><body><p>before</p>" + repeat("<blockquote><ol><li>", 33000) + "deep" +
                repeat("</li></ol></blockquote>", 33000) + "</body></html>";
     },
     nullptr, "P before"},
    {"fb2_nested_100000_sections", Wrap::fb2,
     [](const std::string &) {
         return "<FictionBook><body><p>before</p>" + repeat("<section>", 100000) + "<p>deep</p>" +
                repeat("</section>", 100000) + "</body></FictionBook>";
     },
     nullptr, "P before"},
};

// Runs `work` in a child that may take 10 s at most; its output, or
// "killed" / "failed" when it did not end by itself.
std::string in_child(const std::function<std::string()> &work)
{
    int out[2];
    if (pipe(out) != 0)
        return "failed";
    pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        alarm(10);
        std::string result = work();
        size_t done = 0;
        while (done < result.size()) {
            ssize_t wrote = write(out[1], result.data() + done, result.size() - done);
            if (wrote <= 0)
                _exit(3);
            done += static_cast<size_t>(wrote);
        }
        _exit(0);
    }
    close(out[1]);
    std::string result;
    char chunk[65536];
    ssize_t got;
    while ((got = read(out[0], chunk, sizeof chunk)) > 0)
        result.append(chunk, static_cast<size_t>(got));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        return "killed by signal " + std::to_string(WTERMSIG(status));
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? result : "failed";
}

// Whether libxml2 left to itself (its own loader, entities substituted)
// shows the secret: the sample is a real attack.
std::string naive_parse(const std::string &bytes)
{
    xmlSetExternalEntityLoader(naive_loader);
    xmlDocPtr parsed = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                                     XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    xmlChar *text = parsed ? xmlNodeGetContent(xmlDocGetRootElement(parsed)) : nullptr;
    std::string out = text ? reinterpret_cast<const char *>(text) : "";
    xmlFree(text);
    xmlFreeDoc(parsed);
    return out;
}

void PrintTo(const HostileRow &row, std::ostream *os)
{
    *os << row.name;
}

class ReadHostileBooks : public ::testing::TestWithParam<HostileRow> {
protected:
    void SetUp() override { xml_init(); }
};

TEST_P(ReadHostileBooks, NeitherLeakNorBlockNorRunAway)
{
    const HostileRow &row = GetParam();
    harness::TempDir dir;
    std::string target;
    if (row.target && std::string(row.target) == "secret") {
        target = dir.path + "/secret.txt";
        harness::write_file(target, std::string(secret) + "\n");
    } else if (row.target && std::string(row.target) == "fifo") {
        target = dir.path + "/fifo";
        ASSERT_EQ(mkfifo(target.c_str(), 0600), 0);
    } else if (row.target) {
        target = "/dev/tty";
    }
    std::string entity = "<!ENTITY e SYSTEM \"file://" + target + "\">";
    std::string document = row.document(entity);
    if (row.target && std::string(row.target) == "secret") {
        ASSERT_NE(in_child([&] { return naive_parse(document); }).find(secret), std::string::npos)
            << "the sample does not even leak without the converter's guard";
    }

    std::string bytes = row.wrap == Wrap::epub ? (document.substr(0, 2) == "PK" ? document : epub_of_page(document))
                                               : document;
    Reader reader = row.wrap == Wrap::epub ? Reader::epub : row.wrap == Wrap::fb2 ? Reader::fb2 : Reader::html;
    std::string lines = in_child([&] {
        std::string all;
        for (const std::string &line : read_lines(reader, bytes))
            all += line + "\n";
        return all;
    });
    EXPECT_EQ(lines.find(secret), std::string::npos) << lines;
    EXPECT_EQ(lines.find("killed"), std::string::npos) << lines;
    EXPECT_NE(lines, "failed");
    EXPECT_LT(lines.size(), size_t{100000}) << "a bounded book makes bounded text";
    if (row.shown) {
        EXPECT_NE(lines.find(std::string(row.shown) + "\n"), std::string::npos) << lines;
    }
}

INSTANTIATE_TEST_SUITE_P(Hostile, ReadHostileBooks, ::testing::ValuesIn(hostile_rows),
                         [](const ::testing::TestParamInfo<HostileRow> &info) { return info.param.name; });

} // namespace
