// A PDF's lines to blocks, from where the lines sit on their pages: a line
// goes on in the next when it reaches the right margin (or the next line's
// first word would not have fitted on it), the next line starts at the
// paragraph's own left edge, at the usual distance below it, in the same
// size and kind of type. What breaks that starts a block of its own: a
// list item's marker, a heading's larger type, a line in a fixed-pitch
// face (code, kept as it is set), a row of cells or of a table of
// contents, an indented line (a new paragraph, or a definition's
// description). Page numbers and running heads are dropped; the rows of
// every page are seen at once, so a paragraph goes on over a page break.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "convert/charset.h"
#include "convert/pdf/layout.h"
#include "convert/text.h"

namespace {

// ---------------------------------------------------------------- text

uint32_t first_char(std::string_view s)
{
    size_t i = 0;
    return s.empty() ? 0 : next_code_point(s, i);
}

uint32_t last_char(std::string_view s)
{
    if (s.empty())
        return 0;
    size_t i = s.size() - 1;
    while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80)
        i--;
    return next_code_point(s, i);
}

// Letters and small letters without the locale's help, so that the blocks
// are the same under any locale: ASCII, Latin, Greek and Cyrillic.
bool is_letter(uint32_t c)
{
    return (c < 0x80 && isalpha(static_cast<int>(c))) || (c >= 0xC0 && c < 0x530 && c != 0xD7 && c != 0xF7);
}

bool is_lower(uint32_t c)
{
    if (c < 0x80)
        return c >= 'a' && c <= 'z';
    if (c >= 0xDF && c <= 0xFF)
        return c != 0xF7;
    if (c >= 0x100 && c < 0x180)
        return (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E) ? c % 2 == 0 : c % 2 == 1;
    return (c >= 0x3AC && c <= 0x3CE) || (c >= 0x430 && c <= 0x45F);
}

std::string_view first_word(std::string_view s)
{
    size_t end = s.find_first_of(" \t");
    return s.substr(0, end);
}

std::string_view last_word(std::string_view s)
{
    size_t start = s.find_last_of(" \t");
    return start == std::string_view::npos ? s : s.substr(start + 1);
}

// ---------------------------------------------------------------- markers

struct Marker {
    bool found = false;
    bool glyph = false; // a bullet sign, never a word of running text
    ListStyle style = ListStyle::bullet;
    long number = 0;
    bool roman_too = false; // a single letter that is also a roman numeral ("i.")
    long roman_number = 0;
    size_t length = 0; // bytes of the marker
};

// A roman numeral as a list or a page numbers it: below 40.
long small_roman(std::string_view s)
{
    long value = roman_value(s);
    return value < 40 ? value : 0;
}

