// The walk that the HTML reader and the books share: a grammar gives each
// element a role (heading, paragraph, list, table, note...); the walk
// turns roles into blocks. It keeps its own stack, so no depth of nesting
// can exhaust the program's.
#include <libxml/tree.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert/document.h"
#include "convert/html/html.h"
#include "convert/text.h"
#include "convert/xml.h"

static bool blank(std::string_view text)
{
    return trim_blank(text).empty();
}

// Runs of white space as one space, trimmed: for the short texts (cells,
// verse lines) that the writer takes as they are.
static std::string collapse(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : trim_blank(text)) {
        if (ascii_space(c)) {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

// ---------------------------------------------------------------- the walk

namespace {

struct ListLevel {
    ListStyle style = ListStyle::bullet;
    long next = 1;
    long step = 1; // -1 for a reversed list
};

// The marker that the first block of a list item takes.
struct Marker {
    bool pending = false;
    ListStyle style = ListStyle::bullet;
    long number = 0;
    int depth = 0;
};

struct Frame {
    XmlNode node;
    XmlNode next_child;
    Role role;
    bool owner = false; // holds the one text of a heading, cell or note
    size_t mark = 0;    // verse_line: where its text begins
    Marker saved{};     // item: the marker of the item around it
};

struct Walker {
    const Grammar &grammar;
    Notes &notes;
    Document &doc;
    WalkContext at{};
    std::string text{}; // the open block's text
    int flat = 0;     // within a heading, cell or note, whose blocks are only spaces
    int pre = 0, verse = 0, quote = 0, notes_open = 0;
    size_t verse_mark = 0; // where the stanza's last line ended
    std::vector<ListLevel> lists{};
    Marker marker{};
    Block row{};
    bool in_row = false;
    std::string note_label{};
    std::vector<Frame> stack{};
};

} // namespace


static void emit(Walker &w, Block block)
{
    w.doc.blocks.push_back(std::move(block));
}

// The open block's text as a block of the kind its place makes it.
static void flush(Walker &w)
{
    if (blank(w.text)) {
        w.text.clear();
        return;
    }
    Block block;
    if (w.pre > 0 || w.verse > 0) {
        block.kind = BlockKind::preformatted;
        size_t start = w.text.find_first_not_of("\r\n");
        size_t end = w.text.find_last_not_of(" \t\r\n");
        block.text = w.text.substr(start, end + 1 - start);
    } else {
        if (w.marker.pending) {
            block.kind = BlockKind::list_item;
            block.style = w.marker.style;
            block.number = w.marker.number;
            block.depth = w.marker.depth;
            w.marker.pending = false;
        } else if (w.quote > 0) {
            block.kind = BlockKind::quote;
            block.depth = w.quote - 1;
        }
        block.text = std::move(w.text);
    }
    w.text.clear();
    emit(w, std::move(block));
}

static long number_attr(XmlNode element, const char *name, long fallback)
{
    std::string value = plain_attr(element, name);
    char *end = nullptr;
    long number = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || end == value.c_str())
        return fallback;
    const long bound = 1000000000L; // far past any list, and no overflow when counted on
    return number > bound ? bound : number < -bound ? -bound : number;
}

static long count_items(XmlNode list)
{
    long count = 0;
    for (XmlNode child : xml_children(list))
        if (local_name(child) == "li")
            count++;
    return count;
}

static ListLevel list_level(XmlNode list)
{
    ListLevel level;
    if (local_name(list) != "ol")
        return level;
    std::string type = plain_attr(list, "type");
    level.style = numbering_style(type);
    bool reversed = has_plain_attr(list, "reversed");
    level.step = reversed ? -1 : 1;
    level.next = number_attr(list, "start", reversed ? count_items(list) : 1);
    return level;
}

// The next number of the innermost list (an item's value resets it).
static long next_number(Walker &w, XmlNode item)
{
    if (w.lists.empty())
        return 0;
    ListLevel &level = w.lists.back();
    long number = number_attr(item, "value", level.next);
    level.next = number + level.step;
    return number;
}

static std::string note_label(Walker &w, XmlNode note)
{
    std::string label = w.grammar.own_label ? w.grammar.own_label(note) : "";
    if (label.empty()) {
        std::string id = plain_attr(note, "id");
        auto found = id.empty() ? w.notes.label_of.end() : w.notes.label_of.find(id);
        if (found != w.notes.label_of.end())
            label = found->second;
    }
    long ordinal = local_name(note) == "li" && !w.lists.empty() ? next_number(w, note) : 0;
    if (label.empty())
        label = std::to_string(ordinal > 0 ? ordinal : ++w.notes.count);
    return label;
}

static void add_noteref(Walker &w, XmlNode link)
{
    std::string shown = xml_text(link);
    std::string label = marker_label(shown);
    w.notes.count++;
    bool short_mark = !label.empty() && label.size() <= 12 && label.find_first_of(" \t\r\n") == std::string::npos;
    if (!short_mark) {
        w.text += shown; // a phrase made a link: the phrase, then its number among the markers
        label = std::to_string(w.notes.count);
    }
    std::string target = link_target(link);
    if (!target.empty())
        w.notes.label_of.emplace(target, label);
    std::string id = plain_attr(link, "id");
    if (!id.empty())
        w.notes.ref_ids.insert(id);
    w.text += '[';
    w.text += label;
    w.text += ']';
}

// Without an alt text (or with an empty one) a picture is decoration.
static void add_picture(Walker &w, XmlNode image)
{
    std::string alt = collapse(plain_attr(image, "alt"));
    if (alt.empty())
        return;
    w.text += '[';
    w.text += alt;
    w.text += ']';
}

static void end_row(Walker &w)
{
    if (!w.in_row)
        return;
    w.in_row = false;
    bool any = false;
    for (const std::string &cell : w.row.cells)
        any = any || !blank(cell);
    if (any)
        emit(w, std::move(w.row));
    w.row = Block{};
}

// An element opens: what it starts, in a walk outside headings, cells and notes.
static void begin(Walker &w, Frame &f)
{
    switch (f.role) {
    case Role::text:
        return;
    case Role::cell:
        if (!w.in_row) {
            f.role = Role::block; // a cell outside any row is a paragraph
            flush(w);
            return;
        }
        [[fallthrough]];
    case Role::heading:
    case Role::note:
        flush(w);
        f.owner = true;
        w.flat++;
        if (f.role == Role::note) {
            w.note_label = note_label(w, f.node);
            w.at.in_note = true;
        }
        return;
    case Role::verse_line:
        if (w.verse > 0) {
            // White space between the lines is no part of them.
            // The mark may stand past text a flushed block took away.
            if (w.verse_mark <= w.text.size() && blank(std::string_view(w.text).substr(w.verse_mark)))
                w.text.resize(w.verse_mark);
            f.mark = w.text.size();
            return;
        }
        f.role = Role::block;
        flush(w);
        return;
    case Role::item:
        flush(w);
        f.saved = w.marker;
        w.marker.pending = true;
        w.marker.style = w.lists.empty() ? ListStyle::bullet : w.lists.back().style;
        w.marker.depth = w.lists.empty() ? 0 : static_cast<int>(w.lists.size()) - 1;
        w.marker.number = next_number(w, f.node);
        return;
    case Role::row:
        flush(w);
        end_row(w);
        w.row.kind = BlockKind::table_row;
        w.in_row = true;
        return;
    default:
        break;
    }
    flush(w);
    switch (f.role) {
    case Role::pre: w.pre++; break;
    case Role::verse:
        w.verse++;
        w.verse_mark = 0;
        break;
    case Role::quote: w.quote++; break;
    case Role::list: w.lists.push_back(list_level(f.node)); break;
    case Role::notes:
        w.notes_open++;
        w.at.in_notes = true;
        break;
    default: break;
    }
}

// An element closes: the block it made, and its context undone.
static void end(Walker &w, Frame &f)
{
    if (w.flat > 0 && !f.owner) {
        if (f.role != Role::text)
            w.text += ' ';
        return;
    }
    switch (f.role) {
    case Role::text: return;
    case Role::heading:
    case Role::note: {
        w.flat--;
        if (!blank(w.text)) {
            Block block;
            block.kind = f.role == Role::heading ? BlockKind::heading : BlockKind::note;
            block.text = std::move(w.text);
            if (f.role == Role::note)
                block.label = w.note_label;
            emit(w, std::move(block));
        }
        w.text.clear();
        if (f.role == Role::note)
            w.at.in_note = false;
        return;
    }
    case Role::cell:
        w.flat--;
        w.row.cells.push_back(collapse(w.text));
        w.text.clear();
        return;
    case Role::verse_line: {
        // A block nested in the line may have taken the text before it.
        size_t mark = std::min(f.mark, w.text.size());
        std::string line = collapse(std::string_view(w.text).substr(mark));
        w.text.resize(mark);
        w.text += line;
        w.text += '\n';
        w.verse_mark = w.text.size();
        return;
    }
    case Role::row:
        flush(w);
        end_row(w);
        return;
    default: break;
    }
    flush(w);
    switch (f.role) {
    case Role::pre: w.pre--; break;
    case Role::verse: w.verse--; break;
    case Role::quote: w.quote--; break;
    case Role::list: w.lists.pop_back(); break;
    case Role::item: w.marker = f.saved; break;
    case Role::table: end_row(w); break;
    case Role::notes:
        w.notes_open--;
        w.at.in_notes = w.notes_open > 0;
        break;
    default: break;
    }
}

static void visit(Walker &w, XmlNode node)
{
    switch (node->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
        if (node->content)
            w.text += reinterpret_cast<const char *>(node->content);
        return;
    case XML_ENTITY_REF_NODE:
        append_html_entity(w.text, reinterpret_cast<const char *>(node->name));
        return;
    case XML_ELEMENT_NODE:
        break;
    default:
        return; // comments, processing instructions, DTDs
    }
    Role role = w.grammar.role(node, w.at);
    if (role == Role::skip)
        return;
    if (role == Role::line_break) {
        w.text += '\n';
        return;
    }
    if (role == Role::noteref) {
        add_noteref(w, node);
        return;
    }
    if (role == Role::picture) {
        add_picture(w, node);
        return;
    }
    Frame f{.node = node, .next_child = node->children, .role = role};
    if (w.flat > 0) {
        if (role != Role::text)
            w.text += ' ';
    } else {
        begin(w, f);
    }
    w.stack.push_back(f);
}

void walk_blocks(XmlNode root, const Grammar &grammar, Notes &notes, Document &doc)
{
    if (root == nullptr)
        return;
    Walker w{.grammar = grammar, .notes = notes, .doc = doc};
    w.at.notes = &notes;
    if (root->type == XML_ELEMENT_NODE)
        visit(w, root);
    else
        w.stack.push_back(Frame{.node = root, .next_child = root->children, .role = Role::text});
    while (!w.stack.empty()) {
        XmlNode child = w.stack.back().next_child;
        if (child == nullptr) {
            Frame f = w.stack.back();
            w.stack.pop_back();
            end(w, f);
            continue;
        }
        w.stack.back().next_child = child->next;
        visit(w, child);
    }
    flush(w);
    end_row(w);
}
