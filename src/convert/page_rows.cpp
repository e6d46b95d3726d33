// Rows of text to paragraphs. Laid out on a page (DjVu's text layer,
// a program's rows), the layout says where a paragraph ends, and words
// broken at a line's end by a hyphen are joined again.
#include <algorithm>
#include <cctype>

#include "convert/charset.h"
#include "convert/page_rows.h"
#include "convert/text.h"

namespace {

template <typename T> T median(std::vector<T> values, T fallback)
{
    if (values.empty())
        return fallback;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

size_t code_points(std::string_view text)
{
    size_t count = 0;
    for (char c : text)
        count += (static_cast<unsigned char>(c) & 0xc0) != 0x80;
    return count;
}

// Where a new paragraph begins within lines of one zone that is not a
// paragraph, from the layout: a line that is not below the last (a new
// column), a gap wider than the page's usual spacing, an indented first
// line, a short line that ends a sentence, or one after a heading.
std::vector<bool> layout_breaks(const std::vector<LaidOutLine> &lines)
{
    std::vector<bool> breaks(lines.size(), false);
    if (lines.size() < 2)
        return breaks;
    std::vector<int> heights, pitches, char_widths;
    int left = lines[0].x0;
    std::vector<int> ends;
    for (size_t i = 0; i < lines.size(); ++i) {
        const LaidOutLine &l = lines[i];
        heights.push_back(l.y1 - l.y0);
        char_widths.push_back((l.x1 - l.x0) / static_cast<int>(std::max<size_t>(1, code_points(l.text))));
        left = std::min(left, l.x0);
        ends.push_back(l.x1);
        if (i > 0) {
            int pitch = (lines[i - 1].y0 + lines[i - 1].y1) / 2 - (l.y0 + l.y1) / 2;
            if (pitch > 0)
                pitches.push_back(pitch);
        }
    }
    const int height = median(heights, 0);
    const int pitch = median(pitches, height + height / 5);
    const int em = std::max(1, median(char_widths, 1));
    std::sort(ends.begin(), ends.end());
    const int right = ends[ends.size() * 9 / 10];
    if (height <= 0)
        return breaks; // no layout to go by
    for (size_t i = 1; i < lines.size(); ++i) {
        const LaidOutLine &a = lines[i - 1], &b = lines[i];
        int step = (a.y0 + a.y1) / 2 - (b.y0 + b.y1) / 2;
        bool new_column = step <= 0;
        bool gap = step * 2 > pitch * 3;
        bool indent = b.x0 - left > 2 * em && a.x0 - left <= em;
        bool short_line = a.x1 < right - 6 * em;
        bool short_end = short_line && ends_sentence(a.text);
        // A short line set in from the margin, then one at the margin: a
        // heading, centred or indented, not a paragraph's first line.
        bool heading = short_line && a.x0 - left > 2 * em && b.x0 - left <= em;
        breaks[i] = new_column || gap || indent || short_end || heading;
    }
    return breaks;
}

// Appends a line to a paragraph: a word broken at the line's end by a
// hyphen ("exam-" "ple") is joined again, a soft hyphen dropped.
void join_line(std::string &paragraph, std::string_view line)
{
    while (!line.empty() && line.front() == ' ')
        line.remove_prefix(1);
    while (!paragraph.empty() && paragraph.back() == ' ')
        paragraph.pop_back();
    if (paragraph.empty()) {
        paragraph = line;
        return;
    }
    if (paragraph.ends_with("\xc2\xad")) {
        paragraph.resize(paragraph.size() - 2);
        paragraph += line;
        return;
    }
    size_t n = paragraph.size();
    bool broken_word = n >= 2 && paragraph[n - 1] == '-' &&
                       (std::isalpha(static_cast<unsigned char>(paragraph[n - 2])) ||
                        static_cast<unsigned char>(paragraph[n - 2]) >= 0x80) &&
                       !line.empty() && std::islower(static_cast<unsigned char>(line.front()));
    if (broken_word)
        paragraph.pop_back();
    else
        paragraph += ' ';
    paragraph += line;
}

} // namespace

std::vector<std::string> layout_paragraphs(const std::vector<LaidOutLine> &lines)
{
    std::vector<std::string> paragraphs;
    size_t start = 0;
    while (start < lines.size()) {
        size_t end = start + 1;
        while (end < lines.size() && lines[end].group == lines[start].group)
            ++end;
        std::vector<LaidOutLine> zone(lines.begin() + static_cast<long>(start), lines.begin() + static_cast<long>(end));
        std::vector<bool> breaks =
            lines[start].paragraph ? std::vector<bool>(zone.size(), false) : layout_breaks(zone);
        std::string paragraph;
        for (size_t i = 0; i < zone.size(); ++i) {
            if (breaks[i] && !paragraph.empty()) {
                paragraphs.push_back(paragraph);
                paragraph.clear();
            }
            join_line(paragraph, zone[i].text);
        }
        if (paragraph.find_first_not_of(' ') != std::string::npos)
            paragraphs.push_back(paragraph);
        start = end;
    }
    return paragraphs;
}

// A program's line as UTF-8, its control characters (form feeds among
// them) made spaces.
static std::string clean_line(std::string_view line)
{
    std::string out;
    for (char c : line) {
        unsigned char u = static_cast<unsigned char>(c);
        out += u < 0x20 || u == 0x7f ? ' ' : c;
    }
    return valid_utf8(out) ? out : to_utf8(out, "UTF-8");
}

static bool blank(std::string_view line)
{
    return line.find_first_not_of(" \t\r\f\v") == std::string_view::npos;
}

// Calls `take(line)` for every line of `text`.
template <typename Take> static void each_line(std::string_view text, Take take)
{
    while (!text.empty()) {
        size_t end = text.find('\n');
        take(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

static void add_paragraph(Document &doc, std::string_view text)
{
    Block block;
    block.text = clean_line(text);
    doc.blocks.push_back(block);
}

void paragraph_list_blocks(const std::vector<std::string> &paragraphs, Document &doc)
{
    for (const std::string &paragraph : paragraphs)
        add_paragraph(doc, paragraph);
}

void line_blocks(std::string_view text, Document &doc)
{
    each_line(text, [&](std::string_view line) {
        if (!blank(line))
            add_paragraph(doc, line);
    });
}

void paragraph_blocks(std::string_view text, Document &doc)
{
    std::string paragraph;
    auto flush = [&]() {
        if (!paragraph.empty())
            add_paragraph(doc, paragraph);
        paragraph.clear();
    };
    each_line(text, [&](std::string_view line) {
        if (blank(line)) {
            flush();
            return;
        }
        line.remove_prefix(line.find_first_not_of(" \t"));
        line = line.substr(0, line.find_last_not_of(" \t\r") + 1);
        if (!paragraph.empty())
            paragraph += ' ';
        paragraph += line;
    });
    flush();
}