Marker item_marker(std::string_view text)
{
    Marker m;
    std::string_view word = first_word(text);
    if (word.size() >= text.size())
        return m; // a marker alone on its row is no item
    static const std::string_view glyphs[] = {"\xE2\x80\xA2", "\xE2\x97\xA6", "\xE2\x96\xAA", "\xE2\x96\xAB",
                                              "\xE2\x80\xA3", "\xE2\x88\x99", "\xE2\x97\x8F", "\xE2\x97\x8B",
                                              "\xE2\x96\xA0", "\xE2\x96\xA1", "\xE2\x96\xBA", "\xE2\x96\xB8",
                                              "\xE2\x81\x83", "\xE2\x97\x86", "\xE2\x97\x87", "\xE2\x9E\xA2",
                                              "\xE2\x9E\xA4", "\xEF\x82\xB7", "\xC2\xB7", "\xE2\x9C\x93"};
    for (std::string_view g : glyphs)
        if (word == g) {
            m.found = m.glyph = true;
            m.length = word.size();
            return m;
        }
    if (word == "\xE2\x80\x93" || word == "\xE2\x80\x94" || word == "-" || word == "*" || word == "+") {
        m.found = true;
        m.style = word == "*" || word == "+" ? ListStyle::bullet : ListStyle::dash;
        m.length = word.size();
        return m;
    }
    std::string_view core = word;
    bool open = !core.empty() && core.front() == '(';
    if (open)
        core.remove_prefix(1);
    if (core.size() < 2 || (core.back() != '.' && core.back() != ')') || (open && core.back() != ')'))
        return m;
    core.remove_suffix(1);
    m.length = word.size();
    if (core.size() <= 3 && std::all_of(core.begin(), core.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        m.found = true;
        m.style = ListStyle::decimal;
        m.number = atol(std::string(core).c_str());
        return m;
    }
    long roman = small_roman(core);
    bool lower = core[0] >= 'a' && core[0] <= 'z';
    if (core.size() == 1 && isalpha(static_cast<unsigned char>(core[0]))) {
        m.found = true;
        m.style = lower ? ListStyle::lower_alpha : ListStyle::upper_alpha;
        m.number = (lower ? core[0] - 'a' : core[0] - 'A') + 1;
        m.roman_too = roman > 0;
        m.roman_number = roman;
        return m;
    }
    bool same_case = std::all_of(core.begin(), core.end(), [lower](char c) {
        return lower ? (c >= 'a' && c <= 'z') : (c >= 'A' && c <= 'Z');
    });
    if (roman > 0 && same_case) {
        m.found = true;
        m.style = lower ? ListStyle::lower_roman : ListStyle::upper_roman;
        m.number = roman;
    }
    return m;
}

// "i." after "h." is a letter, otherwise a numeral; "v." after "iv." a numeral.
void settle_marker(Marker &m, const Block *previous)
{
    if (!m.roman_too)
        return;
    bool after_letter = previous && previous->kind == BlockKind::list_item &&
                        (previous->style == ListStyle::lower_alpha || previous->style == ListStyle::upper_alpha) &&
                        previous->number + 1 == m.number;
    bool after_numeral = previous && previous->kind == BlockKind::list_item &&
                         (previous->style == ListStyle::lower_roman || previous->style == ListStyle::upper_roman) &&
                         previous->number + 1 == m.roman_number;
    if (after_numeral || (!after_letter && m.roman_number == 1)) {
        m.style = m.style == ListStyle::lower_alpha ? ListStyle::lower_roman : ListStyle::upper_roman;
        m.number = m.roman_number;
    }
}

// ---------------------------------------------------------------- the document's measures

struct Frame {
    float left = 0, right = 0;
};

struct Stats {
    float body = 10;        // the size of most letters
    bool mono_body = false; // most letters in a fixed-pitch face: such rows are no code
    std::map<int, float> pitch; // by size in quarter points: the usual distance from a row to the next
    std::vector<Frame> frames;  // each page's text margins
    std::vector<float> page_right; // where the rows of each page end, but for a stray few
    std::vector<float> page_width;
};

int size_key(float size)
{
    return static_cast<int>(std::lround(size * 4));
}

float pitch_for(const Stats &st, float size)
{
    auto found = st.pitch.find(size_key(size));
    return found != st.pitch.end() ? found->second : 1.2f * size;
}

struct Row {
    const PdfLine *line;
    int page;
    bool code, heading, cells, rotated;
    bool leader; // a table of contents' row
    bool table = false; // a whole row of a table, its cells gathered from the rows they wrap over
};

bool fixed_pitch(const Stats &st, const PdfLine &l)
{
    return (l.flags & pdf_mono) && !st.mono_body;
}

void measure_sizes(const std::vector<PdfPage> &pages, Stats &st)
{
    std::map<int, long> letters;
    long mono = 0, all = 0;
    for (const PdfPage &p : pages)
        for (const PdfLine &l : p.lines) {
            long n = static_cast<long>(l.text.size());
            letters[size_key(l.size)] += n;
            all += n;
            if (l.flags & pdf_mono)
                mono += n;
        }
    st.mono_body = mono * 2 > all;
    long most = 0;
    for (auto &[key, n] : letters)
        if (n > most) {
            most = n;
            st.body = static_cast<float>(key) / 4;
        }
}

void measure_pitch(const std::vector<Row> &rows, Stats &st)
{
    std::map<int, std::map<int, int>> seen; // size -> distance in quarter points -> times
    for (size_t i = 1; i < rows.size(); i++) {
        const PdfLine &a = *rows[i - 1].line, &b = *rows[i].line;
        float d = b.bottom - a.bottom;
        if (rows[i].page == rows[i - 1].page && size_key(a.size) == size_key(b.size) && d > 0.9f * a.size &&
            d < 2.5f * a.size)
            seen[size_key(a.size)][size_key(d)]++;
    }
    for (auto &[size, counts] : seen) {
        int most = 0;
        for (auto &[d, n] : counts)
            if (n > most) {
                most = n;
                st.pitch[size] = static_cast<float>(d) / 4;
            }
    }
}

// The most common of the values, in points, when at least `share` of them
// are there (the highest of as common ones when `high`); else the one at
// `fallback` of the way up.
float common_value(std::vector<float> &values, float share, float fallback, bool high)
{
    std::sort(values.begin(), values.end());
    size_t best = 0, best_count = 0;
    for (size_t i = 0, j = 0; i < values.size(); i++) {
        while (values[i] - values[j] > 1.0f)
            j++;
        if (i - j + 1 > best_count || (high && i - j + 1 == best_count)) {
            best_count = i - j + 1;
            best = i;
        }
    }
    if (static_cast<float>(best_count) >= share * static_cast<float>(values.size()))
        return values[best];
    return values[static_cast<size_t>(fallback * static_cast<float>(values.size() - 1))];
}

// The margins of the text, the same on every left-hand page and on every
// right-hand one: the edge most rows of running text start at, and the one
// most end at (a ragged margin: where nearly all end before).
void measure_frames(const std::vector<PdfPage> &pages, const std::vector<Row> &rows, Stats &st)
{
    std::vector<float> lefts[2], rights[2];
    for (const Row &r : rows) {
        const PdfLine &l = *r.line;
        if (!r.rotated && !r.code && !r.heading && std::fabs(l.size - st.body) < 0.1f * st.body) {
            lefts[r.page % 2].push_back(l.x0);
            rights[r.page % 2].push_back(l.x1);
        }
    }
    Frame side[2];
    for (int k = 0; k < 2; k++) {
        if (lefts[k].empty()) {
            lefts[k] = lefts[1 - k];
            rights[k] = rights[1 - k];
        }
        if (lefts[k].empty()) {
            side[k] = {72, pages.empty() ? 540.0f : pages[0].width - 72};
            continue;
        }
        side[k].left = common_value(lefts[k], 0.0f, 0.0f, false);
        side[k].right = common_value(rights[k], 0.15f, 0.95f, true);
    }
    st.frames.resize(pages.size());
    for (size_t p = 0; p < pages.size(); p++)
        st.frames[p] = side[p % 2];
    // A page may hold narrower text than the others (a text file set as it
    // was written): its rows are full where most of its rows end.
    std::vector<std::vector<float>> ends(pages.size());
    for (const Row &r : rows)
        if (!r.rotated && !r.code && !r.heading)
            ends[static_cast<size_t>(r.page)].push_back(r.line->x1);
    st.page_right.resize(pages.size());
    st.page_width.resize(pages.size());
    for (size_t p = 0; p < pages.size(); p++)
        st.page_width[p] = pages[p].width > 0 ? pages[p].width : 612;
    for (size_t p = 0; p < pages.size(); p++) {
        std::vector<float> &e = ends[p];
        if (e.size() < 3) {
            st.page_right[p] = st.frames[p].right;
            continue;
        }
        std::sort(e.begin(), e.end());
        st.page_right[p] = e[e.size() - 1 - std::min<size_t>(e.size() / 20, 3)];
    }
}

// ---------------------------------------------------------------- page headers and footers

// A row's text with its numbers as "#": running heads differ only there.
std::string furniture_key(std::string_view text)
{
    std::string key;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c >= '0' && c <= '9') {
            if (key.empty() || key.back() != '#')
                key += '#';
        } else {
            key += c;
        }
    }
    // Words stay parted as they were (' ' or '\t'); a roman numeral is a number too.
    std::string out;
    for (std::string_view rest = key; !rest.empty();) {
        std::string_view w = first_word(rest);
        out += small_roman(w) > 0 ? "#" : std::string(w);
        rest.remove_prefix(w.size());
        if (!rest.empty()) {
            out += rest[0];
            rest.remove_prefix(1);
        }
    }
    return out;
}

