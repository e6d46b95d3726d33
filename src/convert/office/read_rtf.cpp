// RTF: a reader of its own, one pass over the bytes with a bounded stack
// of groups and no recursion. Text is kept as the bytes of its code page
// (the document's, or its font's charset) until a boundary, so that a
// double-byte character written as two \'hh (or a \'hh and a letter) is
// converted as one; \uN is taken as it is, its fallback skipped.
#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "convert/charset.h"
#include "convert/notices.h"
#include "convert/office/office.h"
#include "convert/readers.h"
#include "convert/text.h"

namespace {

// Groups deeper than this are read flat, as part of the deepest one kept:
// their text and paragraphs, not their formatting. No real document nests
// so far, and a hostile one of 100,000 "{" costs a counter.
constexpr size_t max_groups = 256;
constexpr int max_levels = 9;

enum class Dest { body, footnote, listtext, fonttbl, stylesheet, skip };

struct Group {
    Dest dest = Dest::body;
    bool note_start = false; // the group that \footnote opened
    bool starred = false;    // \* stands before the group's first word
    int uc = 1;              // fallback characters after \uN
    long font = -1;          // -1: the default font (\deff)
    bool hidden = false;     // hidden (\v) or deleted (\deleted) text
    // Paragraph properties (\pard resets them).
    bool intbl = false;
    int outline = -1;
    long style = 0;
    int ilvl = 0;
};

struct Rtf {
    std::string_view in;
    size_t at = 0;
    std::vector<Group> groups;
    size_t overflow = 0; // groups opened past max_groups
    size_t skip_from = 0; // the overflow level of a destination skipped past them, 0 for none
    PartBudget budget;
    bool stopped = false; // paragraphs outran their text

    std::string doc_codepage = "CP1252";
    long default_font = -1;
    std::unordered_map<long, std::string> font_codepages;
    long font_defining = -1;
    std::string font_name;
    std::unordered_map<long, std::string> style_names; // lower case
    long style_defining = 0;
    std::string style_name;

    // Text not yet converted from its code page, and where it goes.
    std::string bytes;
    std::string *bytes_target = nullptr;
    long bytes_font = -1;
    uint32_t high_surrogate = 0;
    int fallback_left = 0;

