// What the office readers (DOCX, ODT, RTF) share: the Symbol font's
// characters, bullets, notes' and cells' text, table rows.
#include <algorithm>

#include "convert/notices.h"
#include "convert/office/office.h"
#include "convert/text.h"
#include "convert/zip.h"

namespace {

// The Symbol font's letters: Greek in its own order (C is chi, Q theta).
const char *const symbol_upper[26] = {"Α", "Β", "Χ", "Δ", "Ε", "Φ", "Γ", "Η", "Ι", "ϑ", "Κ", "Λ", "Μ",
                                      "Ν", "Ο", "Π", "Θ", "Ρ", "Σ", "Τ", "Υ", "ς", "Ω", "Ξ", "Ψ", "Ζ"};
const char *const symbol_lower[26] = {"α", "β", "χ", "δ", "ε", "φ", "γ", "η", "ι", "ϕ", "κ", "λ", "μ",
                                      "ν", "ο", "π", "θ", "ρ", "σ", "τ", "υ", "ϖ", "ω", "ξ", "ψ", "ζ"};

struct SymbolSign {
    unsigned code;
    const char *text;
};

// The Symbol font's signs that are not the ASCII character of their code.
const SymbolSign symbol_signs[] = {
    {0x22, "∀"}, {0x24, "∃"}, {0x27, "∋"}, {0x2A, "∗"}, {0x2D, "−"}, {0x40, "≅"}, {0x5C, "∴"},
    {0x5E, "⊥"}, {0x60, "‾"}, {0x7E, "∼"}, {0xA0, "€"}, {0xA1, "ϒ"}, {0xA2, "′"}, {0xA3, "≤"},
    {0xA4, "⁄"}, {0xA5, "∞"}, {0xA6, "ƒ"}, {0xA7, "♣"}, {0xA8, "♦"}, {0xA9, "♥"}, {0xAA, "♠"},
    {0xAB, "↔"}, {0xAC, "←"}, {0xAD, "↑"}, {0xAE, "→"}, {0xAF, "↓"}, {0xB0, "°"}, {0xB1, "±"},
    {0xB2, "″"}, {0xB3, "≥"}, {0xB4, "×"}, {0xB5, "∝"}, {0xB6, "∂"}, {0xB7, "•"}, {0xB8, "÷"},
    {0xB9, "≠"}, {0xBA, "≡"}, {0xBB, "≈"}, {0xBC, "…"}, {0xC0, "ℵ"}, {0xC1, "ℑ"}, {0xC2, "ℜ"},
    {0xC3, "℘"}, {0xC4, "⊗"}, {0xC5, "⊕"}, {0xC6, "∅"}, {0xC7, "∩"}, {0xC8, "∪"}, {0xC9, "⊃"},
    {0xCA, "⊇"}, {0xCB, "⊄"}, {0xCC, "⊂"}, {0xCD, "⊆"}, {0xCE, "∈"}, {0xCF, "∉"}, {0xD0, "∠"},
    {0xD1, "∇"}, {0xD2, "®"}, {0xD3, "©"}, {0xD4, "™"}, {0xD5, "∏"}, {0xD6, "√"}, {0xD7, "⋅"},
    {0xD8, "¬"}, {0xD9, "∧"}, {0xDA, "∨"}, {0xDB, "⇔"}, {0xDC, "⇐"}, {0xDD, "⇑"}, {0xDE, "⇒"},
    {0xDF, "⇓"}, {0xE0, "◊"}, {0xE1, "〈"}, {0xE5, "∑"}, {0xF1, "〉"}, {0xF2, "∫"},
};

bool is_white(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

std::string symbol_font_text(unsigned code)
{
    if (code >= 'A' && code <= 'Z')
        return symbol_upper[code - 'A'];
    if (code >= 'a' && code <= 'z')
        return symbol_lower[code - 'a'];
    for (const SymbolSign &sign : symbol_signs)
        if (sign.code == code)
            return sign.text;
    if (code >= 0x20 && code < 0x7F)
        return std::string(1, static_cast<char>(code));
    return "";
}

ListStyle bullet_style(std::string_view bullet_text)
{
    // Dashes as their own characters, and as the Symbol font's minus
    // (U+F02D, where Word puts a symbol font's codes).
    static const std::string_view dashes[] = {"-", "–", "—", "−", "‐", "‑", "\xEF\x80\xAD"};
    size_t start = 0, end = bullet_text.size();
    while (start < end && is_white(bullet_text[start]))
        ++start;
    while (end > start && is_white(bullet_text[end - 1]))
        --end;
    std::string_view core = bullet_text.substr(start, end - start);
    for (std::string_view dash : dashes)
        if (core == dash)
            return ListStyle::dash;
    return ListStyle::bullet;
}

std::string blocks_text(const std::vector<Block> &blocks)
{
    std::string out;
    auto add = [&out](const std::string &piece) {
        if (piece.empty())
            return;
        if (!out.empty())
            out += ' ';
        out += piece;
    };
    for (const Block &block : blocks) {
        add(block.text);
        for (const std::string &cell : block.cells)
            add(cell);
    }
    return out;
}

void append_table_row(std::vector<Block> &blocks, std::vector<std::string> cells)
{
    while (!cells.empty() && ascii_blank(cells.back()))
        cells.pop_back();
    if (cells.empty())
        return;
    Block row;
    row.kind = BlockKind::table_row;
    row.cells = std::move(cells);
    blocks.push_back(std::move(row));
}

std::string endnote_label(long n)
{
    // The writer's lower roman marker, without its full stop.
    std::string label = list_marker(ListStyle::lower_roman, n);
    if (!label.empty() && label.back() == '.')
        label.pop_back();
    return label;
}

long office_number(std::string_view text, long fallback)
{
    size_t at = 0;
    while (at < text.size() && is_white(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+'))
        negative = text[at++] == '-';
    if (at == text.size() || text[at] < '0' || text[at] > '9')
        return fallback;
    constexpr long limit = 1000000000;
    long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        value = std::min(limit, value * 10 + (text[at] - '0'));
    return negative ? -value : value;
}

void office_append(std::vector<Block> &out, Block block, std::vector<Block> &after)
{
    if (!ascii_blank(block.text))
        out.push_back(std::move(block));
    for (Block &next : after)
        out.push_back(std::move(next));
    after.clear();
}

BlockKind office_style_kind(std::string_view name)
{
    if (name == "title")
        return BlockKind::heading;
    if (name == "quote" || name == "intense quote" || name == "block text" || name == "quotations")
        return BlockKind::quote;
    if (name.substr(0, 7) != "heading")
        return BlockKind::paragraph;
    name.remove_prefix(7);
    if (!name.empty() && name[0] == ' ')
        name.remove_prefix(1);
    bool level = name.size() == 1 && name[0] >= '1' && name[0] <= '9';
    return level ? BlockKind::heading : BlockKind::paragraph;
}

static bool among(std::string_view words, std::string_view name)
{
    while (!words.empty()) {
        size_t end = words.find(' ');
        if (words.substr(0, end) == name)
            return true;
        if (end == std::string_view::npos)
            break;
        words.remove_prefix(end + 1);
    }
    return false;
}

static void collect_below(XmlNode node, const char *want, std::string_view wrappers, std::vector<XmlNode> &found,
                          int depth)
{
    if (depth > 100) // deeper than any document wraps its rows
        return;
    for (XmlNode child : xml_children(node)) {
        std::string name = xml_name(child);
        if (name == want)
            found.push_back(child);
        else if (among(wrappers, name))
            collect_below(child, want, wrappers, found, depth + 1);
    }
}

void office_collect(XmlNode node, const char *want, std::string_view wrappers, std::vector<XmlNode> &found)
{
    collect_below(node, want, wrappers, found, 0);
}

std::string office_cell_text(std::vector<Block> &content, std::vector<Block> &notes)
{
    std::vector<Block> kept;
    for (Block &block : content)
        (block.kind == BlockKind::note ? notes : kept).push_back(std::move(block));
    content.clear();
    return blocks_text(kept);
}

long office_count(ListCounters &counters, int level, long start, long set_to)
{
    long &value = counters.value[level];
    if (set_to >= 0)
        value = set_to;
    else if (!counters.started[level])
        value = start;
    else if (value < 1000000000)
        ++value;
    counters.started[level] = true;
    for (int deeper = level + 1; deeper < office_levels; ++deeper)
        counters.started[deeper] = false;
    return value;
}

XmlDocPtr office_parse_member(ZipArchive *zip, const char *name)
{
    std::string bytes;
    return XmlDocPtr(zip_read(zip, name, bytes) ? xml_parse(bytes) : nullptr);
}

bool office_part_taken(PartBudget &budget, Document &doc, size_t from, size_t keep)
{
    for (size_t i = from; i < doc.blocks.size(); i++) {
        budget.text += doc.blocks[i].text.size();
        for (const std::string &cell : doc.blocks[i].cells)
            budget.text += cell.size();
    }
    office_flush(doc, keep);
    return ++budget.parts <= (size_t{1} << 18) + budget.text / 8;
}

// Member `name` read as a stream: absent, read to its end, broken off by a
// fault in it, or stopped by `take`, after what was taken.
enum class MemberRead { absent, whole, broken, stopped };

static MemberRead stream_member(ZipArchive *zip, const char *name,
                                const std::function<XmlStep(XmlNode element, int depth)> &choose,
                                const std::function<bool(XmlNode element)> &take)
{
    ZipMember *member = zip_member_open(zip, name);
    if (member == nullptr)
        return MemberRead::absent;
    StreamEnd end = xml_stream(
        [member](char *buffer, int size) { return zip_member_read(member, buffer, size); }, choose, take);
    zip_member_close(member);
    return end == StreamEnd::whole ? MemberRead::whole : end == StreamEnd::broken ? MemberRead::broken
                                                                                   : MemberRead::stopped;
}

// How a streamed document ends, as office_stream_body says.
static ReadResult stream_end(MemberRead read, bool found, const Input &in, const char *type, Document &doc)
{
    const char *why = read == MemberRead::stopped ? too_much_markup : "it is damaged";
    bool shown = read == MemberRead::stopped ? document_has_blocks(doc) : doc.blocks_sent > 0;
    if (read != MemberRead::whole && found && shown) {
        std::string place = "paragraph " + std::to_string(doc.blocks_sent + doc.blocks.size());
        document_stop(doc, in.name, type, place, why);
        return ReadResult::read;
    }
    if (read == MemberRead::stopped) {
        doc.blocks.clear();
        return notice(doc, NoticeKind::unreadable, in.name, type, why);
    }
    // What a document that is no XML showed before its fault is no text of
    // its own: it is read as a tree would be, not at all.
    if (read != MemberRead::whole || !found) {
        doc.blocks.clear();
        return ReadResult::not_this_format;
    }
    return ReadResult::read;
}

ReadResult office_stream_body(ZipArchive *zip, const char *name,
                              const std::function<XmlStep(XmlNode element, int depth)> &choose,
                              const std::function<void(XmlNode element)> &make, const bool &found,
                              const Input &in, const char *type, Document &doc)
{
    PartBudget budget;
    auto take = [&](XmlNode element) {
        size_t from = doc.blocks.size();
        make(element);
        return office_part_taken(budget, doc, from);
    };
    MemberRead read = stream_member(zip, name, choose, take); // before `found` is looked at
    return stream_end(read, found, in, type, doc);
}

void office_flush(Document &doc, size_t keep)
{
    // A write per few hundred blocks: cheap beside the parse, and little
    // lost to a limit.
    constexpr size_t batch = 512;
    if (doc.blocks.size() < batch + keep)
        return;
    document_flush(doc, "paragraph " + std::to_string(doc.blocks_sent + doc.blocks.size() - keep), keep);
}