bool page_number(std::string_view key)
{
    if (key.find('#') == std::string_view::npos)
        return false;
    for (std::string_view k = key; !k.empty();) {
        std::string_view w = first_word(k);
        k.remove_prefix(std::min(k.size(), w.size() + 1));
        if (!w.empty() && w != "Page" && w != "page" && w != "of" && w != "#" && w != "-" && w != "\xE2\x80\x93" &&
            w != "\xE2\x80\x94" && w != "-#-" && w != "[#]" && w != "(#)" && w != "#/#")
            return false;
    }
    return true;
}

// A running head with the page number apart from its title:
// "Chapter 2: Syntax      3", "4      Reference Manual".
bool numbered_head(std::string_view key)
{
    size_t tab = key.find('\t');
    if (tab == std::string_view::npos)
        return false;
    size_t last = key.rfind('\t');
    return key.substr(0, tab) == "#" || key.substr(last + 1) == "#";
}

// The usual distance from a row of the body's size to the next.
float body_spacing(const std::vector<PdfPage> &pages, float body)
{
    std::map<int, int> seen; // in quarter points -> times
    for (const PdfPage &p : pages)
        for (size_t i = 1; i < p.lines.size(); i++) {
            const PdfLine &a = p.lines[i - 1], &b = p.lines[i];
            float d = b.bottom - a.bottom;
            if (size_key(a.size) == size_key(body) && size_key(b.size) == size_key(body) && d > 0.9f * body &&
                d < 2.5f * body)
                seen[size_key(d)]++;
        }
    int most = 0;
    float spacing = 1.2f * body;
    for (auto &[d, n] : seen)
        if (n > most) {
            most = n;
            spacing = static_cast<float>(d) / 4;
        }
    return spacing;
}

// Whether rows `a` and `b`, one above the other, stand farther apart than
// the body's rows do.
bool set_apart(const PdfLine &a, const PdfLine &b, float spacing, float body)
{
    float d = std::fabs(b.bottom - a.bottom);
    return d > std::max(spacing, 1.2f * std::max(a.size, b.size)) + std::max(1.5f, 0.2f * body);
}

// A page's rows that may be its running head (`top`) or foot: at most
// two in the margin band, set apart from the body below or above them.
// The first and the number of them.
std::pair<size_t, size_t> margin_rows(const PdfPage &p, bool top, size_t taken, float spacing, float body)
{
    size_t n = p.lines.size(), band = 0;
    auto in_band = [&](const PdfLine &l) { return top ? l.bottom <= p.height * 0.12f : l.top >= p.height * 0.88f; };
    auto row = [&](size_t k) -> const PdfLine & { return p.lines[top ? k : n - 1 - k]; };
    while (band < 2 && band + taken < n && in_band(row(band)))
        band++;
    // The rows up to the last one with a gap after it wider than the body's.
    for (size_t k = band; k > 0; k--)
        if (k + taken >= n || set_apart(row(k - 1), row(k), spacing, body))
            return {top ? 0 : n - k, k};
    return {top ? 0 : n, 0};
}