    std::string para;   // the paragraph (or table cell) being read
    std::string note;   // the footnote being read
    std::string marker; // the paragraph's list marker (\listtext, \pntext)
    bool listed = false; // the paragraph had one, if only a dingbat
    bool note_is_endnote = false;
    std::vector<std::string> cells;
    std::vector<Block> after; // notes of the paragraph or row
    std::vector<Block> endnotes;
    long footnotes_seen = 0, endnotes_seen = 0;
    Document *doc = nullptr;
};

Group &top(Rtf &rtf)
{
    return rtf.groups.back();
}

// Within a destination skipped past max_groups: nothing of it is text.
bool skipping(const Rtf &rtf)
{
    return rtf.overflow > 0 && rtf.skip_from > 0;
}

// ---------------------------------------------------------------- code pages

std::string codepage_name(long number)
{
    switch (number) {
    case 65001:
        return "UTF-8";
    case 10000:
        return "MACINTOSH";
    case 20127:
        return "ASCII";
    default:
        return "CP" + std::to_string(number);
    }
}

// \fcharsetN to a code page; "" for the document's own.
std::string charset_codepage(long charset)
{
    static const std::pair<long, const char *> charsets[] = {
        {2, "SYMBOL"},   {77, "MACINTOSH"}, {128, "CP932"},  {129, "CP949"},  {134, "CP936"},
        {136, "CP950"},  {161, "CP1253"},   {162, "CP1254"}, {163, "CP1258"}, {177, "CP1255"},
        {178, "CP1256"}, {186, "CP1257"},   {204, "CP1251"}, {222, "CP874"},  {238, "CP1250"},
    };
    for (const auto &[number, codepage] : charsets)
        if (number == charset)
            return codepage;
    return "";
}

const std::string &font_codepage(const Rtf &rtf, long font)
{
    auto found = rtf.font_codepages.find(font);
    if (found == rtf.font_codepages.end() || found->second.empty())
        return rtf.doc_codepage;
    return found->second;
}

// ---------------------------------------------------------------- text

std::string *text_target(Rtf &rtf)
{
    if (skipping(rtf) || top(rtf).hidden)
        return nullptr;
    switch (top(rtf).dest) {
    case Dest::body:
        return &rtf.para;
    case Dest::footnote:
        return &rtf.note;
    case Dest::listtext:
        return &rtf.marker;
    default:
        return nullptr;
    }
}

void flush_bytes(Rtf &rtf)
{
    if (rtf.bytes.empty() || rtf.bytes_target == nullptr) {
        rtf.bytes.clear();
        return;
    }
    std::string &out = *rtf.bytes_target;
    const std::string &codepage = font_codepage(rtf, rtf.bytes_font);
    bool ascii = std::all_of(rtf.bytes.begin(), rtf.bytes.end(),
                             [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (codepage == "SYMBOL") {
        for (char c : rtf.bytes)
            out += symbol_font_text(static_cast<unsigned char>(c));
    } else if (codepage == "DINGBATS") {
        // Wingdings and the like: pictures, not characters.
    } else if (ascii) {
        out += rtf.bytes;
    } else {
        out += to_utf8(rtf.bytes, codepage);
    }
    rtf.bytes.clear();
}

// A high surrogate that no low one followed stands for nothing.
void lone_surrogate(Rtf &rtf, std::string *target)
{
    if (rtf.high_surrogate == 0)
        return;
    rtf.high_surrogate = 0;
    flush_bytes(rtf);
    if (target)
        append_utf8(*target, 0xFFFD);
}

void emit_byte(Rtf &rtf, char c)
{
    std::string *target = text_target(rtf);
    if (target == nullptr)
        return;
    lone_surrogate(rtf, target);
    long font = top(rtf).font >= 0 ? top(rtf).font : rtf.default_font;
    if (target != rtf.bytes_target || font != rtf.bytes_font)
        flush_bytes(rtf);
    rtf.bytes_target = target;
    rtf.bytes_font = font;
    rtf.bytes += c;
}

void emit_utf8(Rtf &rtf, std::string_view text)
{
    std::string *target = text_target(rtf);
    if (target == nullptr)
        return;
    lone_surrogate(rtf, target);
    flush_bytes(rtf);
    *target += text;
}

void emit_code_point(Rtf &rtf, uint32_t code)
{
    std::string text;
    append_utf8(text, code);
    emit_utf8(rtf, text);
}

// \uN: a signed 16-bit value; a high surrogate waits for its low one.
void unicode_char(Rtf &rtf, long value)
{
    if (value < 0)
        value += 65536;
    uint32_t code = value < 0 || value > 0xFFFF ? 0xFFFD : static_cast<uint32_t>(value);
    if (rtf.high_surrogate != 0 && code >= 0xDC00 && code <= 0xDFFF) {
        uint32_t high = rtf.high_surrogate;
        rtf.high_surrogate = 0;
        emit_code_point(rtf, 0x10000 + ((high - 0xD800) << 10) + (code - 0xDC00));
    } else if (code >= 0xD800 && code <= 0xDBFF) {
        lone_surrogate(rtf, text_target(rtf));
        rtf.high_surrogate = code;
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
        emit_code_point(rtf, 0xFFFD);
    } else if (code != 0) {
        emit_code_point(rtf, code);
    }
    rtf.fallback_left = top(rtf).uc;
}

// ---------------------------------------------------------------- blocks

// The marker text Word leaves before a list paragraph ("7.", "b)", a
// bullet) to the item's style and number.
void marker_item(const Rtf &rtf, std::string_view marker, int depth, Block &block)
{
    if (!rtf.listed)
        return;
    block.kind = BlockKind::list_item;
    block.depth = depth;
    block.style = ListStyle::bullet;
    size_t start = marker.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos)
        return; // a dingbat's bullet
    size_t end = marker.find_last_not_of(" \t\r\n");
    std::string_view core = marker.substr(start, end - start + 1);
    block.style = bullet_style(core);
    std::string_view label = core;
    if (!label.empty() && label.front() == '(')
        label.remove_prefix(1);
    if (!label.empty() && (label.back() == '.' || label.back() == ')'))
        label.remove_suffix(1);
    if (label.empty())
        return;
    // "1.2" numbers by its last part.
    if (label.find_first_not_of("0123456789.") == std::string_view::npos) {
        size_t dot = label.find_last_of('.');
        block.style = ListStyle::decimal;
        block.number = office_number(dot == std::string_view::npos ? label : label.substr(dot + 1), 1);
        return;
    }
    bool lower = label[0] >= 'a' && label[0] <= 'z';
    bool upper = label[0] >= 'A' && label[0] <= 'Z';
    if (!lower && !upper)
        return;
    for (char c : label)
        if (!(lower ? c >= 'a' && c <= 'z' : c >= 'A' && c <= 'Z'))
            return;
    // A lone "i" (or "v", "x"...) is roman unless the list before it was
    // lettered; several letters are roman when they read as a numeral.
    const Block *before = rtf.doc->blocks.empty() ? nullptr : &rtf.doc->blocks.back();
    bool after_roman = before && before->kind == BlockKind::list_item && before->depth == depth &&
                       (before->style == ListStyle::lower_roman || before->style == ListStyle::upper_roman);
    bool after_alpha = before && before->kind == BlockKind::list_item && before->depth == depth &&
                       (before->style == ListStyle::lower_alpha || before->style == ListStyle::upper_alpha);
    long roman = roman_value(label);
    bool is_roman = roman > 0 && (label.size() > 1 || after_roman || ((label[0] | 0x20) == 'i' && !after_alpha));
    if (is_roman) {
        block.style = lower ? ListStyle::lower_roman : ListStyle::upper_roman;
        block.number = roman;
    } else if (label.size() == 1) {
        block.style = lower ? ListStyle::lower_alpha : ListStyle::upper_alpha;
        block.number = (label[0] | 0x20) - 'a' + 1;
    }
}

BlockKind style_kind(const Rtf &rtf, const Group &group)
{
    if (group.outline >= 0)
        return BlockKind::heading;
    auto found = rtf.style_names.find(group.style);
    return found == rtf.style_names.end() ? BlockKind::paragraph : office_style_kind(found->second);
}

// A paragraph or row made the blocks from `from` on: counted, and handed
// on but the last, which the next item's numbering looks at.
void part_done(Rtf &rtf, size_t from)
{
    if (!office_part_taken(rtf.budget, *rtf.doc, from, 1))
        rtf.stopped = true;
}

// The row's cells as one block, the notes they hold after it.
void flush_row(Rtf &rtf)
{
    size_t from = rtf.doc->blocks.size();
    append_table_row(rtf.doc->blocks, std::move(rtf.cells));
    rtf.cells.clear();
    office_append(rtf.doc->blocks, Block{}, rtf.after);
    part_done(rtf, from);
}

// \row: text after the last \cell is a cell of its own.
void end_row(Rtf &rtf)
{
    flush_bytes(rtf);
    if (!ascii_blank(rtf.para))
        rtf.cells.push_back(std::move(rtf.para));
    rtf.para.clear();
    rtf.marker.clear();
    rtf.listed = false;
    flush_row(rtf);
}

void end_paragraph(Rtf &rtf)
{
    lone_surrogate(rtf, text_target(rtf));
    flush_bytes(rtf);
    if (skipping(rtf))
        return;
    const Group &group = top(rtf);
    if (group.dest == Dest::footnote) {
        rtf.note += ' ';
        return;
    }
    if (group.dest != Dest::body)
        return;
    if (group.intbl) {
        rtf.para += ' ';
        return;
    }
    if (!rtf.cells.empty())
        flush_row(rtf); // a row left without its \row
    Block block;
    block.kind = style_kind(rtf, group);
    if (block.kind == BlockKind::paragraph)
        marker_item(rtf, rtf.marker, group.ilvl, block);
    block.text = std::move(rtf.para);
    rtf.para.clear();
    rtf.marker.clear();
    rtf.listed = false;
    size_t from = rtf.doc->blocks.size();
    office_append(rtf.doc->blocks, std::move(block), rtf.after);
    part_done(rtf, from);
}

void end_cell(Rtf &rtf)
{
    flush_bytes(rtf);
    if (top(rtf).dest == Dest::footnote) {
        rtf.note += ' ';
        return;
    }
    if (top(rtf).dest != Dest::body)
        return;
    rtf.cells.push_back(std::move(rtf.para));
    rtf.para.clear();
    rtf.marker.clear();
    rtf.listed = false;
}

// The footnote's group closes: its block after the paragraph (an endnote:
// at the end), its marker where it stood.
void end_note(Rtf &rtf)
{
    flush_bytes(rtf);
    bool endnote = rtf.note_is_endnote;
    long n = endnote ? ++rtf.endnotes_seen : ++rtf.footnotes_seen;
    Block block;
    block.kind = BlockKind::note;
    block.label = endnote ? endnote_label(n) : std::to_string(n);
    // The number and the space that pandoc writes first (\chftn\~) are
    // no part of the note's text.
    block.text = std::string(trim_blank(rtf.note));
    rtf.note.clear();
    std::string mark = "[" + block.label + "]";
    (endnote ? rtf.endnotes : rtf.after).push_back(std::move(block));
    rtf.groups.pop_back();
    emit_utf8(rtf, mark);
}

// ---------------------------------------------------------------- groups

void set_dest(Rtf &rtf, Dest dest)
{
    flush_bytes(rtf);
    top(rtf).dest = dest;
}

// What follows \* decides: a destination the reader knows is read, as
// pandoc's and LibreOffice's {\*\footnote ...}; anything else skips the
// group. True when the group is skipped.
bool unstar(Rtf &rtf, bool known_destination)
{
    if (rtf.overflow > 0 || !top(rtf).starred)
        return false;
    top(rtf).starred = false;
    if (!known_destination)
        set_dest(rtf, Dest::skip);
    return !known_destination;
}

void open_group(Rtf &rtf)
{
    unstar(rtf, false);
    flush_bytes(rtf);
    rtf.fallback_left = 0;
    if (rtf.overflow > 0 || rtf.groups.size() >= max_groups) {
        ++rtf.overflow;
        return;
    }
    Group group = top(rtf);
    group.note_start = false;
    group.starred = false;
    rtf.groups.push_back(group);
    if (group.dest == Dest::stylesheet) {
        rtf.style_defining = 0;
        rtf.style_name.clear();
    }
    rtf.font_name.clear();
}

void record_style(Rtf &rtf)
{
    size_t start = rtf.style_name.find_first_not_of(" ");
    if (rtf.style_defining >= 0 && start != std::string::npos)
        rtf.style_names[rtf.style_defining] = ascii_lower(rtf.style_name.substr(start));
    rtf.style_name.clear();
}

// A font of the symbol charset is the Symbol font, whose characters we
// know, or a font of dingbats.
void record_font(Rtf &rtf)
{
    auto found = rtf.font_codepages.find(rtf.font_defining);
    size_t start = rtf.font_name.find_first_not_of(" ");
    std::string name = ascii_lower(rtf.font_name.substr(start == std::string::npos ? 0 : start));
    if (found != rtf.font_codepages.end() && found->second == "SYMBOL" && name.rfind("symbol", 0) != 0)
        found->second = "DINGBATS";
    rtf.font_name.clear();
}

void close_group(Rtf &rtf)
{
    flush_bytes(rtf);
    rtf.fallback_left = 0;
    if (rtf.overflow > 0) {
        if (rtf.overflow == rtf.skip_from)
            rtf.skip_from = 0;
        --rtf.overflow;
        return;
    }
    if (rtf.groups.size() <= 1)
        return; // more "}" than "{"
    if (rtf.groups.size() == 2)
        end_paragraph(rtf); // the document's last, with its own properties
    if (top(rtf).dest == Dest::stylesheet)
        record_style(rtf);
    if (top(rtf).note_start) {
        end_note(rtf);
        return;
    }
    rtf.groups.pop_back();
}

// ---------------------------------------------------------------- control words

enum class Word {
    skip_dest, fonttbl, stylesheet, footnote, listtext, ftnalt,
    par, line, tab, cell, row, nest, page,
    pard, plain, intbl, itap, style, outline, ilvl, font, fcharset, cpg, deff,
    ansi, ansicpg, mac, pc, pca, uc, u, bin, nothing,
    cs, // a character, section or table style in the stylesheet
    hidden,
};

const std::unordered_map<std::string_view, Word> &words()
{
    static const std::unordered_map<std::string_view, Word> table = {
        {"fonttbl", Word::fonttbl}, {"stylesheet", Word::stylesheet}, {"footnote", Word::footnote},
        {"listtext", Word::listtext}, {"pntext", Word::listtext}, {"ftnalt", Word::ftnalt},
        {"colortbl", Word::skip_dest}, {"info", Word::skip_dest}, {"pict", Word::skip_dest},
        {"object", Word::skip_dest}, {"header", Word::skip_dest}, {"headerl", Word::skip_dest},
        {"headerr", Word::skip_dest}, {"headerf", Word::skip_dest}, {"footer", Word::skip_dest},
        {"footerl", Word::skip_dest}, {"footerr", Word::skip_dest}, {"footerf", Word::skip_dest},
        {"themedata", Word::skip_dest}, {"datastore", Word::skip_dest}, {"xmlnstbl", Word::skip_dest},
        {"xmlnsttbl", Word::skip_dest}, {"listtable", Word::skip_dest}, {"listoverridetable", Word::skip_dest},
        {"rsidtbl", Word::skip_dest}, {"generator", Word::skip_dest}, {"fldinst", Word::skip_dest},
        {"pn", Word::skip_dest}, {"filetbl", Word::skip_dest}, {"revtbl", Word::skip_dest},
        {"annotation", Word::skip_dest}, {"atnid", Word::skip_dest}, {"atnauthor", Word::skip_dest},
        {"ftnsep", Word::skip_dest}, {"ftnsepc", Word::skip_dest}, {"aftnsep", Word::skip_dest},
        {"aftnsepc", Word::skip_dest}, {"ftncn", Word::skip_dest}, {"aftncn", Word::skip_dest},
        {"pgdsctbl", Word::skip_dest}, {"template", Word::skip_dest}, {"xe", Word::skip_dest},
        {"tc", Word::skip_dest}, {"tcn", Word::skip_dest}, {"txe", Word::skip_dest},
        {"bkmkstart", Word::skip_dest}, {"bkmkend", Word::skip_dest}, {"userprops", Word::skip_dest},
        {"private", Word::skip_dest}, {"nonshppict", Word::skip_dest}, {"shppict", Word::skip_dest},
        {"shp", Word::skip_dest}, {"shpinst", Word::skip_dest}, {"falt", Word::skip_dest},
        {"panose", Word::skip_dest}, {"objdata", Word::skip_dest}, {"docvar", Word::skip_dest},
        {"latentstyles", Word::skip_dest}, {"mmathPr", Word::skip_dest}, {"listpicture", Word::skip_dest},
        {"pntxta", Word::skip_dest}, {"pntxtb", Word::skip_dest}, {"pnseclvl", Word::skip_dest},
        {"nonesttables", Word::skip_dest},
        {"par", Word::par}, {"sect", Word::par}, {"line", Word::line}, {"softline", Word::line},
        {"tab", Word::tab}, {"cell", Word::cell}, {"row", Word::row}, {"nestcell", Word::nest},
        {"nestrow", Word::nest}, {"page", Word::page}, {"column", Word::page},
        {"pard", Word::pard}, {"plain", Word::plain}, {"intbl", Word::intbl}, {"itap", Word::itap},
        {"s", Word::style}, {"cs", Word::cs}, {"ds", Word::cs}, {"ts", Word::cs},
        {"outlinelevel", Word::outline}, {"ilvl", Word::ilvl}, {"f", Word::font},
        {"fcharset", Word::fcharset}, {"cpg", Word::cpg}, {"deff", Word::deff}, {"ansi", Word::ansi},
        {"ansicpg", Word::ansicpg}, {"mac", Word::mac}, {"pc", Word::pc}, {"pca", Word::pca},
        {"uc", Word::uc}, {"u", Word::u}, {"bin", Word::bin}, {"zwj", Word::nothing}, {"zwnj", Word::nothing},
        {"v", Word::hidden}, {"deleted", Word::hidden},
    };
    return table;
}

// The words that mean something inside the font table or the stylesheet.
void table_word(Rtf &rtf, Word word, bool has_param, long param)
{
    Group &group = top(rtf);
    if (group.dest == Dest::fonttbl) {
        if (word == Word::font)
            rtf.font_defining = param, rtf.font_name.clear();
        else if (word == Word::fcharset)
            rtf.font_codepages[rtf.font_defining] = charset_codepage(param);
        else if (word == Word::cpg && has_param)
            rtf.font_codepages[rtf.font_defining] = codepage_name(param);
    } else if (group.dest == Dest::stylesheet) {
        if (word == Word::style)
            rtf.style_defining = has_param ? param : 0;
        else if (word == Word::cs)
            rtf.style_defining = -1;
    }
    if (word == Word::skip_dest)
        group.dest = Dest::skip;
}

void paragraph_word(Rtf &rtf, Word word, bool has_param, long param)
{
    Group &group = top(rtf);
    switch (word) {
    case Word::pard:
        group.intbl = false;
        group.outline = -1;
        group.style = 0;
        group.ilvl = 0;
        break;
    case Word::intbl:
        group.intbl = true;
        break;
    case Word::itap:
        group.intbl = !has_param || param > 0;
        break;
    case Word::style:
        group.style = has_param ? param : 0;
        break;
    case Word::outline:
        group.outline = param >= 0 && param < max_levels ? static_cast<int>(param) : -1;
        break;
    case Word::ilvl:
        group.ilvl = static_cast<int>(std::clamp(param, 0L, long{max_levels - 1}));
        break;
    case Word::plain:
        group.font = -1;
        group.hidden = false;
        break;
    case Word::hidden:
        group.hidden = !has_param || param != 0;
        break;
    case Word::font:
        group.font = param;
        break;
    default:
        break;
    }
}

void text_word(Rtf &rtf, Word word, bool has_param, long param)
{
    switch (word) {
    case Word::par:
        end_paragraph(rtf);
        break;
    case Word::line:
    case Word::page:
    case Word::nest:
        emit_byte(rtf, ' ');
        break;
    case Word::tab:
        emit_byte(rtf, '\t');
        break;
    case Word::cell:
        end_cell(rtf);
        break;
    case Word::row:
        if (top(rtf).dest == Dest::body)
            end_row(rtf);
        break;
    case Word::u:
        unicode_char(rtf, param);
        break;
    case Word::uc:
        top(rtf).uc = has_param ? static_cast<int>(std::clamp(param, 0L, 100L)) : 1;
        break;
    case Word::footnote:
        // Notes do not nest; a second one within is read as skipped.
        if (top(rtf).dest == Dest::body) {
            set_dest(rtf, Dest::footnote);
            top(rtf).note_start = true;
            rtf.note_is_endnote = false;
            rtf.note.clear();
        } else {
            set_dest(rtf, Dest::skip);
        }
        break;
    case Word::ftnalt:
        rtf.note_is_endnote = true;
        break;
    case Word::listtext:
        set_dest(rtf, Dest::listtext);
        rtf.marker.clear();
        rtf.listed = true;
        break;
    default:
        paragraph_word(rtf, word, has_param, param);
    }
}

// The words that stand for a character.
const char *word_character(std::string_view name)
{
    static const std::pair<std::string_view, const char *> characters[] = {
        {"emdash", "—"}, {"endash", "–"},    {"lquote", "‘"},  {"rquote", "’"},  {"ldblquote", "“"},
        {"rdblquote", "”"}, {"bullet", "•"}, {"emspace", " "}, {"enspace", " "}, {"qmspace", " "},
    };
    for (const auto &[word, text] : characters)
        if (word == name)
            return text;
    return nullptr;
}

bool is_destination(Word word)
{
    return word == Word::fonttbl || word == Word::stylesheet || word == Word::footnote ||
           word == Word::listtext || word == Word::skip_dest;
}

// A word in a group past max_groups: a destination is skipped whole, what
// makes text or ends a paragraph acts, formatting is let go.
void past_depth_word(Rtf &rtf, Word word, bool has_param, long param)
{
    if (skipping(rtf))
        return;
    switch (word) {
    case Word::skip_dest:
    case Word::fonttbl:
    case Word::stylesheet:
    case Word::footnote:
    case Word::listtext:
        rtf.skip_from = rtf.overflow;
        return;
    case Word::par:
    case Word::line:
    case Word::page:
    case Word::nest:
    case Word::tab:
    case Word::cell:
    case Word::row:
    case Word::u:
        if (top(rtf).dest != Dest::fonttbl && top(rtf).dest != Dest::stylesheet)
            text_word(rtf, word, has_param, param);
        return;
    default:
        return;
    }
}

void control_word(Rtf &rtf, std::string_view name, bool has_param, long param)
{
    auto found = words().find(name);
    if (found == words().end()) {
        if (unstar(rtf, false))
            return;
        if (const char *text = word_character(name))
            emit_utf8(rtf, text);
        return;
    }
    Word word = found->second;
    if (word == Word::bin) {
        // Raw bytes follow, in any group; a count past the end ends the file.
        size_t count = static_cast<size_t>(std::max(0L, param));
        rtf.at = count > rtf.in.size() - rtf.at ? rtf.in.size() : rtf.at + count;
        return;
    }
    if (rtf.overflow > 0) {
        past_depth_word(rtf, word, has_param, param);
        return;
    }
    Dest dest = top(rtf).dest;
    if (dest == Dest::skip || unstar(rtf, is_destination(word)))
        return;
    switch (word) {
    case Word::ansi:
        rtf.doc_codepage = "CP1252";
        return;
    case Word::ansicpg:
        rtf.doc_codepage = codepage_name(param);
        return;
    case Word::mac:
        rtf.doc_codepage = "MACINTOSH";
        return;
    case Word::pc:
        rtf.doc_codepage = "CP437";
        return;
    case Word::pca:
        rtf.doc_codepage = "CP850";
        return;
    case Word::deff:
        rtf.default_font = param;
        return;
    default:
        break;
    }
    if (dest == Dest::fonttbl || dest == Dest::stylesheet) {
        table_word(rtf, word, has_param, param);
        return;
    }
    if (word == Word::fonttbl || word == Word::stylesheet || word == Word::skip_dest) {
        set_dest(rtf, word == Word::fonttbl      ? Dest::fonttbl
                      : word == Word::stylesheet ? Dest::stylesheet
                                                 : Dest::skip);
        return;
    }
    text_word(rtf, word, has_param, param);
}

// ---------------------------------------------------------------- the pass

bool is_letter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A literal character of text (or of a style's name).
void text_char(Rtf &rtf, char c)
{
    unstar(rtf, false);
    Dest dest = skipping(rtf) ? Dest::skip : top(rtf).dest;
    if (dest == Dest::stylesheet || dest == Dest::fonttbl) {
        bool style = dest == Dest::stylesheet;
        if (c == ';')
            style ? record_style(rtf) : record_font(rtf);
        else
            (style ? rtf.style_name : rtf.font_name) += c;
        return;
    }
    emit_byte(rtf, c);
}

// After a backslash: a control word with its parameter, \'hh, or a
// control symbol. A fallback still owed after \uN takes any one of them.
void control(Rtf &rtf)
{
    std::string_view in = rtf.in;
    size_t at = rtf.at + 1;
    if (at >= in.size()) {
        rtf.at = at;
        return;
    }
    bool fallback = rtf.fallback_left > 0;
    if (fallback)
        --rtf.fallback_left;
    char c = in[at];
    if (is_letter(c)) {
        size_t start = at;
        while (at < in.size() && is_letter(in[at]))
            ++at;
        std::string_view name = in.substr(start, std::min<size_t>(at - start, 32));
        bool has_param = false;
        long param = 0;
        bool negative = at + 1 < in.size() && in[at] == '-' && in[at + 1] >= '0' && in[at + 1] <= '9';
        if (negative)
            ++at;
        while (at < in.size() && in[at] >= '0' && in[at] <= '9') {
            has_param = true;
            param = std::min(param * 10 + (in[at] - '0'), 1000000000L);
            ++at;
        }
        if (negative)
            param = -param;
        if (at < in.size() && in[at] == ' ')
            ++at;
        rtf.at = at;
        if (!fallback || name == "bin")
            control_word(rtf, name, has_param, param);
        return;
    }
    rtf.at = at + 1;
    if (!fallback && c != '*')
        unstar(rtf, false);
    if (c == '\'') {
        int high = at + 1 < in.size() ? hex_digit(in[at + 1]) : -1;
        int low = at + 2 < in.size() ? hex_digit(in[at + 2]) : -1;
        if (high < 0 || low < 0)
            return;
        rtf.at = at + 3;
        if (!fallback && !skipping(rtf) && top(rtf).dest != Dest::stylesheet)
            emit_byte(rtf, static_cast<char>(high * 16 + low));
        return;
    }
    if (fallback)
        return;
    if (c == '\\' || c == '{' || c == '}')
        text_char(rtf, c);
    else if (c == '~')
        emit_utf8(rtf, "\u00A0");
    else if (c == '_')
        emit_byte(rtf, '-');
    else if (c == '\n' || c == '\r')
        end_paragraph(rtf);
    else if (c == '*' && rtf.overflow == 0 && top(rtf).dest != Dest::skip)
        top(rtf).starred = true;
    else if (c == '*' && rtf.overflow > 0 && !skipping(rtf))
        rtf.skip_from = rtf.overflow;
}

// A file that ends without its last \par or "}" keeps what it said.
void finish(Rtf &rtf)
{
    if (!skipping(rtf))
        end_paragraph(rtf); // with the paragraph's own properties
    rtf.overflow = 0;
    rtf.skip_from = 0;
    rtf.groups.resize(1);
    if (!rtf.cells.empty())
        end_row(rtf);
    end_paragraph(rtf);
    for (Block &note : rtf.endnotes)
        rtf.doc->blocks.push_back(std::move(note));
}

} // namespace

ReadResult read_rtf(const Input &in, Document &doc)
{
    if (in.bytes.substr(0, 5) != "{\\rtf")
        return ReadResult::not_this_format;
    Rtf rtf;
    rtf.in = in.bytes;
    rtf.doc = &doc;
    rtf.groups.emplace_back();
    while (rtf.at < rtf.in.size() && !rtf.stopped) {
        char c = rtf.in[rtf.at];
        if (c == '\\') {
            control(rtf);
            continue;
        }
        ++rtf.at;
        if (c == '{') {
            open_group(rtf);
        } else if (c == '}') {
            close_group(rtf);
        } else if (c == '\r' || c == '\n' || (static_cast<unsigned char>(c) < 0x20 && c != '\t')) {
            continue; // line ends in the file are no text
        } else if (rtf.fallback_left > 0) {
            --rtf.fallback_left;
        } else {
            text_char(rtf, c);
        }
    }
    finish(rtf);
    if (rtf.stopped) {
        std::string place = "paragraph " + std::to_string(doc.blocks_sent + doc.blocks.size());
        document_stop(doc, in.name, "RTF", place, too_much_markup);
    }
    return ReadResult::read;
}
