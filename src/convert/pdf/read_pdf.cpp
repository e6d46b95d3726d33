// PDF: the words of each page as poppler draws them, grouped into lines, pages
// read in parallel by worker processes (poppler is not reliably safe for
// threads sharing one document, and a page that crashes poppler then takes
// down a worker, not the converter); layout.cpp makes the blocks.
#if __has_include(<malloc.h>)
#include <malloc.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string_view>

#include <glib.h>

#include "convert/charset.h"
#include "convert/notices.h"
#include "convert/pdf/layout.h"
#include "convert/process.h"
#include "convert/readers.h"
#include "convert/zip.h"
#include "convert/confine.h"
#include "convert/pdf/poppler_adapter.h"

namespace {

// A document claiming more pages is read up to here.
constexpr int page_bound = 100000;
// How often poppler may ask whether to go on within one page (about ten
// operators a time): far past any real page, far short of a page that
// draws a form inside a form inside a form, or a hundred million "q Q".
constexpr long page_checks = 1000000;

// ---------------------------------------------------------------- words

// A word as the page draws it. A fixed-pitch face shows in its letters:
// all as wide as each other.
struct Word {
    std::string text;
    float x0, x1, top, bottom;
    float size; // its face's size: faces of one size differ in how tall their boxes are
    float advance; // the width of every letter when all are as wide, else 0
    int letters;
    bool space_after;
};

// The common width of a word's letters, or 0 when they differ. Punctuation
// at either end may be in the face of the text around a piece of code.
float even_advance(const std::vector<std::pair<uint32_t, float>> &letters)
{
    auto punctuation = [](uint32_t c) { return c < 0x80 && strchr(".,;:!?()[]'\"", static_cast<int>(c)) != nullptr; };
    size_t first = 0, end = letters.size();
    while (end > first + 1 && punctuation(letters[end - 1].first))
        end--;
    while (first + 1 < end && punctuation(letters[first].first))
        first++;
    float low = 1e9f, high = 0;
    for (size_t i = first; i < end; i++) {
        low = std::min(low, letters[i].second);
        high = std::max(high, letters[i].second);
    }
    return end > first && high > 0 && high - low <= 0.03f * high ? (low + high) / 2 : 0;
}

bool is_space(uint32_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == 0xA0 || (c >= 0x2000 && c <= 0x200B) ||
           c == 0x3000;
}

// TeX and other typesetters may draw an accent as a letter of its own,
// over or under another: "\u00b4" over "e". The combining mark each such
// letter stands for, or 0.
uint32_t accent_mark(uint32_t c)
{
    switch (c) {
    case 0x60: return 0x300;
    case 0xB4: return 0x301;
    case 0x5E: case 0x2C6: return 0x302;
    case 0x7E: case 0x2DC: return 0x303;
    case 0xAF: case 0x2C9: return 0x304;
    case 0x2D8: return 0x306;
    case 0x2D9: return 0x307;
    case 0xA8: return 0x308;
    case 0x2DA: return 0x30A;
    case 0x2DD: return 0x30B;
    case 0x2C7: return 0x30C;
    case 0xB8: return 0x327;
    case 0x2DB: return 0x328;
    default: return 0;
    }
}

// The letter a base and a mark make, or 0 when Unicode has none: glib
// knows every canonical composition.
uint32_t compose(uint32_t base, uint32_t mark)
{
    if (base == 0x131 || base == 0x237) // a dotless i or j, as set under an accent
        base = base == 0x131 ? 'i' : 'j';
    gunichar composed = 0;
    if (base == 0 || mark == 0 || !g_unichar_compose(base, mark, &composed))
        return 0;
    return composed;
}

// Whether a character is a letter of some script, not a sign or a control.
bool is_letter(uint32_t c)
{
    if (c < 0x80)
        return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
    return c >= 0xC0 && c != 0xD7 && c != 0xF7 && !(c >= 0x2000 && c < 0x2C00) && !(c >= 0x3000 && c < 0x3040) &&
           !(c >= 0xE000 && c < 0xF900) && c < 0xFFF0;
}

// A letter as the page draws it, in points, y growing downwards.
struct Glyph {
    double x, y, dx, dy; // where it starts, and its advance
    int rot;             // its direction of writing in quarter turns: 0 rightwards, 1 downwards, ...
    double size;
    const PdfFace *font;
    uint32_t first, count; // its characters in PageWords::text
};

// The words of one page, taken as poppler draws its letters, in the order
// of the page's content; the rows are made from these words by position.
// The letters are turned first so that most of them run rightwards: a
// landscape page set on its side reads as the page it is.
struct PageWords : PdfPageReader {
    float width = 0, height = 0;
    std::vector<Word> words;
    std::vector<bool> rotated;