// Marks the page numbers and running heads and feet: rows in a page's
// margin band, set apart from its body, that are a page number, a title
// with one, or that recur, numbers aside, on a neighbouring page (facing
// pages may alternate two). A body row that recurs (a refrain, a passage
// two chapters share) stands at the body's distance from the next: it
// stays.
std::vector<bool> page_furniture(const std::vector<PdfPage> &pages, float body)
{
    size_t total = 0;
    for (const PdfPage &p : pages)
        total += p.lines.size();
    std::vector<bool> drop(total, false);
    struct Candidate {
        size_t row;
        int page;
        std::string key; // its band, then its text with numbers as '#'
    };
    std::vector<Candidate> candidates;
    std::unordered_map<std::string, std::vector<int>> pages_with; // in order
    float spacing = body_spacing(pages, body);
    size_t base = 0;
    for (size_t page = 0; page < pages.size(); page++) {
        const PdfPage &p = pages[page];
        auto [head, heads] = margin_rows(p, true, 0, spacing, body);
        auto [foot, feet] = margin_rows(p, false, heads, spacing, body);
        for (auto [first, count, band] : {std::tuple{head, heads, 'h'}, std::tuple{foot, feet, 'f'}})
            for (size_t i = first; i < first + count; i++) {
                candidates.push_back({base + i, static_cast<int>(page), band + furniture_key(p.lines[i].text)});
                std::vector<int> &on = pages_with[candidates.back().key];
                if (on.empty() || on.back() != static_cast<int>(page))
                    on.push_back(static_cast<int>(page));
            }
        base += p.lines.size();
    }
    for (const Candidate &c : candidates) {
        std::string_view key = std::string_view(c.key).substr(1);
        const std::vector<int> &on = pages_with[c.key];
        auto near_page = std::lower_bound(on.begin(), on.end(), c.page - 2);
        bool neighbour = false;
        for (; near_page != on.end() && *near_page <= c.page + 2; ++near_page)
            neighbour = neighbour || *near_page != c.page;
        if (page_number(key) || numbered_head(key) || neighbour)
            drop[c.row] = true;
    }
    return drop;
}

// ---------------------------------------------------------------- hyphens

// A hyphen at a row's end between letters, in running text: the word was
// broken there ("exam-" "ple") when the document writes it whole
// elsewhere, and not when it writes it with the hyphen ("well-known") or
// never whole (a compound, "француженкою-гувернанткой"). Decided once
// every word is known: the text holds '\x01' there until then.
struct Hyphens {
    struct Asked {
        std::string joined, hyphenated; // lower case
    };
    std::vector<Asked> asked;
    std::unordered_set<std::string> wanted, seen;
};

bool all_upper(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

std::string_view trim_punctuation(std::string_view w)
{
    auto punct = [](char c) {
        return static_cast<unsigned char>(c) < 0x80 && !isalnum(static_cast<unsigned char>(c)) && c != '_';
    };
    while (!w.empty() && punct(w.front()))
        w.remove_prefix(1);
    while (!w.empty() && punct(w.back()))
        w.remove_suffix(1);
    return w;
}

// What comes between a row and the next when they join: "" or " ", or
// '\x01' for a hyphen to decide.
std::string row_joint(std::string &text, const PdfLine &a, const PdfLine &b, bool mono_body, Hyphens &h)
{
    uint32_t end = last_char(a.text), start = first_char(b.text);
    bool mono = !mono_body && ((a.flags & pdf_ends_mono) || (b.flags & pdf_starts_mono));
    if (end == 0xAD) { // a soft hyphen, shown
        text.resize(text.size() - 2);
        return "";
    }
    if (end == '_' || (start == '_' && mono))
        return "";
    if ((end != '-' && end != 0x2010) || a.text.size() < 2)
        return " ";
    std::string_view word = last_word(a.text);
    word.remove_suffix(end == '-' ? 1 : 3);
    std::string_view stem = trim_punctuation(word);
    if (!is_letter(last_char(word)) || !is_letter(start))
        return "";
    bool plain_word = !stem.empty() && std::none_of(stem.begin(), stem.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '/' || c == '.';
    });
    std::string next(trim_punctuation(first_word(b.text)));
    // "exam-" "ple" and "DIS-" "CLAIMED" are broken words; "Franco-"
    // "Prussian" is one with its hyphen; an identifier keeps its own.
    bool broken = is_lower(start) || (all_upper(stem) && all_upper(next));
    if (mono || !plain_word || !broken)
        return "";
    std::string joined = std::string(stem) + next, hyphenated = std::string(stem) + "-" + next;
    joined = ascii_lower(joined);
    hyphenated = ascii_lower(hyphenated);
    h.wanted.insert(joined);
    h.wanted.insert(hyphenated);
    h.asked.push_back({joined, hyphenated});
    text.resize(text.size() - (end == '-' ? 1 : 3));
    return "\x01";
}

void see_words(const std::vector<Row> &rows, Hyphens &h)
{
    if (h.asked.empty())
        return;
    std::string w;
    for (const Row &r : rows) {
        std::string_view rest = r.line->text;
        while (!rest.empty()) {
            size_t end = rest.find_first_of(" \t");
            std::string_view word = trim_punctuation(rest.substr(0, end));
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
            if (word.empty())
                continue;
            w.assign(word);
            w = ascii_lower(w);
            if (h.wanted.count(w))
                h.seen.insert(w);
        }
    }
}

void settle_hyphens(Document &doc, size_t from, const Hyphens &h)
{
    size_t next = 0;
    for (size_t b = from; b < doc.blocks.size(); b++) {
        std::string &text = doc.blocks[b].text;
        size_t at;
        while ((at = text.find('\x01')) != std::string::npos) {
            bool keep = next < h.asked.size() &&
                        (h.seen.count(h.asked[next].hyphenated) || !h.seen.count(h.asked[next].joined));
            text.replace(at, 1, keep ? "-" : "");
            next++;
        }
    }
}

// ---------------------------------------------------------------- blocks

// The block being made.
struct Open {
    bool active = false;
    size_t index = 0;      // in doc.blocks
    size_t last = 0;       // its last row
    int lines = 0;
    float left = 0;        // where its rows start, from its page's left margin
    float marker_left = 0; // a list item's marker
    float max_right = 0;   // its widest row's right end, from its page's left margin
    float size = 0;        // the size of its type
    std::vector<size_t> code_rows;
};

