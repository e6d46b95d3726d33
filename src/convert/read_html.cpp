// The walk that the book readers share, and the HTML reader. A grammar
// gives each element a role (heading, paragraph, list, table, note...);
// the walk turns roles into blocks. It keeps its own stack, so no depth of
// nesting can exhaust the program's.
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "convert/html_walk.h"

// ---------------------------------------------------------------- small helpers

std::string_view local_name(XmlNode element)
{
    if (element == nullptr || element->type != XML_ELEMENT_NODE || element->name == nullptr)
        return {};
    std::string_view name(reinterpret_cast<const char *>(element->name));
    size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

bool name_is(XmlNode element, std::string_view name)
{
    std::string_view local = local_name(element);
    if (local.size() != name.size())
        return false;
    for (size_t i = 0; i < name.size(); i++)
        if (std::tolower(static_cast<unsigned char>(local[i])) != std::tolower(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

XmlNode child_named(XmlNode parent, std::string_view name)
{
    for (XmlNode child = xml_first_element(parent); child; child = xml_next_element(child))
        if (name_is(child, name))
            return child;
    return nullptr;
}

static xmlAttrPtr find_plain_attr(XmlNode element, const char *name)
{
    if (element == nullptr || element->type != XML_ELEMENT_NODE)
        return nullptr;
    for (xmlAttrPtr attr = element->properties; attr; attr = attr->next)
        if (attr->ns == nullptr && attr->name && xmlStrcmp(attr->name, BAD_CAST name) == 0)
            return attr;
    return nullptr;
}

// Only the literal text of a value: a declared entity is never expanded.
static std::string attr_value(xmlAttrPtr attr)
{
    std::string value;
    for (xmlNodePtr child = attr ? attr->children : nullptr; child; child = child->next)
        if (child->type == XML_TEXT_NODE && child->content)
            value += reinterpret_cast<const char *>(child->content);
    return value;
}

std::string plain_attr(XmlNode element, const char *name)
{
    return attr_value(find_plain_attr(element, name));
}

bool has_plain_attr(XmlNode element, const char *name)
{
    return find_plain_attr(element, name) != nullptr;
}

// epub:type, which the XML parser files under its namespace and the HTML
// parser under its full name.
static std::string epub_type(XmlNode element)
{
    for (xmlAttrPtr attr = element->properties; attr; attr = attr->next) {
        if (attr->name == nullptr)
            continue;
        if (attr->ns == nullptr ? xmlStrcmp(attr->name, BAD_CAST "epub:type") == 0
                                : xmlStrcmp(attr->name, BAD_CAST "type") == 0 && attr->ns->prefix &&
                                      xmlStrcmp(attr->ns->prefix, BAD_CAST "epub") == 0)
            return attr_value(attr);
    }
    return "";
}

static bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool has_token(std::string_view list, std::string_view token)
{
    size_t at = 0;
    while (at < list.size()) {
        while (at < list.size() && is_space(list[at]))
            at++;
        size_t end = at;
        while (end < list.size() && !is_space(list[end]))
            end++;
        if (end > at && list.substr(at, end - at) == token)
            return true;
        at = end;
    }
    return false;
}

std::string_view trim_blank(std::string_view text)
{
    for (;;) {
        if (!text.empty() && is_space(text.front()))
            text.remove_prefix(1);
        else if (text.size() >= 2 && text.substr(0, 2) == "\xC2\xA0")
            text.remove_prefix(2);
        else
            break;
    }
    for (;;) {
        if (!text.empty() && is_space(text.back()))
            text.remove_suffix(1);
        else if (text.size() >= 2 && text.substr(text.size() - 2) == "\xC2\xA0")
            text.remove_suffix(2);
        else
            break;
    }
    return text;
}

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
        if (is_space(c)) {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

// href in any namespace: the XML parser files xlink:href under "href",
// the HTML parser under its full name.
static std::string href_of(XmlNode link)
{
    for (xmlAttrPtr attr = link->properties; attr; attr = attr->next) {
        std::string_view name = attr->name ? reinterpret_cast<const char *>(attr->name) : "";
        if (name == "href" || (name.size() > 5 && name.substr(name.size() - 5) == ":href"))
            return attr_value(attr);
    }
    return "";
}

static std::string fragment_of(std::string_view href)
{
    size_t hash = href.find('#');
    return hash == std::string_view::npos ? std::string() : std::string(href.substr(hash + 1));
}

std::string marker_label(std::string_view text)
{
    text = trim_blank(text);
    if (text.size() >= 2 && ((text.front() == '[' && text.back() == ']') || (text.front() == '{' && text.back() == '}') ||
                             (text.front() == '(' && text.back() == ')')))
        text = trim_blank(text.substr(1, text.size() - 2));
    return std::string(text);
}

// ---------------------------------------------------------------- HTML's grammar

static Role html_name_role(std::string_view name)
{
    static const std::unordered_map<std::string_view, Role> roles = {
        // Never text a reader reads: metadata, code, pictures, forms, media.
        {"head", Role::skip}, {"title", Role::skip}, {"script", Role::skip}, {"style", Role::skip},
        {"template", Role::skip}, {"noscript", Role::skip}, {"svg", Role::skip}, {"annotation", Role::skip},
        {"annotation-xml", Role::skip}, {"input", Role::skip}, {"select", Role::skip}, {"textarea", Role::skip},
        {"button", Role::skip}, {"option", Role::skip}, {"datalist", Role::skip}, {"iframe", Role::skip},
        {"object", Role::skip}, {"embed", Role::skip}, {"canvas", Role::skip}, {"audio", Role::skip},
        {"video", Role::skip}, {"map", Role::skip}, {"rp", Role::skip}, {"rt", Role::skip}, {"colgroup", Role::skip},

        {"html", Role::block}, {"body", Role::block}, {"address", Role::block}, {"article", Role::block},
        {"aside", Role::block}, {"center", Role::block}, {"details", Role::block}, {"dialog", Role::block},
        {"div", Role::block}, {"dl", Role::block}, {"dt", Role::block}, {"figure", Role::block},
        {"figcaption", Role::block}, {"footer", Role::block}, {"form", Role::block}, {"fieldset", Role::block},
        {"legend", Role::block}, {"header", Role::block}, {"hgroup", Role::block}, {"hr", Role::block},
        {"main", Role::block}, {"nav", Role::block}, {"p", Role::block}, {"section", Role::block},
        {"summary", Role::block}, {"caption", Role::block}, {"thead", Role::block}, {"tbody", Role::block},
        {"tfoot", Role::block}, {"search", Role::block},

        {"h1", Role::heading}, {"h2", Role::heading}, {"h3", Role::heading}, {"h4", Role::heading},
        {"h5", Role::heading}, {"h6", Role::heading},
        {"pre", Role::pre}, {"listing", Role::pre}, {"xmp", Role::pre}, {"plaintext", Role::pre},
        // A definition is set in under its term, as a quote is.
        {"blockquote", Role::quote}, {"dd", Role::quote},
        {"ul", Role::list}, {"ol", Role::list}, {"menu", Role::list}, {"dir", Role::list},
        {"li", Role::item},
        {"table", Role::table}, {"tr", Role::row}, {"td", Role::cell}, {"th", Role::cell},
        {"br", Role::line_break},
    };
    auto found = roles.find(name);
    return found == roles.end() ? Role::text : found->second;
}

// A link that only leads from a note back to its marker ("↩").
static bool is_backlink(XmlNode link, const Notes &notes)
{
    std::string cls = plain_attr(link, "class");
    if (has_token(cls, "footnote-back") || has_token(cls, "footnote-backref") || has_token(cls, "backlink") ||
        plain_attr(link, "role") == "doc-backlink" || has_token(epub_type(link), "backlink"))
        return true;
    std::string target = fragment_of(plain_attr(link, "href"));
    if (!target.empty() && notes.ref_ids.count(target))
        return true;
    std::string text = xml_text(link);
    std::string_view shown = trim_blank(text);
    return shown == "\u21A9" || shown == "\u21A9\uFE0E" || shown == "\u21A9\uFE0F" || shown == "^";
}

static Role html_link_role(XmlNode link, const WalkContext &at)
{
    if (at.in_note && at.notes && is_backlink(link, *at.notes))
        return Role::skip;
    std::string cls = plain_attr(link, "class");
    if (has_token(cls, "footnote-ref") || has_token(cls, "footnoteRef") || has_token(cls, "noteref") ||
        has_token(cls, "footnote-reference") ||
        has_token(epub_type(link), "noteref") || plain_attr(link, "role") == "doc-noteref")
        return Role::noteref;
    return Role::text;
}

static Role html_role(XmlNode element, const WalkContext &at)
{
    std::string_view name = local_name(element);
    if (element->properties == nullptr)
        return name == "li" && at.in_notes && !at.in_note ? Role::note : html_name_role(name);
    if (has_plain_attr(element, "hidden"))
        return Role::skip;
    if (name == "a")
        return html_link_role(element, at);
    if (!at.in_note) {
        std::string type = epub_type(element);
        std::string aria = plain_attr(element, "role");
        if (has_token(type, "footnote") || has_token(type, "endnote") || has_token(type, "rearnote") ||
            aria == "doc-footnote" || aria == "doc-endnote" || (name == "li" && at.in_notes))
            return Role::note;
        std::string cls = plain_attr(element, "class");
        if (has_token(type, "footnotes") || has_token(type, "endnotes") || has_token(type, "rearnotes") ||
            aria == "doc-endnotes" || aria == "doc-footnotes" || has_token(cls, "footnotes") ||
            has_token(cls, "endnotes"))
            return Role::notes;
    }
    return html_name_role(name);
}

static const Grammar html_grammar = {html_role, nullptr};

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

static void append_entity(std::string &out, XmlNode ref)
{
    const htmlEntityDesc *known = ref->name ? htmlEntityLookup(ref->name) : nullptr;
    if (known != nullptr)
        append_utf8(out, known->value);
}

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
    for (XmlNode child = xml_first_element(list); child; child = xml_next_element(child))
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
    std::string target = fragment_of(href_of(link));
    if (!target.empty())
        w.notes.label_of.emplace(target, label);
    std::string id = plain_attr(link, "id");
    if (!id.empty())
        w.notes.ref_ids.insert(id);
    w.text += '[';
    w.text += label;
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
        append_entity(w.text, node);
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

void html_blocks(XmlNode root, Document &doc)
{
    Notes notes;
    walk_blocks(root, html_grammar, notes, doc);
}

// ---------------------------------------------------------------- encodings

static bool starts_with_ci(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); i++)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

// Where `needle` (lower case) first occurs in `text`, any case; npos.
static size_t find_ci(std::string_view text, std::string_view needle, size_t from = 0)
{
    if (std::isalpha(static_cast<unsigned char>(needle[0]))) {
        for (size_t at = from; at + needle.size() <= text.size(); at++)
            if (starts_with_ci(text.substr(at), needle))
                return at;
        return std::string_view::npos;
    }
    for (size_t at = text.find(needle[0], from); at != std::string_view::npos; at = text.find(needle[0], at + 1))
        if (starts_with_ci(text.substr(at), needle))
            return at;
    return std::string_view::npos;
}

// The value after `name` in an attribute-like text: charset=x, encoding="x".
static std::string value_after(std::string_view text, std::string_view name)
{
    size_t at = find_ci(text, name);
    if (at == std::string_view::npos)
        return "";
    at += name.size();
    while (at < text.size() && is_space(text[at]))
        at++;
    if (at >= text.size() || text[at] != '=')
        return "";
    at++;
    while (at < text.size() && (is_space(text[at]) || text[at] == '"' || text[at] == '\''))
        at++;
    size_t end = at;
    while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || (text[end] != '\0' && std::strchr("-_.:", text[end]))))
        end++;
    return std::string(text.substr(at, std::min<size_t>(end - at, 40)));
}

static std::string bom_encoding(std::string_view bytes)
{
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return "UTF-8";
    if (bytes.substr(0, 4) == std::string_view("\xFF\xFE\0\0", 4))
        return "UTF-32LE";
    if (bytes.substr(0, 4) == std::string_view("\0\0\xFE\xFF", 4))
        return "UTF-32BE";
    if (bytes.substr(0, 2) == "\xFF\xFE")
        return "UTF-16LE";
    if (bytes.substr(0, 2) == "\xFE\xFF")
        return "UTF-16BE";
    // "<" and one more ASCII character as UTF-16 without a BOM.
    if (bytes.size() >= 4 && bytes[0] == '<' && bytes[1] == 0 && bytes[2] != 0 && bytes[3] == 0)
        return "UTF-16LE";
    if (bytes.size() >= 4 && bytes[0] == 0 && bytes[1] == '<' && bytes[2] == 0 && bytes[3] != 0)
        return "UTF-16BE";
    return "";
}

static std::string meta_charset(std::string_view bytes)
{
    std::string_view head = bytes.substr(0, 65536);
    size_t body = find_ci(head, "<body");
    if (body != std::string_view::npos)
        head = head.substr(0, body);
    for (size_t at = find_ci(head, "<meta"); at != std::string_view::npos; at = find_ci(head, "<meta", at + 5)) {
        size_t close = head.find('>', at);
        std::string charset = value_after(head.substr(at, close == std::string_view::npos ? close : close - at), "charset");
        if (!charset.empty())
            return charset;
    }
    return "";
}

std::string declared_encoding(std::string_view bytes)
{
    std::string found = bom_encoding(bytes);
    if (!found.empty())
        return found;
    if (bytes.substr(0, 5) == "<?xml") {
        size_t close = bytes.find("?>");
        found = value_after(bytes.substr(0, std::min<size_t>(close, 512)), "encoding");
        if (!found.empty())
            return found;
    }
    return meta_charset(bytes);
}

static bool ascii_compatible(const std::string &encoding)
{
    for (const char *wide : {"utf-16", "utf16", "utf-32", "utf32", "ucs-2", "ucs2", "ucs-4", "ucs4", "utf-7", "utf7"})
        if (starts_with_ci(encoding, wide))
            return false;
    return true;
}

static bool utf8_name(const std::string &encoding)
{
    for (const char *name : {"utf-8", "utf8", "ascii", "us-ascii", "ansi_x3.4-1968"})
        if (encoding.size() == std::strlen(name) && starts_with_ci(encoding, name))
            return true;
    return false;
}

// An inline DTD: "<!DOCTYPE x [ ... ]>", whose "]>" the HTML parser shows.
static void drop_inline_dtd(std::string &text)
{
    size_t start = find_ci(text, "<!doctype");
    if (start == std::string::npos)
        return;
    size_t open = text.find_first_of("[>", start);
    if (open == std::string::npos || text[open] != '[')
        return;
    for (size_t close = text.find(']', open); close != std::string::npos; close = text.find(']', close + 1)) {
        size_t after = text.find_first_not_of(" \t\r\n", close + 1);
        if (after != std::string::npos && text[after] == '>') {
            text.erase(start, after + 1 - start);
            return;
        }
    }
    text.erase(start); // never closed: nothing after it is the page
}

std::string html_parser_input(std::string_view bytes, std::string &encoding)
{
    std::string text;
    if (encoding.empty()) {
        std::string guess = detect_charset(bytes);
        if (utf8_name(guess)) {
            text.assign(bytes);
        } else {
            text = to_utf8(bytes, guess.empty() ? "WINDOWS-1252" : guess);
        }
        encoding = "UTF-8";
    } else if (!ascii_compatible(encoding)) {
        text = to_utf8(bytes, encoding);
        encoding = "UTF-8";
    } else {
        text.assign(bytes);
    }
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    drop_inline_dtd(text);
    return text;
}

// ---------------------------------------------------------------- the reader

bool html_bytes_walk(std::string_view bytes, Notes &notes, Document &doc)
{
    // Well-formed XHTML reads right under the XML parser, which honours the
    // XML declaration; the rest (a literal "<year>" in a chapter) under the
    // HTML parser, told the encoding that it would not find itself.
    XmlDoc parsed = xml_parse(bytes);
    if (parsed == nullptr) {
        std::string encoding = declared_encoding(bytes);
        std::string text = html_parser_input(bytes, encoding);
        // Without a root of its own the parser nests each list that
        // follows a list at the top into the one before.
        if (find_ci(text, "<html") == std::string::npos)
            text.insert(0, "<html>");
        parsed = html_parse(text, encoding.c_str());
    }
    if (parsed == nullptr)
        return false;
    walk_blocks(reinterpret_cast<XmlNode>(parsed), html_grammar, notes, doc);
    xml_free(parsed);
    return true;
}

bool html_bytes_blocks(std::string_view bytes, Document &doc)
{
    Notes notes;
    return html_bytes_walk(bytes, notes, doc);
}

bool read_html(const Input &in, Document &doc)
{
    return html_bytes_blocks(in.bytes, doc);
}