    std::vector<Glyph> glyphs;
    std::vector<uint32_t> text;
    // A span of given text: how deep, its text, where its glyphs start and
    // end, the first one's direction, size and face.
    int actual_depth = 0;
    std::vector<uint32_t> actual;
    bool actual_drawn = false;
    Glyph actual_glyph{};
    double actual_end_x = 0, actual_end_y = 0;

    // The word being made: where it ends along its direction of writing,
    // its baseline across it, its size.
    bool open = false;
    Word word{};
    std::vector<std::pair<uint32_t, float>> letters;
    int rot = 0;
    double size = 0, base = 0, end = 0, last_at = 0, last_advance = 0;
    size_t last_letter_at = 0; // where the last letter's bytes start in word.text
    // An accent drawn before the letter it goes on, waiting for it.
    bool accent_waits = false;
    Glyph accent{};

    // Glyphs drawn on the page, and how many of them had their letter
    // taken from a number in their name, and of those how many are letters.
    int drawn = 0, numbered = 0, numbered_letters = 0;

    // The direction of letters in the current face and matrices, worked
    // out again only when they changed.
    int face_rot = 0;

    PageWords()
    {
        glyphs.reserve(4096);
        text.reserve(4096);
        words.reserve(1024);
        rotated.reserve(1024);
    }

    void page_begun(double page_width, double page_height) override
    {
        width = static_cast<float>(page_width);
        height = static_cast<float>(page_height);
        drawn = numbered = numbered_letters = 0;
    }
    void page_ended() override { make_words(); }

    void letter_drawn(const PdfLetter &l) override
    {
        if (l.face_new) {
            const double *m = l.face_matrix;
            face_rot = std::fabs(m[0] * m[3]) > std::fabs(m[1] * m[2]) ? (m[0] > 0 || m[3] < 0 ? 0 : 2)
                                                                        : (m[2] > 0 ? 1 : 3);
        }
        Glyph g{};
        g.x = l.x, g.y = l.y, g.dx = l.dx, g.dy = l.dy;
        // Without the spacing a glyph ends where its own width does, so a
        // gap set by spacing (Ghostscript sets word gaps so, and with TJ
        // shifts) parts words as a drawn one does. A space keeps it: its
        // advance is the gap it leaves.
        if (!(l.length == 1 && is_space(l.text[0])))
            g.dx -= l.spacing_dx, g.dy -= l.spacing_dy;
        if (!std::isfinite(g.x) || !std::isfinite(g.y) || !std::isfinite(g.dx) || !std::isfinite(g.dy))
            return;
        if (g.x + g.dx < 0 || g.x > width || g.y + g.dy < 0 || g.y > height)
            return; // off the page: not shown
        g.rot = face_rot;
        g.size = l.face_size;
        g.font = l.face;
        if (actual_depth > 0) {
            // Within a span whose text is given: only where its glyphs go.
            if (!actual_drawn)
                actual_glyph = g;
            actual_drawn = true;
            actual_end_x = g.x + g.dx, actual_end_y = g.y + g.dy;
            return;
        }
        if (l.length > 0 && !(l.length == 1 && is_space(l.text[0]))) {
            drawn++;
            if (l.from_number) {
                numbered++;
                numbered_letters += is_letter(l.text[0]);
            }
        }
        add_glyph(g, l.text, l.length);
    }

    void add_glyph(Glyph g, const uint32_t *u, int uLen)
    {
        if (uLen <= 0)
            return;
        g.first = static_cast<uint32_t>(text.size());
        g.count = static_cast<uint32_t>(uLen);
        if (uLen == 1)
            text.push_back(u[0]);
        else
            text.insert(text.end(), u, u + uLen);
        glyphs.push_back(g);
    }

    // A span marked with the text it stands for (a ligature, a formula, a
    // word set in pieces): that text, spread over where its glyphs went.
    void given_text_begun(std::vector<uint32_t> given) override
    {
        if (actual_depth++ > 0)
            return;
        actual_drawn = false;
        actual = std::move(given);
    }
    void given_text_ended() override
    {
        if (actual_depth == 0 || --actual_depth > 0 || !actual_drawn || actual.empty())
            return;
        Glyph g = actual_glyph;
        double n = static_cast<double>(actual.size());
        double x0 = g.x, y0 = g.y;
        g.dx = (actual_end_x - x0) / n, g.dy = (actual_end_y - y0) / n;
        for (size_t i = 0; i < actual.size(); i++) {
            g.x = x0 + g.dx * static_cast<double>(i), g.y = y0 + g.dy * static_cast<double>(i);
            add_glyph(g, &actual[i], 1);
        }
    }