struct Layout {
    const std::vector<Row> &rows;
    const Stats &st;
    Document &doc;
    size_t first_block;
    Hyphens hyphens;
    Open open;
    std::vector<float> list_levels; // the markers' left edges of the lists open around here
};

float rel(const Layout &L, const Row &r, float x)
{
    return x - L.st.frames[static_cast<size_t>(r.page)].left;
}

bool near(float a, float b, float tolerance)
{
    return std::fabs(a - b) <= tolerance;
}

// The row reaches its block's right margin, or the next row's first word
// would not have fitted on it.
bool row_full(const Layout &L, const Open &o, const Row &a, const Row &b)
{
    const Frame &f = L.st.frames[static_cast<size_t>(a.page)];
    const PdfLine &la = *a.line, &lb = *b.line;
    float page_right = L.st.page_right[static_cast<size_t>(a.page)];
    float right = f.left + std::max(o.max_right, a.page == b.page ? rel(L, b, lb.x1) : 0.0f);
    right = std::max(right, f.left + 0.85f * (page_right - f.left));
    if (a.page != b.page)
        right = std::max(right, page_right);
    // However the rows of a page end, one short of half its width is short.
    float width = L.st.page_width[static_cast<size_t>(a.page)];
    if (la.x1 - f.left < 0.5f * (width - 2 * f.left))
        return false;
    float space = 0.3f * la.size;
    return la.x1 + space + lb.first_width > right - space;
}

// Whether row `b` goes on the open block, whose last row is `a`.
bool goes_on(Layout &L, const Row &a, const Row &b, const Marker &marker)
{
    const PdfLine &la = *a.line, &lb = *b.line;
    const Open &o = L.open;
    const Block &block = L.doc.blocks[o.index];
    bool same_flow = a.page == b.page && lb.top > la.top;
    float pitch = pitch_for(L.st, o.size);
    float d = lb.bottom - la.bottom;
    if (block.kind == BlockKind::preformatted) {
        // Code goes on over a page break, not over a blank row.
        if (!b.code)
            return false;
        if (same_flow)
            return d <= pitch + std::max(1.5f, 0.2f * o.size);
        return b.page == a.page + 1;
    }
    if (a.heading != b.heading || a.rotated || b.rotated || b.cells || a.leader || b.leader || a.table)
        return false;
    // A row of code alone between rows of running text is a piece of code
    // the sentence goes on with; the face's letters are not as tall.
    if (!b.code && std::fabs(o.size - lb.size) > std::max(0.6f, 0.09f * L.st.body))
        return false;
    if (!same_flow && a.heading)
        return false;
    float tolerance = std::max(2.0f, 0.3f * o.size);
    if (same_flow) {
        float allowed = a.heading ? std::max(1.6f * pitch, 1.5f * o.size) : pitch + std::max(1.5f, 0.2f * o.size);
        if (d > allowed)
            return false;
    }
    if (a.heading)
        return true;
    float bx = rel(L, b, lb.x0);
    bool full = row_full(L, o, a, b);
    bool sentence_end = ends_sentence(la.text);
    if (b.code && (!full || sentence_end || !near(bx, o.left, tolerance)))
        return false;
    if (marker.found) {
        // A number or dash in running text goes on it; a bullet never does.
        if (marker.glyph || block.kind == BlockKind::list_item || !full || sentence_end ||
            !near(bx, o.left, tolerance))
            return false;
    }
    if (block.kind == BlockKind::list_item) {
        bool at_text = near(bx, o.left, tolerance);
        bool at_marker = near(bx, o.marker_left, tolerance) && !sentence_end;
        if (!at_text && !at_marker)
            return false;
    } else if (o.lines == 1) {
        // The first row may be indented, or hang before the rest ("3.1.
        // Question", "term   description", the rest under its second word).
        // A full row whose sentence goes on may go on under an indent too
        // (a function's prototype over two rows).
        bool hangs = (near(bx, rel(L, a, la.text_x), tolerance) || !sentence_end) && full;
        for (float stop : la.stops)
            hangs = hangs || near(bx, rel(L, a, stop), tolerance);
        if (bx > o.left + tolerance && !hangs)
            return false;
    } else if (!near(bx, o.left, tolerance) &&
               !(bx > o.left && full && !sentence_end && is_lower(first_char(lb.text)))) {
        return false;
    }
    if (full)
        return true;
    // Short of the margin: a sentence that goes on in small letters, from a
    // row that is most of the way across.
    const Frame &f = L.st.frames[static_cast<size_t>(a.page)];
    float page_right = L.st.page_right[static_cast<size_t>(a.page)];
    return !sentence_end && is_lower(first_char(lb.text)) && la.x1 - f.left > 0.7f * (page_right - f.left);
}

std::string cells_as_words(std::string_view text)
{
    std::string out(text);
    std::replace(out.begin(), out.end(), '\t', ' ');
    return out;
}

std::vector<std::string> split_cells(std::string_view text)
{
    std::vector<std::string> cells;
    size_t start = 0;
    for (;;) {
        size_t tab = text.find('\t', start);
        cells.emplace_back(text.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos)
            break;
        start = tab + 1;
    }
    return cells;
}

