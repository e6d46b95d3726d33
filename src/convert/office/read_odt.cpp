// ODT: content.xml's text, with the list styles of content.xml's automatic
// styles and of styles.xml's named ones. Comments, tracked changes and
// the declarations kept among the text are dropped.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <libxml/tree.h>

#include "convert/office/office.h"
#include "convert/readers.h"
#include "convert/text.h"
#include "convert/xml.h"
#include "convert/zip.h"

namespace {

constexpr int max_levels = office_levels;
constexpr int max_style_chain = 16;
// A repeat count is the document's claim: a spreadsheet-like table may
// repeat an empty cell 16384 times or an empty row a million times.
constexpr long max_cells = 256;
constexpr long max_row_repeats = 10;
// And the copies made for repeats, all together, stay below this.
constexpr size_t repeat_budget = size_t{4} << 20;
constexpr long max_spaces = 100;

struct LevelStyle {
    bool defined = false;
    bool numbered = true; // a number style with no format shows no marker
    ListStyle style = ListStyle::bullet;
    long start = 1;
};

struct ListStyleDef {
    LevelStyle levels[max_levels];
};

struct ParaStyle {
    std::string parent;
    std::string list_style;
};

struct Odt {
    std::map<std::string, ListStyleDef> list_styles;
    std::map<std::string, ParaStyle> para_styles;
    std::vector<ListCounters> lists;        // one per list, continued ones shared
    std::map<std::string, size_t> list_ids; // xml:id -> lists index
    long last_list = -1;
    long footnotes_seen = 0, endnotes_seen = 0;
    std::vector<Block> endnotes;
    size_t repeated = 0; // bytes copied for repeated cells and rows
};

// Where a block sits within lists: which list, its level, its style.
struct ListAt {
    long list = -1;
    int level = -1;
    const ListStyleDef *style = nullptr;
};

// ---------------------------------------------------------------- styles

LevelStyle odt_level_style(XmlNode node, const std::string &name)
{
    LevelStyle level;
    level.defined = true;
    if (name == "list-level-style-bullet") {
        level.style = bullet_style(xml_attr(node, "bullet-char"));
        return level;
    }
    if (name != "list-level-style-number")
        return level; // an image: a bullet all the same
    level.start = office_number(xml_attr(node, "start-value"), 1);
    std::string format = xml_attr(node, "num-format");
    level.style = numbering_style(format);
    level.numbered = !format.empty();
    return level;
}

void odt_load_styles(Odt &odt, XmlNode styles)
{
    for (XmlNode node : xml_children(styles)) {
        std::string name = xml_name(node);
        if (name == "list-style") {
            ListStyleDef &def = odt.list_styles[xml_attr(node, "name")];
            def = ListStyleDef{};
            for (XmlNode level : xml_children(node)) {
                long at = office_number(xml_attr(level, "level"), 0) - 1;
                if (at >= 0 && at < max_levels)
                    def.levels[at] = odt_level_style(level, xml_name(level));
            }
        } else if (name == "style") {
            ParaStyle &style = odt.para_styles[xml_attr(node, "name")];
            style.parent = xml_attr(node, "parent-style-name");
            style.list_style = xml_attr(node, "list-style-name");
        }
    }
}

// A style's name as its user sees it: "Heading_20_1" is "heading 1".
std::string odt_style_name(std::string_view name)
{
    std::string out;
    for (size_t at = 0; at < name.size(); ++at) {
        if (name.substr(at, 4) == "_20_") {
            out += ' ';
            at += 3;
        } else {
            out += name[at];
        }
    }
    return ascii_lower(std::move(out));
}

// Follows a paragraph style up its parents: the block its name makes (a
// heading, a quote), and which list style it brings.
BlockKind odt_style_kind(const Odt &odt, std::string name, std::string *list_style)
{
    for (int hops = 0; hops < max_style_chain && !name.empty(); ++hops) {
        BlockKind kind = office_style_kind(odt_style_name(name));
        if (kind != BlockKind::paragraph)
            return kind;
        auto found = odt.para_styles.find(name);
        if (found == odt.para_styles.end())
            break;
        if (list_style && list_style->empty())
            *list_style = found->second.list_style;
        name = found->second.parent;
    }
    return BlockKind::paragraph;
}

// ---------------------------------------------------------------- text

void odt_blocks(Odt &odt, XmlNode parent, std::vector<Block> &out, int depth, const ListAt &at);
void odt_block(Odt &odt, XmlNode node, std::vector<Block> &out, int depth, const ListAt &at);

void odt_note(Odt &odt, XmlNode note, Para &para, int depth)
{
    bool endnote = xml_attr(note, "note-class") == "endnote";
    XmlNode citation = xml_child(note, "note-citation");
    std::string label = xml_attr(citation, "label");
    if (label.empty())
        label = xml_text(citation);
    long n = endnote ? ++odt.endnotes_seen : ++odt.footnotes_seen;
    if (ascii_blank(label))
        label = endnote ? endnote_label(n) : std::to_string(n);
    std::vector<Block> body;
    odt_blocks(odt, xml_child(note, "note-body"), body, depth + 1, ListAt{});
    Block block;
    block.kind = BlockKind::note;
    block.label = label;
    block.text = blocks_text(body);
    (endnote ? odt.endnotes : para.after).push_back(std::move(block));
    para.text += "[" + label + "]";
}

// Frames, shapes and groups: their text boxes' paragraphs become blocks
// of their own.
void odt_frame(Odt &odt, XmlNode frame, std::vector<Block> &out, int depth)
{
    if (depth > office_max_depth)
        return;
    std::string name = xml_name(frame);
    if (name == "text-box" || name == "custom-shape" || name == "rect" || name == "ellipse") {
        odt_blocks(odt, frame, out, depth + 1, ListAt{});
        return;
    }
    for (XmlNode child : xml_children(frame))
        odt_frame(odt, child, out, depth + 1);
}

bool odt_skipped(const std::string &name)
{
    static const char *const skipped[] = {"annotation",      "annotation-end", "tracked-changes", "change",
                                          "change-start",    "change-end",     "soft-page-break", "ruby-text",
                                          "bookmark",        "bookmark-start", "bookmark-end",    "toc-mark",
                                          "alphabetical-index-mark", "user-index-mark"};
    for (const char *skip : skipped)
        if (name == skip)
            return true;
    return false;
}

void odt_inline(Odt &odt, XmlNode node, Para &para, int depth)
{
    if (depth > office_max_depth)
        return;
    for (XmlNode child = node->children; child; child = child->next) {
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
            if (child->content)
                para.text += reinterpret_cast<const char *>(child->content);
            continue;
        }
        std::string name = xml_name(child);
        if (name.empty()) {
            continue;
        } else if (name == "s") {
            long count = std::clamp(office_number(xml_attr(child, "c"), 1), 1L, max_spaces);
            para.text.append(static_cast<size_t>(count), ' ');
        } else if (name == "tab") {
            para.text += '\t';
        } else if (name == "line-break") {
            para.text += ' ';
        } else if (name == "note") {
            odt_note(odt, child, para, depth + 1);
        } else if (name == "frame" || name == "g" || name == "custom-shape" || name == "rect" ||
                   name == "ellipse") {
            odt_frame(odt, child, para.after, depth + 1);
        } else if (!odt_skipped(name)) {
            odt_inline(odt, child, para, depth + 1); // spans, links, fields: their shown text
        }
    }
}