    // The page turned by `turns` quarter turns back, so that letters
    // written in that direction run rightwards.
    void turn(Glyph &g, int turns) const
    {
        double x = g.x, y = g.y, dx = g.dx, dy = g.dy;
        switch (turns) {
        case 1: g.x = y, g.y = width - x, g.dx = dy, g.dy = -dx; break;
        case 2: g.x = width - x, g.y = height - y, g.dx = -dx, g.dy = -dy; break;
        case 3: g.x = height - y, g.y = x, g.dx = -dy, g.dy = dx; break;
        default: break;
        }
        g.rot = (g.rot - turns + 4) % 4;
    }

    void make_words()
    {
        // Most letters guessed from numbered glyphs, and the guesses mostly
        // signs and controls ("! \" # $"): the page has no text to show.
        if (numbered * 2 >= drawn && numbered_letters * 2 < numbered) {
            glyphs.clear();
            text.clear();
        }
        int by_direction[4] = {0, 0, 0, 0};
        for (const Glyph &g : glyphs)
            if (!(g.count == 1 && is_space(text[g.first])))
                by_direction[g.rot]++;
        int turns = static_cast<int>(std::max_element(by_direction, by_direction + 4) - by_direction);
        if (by_direction[turns] == by_direction[0])
            turns = 0;
        if (turns % 2 == 1)
            std::swap(width, height);
        for (Glyph &g : glyphs) {
            turn(g, turns);
            place_accented(g);
        }
        if (accent_waits)
            place(accent, text.data() + accent.first);
        accent_waits = false;
        close_word();
        glyphs.clear();
        text.clear();
    }

    // Where a glyph runs in its direction of writing, and its baseline across it.
    static double along_of(const Glyph &g) { return g.rot == 0 ? g.x : g.rot == 2 ? -g.x : g.rot == 1 ? g.y : -g.y; }
    static double across_of(const Glyph &g) { return g.rot == 0 ? g.y : g.rot == 2 ? -g.y : g.rot == 1 ? -g.x : g.x; }
    static double advance_of(const Glyph &g) { return g.rot == 0 || g.rot == 2 ? std::fabs(g.dx) : std::fabs(g.dy); }

    // Whether an accent's middle is over (or under) a letter `from` `to` along the row.
    static bool over(const Glyph &a, double from, double to, double baseline, double letter_size)
    {
        double middle = along_of(a) + advance_of(a) / 2, inset = 0.15 * (to - from);
        return middle > from + inset && middle < to - inset && std::fabs(across_of(a) - baseline) <= letter_size;
    }

    // An accent drawn as a letter goes on the letter it sits on, before or
    // after it in the content; anything else is placed as it is.
    void place_accented(const Glyph &g)
    {
        const uint32_t *u = text.data() + g.first;
        uint32_t mark = g.count == 1 ? accent_mark(u[0]) : 0;
        if (accent_waits) {
            accent_waits = false;
            uint32_t composed = g.count == 1 && accent.rot == g.rot
                                   ? compose(u[0], accent_mark(text[accent.first]))
                                   : 0;
            if (composed != 0 && over(accent, along_of(g), along_of(g) + advance_of(g), across_of(g), g.size)) {
                place(g, &composed);
                return;
            }
            place(accent, text.data() + accent.first);
        }
        if (mark == 0) {
            place(g, u);
            return;
        }
        if (open && !letters.empty() && g.rot == rot && over(g, last_at, last_at + last_advance, base, size)) {
            if (uint32_t composed = compose(letters.back().first, mark)) {
                word.text.resize(last_letter_at);
                append_utf8(word.text, composed);
                letters.back().first = composed;
                return;
            }
        }
        accent_waits = true;
        accent = g;
    }