// A row of a table of contents: a title, a leader of dots, a page
// number. Its cells: the title and the number, without the dots.
bool leader_cells(std::string_view text, std::vector<std::string> &cells)
{
    if (std::count(text.begin(), text.end(), '.') < 5)
        return false;
    size_t run_start = std::string_view::npos, run_end = 0;
    int dots = 0;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c == '.') {
            if (dots == 0)
                run_start = i;
            dots++;
            run_end = i + 1;
        } else if (!((c == ' ' || c == '\t') && dots > 0 && i + 1 < text.size() && text[i + 1] == '.')) {
            if (dots >= 5)
                break;
            dots = 0;
        }
    }
    if (dots < 5)
        return false;
    std::string_view after = text.substr(run_end);
    while (!after.empty() && (after.front() == ' ' || after.front() == '\t'))
        after.remove_prefix(1);
    if (after.size() > 12)
        return false;
    std::string_view title = text.substr(0, run_start);
    while (!title.empty() && (title.back() == ' ' || title.back() == '\t'))
        title.remove_suffix(1);
    cells.clear();
    cells.push_back(cells_as_words(title));
    if (!after.empty())
        cells.emplace_back(after);
    return true;
}

// Fixed-pitch rows as they are set: each indented by the letters' widths
// it stands in from the leftmost.
std::string code_text(const Layout &L, const std::vector<size_t> &rows)
{
    float left = 1e9f, width = 0;
    for (size_t i : rows) {
        left = std::min(left, L.rows[i].line->x0);
        width = std::max(width, L.rows[i].line->char_width);
    }
    std::string text;
    for (size_t i : rows) {
        const PdfLine &l = *L.rows[i].line;
        long indent = width > 0 ? std::lround((l.x0 - left) / width) : 0;
        text.append(static_cast<size_t>(std::clamp(indent, 0L, 200L)), ' ');
        text += cells_as_words(l.text);
        text += '\n';
    }
    return text;
}

void close_block(Layout &L)
{
    if (!L.open.active)
        return;
    Block &block = L.doc.blocks[L.open.index];
    if (block.kind == BlockKind::preformatted)
        block.text = code_text(L, L.open.code_rows);
    L.open.active = false;
}

void list_depth(Layout &L, Block &item, float marker_left, float tolerance)
{
    auto &levels = L.list_levels;
    while (!levels.empty() && levels.back() > marker_left + tolerance)
        levels.pop_back();
    if (levels.empty() || marker_left > levels.back() + tolerance)
        levels.push_back(marker_left);
    item.depth = static_cast<int>(levels.size()) - 1;
}

void open_block(Layout &L, size_t i, const Marker &marker)
{
    const Row &r = L.rows[i];
    const PdfLine &l = *r.line;
    Block block;
    Open o;
    o.active = true;
    o.last = i;
    o.lines = 1;
    o.left = rel(L, r, l.x0);
    o.max_right = rel(L, r, l.x1);
    o.size = l.size;
    float tolerance = std::max(2.0f, 0.3f * l.size);
    if (r.code) {
        block.kind = BlockKind::preformatted;
        o.code_rows.push_back(i);
    } else if (r.leader) {
        block.kind = BlockKind::table_row;
        leader_cells(l.text, block.cells);
        block.text = block.cells[0];
    } else if (r.heading) {
        block.kind = BlockKind::heading;
        block.text = cells_as_words(l.text);
    } else if (r.cells && !marker.found) {
        block.kind = BlockKind::table_row;
        block.cells = split_cells(l.text);
        block.text = cells_as_words(l.text);
    } else if (marker.found) {
        block.kind = BlockKind::list_item;
        block.style = marker.style;
        block.number = marker.number;
        block.text = cells_as_words(std::string_view(l.text).substr(marker.length));
        size_t skip = block.text.find_first_not_of(' ');
        block.text.erase(0, skip == std::string::npos ? block.text.size() : skip);
        o.marker_left = o.left;
        o.left = rel(L, r, l.text_x);
        list_depth(L, block, o.marker_left, tolerance);
    } else {
        block.text = cells_as_words(l.text);
    }
    // A heading, or a paragraph as far left as the outermost list, ends the lists.
    float outermost = L.list_levels.empty() ? 0 : L.list_levels.front();
    if (block.kind != BlockKind::list_item && (r.heading || o.left <= outermost + tolerance))
        L.list_levels.clear();
    L.doc.blocks.push_back(std::move(block));
    o.index = L.doc.blocks.size() - 1;
    L.open = std::move(o); // copying the vector here draws false bounds warnings from GCC 14
}

void add_row(Layout &L, size_t i)
{
    const Row &b = L.rows[i];
    Open &o = L.open;
    Block &block = L.doc.blocks[o.index];
    if (block.kind == BlockKind::preformatted) {
        o.code_rows.push_back(i);
    } else {
        if (block.kind == BlockKind::table_row) {
            // A row that hangs under a cell: the row was a term and its description.
            block.kind = BlockKind::paragraph;
            block.cells.clear();
        }
        block.text += row_joint(block.text, *L.rows[o.last].line, *b.line, L.st.mono_body, L.hyphens);
        block.text += cells_as_words(b.line->text);
    }
    if (o.lines == 1 && block.kind == BlockKind::paragraph)
        o.left = rel(L, b, b.line->x0); // past an indented first row
    o.last = i;
    o.lines++;
    o.max_right = std::max(o.max_right, rel(L, b, b.line->x1));
}

// ---------------------------------------------------------------- tables

