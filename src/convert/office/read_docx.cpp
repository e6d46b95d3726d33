// DOCX: word/document.xml, with the styles (headings), the numbering
// (list markers), the footnotes and the endnotes beside it. Only the text a
// reader sees is kept: deleted revisions, field instructions and the other
// half of alternate content are dropped.
#include <map>
#include <string>
#include <vector>

#include "convert/charset.h"
#include "convert/office/office.h"
#include "convert/readers.h"
#include "convert/text.h"
#include "convert/xml.h"
#include "convert/zip.h"

namespace {

constexpr int max_levels = 9;
// How many basedOn links a style's look-up follows (a loop ends here too).
constexpr int max_style_chain = 16;

struct Style {
    std::string name; // lower case: "heading 1"
    std::string based_on;
    int outline = -1;   // outline level 0..8 makes a heading
    std::string num_id; // numbering that the style brings, or ""
    int ilvl = -1;
};

struct Level {
    bool defined = false;
    bool numbered = true; // numFmt "none": no marker, a plain paragraph
    ListStyle style = ListStyle::decimal;
    long start = 1;
};

struct AbstractNum {
    Level levels[max_levels];
    std::string style_link; // numStyleLink: the levels are another style's
};

struct Num {
    std::string abstract_id;
    bool has_start[max_levels] = {};
    long start[max_levels] = {};
    bool has_level[max_levels] = {};
    Level level[max_levels];
};

struct Note {
    std::string text;
    std::string label; // set once it has been referenced
};

struct Docx {
    std::map<std::string, Style> styles;
    std::map<std::string, AbstractNum> abstracts;
    std::map<std::string, Num> nums;
    std::map<std::string, ListCounters> counters;
    std::map<std::string, Note> footnotes, endnotes;
    long footnotes_seen = 0, endnotes_seen = 0;
    std::vector<Block> endnote_blocks;
    // Open complex fields: true while in the instruction, before "separate".
    std::vector<bool> fields;
    int fields_hidden = 0;
    bool in_notes = false; // reading a note's own text: no references, no numbering
};

std::string child_val(XmlNode node, const char *name)
{
    return xml_attr(xml_child(node, name), "val");
}

int level_index(const std::string &text, int fallback)
{
    long level = office_number(text, fallback);
    return level < 0 || level >= max_levels ? fallback : static_cast<int>(level);
}

// ---------------------------------------------------------------- styles

void docx_load_styles(Docx &docx, XmlNode root)
{
    for (XmlNode node : xml_children(root)) {
        if (xml_name(node) != "style")
            continue;
        Style style;
        style.name = ascii_lower(child_val(node, "name"));
        style.based_on = child_val(node, "basedOn");
        XmlNode ppr = xml_child(node, "pPr");
        style.outline = level_index(child_val(ppr, "outlineLvl"), -1);
        XmlNode numpr = xml_child(ppr, "numPr");
        style.num_id = child_val(numpr, "numId");
        style.ilvl = level_index(child_val(numpr, "ilvl"), -1);
        docx.styles[xml_attr(node, "styleId")] = std::move(style);
    }
}

// A paragraph's kind and numbering from its properties and its style's.
struct ParaProps {
    BlockKind kind = BlockKind::paragraph; // or a heading or quote
    std::string num_id;
    int ilvl = -1;
};

ParaProps docx_props(const Docx &docx, XmlNode ppr)
{
    ParaProps props;
    std::string style_id = child_val(ppr, "pStyle");
    if (level_index(child_val(ppr, "outlineLvl"), -1) >= 0)
        props.kind = BlockKind::heading;
    XmlNode numpr = xml_child(ppr, "numPr");
    XmlNode num_id = xml_child(numpr, "numId");
    if (num_id)
        props.num_id = xml_attr(num_id, "val");
    props.ilvl = level_index(child_val(numpr, "ilvl"), -1);
    // Without styles.xml (or the style in it) the styleId is all there is.
    if (props.kind == BlockKind::paragraph && docx.styles.count(style_id) == 0)
        props.kind = office_style_kind(ascii_lower(style_id));
    std::string id = style_id;
    for (int hops = 0; hops < max_style_chain && !id.empty(); ++hops) {
        auto found = docx.styles.find(id);
        if (found == docx.styles.end())
            break;
        const Style &style = found->second;
        if (props.kind == BlockKind::paragraph)
            props.kind = style.outline >= 0 ? BlockKind::heading : office_style_kind(style.name);
        if (!num_id && props.num_id.empty() && !style.num_id.empty())
            props.num_id = style.num_id;
        if (props.ilvl < 0 && style.ilvl >= 0)
            props.ilvl = style.ilvl;
        id = style.based_on;
    }
    if (props.num_id == "0") // numbering taken away from a numbered style
        props.num_id.clear();
    return props;
}

// ---------------------------------------------------------------- numbering

Level docx_level(XmlNode lvl)
{
    Level level;
    level.defined = true;
    level.start = office_number(child_val(lvl, "start"), 1);
    std::string format = child_val(lvl, "numFmt");
    if (format == "bullet")
        level.style = bullet_style(child_val(lvl, "lvlText"));
    else if (format == "lowerLetter")
        level.style = ListStyle::lower_alpha;
    else if (format == "upperLetter")
        level.style = ListStyle::upper_alpha;
    else if (format == "lowerRoman")
        level.style = ListStyle::lower_roman;
    else if (format == "upperRoman")
        level.style = ListStyle::upper_roman;
    else if (format == "none")
        level.numbered = false;
    return level;
}

void docx_load_numbering(Docx &docx, XmlNode root)
{
    for (XmlNode node : xml_children(root)) {
        std::string name = xml_name(node);
        if (name == "abstractNum") {
            AbstractNum &abstract = docx.abstracts[xml_attr(node, "abstractNumId")];
            abstract.style_link = child_val(node, "numStyleLink");
            for (XmlNode lvl : xml_children(node))
                if (xml_name(lvl) == "lvl") {
                    int at = level_index(xml_attr(lvl, "ilvl"), -1);
                    if (at >= 0)
                        abstract.levels[at] = docx_level(lvl);
                }
        } else if (name == "num") {
            Num &num = docx.nums[xml_attr(node, "numId")];
            num.abstract_id = child_val(node, "abstractNumId");
            for (XmlNode over : xml_children(node)) {
                int at = xml_name(over) == "lvlOverride" ? level_index(xml_attr(over, "ilvl"), -1) : -1;
                if (at < 0)
                    continue;
                if (XmlNode start = xml_child(over, "startOverride")) {
                    num.has_start[at] = true;
                    num.start[at] = office_number(xml_attr(start, "val"), 1);
                }
                if (XmlNode lvl = xml_child(over, "lvl")) {
                    num.has_level[at] = true;
                    num.level[at] = docx_level(lvl);
                }
            }
        }
    }
}

const AbstractNum *docx_abstract(const Docx &docx, const Num &num)
{
    auto found = docx.abstracts.find(num.abstract_id);
    if (found == docx.abstracts.end())
        return nullptr;
    if (found->second.style_link.empty())
        return &found->second;
    // A list style's levels live in the numbering that the style names.
    auto style = docx.styles.find(found->second.style_link);
    if (style == docx.styles.end())
        return &found->second;
    auto linked = docx.nums.find(style->second.num_id);
    if (linked == docx.nums.end())
        return &found->second;
    auto target = docx.abstracts.find(linked->second.abstract_id);
    return target == docx.abstracts.end() ? &found->second : &target->second;
}

// Makes `block` the next item of list `num_id` at `ilvl`; false when the
// numbering is unknown or shows no marker.
bool docx_list_item(Docx &docx, const std::string &num_id, int ilvl, Block &block)
{
    auto num = docx.nums.find(num_id);
    if (num == docx.nums.end())
        return false;
    const AbstractNum *abstract = docx_abstract(docx, num->second);
    Level level;
    if (num->second.has_level[ilvl])
        level = num->second.level[ilvl];
    else if (abstract != nullptr && abstract->levels[ilvl].defined)
        level = abstract->levels[ilvl];
    else
        level.style = ListStyle::bullet;
    if (!level.numbered)
        return false;
    long start = num->second.has_start[ilvl] ? num->second.start[ilvl] : level.start;
    block.kind = BlockKind::list_item;
    block.style = level.style;
    block.number = office_count(docx.counters[num_id], ilvl, start, -1);
    block.depth = ilvl;
    return true;
}

// ---------------------------------------------------------------- walking

void docx_blocks(Docx &docx, XmlNode parent, std::vector<Block> &out, int depth);

// mc:AlternateContent holds the same content twice: the Choice, else the Fallback.
XmlNode docx_alternative(XmlNode alternate)
{
    XmlNode choice = xml_child(alternate, "Choice");
    return choice ? choice : xml_child(alternate, "Fallback");
}

bool docx_showing(const Docx &docx)
{
    return docx.fields_hidden == 0;
}

void docx_field_char(Docx &docx, const std::string &type)
{
    if (type == "begin") {
        docx.fields.push_back(true);
        ++docx.fields_hidden;
    } else if (type == "separate") {
        if (!docx.fields.empty() && docx.fields.back()) {
            docx.fields.back() = false;
            --docx.fields_hidden;
        }
    } else if (type == "end" && !docx.fields.empty()) {
        if (docx.fields.back())
            --docx.fields_hidden;
        docx.fields.pop_back();
    }
}

// A reference to note `id`: its marker in the text, its block after the
// paragraph (footnotes) or at the end (endnotes). A note referenced again
// keeps its first label and is not repeated.
void docx_note_reference(Docx &docx, const std::string &id, bool endnote, Para &para)
{
    if (docx.in_notes)
        return;
    std::map<std::string, Note> &notes = endnote ? docx.endnotes : docx.footnotes;
    auto found = notes.find(id);
    if (found == notes.end())
        return;
    Note &note = found->second;
    if (note.label.empty()) {
        long n = endnote ? ++docx.endnotes_seen : ++docx.footnotes_seen;
        note.label = endnote ? endnote_label(n) : std::to_string(n);
        Block block;
        block.kind = BlockKind::note;
        block.label = note.label;
        block.text = note.text;
        (endnote ? docx.endnote_blocks : para.after).push_back(std::move(block));
    }
    para.text += "[" + note.label + "]";
}

// Text boxes within a drawing or picture become paragraphs of their own.
void docx_text_boxes(Docx &docx, XmlNode node, Para &para, int depth)
{
    if (depth > office_max_depth)
        return;
    for (XmlNode child : xml_children(node)) {
        std::string name = xml_name(child);
        if (name == "txbxContent")
            docx_blocks(docx, child, para.after, depth + 1);
        else if (name == "AlternateContent")
            docx_text_boxes(docx, docx_alternative(child), para, depth + 1);
        else
            docx_text_boxes(docx, child, para, depth + 1);
    }
}

void docx_symbol(XmlNode sym, Para &para)
{
    long code = 0;
    for (char c : xml_attr(sym, "char")) {
        int digit = hex_digit(c);
        if (digit < 0 || code > 0x10FFFF)
            return;
        code = code * 16 + digit;
    }
    // A symbol font's codes sit at U+F000 and up; only the Symbol font's
    // have a meaning we know.
    if (code >= 0xF000 && code <= 0xF0FF) {
        if (ascii_lower(xml_attr(sym, "font")) == "symbol")
            para.text += symbol_font_text(static_cast<unsigned>(code - 0xF000));
        return;
    }
    append_utf8(para.text, static_cast<uint32_t>(code));
}

// Hidden text (w:vanish) is not shown to a reader.
bool docx_hidden(XmlNode rpr)
{
    XmlNode vanish = xml_child(rpr, "vanish");
    if (vanish == nullptr)
        return false;
    std::string val = xml_attr(vanish, "val");
    return val != "0" && val != "false" && val != "off";
}

// The children of a run (or of the alternative chosen within one).
void docx_run(Docx &docx, XmlNode run, Para &para, int depth)
{
    if (depth > office_max_depth)
        return;
    bool hidden = docx_hidden(xml_child(run, "rPr"));
    for (XmlNode child : xml_children(run)) {
        std::string name = xml_name(child);
        if (name == "fldChar")
            docx_field_char(docx, xml_attr(child, "fldCharType"));
        else if (name == "drawing" || name == "pict" || name == "object")
            docx_text_boxes(docx, child, para, depth + 1);
        else if (name == "AlternateContent")
            docx_run(docx, docx_alternative(child), para, depth + 1);
        else if (hidden || !docx_showing(docx))
            continue;
        else if (name == "t")
            para.text += xml_text(child);
        else if (name == "tab" || name == "ptab")
            para.text += '\t';
        else if (name == "br" || name == "cr")
            para.text += ' ';
        else if (name == "noBreakHyphen")
            para.text += '-';
        else if (name == "sym")
            docx_symbol(child, para);
        else if (name == "footnoteReference" || name == "endnoteReference")
            docx_note_reference(docx, xml_attr(child, "id"), name == "endnoteReference", para);
    }
}

// A paragraph's content: runs, and what holds runs.
void docx_inline(Docx &docx, XmlNode node, Para &para, int depth)
{
    if (depth > office_max_depth)
        return;
    for (XmlNode child : xml_children(node)) {
        std::string name = xml_name(child);
        if (name == "r")
            docx_run(docx, child, para, depth + 1);
        else if (name == "hyperlink" || name == "smartTag" || name == "customXml" || name == "ins" ||
                 name == "moveTo" || name == "fldSimple" || name == "dir" || name == "bdo" || name == "sdt" ||
                 name == "sdtContent")
            docx_inline(docx, child, para, depth + 1);
        else if (name == "AlternateContent")
            docx_inline(docx, docx_alternative(child), para, depth + 1);
        else if ((name == "oMath" || name == "oMathPara") && docx_showing(docx))
            para.text += xml_text(child);
    }
}

// A field's result may run over paragraphs (a table of contents), its
// instruction never: one still open at a paragraph's end hides no more.
void docx_end_instructions(Docx &docx)
{
    std::erase(docx.fields, true);
    docx.fields_hidden = 0;
}

void docx_paragraph(Docx &docx, XmlNode p, std::vector<Block> &out, int depth)
{
    Para para;
    docx_inline(docx, p, para, depth + 1);
    docx_end_instructions(docx);
    Block block;
    ParaProps props = docx_props(docx, xml_child(p, "pPr"));
    block.kind = props.kind; // a heading or quote style wins over numbering
    if (block.kind == BlockKind::paragraph && !props.num_id.empty() && !docx.in_notes)
        docx_list_item(docx, props.num_id, props.ilvl < 0 ? 0 : props.ilvl, block);
    block.text = std::move(para.text);
    office_append(out, std::move(block), para.after);
}

// One row per w:tr, its cells' paragraphs joined, a nested table's cells
// flattened into its cell; notes referenced in the row follow it.
void docx_table(Docx &docx, XmlNode table, std::vector<Block> &out, int depth)
{
    // Content controls and custom XML may wrap rows and cells.
    const char *wrappers = "sdt sdtContent customXml";
    std::vector<XmlNode> rows;
    office_collect(table, "tr", wrappers, rows);
    for (XmlNode tr : rows) {
        std::vector<XmlNode> cells;
        office_collect(tr, "tc", wrappers, cells);
        std::vector<std::string> texts;
        std::vector<Block> notes;
        for (XmlNode tc : cells) {
            std::vector<Block> content;
            docx_blocks(docx, tc, content, depth + 1);
            texts.push_back(office_cell_text(content, notes));
        }
        append_table_row(out, std::move(texts));
        office_append(out, Block{}, notes);
    }
}

// One child of the body, a cell or a note: a paragraph, a table, or what holds them.
void docx_block(Docx &docx, XmlNode child, std::vector<Block> &out, int depth)
{
    std::string name = xml_name(child);
    if (name == "p")
        docx_paragraph(docx, child, out, depth + 1);
    else if (name == "tbl")
        docx_table(docx, child, out, depth + 1);
    else if (name == "sdt" || name == "sdtContent" || name == "customXml" || name == "ins" || name == "moveTo")
        docx_blocks(docx, child, out, depth + 1);
    else if (name == "AlternateContent")
        docx_blocks(docx, docx_alternative(child), out, depth + 1);
}

void docx_blocks(Docx &docx, XmlNode parent, std::vector<Block> &out, int depth)
{
    if (depth > office_max_depth)
        return;
    for (XmlNode child : xml_children(parent))
        docx_block(docx, child, out, depth);
}

// ---------------------------------------------------------------- notes

// Each note's text, by id; the separators Word keeps among them (w:type)
// are no notes.
void docx_load_notes(Docx &docx, XmlNode root, std::map<std::string, Note> &notes)
{
    docx.in_notes = true;
    for (XmlNode node : xml_children(root)) {
        std::string name = xml_name(node);
        if (name != "footnote" && name != "endnote")
            continue;
        std::string type = xml_attr(node, "type");
        if (!type.empty() && type != "normal")
            continue;
        std::vector<Block> blocks;
        docx_blocks(docx, node, blocks, 0);
        notes[xml_attr(node, "id")].text = blocks_text(blocks);
        docx.fields.clear(); // a field left open ends with its note
        docx.fields_hidden = 0;
    }
    docx.in_notes = false;
}

// The body as a stream: its children one at a time, each freed once read,
// so that memory follows the text and not the markup of a long document.
// The first "body" under the root is the document's, as it is in a tree.
ReadResult docx_read_body(Docx &docx, ZipArchive *zip, const Input &in, Document &doc)
{
    bool in_body = false;
    auto choose = [&in_body](XmlNode element, int depth) {
        if (depth == 0)
            return XmlStep::enter;
        if (depth == 1 && !in_body && xml_name(element) == "body") {
            in_body = true;
            return XmlStep::enter;
        }
        return depth == 2 ? XmlStep::take : XmlStep::skip;
    };
    auto make = [&](XmlNode child) { docx_block(docx, child, doc.blocks, 0); };
    return office_stream_body(zip, "word/document.xml", choose, make, in_body, in, "DOCX", doc);
}

} // namespace

ReadResult read_docx(const Input &in, Document &doc)
{
    ZipPtr zip(zip_open_bytes(in.bytes));
    if (!zip || !zip_has(zip.get(), "word/document.xml"))
        return ReadResult::not_this_format;
    Docx docx;
    if (XmlDocPtr styles = office_parse_member(zip.get(), "word/styles.xml"))
        docx_load_styles(docx, xml_root(styles.get()));
    if (XmlDocPtr numbering = office_parse_member(zip.get(), "word/numbering.xml"))
        docx_load_numbering(docx, xml_root(numbering.get()));
    if (XmlDocPtr footnotes = office_parse_member(zip.get(), "word/footnotes.xml"))
        docx_load_notes(docx, xml_root(footnotes.get()), docx.footnotes);
    if (XmlDocPtr endnotes = office_parse_member(zip.get(), "word/endnotes.xml"))
        docx_load_notes(docx, xml_root(endnotes.get()), docx.endnotes);
    ReadResult result = docx_read_body(docx, zip.get(), in, doc);
    if (result != ReadResult::read)
        return result;
    for (Block &note : docx.endnote_blocks)
        doc.blocks.push_back(std::move(note));
    return ReadResult::read;
}
