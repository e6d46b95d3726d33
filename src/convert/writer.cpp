// The one text writer: blocks to rows, the same for every format.
#include <algorithm>
#include <cstdint>

#include "convert/charset.h"
#include "convert/document.h"
#include "convert/text.h"

// ---------------------------------------------------------------- list markers

// 1 -> a, 26 -> z, 27 -> aa: the letters count on after z as columns do.
static std::string letters(long number, char first)
{
    std::string out;
    for (; number > 0; number = (number - 1) / 26)
        out += static_cast<char>(first + (number - 1) % 26);
    std::reverse(out.begin(), out.end());
    return out;
}

std::string list_marker(ListStyle style, long number)
{
    switch (style) {
    case ListStyle::bullet:
        return "•";
    case ListStyle::dash:
        return "-";
    case ListStyle::lower_alpha:
    case ListStyle::upper_alpha:
        if (number <= 0)
            break;
        return letters(number, style == ListStyle::lower_alpha ? 'a' : 'A') + ".";
    case ListStyle::lower_roman:
    case ListStyle::upper_roman:
        if (number <= 0 || number > 3999)
            break;
        return roman_numeral(number, style == ListStyle::upper_roman) + ".";
    case ListStyle::decimal:
        break;
    }
    return std::to_string(number) + ".";
}

ListStyle numbering_style(std::string_view name)
{
    return name == "a"   ? ListStyle::lower_alpha
           : name == "A" ? ListStyle::upper_alpha
           : name == "i" ? ListStyle::lower_roman
           : name == "I" ? ListStyle::upper_roman
                         : ListStyle::decimal;
}

// ---------------------------------------------------------------- rows

// Characters that show as blank: a row of nothing else is empty.
static bool blank_code_point(uint32_t cp)
{
    return cp == 0x20 || cp == 0x09 || cp == 0x0A || cp == 0x0D || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200B) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F ||
           cp == 0x2060 || cp == 0x3000 || cp == 0xFEFF;
}

static bool only_blank(std::string_view text)
{
    size_t at = 0;
    while (at < text.size())
        if (!blank_code_point(next_code_point(text, at)))
            return false;
    return true;
}

// The line and paragraph separators, U+2028 and U+2029, at `at`.
static bool separator_at(std::string_view text, size_t at)
{
    return text.size() - at >= 3 && text[at] == '\xE2' && text[at + 1] == '\x80' &&
           (text[at + 2] == '\xA8' || text[at + 2] == '\xA9');
}

// Runs of white space (ASCII's and the Unicode separators) as one space,
// trimmed; other control bytes dropped. No-break spaces stay: they are
// the text's own.
static std::string collapsed(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    bool space = false;
    for (size_t at = 0; at < text.size(); at++) {
        auto b = static_cast<unsigned char>(text[at]);
        if (b == ' ' || b == '\t' || b == '\n' || b == '\r' || b == '\f' || b == '\v') {
            space = true;
            continue;
        }
        if (b == 0xE2 && separator_at(text, at)) {
            space = true;
            at += 2;
            continue;
        }
        if (b < 0x20 || b == 0x7F)
            continue;
        if (space && !out.empty())
            out += ' ';
        space = false;
        out += text[at];
    }
    if (only_blank(out))
        out.clear();
    return out;
}

// Preformatted text as it is, but for rows of only blanks, which are
// made empty: a blank row is then one for whatever squeezes blank rows.
static std::string blank_rows_emptied(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 1);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string_view row = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        if (!only_blank(row))
            out += row;
        if (end == std::string_view::npos)
            break;
        out += '\n';
        at = end + 1;
    }
    return out;
}

// Cells joined by " | "; an empty cell keeps its place.
static std::string table_row(const Block &block)
{
    if (block.cells.empty())
        return collapsed(block.text);
    std::string row;
    bool any = false;
    for (size_t i = 0; i < block.cells.size(); i++) {
        std::string cell = collapsed(block.cells[i]);
        any = any || !cell.empty();
        if (i > 0)
            row += row.empty() ? "|" : " |";
        if (!cell.empty()) {
            if (!row.empty())
                row += ' ';
            row += cell;
        }
    }
    return any ? row : "";
}

static std::string indent(int depth, int width)
{
    return std::string(static_cast<size_t>(std::clamp(depth, 0, 32) * width), ' ');
}

// The block's row without its line end, or "" when it shows nothing.
static std::string block_row(const Block &block)
{
    switch (block.kind) {
    case BlockKind::heading:
    case BlockKind::paragraph:
        return collapsed(block.text);
    case BlockKind::list_item: {
        std::string text = collapsed(block.text);
        if (text.empty())
            return "";
        return indent(block.depth, 2) + list_marker(block.style, block.number) + " " + text;
    }
    case BlockKind::quote: {
        // Indented, not "> ": fmt -s keeps a first row's indent on the rows
        // it wraps, but no prefix.
        std::string text = collapsed(block.text);
        return text.empty() ? "" : indent(block.depth + 1, 4) + text;
    }
    case BlockKind::table_row:
        return table_row(block);
    case BlockKind::note: {
        std::string text = collapsed(block.text);
        std::string label = collapsed(block.label);
        if (text.empty() || label.empty())
            return text;
        return "[" + label + "] " + text;
    }
    case BlockKind::preformatted:
        return only_blank(block.text) ? "" : blank_rows_emptied(block.text);
    }
    return "";
}

// Items of one list, rows of one table and a run of notes stay together.
static bool runs_on(BlockKind before, BlockKind kind)
{
    return before == kind &&
           (kind == BlockKind::list_item || kind == BlockKind::table_row || kind == BlockKind::note);
}

void layout_append(LaidOut &layout, const Block &block)
{
    std::string row = block_row(block);
    if (row.empty())
        return;
    if (layout.any && !runs_on(layout.last, block.kind))
        layout.text += '\n';
    layout.text += row;
    if (layout.text.back() != '\n')
        layout.text += '\n';
    layout.any = true;
    layout.last = block.kind;
}

static std::string laid_out_after(LaidOut layout, const std::vector<Block> &blocks)
{
    size_t size = layout.text.size();
    for (const Block &block : blocks) {
        size += block.text.size() + block.label.size() + 16;
        for (const std::string &cell : block.cells)
            size += cell.size() + 3;
    }
    layout.text.reserve(size);
    for (const Block &block : blocks)
        layout_append(layout, block);
    return std::move(layout.text);
}

std::string layout_text(const Document &doc)
{
    if (!doc.notice.empty())
        return collapsed(doc.notice) + "\n";
    return laid_out_after(doc.laid_out, doc.blocks);
}

std::string layout_text(Document &&doc)
{
    if (!doc.notice.empty())
        return collapsed(doc.notice) + "\n";
    return laid_out_after(std::move(doc.laid_out), doc.blocks);
}