// A table whose cells wrap has a row of the page for each line of a
// cell, drawn cell by cell (the next cell's rows above the last one's) or
// line by line across. Its columns are where its rows with cells start
// them; a cell is the pieces of one column each at the body's distance
// below the last, drawn one after the other, or, drawn line by line, up
// to a line that starts the first column again; a row of the table, the
// cells whose heights overlap.

struct Piece {
    std::string text;
    float x, top, bottom, size;
    size_t line; // the row of the page it is part of
};

struct Cell {
    std::string text;
    float top, bottom, last_bottom, size;
    size_t column;
    int lines;
};

struct Table {
    std::vector<float> columns; // left edges, in order
    std::vector<Piece> pieces;
    float right = 0;            // where its rows end, the rightmost
    bool back_up = false;       // a row drawn above one drawn before it
};

// Where each piece of a row starts: the row's left end, then each stop.
std::vector<float> piece_starts(const PdfLine &l)
{
    std::vector<float> starts = {l.x0};
    starts.insert(starts.end(), l.stops.begin(), l.stops.end());
    return starts;
}

// The column at `x`, or columns.size() when none starts there.
size_t column_at(const std::vector<float> &columns, float x, float tolerance)
{
    for (size_t k = 0; k < columns.size(); k++)
        if (near(columns[k], x, tolerance))
            return k;
    return columns.size();
}

// Whether a row is part of the table: each piece starts a column, a row
// of one piece ends before the next column, and it stands no farther
// below the table than a row of cells apart. A row of cells from the
// first column may start a column the table lacked so far (an empty cell
// before), and so may a row drawn back up beside all the table's rows (a
// cell drawn after those before it in its row).
bool joins_table(Table &t, const Row &r, const PdfLine &before, float top, float bottom)
{
    const PdfLine &l = *r.line;
    float tolerance = std::max(2.0f, 0.3f * l.size);
    if (r.code || r.heading || r.leader || r.rotated || l.top > bottom + 2.5f * l.size || l.bottom < top)
        return false;
    std::vector<float> starts = piece_starts(l);
    size_t first = column_at(t.columns, starts[0], tolerance);
    if (first == t.columns.size() && l.x0 > t.right + l.size && l.top < before.top) {
        t.columns.push_back(l.x0);
        first = t.columns.size() - 1;
    }
    if (first == t.columns.size())
        return false;
    if (starts.size() == 1)
        return first + 1 == t.columns.size() || l.x1 <= t.columns[first + 1] + tolerance;
    for (float x : starts)
        if (column_at(t.columns, x, tolerance) == t.columns.size()) {
            if (first != 0 || x < t.columns[0])
                return false;
            t.columns.push_back(x);
            std::sort(t.columns.begin(), t.columns.end());
        }
    return true;
}

void add_pieces(Table &t, const PdfLine &l)
{
    std::vector<std::string> texts = split_cells(l.text);
    std::vector<float> starts = piece_starts(l);
    size_t line = t.pieces.empty() ? 0 : t.pieces.back().line + 1;
    for (size_t i = 0; i < texts.size() && i < starts.size(); i++)
        t.pieces.push_back({texts[i], starts[i], l.top, l.bottom, l.size, line});
    t.right = std::max(t.right, l.x1);
}

std::vector<Cell> table_cells(const Table &t, const Stats &st)
{
    std::vector<Cell> cells;
    std::vector<size_t> open(t.columns.size(), SIZE_MAX); // each column's last cell
    size_t last = SIZE_MAX;                                // the cell of the piece before
    for (size_t i = 0; i < t.pieces.size(); i++) {
        const Piece &p = t.pieces[i];
        size_t column = 0; // the last that starts left of the piece, give or take
        while (column + 1 < t.columns.size() && t.columns[column + 1] <= p.x + std::max(2.0f, 0.3f * p.size))
            column++;
        bool line_start = i == 0 || t.pieces[i - 1].line != p.line;
        if (!t.back_up && line_start && column == 0)
            open.assign(open.size(), SIZE_MAX);
        size_t k = open[column];
        if (k != SIZE_MAX && (last == k || !t.back_up)) {
            Cell &c = cells[k];
            float d = p.bottom - c.last_bottom;
            if (d > 0 && d <= pitch_for(st, c.size) + std::max(1.5f, 0.2f * c.size)) {
                c.text += !c.text.empty() && c.text.back() == '-' ? "" : " ";
                c.text += p.text;
                c.bottom = std::max(c.bottom, p.bottom);
                c.last_bottom = p.bottom;
                c.lines++;
                last = k;
                continue;
            }
        }
        cells.push_back({p.text, p.top, p.bottom, p.bottom, p.size, column, 1});
        last = open[column] = cells.size() - 1;
    }
    return cells;
}

// Whether the rows read wrong one by one: drawn cell by cell, or a cell
// but the last wrapped. Drawn line by line with only the last column's
// cells wrapped (a term and its description under it), they read right.
bool needs_gathering(const Table &t, const std::vector<Cell> &cells)
{
    return t.back_up || std::any_of(cells.begin(), cells.end(), [&](const Cell &c) {
               return c.lines > 1 && c.column + 1 < t.columns.size();
           });
}