void odt_paragraph(Odt &odt, XmlNode node, Block block, std::vector<Block> &out, int depth)
{
    Para para;
    odt_inline(odt, node, para, depth + 1);
    block.text = std::move(para.text);
    office_append(out, std::move(block), para.after);
}

// A paragraph or heading outside list items: a heading or quote also by
// its style.
void odt_plain(Odt &odt, XmlNode node, std::vector<Block> &out, int depth)
{
    Block block;
    block.kind = xml_name(node) == "h" ? BlockKind::heading
                                       : odt_style_kind(odt, xml_attr(node, "style-name"), nullptr);
    odt_paragraph(odt, node, std::move(block), out, depth);
}

// ---------------------------------------------------------------- lists

// The counters a list starts with: its own, or a list's it continues.
long odt_list_counters(Odt &odt, XmlNode list)
{
    std::string continues = xml_attr(list, "continue-list");
    long index = -1;
    auto found = odt.list_ids.find(continues);
    if (!continues.empty() && found != odt.list_ids.end())
        index = static_cast<long>(found->second);
    else if (xml_attr(list, "continue-numbering") == "true" && odt.last_list >= 0)
        index = odt.last_list;
    if (index < 0) {
        odt.lists.emplace_back();
        index = static_cast<long>(odt.lists.size() - 1);
    }
    std::string id = xml_attr(list, "id");
    if (!id.empty())
        odt.list_ids[id] = static_cast<size_t>(index);
    odt.last_list = index;
    return index;
}

