// DjVu books: the text layer of each page through libdjvulibre's ddjvuapi,
// its lines joined into paragraphs, a notice in place of a page without
// one. The decoder is given the bytes as a stream, so an indirect book
// that names other files is never let read them.
#include <algorithm>
#include <cctype>
#include <ctime>
#include <libdjvu/ddjvuapi.h>
#include <libdjvu/miniexp.h>

#include "convert/convert.h"

namespace {

// A line of a page's text layer: its text, its box (y grows upward) and
// the zone that holds it, when that is a paragraph, region or column.
struct TextLine {
    std::string text;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int group = -1;         // lines of one zone share it; -1 for none
    bool paragraph = false; // that zone is a paragraph: no need to split it
};

struct PageWalk {
    std::vector<TextLine> lines;
    int groups = 0;
    size_t budget = 0; // bytes of text still allowed
};

// Zones nest page, column, region, paragraph, line, word, character.
constexpr int max_zone_depth = 16;

long long now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Answers the decoder's messages: a request for another file of an
// indirect book is refused at once. Waits a little when there is none.
void djvu_messages(ddjvu_context_t *ctx)
{
    const ddjvu_message_t *msg = ddjvu_message_peek(ctx);
    if (msg == nullptr) {
        struct timespec pause = {0, 200 * 1000};
        nanosleep(&pause, nullptr);
        return;
    }
    while (msg != nullptr) {
        if (msg->m_any.tag == DDJVU_NEWSTREAM && msg->m_newstream.streamid != 0)
            ddjvu_stream_close(msg->m_any.document, msg->m_newstream.streamid, 1);
        ddjvu_message_pop(ctx);
        msg = ddjvu_message_peek(ctx);
    }
}

void add_line(PageWalk &walk, std::string text, const int box[4], int group, bool paragraph)
{
    if (text.size() > walk.budget)
        text.resize(walk.budget);
    walk.budget -= text.size();
    walk.lines.push_back(TextLine{std::move(text), box[0], box[1], box[2], box[3], group, paragraph});
}

std::string_view zone_string(miniexp_t item)
{
    const char *s = nullptr;
    size_t length = miniexp_to_lstr(item, &s);
    return s ? std::string_view(s, length) : std::string_view();
}

// All the text within a line zone, its words joined by spaces.
void zone_text(miniexp_t zone, int depth, std::string &out)
{
    if (depth > max_zone_depth)
        return;
    for (miniexp_t rest = miniexp_cdr(zone); miniexp_consp(rest); rest = miniexp_cdr(rest)) {
        miniexp_t item = miniexp_car(rest);
        if (miniexp_stringp(item)) {
            if (!out.empty())
                out += ' ';
            out += zone_string(item);
        } else if (miniexp_consp(item)) {
            zone_text(item, depth + 1, out);
        }
    }
}

// A layer that stops above the lines holds its text as one string with
// the format's separators: line feed ends a line; unit separator, group
// separator and vertical tab end a paragraph, region and column.
void coarse_lines(PageWalk &walk, std::string_view text, const int box[4])
{
    int group = walk.groups++;
    std::string line;
    auto end_line = [&]() {
        if (!line.empty())
            add_line(walk, line, box, group, true);
        line.clear();
    };
    for (char c : text) {
        if (c == '\n') {
            if (line.empty())
                group = walk.groups++; // a blank line ends a paragraph too
            end_line();
        } else if (c == '\037' || c == '\035' || c == '\013') {
            end_line();
            group = walk.groups++;
        } else {
            line += c;
        }
    }
    end_line();
}

void walk_zone(PageWalk &walk, miniexp_t zone, int depth, int group, bool paragraph)
{
    if (depth > max_zone_depth || !miniexp_consp(zone) || !miniexp_symbolp(miniexp_car(zone)))
        return;
    std::string_view kind = miniexp_to_name(miniexp_car(zone));
    miniexp_t rest = miniexp_cdr(zone);
    int box[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4 && miniexp_consp(rest); ++i, rest = miniexp_cdr(rest))
        if (miniexp_numberp(miniexp_car(rest)))
            box[i] = miniexp_to_int(miniexp_car(rest));
    if (kind == "line" || kind == "word" || kind == "char") {
        std::string text;
        zone_text(zone, depth, text);
        add_line(walk, std::move(text), box, group, paragraph);
        return;
    }
    if (kind == "para" || kind == "region" || kind == "column") {
        group = walk.groups++;
        paragraph = kind == "para";
    }
    for (; miniexp_consp(rest); rest = miniexp_cdr(rest)) {
        miniexp_t item = miniexp_car(rest);
        if (miniexp_stringp(item))
            coarse_lines(walk, zone_string(item), box);
        else
            walk_zone(walk, item, depth + 1, group, paragraph);
    }
}

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

bool ends_sentence(std::string_view text)
{
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (text.ends_with("\xe2\x80\x9d")) // a closing quotation mark
        return true;
    return !text.empty() && std::string_view(".!?:\")").find(text.back()) != std::string_view::npos;
}

// Where a new paragraph begins within lines of one zone that is not a
// paragraph, from the layout: a line that is not below the last (a new
// column), a gap wider than the page's usual spacing, an indented first
// line, or a short line that ends a sentence.
std::vector<bool> layout_breaks(const std::vector<TextLine> &lines)
{
    std::vector<bool> breaks(lines.size(), false);
    if (lines.size() < 2)
        return breaks;
    std::vector<int> heights, pitches, char_widths;
    int left = lines[0].x0, right = lines[0].x1;
    for (size_t i = 0; i < lines.size(); ++i) {
        const TextLine &l = lines[i];
        heights.push_back(l.y1 - l.y0);
        char_widths.push_back((l.x1 - l.x0) / static_cast<int>(std::max<size_t>(1, code_points(l.text))));
        left = std::min(left, l.x0);
        right = std::max(right, l.x1);
        if (i > 0) {
            int pitch = (lines[i - 1].y0 + lines[i - 1].y1) / 2 - (l.y0 + l.y1) / 2;
            if (pitch > 0)
                pitches.push_back(pitch);
        }
    }
    const int height = median(heights, 0);
    const int pitch = median(pitches, height + height / 5);
    const int em = std::max(1, median(char_widths, 1));
    if (height <= 0)
        return breaks; // no layout to go by
    for (size_t i = 1; i < lines.size(); ++i) {
        const TextLine &a = lines[i - 1], &b = lines[i];
        int step = (a.y0 + a.y1) / 2 - (b.y0 + b.y1) / 2;
        bool new_column = step <= 0;
        bool gap = step * 2 > pitch * 3;
        bool indent = b.x0 - left > 2 * em && a.x0 - left <= em;
        bool short_end = a.x1 < right - 6 * em && ends_sentence(a.text);
        breaks[i] = new_column || gap || indent || short_end;
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

std::vector<std::string> page_paragraphs(const std::vector<TextLine> &lines)
{
    std::vector<std::string> paragraphs;
    size_t start = 0;
    while (start < lines.size()) {
        size_t end = start + 1;
        while (end < lines.size() && lines[end].group == lines[start].group)
            ++end;
        std::vector<TextLine> zone(lines.begin() + static_cast<long>(start), lines.begin() + static_cast<long>(end));
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

// Form feeds and the other control characters a layer may hold are no text.
std::string clean_text(std::string text)
{
    for (char &c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return valid_utf8(text) ? text : to_utf8(text, "UTF-8");
}

void add_paragraph(Document &doc, std::string text)
{
    Block block;
    block.text = std::move(text);
    doc.blocks.push_back(block);
}

// The text of page `page`, or false when it has no text layer (or the
// time is up).
bool page_text(ddjvu_context_t *ctx, ddjvu_document_t *document, int page, long long deadline, PageWalk &walk)
{
    miniexp_t text;
    while ((text = ddjvu_document_get_pagetext(document, page, "line")) == miniexp_dummy) {
        if (now_ms() > deadline)
            return false;
        djvu_messages(ctx);
    }
    walk.lines.clear();
    walk.groups = 0;
    if (miniexp_consp(text))
        walk_zone(walk, text, 0, -1, false);
    ddjvu_miniexp_release(document, text);
    for (const TextLine &line : walk.lines)
        if (line.text.find_first_not_of(" \t\r\n\f\v") != std::string::npos)
            return true;
    return false;
}

} // namespace

bool read_djvu(const Input &in, Document &doc)
{
    std::string_view form = in.bytes.size() >= 16 ? in.bytes.substr(12, 4) : std::string_view();
    if (!in.bytes.starts_with("AT&TFORM") || (form != "DJVU" && form != "DJVM"))
        return false;
    const long long deadline = now_ms() + static_cast<long long>(child_seconds) * 1000;
    ddjvu_context_t *ctx = ddjvu_context_create("drifterm-convert");
    if (ctx == nullptr)
        return false;
    ddjvu_document_t *document = ddjvu_document_create(ctx, nullptr, 0);
    if (document == nullptr) {
        ddjvu_context_release(ctx);
        return false;
    }
    ddjvu_stream_write(document, 0, in.bytes.data(), in.bytes.size());
    ddjvu_stream_close(document, 0, 0);
    while (!ddjvu_document_decoding_done(document) && now_ms() <= deadline)
        djvu_messages(ctx);

    const bool decoded = ddjvu_document_decoding_status(document) == DDJVU_JOB_OK;
    const int pages = decoded ? ddjvu_document_get_pagenum(document) : 0;
    PageWalk walk;
    walk.budget = archive_limit;
    int with_text = 0;
    for (int page = 0; page < pages && now_ms() <= deadline && walk.budget > 0; ++page) {
        if (!page_text(ctx, document, page, deadline, walk)) {
            add_paragraph(doc, "page " + std::to_string(page + 1) + " of " + in.name + " has no text layer");
            continue;
        }
        ++with_text;
        for (std::string &paragraph : page_paragraphs(walk.lines))
            add_paragraph(doc, clean_text(std::move(paragraph)));
    }
    ddjvu_document_release(document);
    ddjvu_context_release(ctx);
    if (with_text == 0) {
        doc.blocks.clear();
        doc.notice = decoded ? in.name + " has no text layer" : notice_no_text(in.name, "DjVu");
    }
    return true;
}