    void place(const Glyph &g, const uint32_t *u)
    {
        if (g.count == 1 && is_space(u[0])) {
            // A space spaced down to next to nothing (Ghostscript's way with
            // a kern inside a word) parts nothing.
            if (advance_of(g) < 0.1 * g.size)
                return;
            if (open)
                word.space_after = true;
            close_word();
            return;
        }
        double along = along_of(g), across = across_of(g), advance = advance_of(g);
        if (open) {
            double gap = along - end;
            // The same letter again where the last one was: a face made bold
            // by drawing it twice.
            if (std::fabs(along - last_at) < 0.1 * size && std::fabs(across - base) < 0.2 * size &&
                !letters.empty() && letters.back().first == u[0])
                return;
            if (g.rot != rot || std::fabs(g.size - size) > 0.01 * size || std::fabs(across - base) > 0.5 ||
                gap < -0.2 * size || gap > 0.1 * size)
                close_word();
        }
        if (!open)
            open_word(g, along, across);
        last_at = along;
        last_advance = advance;
        end = std::max(end, along + advance);
        for (uint32_t i = 0; i < g.count; i++) {
            if (u[i] < 0x20 || u[i] == 0x7f || u[i] > 0x10FFFF)
                continue;
            last_letter_at = word.text.size();
            append_utf8(word.text, u[i]);
            letters.emplace_back(u[i], static_cast<float>(advance / g.count));
            word.letters++;
        }
        extend_box(g.x + g.dx, g.y + g.dy);
    }

    void open_word(const Glyph &g, double along, double across)
    {
        open = true;
        word = Word{};
        letters.clear();
        rot = g.rot;
        size = g.size > 0 ? g.size : 1;
        base = across;
        end = along;
        double ascent = g.font ? pdf_face_ascent(g.font) : 0.95, descent = g.font ? pdf_face_descent(g.font) : -0.35;
        if (!(ascent > descent) || ascent - descent > 3)
            ascent = 0.95, descent = -0.35;
        // The box across the baseline: above it by the face's ascent, below by its descent.
        double a = ascent * size, d = descent * size;
        if (rot == 0 || rot == 2) {
            double sign = rot == 0 ? 1 : -1;
            word.x0 = word.x1 = static_cast<float>(g.x);
            word.top = static_cast<float>(std::min(g.y - sign * a, g.y - sign * d));
            word.bottom = static_cast<float>(std::max(g.y - sign * a, g.y - sign * d));
        } else {
            double sign = rot == 1 ? 1 : -1;
            word.top = word.bottom = static_cast<float>(g.y);
            word.x0 = static_cast<float>(std::min(g.x + sign * a, g.x + sign * d));
            word.x1 = static_cast<float>(std::max(g.x + sign * a, g.x + sign * d));
        }
    }

    void extend_box(double px, double py)
    {
        if (rot == 0 || rot == 2) {
            word.x0 = std::min(word.x0, static_cast<float>(px));
            word.x1 = std::max(word.x1, static_cast<float>(px));
        } else {
            word.top = std::min(word.top, static_cast<float>(py));
            word.bottom = std::max(word.bottom, static_cast<float>(py));
        }
    }