// The first paragraph of a list item: the item itself, numbered from the
// list's counters at its level.
void odt_item(Odt &odt, XmlNode para, XmlNode item, const ListAt &at, std::vector<Block> &out, int depth)
{
    const ListStyleDef *style = at.style;
    std::string para_list;
    odt_style_kind(odt, xml_attr(para, "style-name"), &para_list);
    if (style == nullptr && !para_list.empty()) {
        auto found = odt.list_styles.find(para_list);
        if (found != odt.list_styles.end())
            style = &found->second;
    }
    LevelStyle level;
    if (style != nullptr && style->levels[at.level].defined)
        level = style->levels[at.level];
    long set_to = office_number(xml_attr(item, "start-value"), -1);
    long number = office_count(odt.lists[static_cast<size_t>(at.list)], at.level, level.start, set_to);
    Block block;
    if (level.numbered) {
        block.kind = BlockKind::list_item;
        block.style = level.style;
        block.number = number;
        block.depth = at.level;
    }
    odt_paragraph(odt, para, std::move(block), out, depth);
}

void odt_list(Odt &odt, XmlNode list, std::vector<Block> &out, int depth, const ListAt &outer)
{
    ListAt at;
    at.list = outer.list >= 0 ? outer.list : odt_list_counters(odt, list);
    at.level = std::min(outer.level + 1, max_levels - 1);
    at.style = outer.style;
    auto style = odt.list_styles.find(xml_attr(list, "style-name"));
    if (style != odt.list_styles.end())
        at.style = &style->second;
    for (XmlNode item : xml_children(list)) {
        std::string name = xml_name(item);
        if (name != "list-item" && name != "list-header")
            continue;
        bool numbered = name == "list-item";
        for (XmlNode child : xml_children(item)) {
            std::string kind = xml_name(child);
            if (kind == "p" && numbered) {
                odt_item(odt, child, item, at, out, depth + 1);
                numbered = false; // the item's later paragraphs go unmarked
            } else if (kind == "h" || kind == "p") {
                odt_plain(odt, child, out, depth + 1);
                numbered = false;
            } else {
                odt_block(odt, child, out, depth + 1, at);
            }
        }
    }
}

// ---------------------------------------------------------------- tables

// Whether one more copy of `size` bytes for a repeat fits the budget.
bool odt_may_repeat(Odt &odt, size_t size)
{
    if (size + 1 > repeat_budget - odt.repeated)
        return false;
    odt.repeated += size + 1;
    return true;
}