// The table's rows: cells whose heights overlap, as one row of cells each.
void table_rows(const Table &t, std::vector<Cell> cells, const Row &first, std::deque<PdfLine> &made,
                std::vector<Row> &out)
{
    std::stable_sort(cells.begin(), cells.end(), [](const Cell &a, const Cell &b) { return a.top < b.top; });
    for (size_t i = 0; i < cells.size();) {
        float bottom = cells[i].bottom;
        size_t end = i + 1;
        while (end < cells.size() && cells[end].top < bottom - 0.2f * cells[end].size)
            bottom = std::max(bottom, cells[end++].bottom);
        std::vector<std::string> texts(t.columns.size());
        PdfLine line;
        line.x0 = t.columns.back();
        line.top = cells[i].top;
        line.bottom = bottom;
        for (size_t k = i; k < end; k++) {
            std::string &text = texts[cells[k].column];
            text += (text.empty() ? "" : " ") + cells[k].text;
            line.x0 = std::min(line.x0, t.columns[cells[k].column]);
            line.size = std::max(line.size, cells[k].size);
        }
        for (size_t k = 0; k < texts.size(); k++) {
            line.text += (k ? "\t" : "") + texts[k];
            if (k > 0)
                line.stops.push_back(t.columns[k]);
        }
        line.x1 = t.right;
        line.text_x = line.stops.empty() ? line.x1 : line.stops[0];
        made.push_back(std::move(line));
        Row r = first;
        r.line = &made.back();
        r.cells = r.table = true;
        out.push_back(r);
        i = end;
    }
}

// Rows of tables whose cells wrap, each gathered into one row of cells;
// other rows as they are.
std::vector<Row> gather_tables(const std::vector<Row> &rows, const Stats &st, std::deque<PdfLine> &made)
{
    std::vector<Row> out;
    for (size_t i = 0; i < rows.size();) {
        const Row &seed = rows[i];
        if (!seed.cells || seed.code || seed.leader || seed.rotated) {
            out.push_back(rows[i++]);
            continue;
        }
        Table t;
        t.columns = piece_starts(*seed.line);
        add_pieces(t, *seed.line);
        float top = seed.line->top, bottom = seed.line->bottom;
        size_t end = i + 1;
        for (; end < rows.size() && rows[end].page == seed.page &&
               joins_table(t, rows[end], *rows[end - 1].line, top, bottom);
             end++) {
            const PdfLine &l = *rows[end].line;
            t.back_up = t.back_up || l.top < rows[end - 1].line->top - 0.2f * l.size;
            add_pieces(t, l);
            bottom = std::max(bottom, l.bottom);
        }
        std::vector<Cell> cells = table_cells(t, st);
        if (end > i + 1 && needs_gathering(t, cells))
            table_rows(t, std::move(cells), seed, made, out);
        else
            out.insert(out.end(), rows.begin() + static_cast<long>(i), rows.begin() + static_cast<long>(end));
        i = end;
    }
    return out;
}

bool heading_row(const Stats &st, const PdfLine &l)
{
    bool letters = std::any_of(l.text.begin(), l.text.end(), [](char c) {
        return isalpha(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) >= 0xC0;
    });
    return letters && l.size >= st.body * 1.12f && l.size >= st.body + 1;
}

// A row too short to tell whether its face is fixed-pitch (a lone "}")
// is code between rows of code as wide.
void settle_code(std::vector<Row> &rows)
{
    for (size_t i = 0; i < rows.size(); i++) {
        if (!(rows[i].line->flags & pdf_maybe_mono))
            continue;
        for (size_t j : {i - 1, i + 1}) {
            if (j >= rows.size() || !rows[j].code || rows[j].page != rows[i].page)
                continue;
            if (std::fabs(rows[j].line->char_width - rows[i].line->char_width) <= 0.03f * rows[j].line->char_width) {
                rows[i].code = true;
                rows[i].heading = rows[i].cells = rows[i].leader = false;
            }
        }
    }
}

} // namespace

void pdf_blocks(const std::vector<PdfPage> &pages, Document &doc)
{
    Stats st;
    measure_sizes(pages, st);
    std::vector<bool> drop = page_furniture(pages, st.body);
    std::vector<Row> rows;
    size_t at = 0;
    for (size_t p = 0; p < pages.size(); p++)
        for (const PdfLine &l : pages[p].lines) {
            if (!drop[at++]) {
                Row r;
                r.line = &l;
                r.page = static_cast<int>(p);
                r.rotated = l.flags & pdf_rotated;
                r.code = fixed_pitch(st, l) && !r.rotated;
                r.heading = !r.code && !r.rotated && heading_row(st, l);
                r.cells = !r.code && l.text.find('\t') != std::string::npos;
                std::vector<std::string> cells;
                r.leader = !r.code && leader_cells(l.text, cells);
                r.heading = r.heading && !r.leader;
                rows.push_back(r);
            }
        }
    settle_code(rows);
    measure_pitch(rows, st);
    std::deque<PdfLine> made; // the rows of tables gathered
    rows = gather_tables(rows, st, made);
    measure_frames(pages, rows, st);
    Layout L{rows, st, doc, doc.blocks.size(), {}, {}, {}};
    for (size_t i = 0; i < rows.size(); i++) {
        Marker marker;
        if (!rows[i].code && !rows[i].heading)
            marker = item_marker(rows[i].line->text);
        if (L.open.active && goes_on(L, rows[L.open.last], rows[i], marker)) {
            add_row(L, i);
            continue;
        }
        close_block(L);
        if (marker.found)
            settle_marker(marker, doc.blocks.size() > L.first_block ? &doc.blocks.back() : nullptr);
        open_block(L, i, marker);
    }
    close_block(L);
    see_words(rows, L.hyphens);
    settle_hyphens(doc, L.first_block, L.hyphens);
}