    void close_word()
    {
        if (!open)
            return;
        open = false;
        if (word.letters == 0)
            return;
        word.advance = even_advance(letters);
        word.size = static_cast<float>(size);
        // The same word again where one of the last few was: drawn twice
        // for a bold or shadowed face.
        for (size_t k = words.size(), seen = 0; k > 0 && seen < 4; k--, seen++) {
            const Word &w = words[k - 1];
            if (w.text == word.text && std::fabs(w.x0 - word.x0) < 0.2f * static_cast<float>(size) &&
                std::fabs(w.top - word.top) < 0.2f * static_cast<float>(size))
                return;
        }
        words.push_back(std::move(word));
        rotated.push_back(rot != 0);
    }
};

// ---------------------------------------------------------------- lines

float word_size(const Word &w)
{
    return w.bottom - w.top;
}

bool same_line(float top, float bottom, const Word &prev, const Word &w)
{
    if (w.x0 < prev.x0 - 0.1f * word_size(w))
        return false; // back to the left: the next line
    float middle = (w.top + w.bottom) / 2, line_middle = (top + bottom) / 2;
    return (middle >= top && middle <= bottom) || (line_middle >= w.top && line_middle <= w.bottom);
}

// Whether every letter of the row is as wide as the others: a fixed-pitch
// face. `sure` when there are enough different letters to tell.
bool fixed_pitch(std::vector<Word>::const_iterator from, std::vector<Word>::const_iterator to, float &width,
                 bool &sure)
{
    float low = 1e9f, high = 0;
    int letters = 0;
    for (auto w = from; w != to; ++w) {
        if (w->advance <= 0)
            return false;
        low = std::min(low, w->advance);
        high = std::max(high, w->advance);
        letters += w->letters;
    }
    if (high - low > 0.03f * high)
        return false;
    width = (low + high) / 2;
    sure = letters >= 6;
    return true;
}

void close_line(std::vector<Word>::const_iterator from, std::vector<Word>::const_iterator to, bool rotated,
                PdfPage &page)
{
    PdfLine line;
    line.x0 = from->x0;
    line.top = from->top;
    line.bottom = from->bottom;
    // The row's size: its largest word's (a superscript does not make it),
    // of words of two letters or more when there are any.
    bool long_words = std::any_of(from, to, [](const Word &w) { return w.letters >= 2; });
    for (auto w = from; w != to; ++w) {
        line.x1 = std::max(line.x1, w->x1);
        line.top = std::min(line.top, w->top);
        line.bottom = std::max(line.bottom, w->bottom);
        if (w->letters >= 2 || !long_words)
            line.size = std::max(line.size, w->size);
    }
    bool sure = false;
    bool mono = fixed_pitch(from, to, line.char_width, sure);
    if (!mono)
        line.char_width = 0;
    line.first_width = from->x1 - from->x0;
    line.text_x = from + 1 != to ? (from + 1)->x0 : line.x1;
    auto even = [](const Word &w) { return w.advance > 0 && w.letters >= 3; };
    line.flags = static_cast<uint8_t>((mono && sure ? pdf_mono : 0) | (mono && !sure ? pdf_maybe_mono : 0) |
                                      (rotated ? pdf_rotated : 0) | (even(*from) ? pdf_starts_mono : 0) |
                                      (even(*(to - 1)) ? pdf_ends_mono : 0));
    // A gap parts cells when it is wide, and wider than the row's others,
    // or all are wide and unequal: a justified row may stretch all its
    // gaps, but evenly.
    float narrowest = 1e9f, widest = 0;
    for (auto w = from + 1; w < to; ++w) {
        narrowest = std::min(narrowest, w->x0 - (w - 1)->x1);
        widest = std::max(widest, w->x0 - (w - 1)->x1);
    }
    bool uneven = to - from > 2 && narrowest > 1.5f * line.size && widest - narrowest > line.size;
    for (auto w = from; w != to; ++w) {
        if (w != from) {
            const Word &prev = *(w - 1);
            float gap = w->x0 - prev.x1;
            if (mono) {
                long spaces = std::lround(gap / line.char_width);
                line.text.append(static_cast<size_t>(std::clamp(spaces, 1L, 200L)), ' ');
            } else if (gap > 1.5f * line.size && (gap > 2.5f * narrowest || uneven)) {
                line.text += '\t';
                line.stops.push_back(w->x0);
            } else if (prev.space_after || gap > 0.15f * line.size) {
                line.text += ' ';
            }
        }
        line.text += w->text;
    }
    page.lines.push_back(std::move(line));
}

void words_to_lines(const std::vector<Word> &words, const std::vector<bool> &rotated, PdfPage &page)
{
    size_t first = 0;
    float top = 0, bottom = 0;
    for (size_t i = 0; i < words.size(); i++) {
        if (i > first && (rotated[i] || rotated[i - 1] || !same_line(top, bottom, words[i - 1], words[i]))) {
            close_line(words.begin() + static_cast<long>(first), words.begin() + static_cast<long>(i),
                       rotated[first], page);
            first = i;
        }
        if (i == first) {
            top = words[i].top;
            bottom = words[i].bottom;
        } else if (word_size(words[i]) >= word_size(words[first]) * 0.9f) {
            top = std::min(top, words[i].top);
            bottom = std::max(bottom, words[i].bottom);
        }
    }
    if (first < words.size())
        close_line(words.begin() + static_cast<long>(first), words.end(), rotated[first], page);
}

// Where the rows at a page's top (`down`) or bottom end: those from its
// edge to the first gap wider than a body's rows leave, when that gap is
// within `band` of the edge; else the edge itself (there are none).
float margin_end(const std::vector<PdfLine> &lines, bool down, float edge, float band)
{
    std::vector<const PdfLine *> order;
    for (const PdfLine &l : lines)
        order.push_back(&l);
    auto near_edge = [down](const PdfLine *a, const PdfLine *b) { return down ? a->top < b->top : a->bottom > b->bottom; };
    std::sort(order.begin(), order.end(), near_edge);
    float end = edge;
    for (const PdfLine *l : order) {
        float gap = down ? l->top - end : end - l->bottom;
        if (end != edge && gap > 0.5f * l->size)
            return std::fabs(end - edge) <= band ? end : edge;
        end = down ? std::max(end, l->bottom) : std::min(end, l->top);
    }
    return edge;
}

// Rows in the page's top or bottom margin band, set apart from the body,
// that the content draws out of turn (a footer before the body, a running
// head after it) go to the page's top or bottom, where the reading order
// has them. A row in the band that is no farther from the body than its
// rows are from each other is body (a table at the top of the page).
void margins_to_edges(PdfPage &page)
{
    float head_end = margin_end(page.lines, true, 0, page.height * 0.12f);
    float foot_start = margin_end(page.lines, false, page.height, page.height * 0.12f);
    auto head = [&](const PdfLine &l) { return l.bottom <= head_end; };
    auto foot = [&](const PdfLine &l) { return l.top >= foot_start; };
    std::vector<PdfLine> &lines = page.lines;
    auto body_first = std::find_if(lines.begin(), lines.end(), [&](const PdfLine &l) { return !head(l) && !foot(l); });
    if (body_first == lines.end())
        return;
    auto body_last = std::find_if(lines.rbegin(), lines.rend(), [&](const PdfLine &l) { return !head(l) && !foot(l); });
    size_t first = static_cast<size_t>(body_first - lines.begin());
    size_t last = lines.size() - 1 - static_cast<size_t>(body_last - lines.rbegin());
    bool in_order = true;
    for (size_t i = 0; i < lines.size(); i++)
        in_order = in_order && !(i > first && head(lines[i])) && !(i < last && foot(lines[i]));
    if (in_order)
        return;
    std::vector<PdfLine> heads, body, feet;
    for (size_t i = 0; i < lines.size(); i++) {
        PdfLine &l = lines[i];
        if (i > first && head(l))
            heads.push_back(std::move(l));
        else if (i < last && foot(l))
            feet.push_back(std::move(l));
        else
            body.push_back(std::move(l));
    }
    // The heads drawn late go after those drawn first, before the body.
    size_t leading = 0;
    while (leading < body.size() && head(body[leading]) && leading < first)
        leading++;
    lines.clear();
    std::move(body.begin(), body.begin() + static_cast<long>(leading), std::back_inserter(lines));
    std::move(heads.begin(), heads.end(), std::back_inserter(lines));
    std::move(body.begin() + static_cast<long>(leading), body.end(), std::back_inserter(lines));
    std::move(feet.begin(), feet.end(), std::back_inserter(lines));
}

// What a page may cost: so many of poppler's checks, and no later than
// the reading's deadline.
struct PageBudget {
    long checks = 0;
    long long deadline = 0;
};

bool page_spent(void *data)
{
    PageBudget &budget = *static_cast<PageBudget *>(data);
    return ++budget.checks > page_checks || clock_ms() > budget.deadline;
}

// The lines of page `index` as far as its budget goes; false when the
// document has no such page.
bool read_page(PdfDocument &doc, int index, long long deadline, PdfPage &out)
{
    PageWords words;
    PageBudget budget{0, deadline};
    if (!pdf_draw_page(doc, index, words, page_spent, &budget))
        return false;
    out.width = words.width;
    out.height = words.height;
    out.cut_short = budget.checks > page_checks || clock_ms() > budget.deadline;
    words_to_lines(words.words, words.rotated, out);
    margins_to_edges(out);
    return true;
}

// ---------------------------------------------------------------- records

// A worker's first record: the document opened or not, and its pages.
constexpr int32_t header_index = -2;

void put_header(std::string &out, PdfOpened opened, int count)
{
    size_t start = record_open(out);
    put_value<int32_t>(out, header_index);
    put_value<int32_t>(out, static_cast<int32_t>(opened));
    put_value<int32_t>(out, count);
    record_close(out, start);
}

// A page as a worker sends it: its index (-1: the document has no page
// where this worker went on), then its lines.
void put_page(std::string &out, int index, const PdfPage &page)
{
    size_t start = record_open(out);
    put_value<int32_t>(out, index);
    put_value(out, page.width);
    put_value(out, page.height);
    put_value<uint8_t>(out, page.cut_short);
    put_value<uint32_t>(out, static_cast<uint32_t>(page.lines.size()));
    for (const PdfLine &l : page.lines) {
        for (float f : {l.x0, l.x1, l.top, l.bottom, l.size, l.first_width, l.text_x, l.char_width})
            put_value(out, f);
        put_value(out, l.flags);
        put_value<uint32_t>(out, static_cast<uint32_t>(l.stops.size()));
        for (float stop : l.stops)
            put_value(out, stop);
        put_text(out, l.text);
    }
    record_close(out, start);
}

bool get_page(std::string_view in, int &index, PdfPage &page)
{
    int32_t at;
    uint32_t lines;
    uint8_t cut_short;
    if (!take_value(in, at) || !take_value(in, page.width) || !take_value(in, page.height) ||
        !take_value(in, cut_short) || !take_value(in, lines))
        return false;
    index = at;
    page.cut_short = cut_short != 0;
    for (uint32_t i = 0; i < lines; i++) {
        PdfLine l;
        uint32_t stops;
        for (float *f : {&l.x0, &l.x1, &l.top, &l.bottom, &l.size, &l.first_width, &l.text_x, &l.char_width})
            if (!take_value(in, *f))
                return false;
        if (!take_value(in, l.flags) || !take_value(in, stops) || stops > in.size() / sizeof(float))
            return false;
        l.stops.resize(stops);
        for (float &stop : l.stops)
            take_value(in, stop);
        if (!take_text(in, l.text))
            return false;
        page.lines.push_back(std::move(l));
    }
    return in.empty();
}

// ---------------------------------------------------------------- workers

struct Collected {
    bool opened = false;          // a worker said how the document opened
    PdfOpened how = PdfOpened::broken;
    int count = 0;                // its pages
    std::vector<PdfPage> pages;   // by index
    std::vector<bool> received;
    std::vector<int> next;        // the page each worker sends next
    int step = 1;                 // the pages between two of one worker's
    int end = 0;                  // the document's pages end here
    int prefix = 0;               // pages [0, prefix) all received
    size_t prefix_bytes = 0;
};

void advance_prefix(Collected &c)
{
    while (c.prefix < c.end && c.received[static_cast<size_t>(c.prefix)]) {
        for (const PdfLine &l : c.pages[static_cast<size_t>(c.prefix)].lines)
            c.prefix_bytes += l.text.size() + 1;
        if (c.prefix_bytes > archive_limit) {
            c.end = c.prefix + 1; // what is past the limit is not read
        }
        c.prefix++;
    }
}

// Every worker says the same of the document; the first to say it counts.
bool take_header(Collected &c, std::string_view record)
{
    int32_t how, count;
    if (!take_value(record, how) || !take_value(record, count) || !record.empty() || how < 0 ||
        how > static_cast<int32_t>(PdfOpened::broken) || count < 0 || count > page_bound)
        return false;
    if (c.opened)
        return true;
    c.opened = true;
    c.how = static_cast<PdfOpened>(how);
    c.count = c.end = c.how == PdfOpened::ok ? count : 0;
    c.pages.resize(static_cast<size_t>(c.count));
    c.received.assign(static_cast<size_t>(c.count), false);
    return true;
}

// A record from worker k: its header, or the page it sends next.
bool take_page(Collected &c, size_t k, std::string_view record)
{
    std::string_view peek = record;
    int32_t first;
    if (take_value(peek, first) && first == header_index)
        return take_header(c, peek);
    PdfPage page;
    int index;
    if (!c.opened || !get_page(record, index, page))
        return false;
    int &next = c.next[k];
    if (index < 0) {
        c.end = std::min(c.end, next);
        return true;
    }
    if (index != next || index >= static_cast<int>(c.pages.size()))
        return false;
    c.pages[static_cast<size_t>(index)] = std::move(page);
    c.received[static_cast<size_t>(index)] = true;
    next += c.step;
    advance_prefix(c);
    return true;
}

// Opens the document from the bytes, hands `send` a record of whether it
// could and how many pages it has, then one of each page first, first +
// step, ... until there are no more or `send` wants no more. What a
// worker does, and what the fuzzer does in its own process.
void send_pages(std::string_view bytes, int first, int step, long long deadline,
                const std::function<bool(const std::string &records)> &send)
{
    PdfOpened opened;
    PdfDocumentPtr doc = pdf_open(bytes, &opened);
    int count = doc ? std::min(pdf_page_count(*doc), page_bound) : 0;
    std::string out;
    put_header(out, opened, count);
    if (!send(out))
        return;
    for (int index = first; doc && index < count; index += step) {
        PdfPage page;
        bool exists = read_page(*doc, index, deadline, page);
        out.clear();
        put_page(out, exists ? index : -1, page);
        if (!send(out) || !exists)
            return;
    }
}

// The fuzzer's way: every page read in this process, where it sees them,
// and handed over in the records a worker sends.
PoolEnd read_pages_here(std::string_view bytes, long long deadline, Collected &c)
{
    c.next.push_back(0);
    bool sane = true, late = false;
    std::string pending;
    send_pages(bytes, 0, 1, deadline, [&](const std::string &records) {
        sane = records_take(pending, records, [&c](std::string_view record) { return take_page(c, 0, record); });
        late = c.next[0] < c.end && clock_ms() > deadline;
        return sane && !late && c.next[0] < c.end;
    });
    return !sane ? PoolEnd::failed : late ? PoolEnd::timed_out : PoolEnd::done;
}

// A worker: confined before poppler sees a byte (pool_start), it sends
// its pages to `fd`.
[[noreturn]] void work_pages(std::string_view bytes, int first, int step, long long deadline, int fd)
{
#if defined(M_TRIM_THRESHOLD)
    // Each page's words are made and freed again: keep the heap's pages
    // rather than hand them back to the system after every page (glibc).
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_TOP_PAD, 16 << 20);
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
#endif
    bool written = true;
    auto send = [&](const std::string &records) { return written = write_all(fd, records); };
    send_pages(bytes, first, step, deadline, send);
    _exit(written ? 0 : 1);
}