void odt_table(Odt &odt, XmlNode table, std::vector<Block> &out, int depth)
{
    std::vector<XmlNode> rows;
    office_collect(table, "table-row", "table-header-rows table-rows table-row-group", rows);
    for (XmlNode row : rows) {
        std::vector<std::string> cells;
        std::vector<Block> notes;
        for (XmlNode cell : xml_children(row)) {
            if (xml_name(cell) != "table-cell") // covered cells are the spanning one's
                continue;
            std::vector<Block> content;
            odt_blocks(odt, cell, content, depth + 1, ListAt{});
            std::string text = office_cell_text(content, notes);
            long repeat = std::max(1L, office_number(xml_attr(cell, "number-columns-repeated"), 1));
            for (long i = 0; i < repeat && static_cast<long>(cells.size()) < max_cells; ++i)
                if (i == 0 || odt_may_repeat(odt, text.size()))
                    cells.push_back(text);
        }
        long repeat = std::clamp(office_number(xml_attr(row, "number-rows-repeated"), 1), 1L, max_row_repeats);
        size_t size = 0;
        for (const std::string &text : cells)
            size += text.size();
        for (long i = 0; i < repeat; ++i)
            if (i == 0 || odt_may_repeat(odt, size))
                append_table_row(out, cells);
        office_append(out, Block{}, notes);
    }
}

// ---------------------------------------------------------------- blocks

bool odt_container(const std::string &name)
{
    // Sections, indexes and their bodies (not their -source templates).
    static const char *const containers[] = {"section",        "index-body",         "index-title",
                                             "table-of-content", "illustration-index", "alphabetical-index",
                                             "user-index",     "table-index",        "object-index",
                                             "bibliography",   "numbered-paragraph", "text-box"};
    for (const char *container : containers)
        if (name == container)
            return true;
    return false;
}

void odt_block(Odt &odt, XmlNode node, std::vector<Block> &out, int depth, const ListAt &at)
{
    if (depth > office_max_depth)
        return;
    std::string name = xml_name(node);
    if (name == "p" || name == "h")
        odt_plain(odt, node, out, depth + 1);
    else if (name == "list")
        odt_list(odt, node, out, depth + 1, at);
    else if (name == "table")
        odt_table(odt, node, out, depth + 1);
    else if (name == "frame" || name == "g" || name == "custom-shape")
        odt_frame(odt, node, out, depth + 1);
    else if (odt_container(name))
        odt_blocks(odt, node, out, depth + 1, at);
}

void odt_blocks(Odt &odt, XmlNode parent, std::vector<Block> &out, int depth, const ListAt &at)
{
    for (XmlNode child : xml_children(parent))
        odt_block(odt, child, out, depth, at);
}

// content.xml as a stream: its automatic styles, then the text's children
// one at a time, each freed once read; the first of each, as in a tree.
ReadResult odt_read_content(Odt &odt, ZipArchive *zip, const Input &in, Document &doc)
{
    bool styles_seen = false, in_body = false, in_text = false, taking_styles = false;
    auto choose = [&](XmlNode element, int depth) {
        if (depth == 0)
            return XmlStep::enter;
        std::string name = xml_name(element);
        taking_styles = depth == 1 && name == "automatic-styles" && !styles_seen;
        if (taking_styles) {
            styles_seen = true;
            return XmlStep::take;
        }
        if ((depth == 1 && name == "body" && !in_body) || (depth == 2 && in_body && name == "text" && !in_text)) {
            (depth == 1 ? in_body : in_text) = true;
            return XmlStep::enter;
        }
        return depth == 3 && in_text ? XmlStep::take : XmlStep::skip;
    };
    auto make = [&](XmlNode element) {
        // The content's own automatic styles win over named ones of that name.
        if (taking_styles)
            odt_load_styles(odt, element);
        else
            odt_block(odt, element, doc.blocks, 0, ListAt{});
    };
    return office_stream_body(zip, "content.xml", choose, make, in_text, in, "ODT", doc);
}

} // namespace

ReadResult read_odt(const Input &in, Document &doc)
{
    ZipPtr zip(zip_open_bytes(in.bytes));
    if (!zip || !zip_has(zip.get(), "content.xml"))
        return ReadResult::not_this_format;
    Odt odt;
    if (XmlDocPtr styles = office_parse_member(zip.get(), "styles.xml"))
        odt_load_styles(odt, xml_child(xml_root(styles.get()), "styles"));
    ReadResult result = odt_read_content(odt, zip.get(), in, doc);
    if (result != ReadResult::read)
        return result;
    for (Block &note : odt.endnotes)
        doc.blocks.push_back(std::move(note));
    return ReadResult::read;
}