// One worker per core, DRIFTERM_PDF_WORKERS another number (at least one).
int worker_count()
{
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    if (const char *forced = getenv("DRIFTERM_PDF_WORKERS"))
        cores = atol(forced);
    return static_cast<int>(std::clamp<long>(cores, 1, 64));
}

// The pages, read by confined workers in parallel, as far as they go or
// until the time ran out.
PoolEnd read_pages(std::string_view bytes, long long deadline, Collected &c)
{
    if (reading_in_process())
        return read_pages_here(bytes, deadline, c);
    int n = worker_count();
    std::vector<Worker> workers;
    // A worker ends its page a little before the parent stops listening,
    // so that what it drew of it still arrives.
    const long long page_deadline = deadline - 300;
    Confinement confinement;
    // The memory of all the workers together stays within one reader's.
    confinement.address_space =
        std::max(confinement.address_space / static_cast<size_t>(n), size_t{192} << 20) + bytes.size();
    confinement.cpu_seconds = static_cast<int>((page_deadline - clock_ms()) / 1000) + 1;
    confinement.read_only_paths = {"/usr/share/poppler"};
    auto work = [&](int k, int fd) { work_pages(bytes, k, n, page_deadline, fd); };
    if (!pool_start(n, confinement, work, workers))
        return PoolEnd::failed;
    c.step = n;
    for (int k = 0; k < n; k++)
        c.next.push_back(k);
    PoolEnd outcome = pool_collect(
        workers, [&c](size_t k, std::string_view record) { return take_page(c, k, record); },
        [&c] { return c.opened && c.prefix >= c.end; }, deadline);
    pool_stop(workers);
    return outcome;
}

} // namespace

ReadResult read_pdf(const Input &in, Document &doc)
{
    // An honest document's time grows with its size; a hostile one's may not.
    long long deadline = clock_ms() + (read_seconds + static_cast<long long>(in.bytes.size() >> 24)) * 1000;
    Collected c;
    PoolEnd outcome = read_pages(in.bytes, deadline, c);
    if (c.how == PdfOpened::encrypted)
        return notice(doc, NoticeKind::encrypted, in.name);
    if (outcome == PoolEnd::failed && c.prefix == 0)
        return notice(doc, NoticeKind::unreadable, in.name, "PDF", "its reader crashed or was stopped");
    if (!c.opened || c.how != PdfOpened::ok || c.count == 0)
        return ReadResult::not_this_format;
    // Up to the first page the document does not have, as one pass would
    // stop there, whatever other workers read past it.
    c.pages.resize(static_cast<size_t>(std::min(c.prefix, c.end)));
    if (c.pages.empty())
        return notice(doc, NoticeKind::unreadable, in.name, "PDF", "it takes too long to read");
    // Scanned pages, or drawings: there is no text to show.
    if (std::all_of(c.pages.begin(), c.pages.end(), [](const PdfPage &p) { return p.lines.empty(); }))
        return notice(doc, NoticeKind::no_text, in.name, "PDF");
    pdf_blocks(c.pages, doc);
    for (size_t i = 0; i < c.pages.size(); i++)
        if (c.pages[i].cut_short) {
            Block note;
            note.text = "(" + in.name + ": page " + std::to_string(i + 1) + " takes too long to draw, and was read only in part)";
            doc.blocks.push_back(std::move(note));
            break;
        }
    if (c.prefix < c.end) {
        Block note;
        note.text = "(" + in.name + ": the pages after page " + std::to_string(c.pages.size()) + " of " +
                    std::to_string(c.count) +
                    (outcome == PoolEnd::timed_out ? " were not read in time)" : " could not be read)");
        doc.blocks.push_back(std::move(note));
    }
    return ReadResult::read;
}
