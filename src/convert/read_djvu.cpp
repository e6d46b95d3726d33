// DjVu books: the text layer of each page through libdjvulibre's ddjvuapi,
// its lines joined into paragraphs, a notice in place of a page without
// one. The decoder is given the bytes as a stream, so an indirect book
// that names other files is never let read them.
#include <ctime>
#include <libdjvu/ddjvuapi.h>
#include <libdjvu/miniexp.h>

#include <string>
#include <vector>

#include "convert/notices.h"
#include "convert/page_rows.h"
#include "convert/process.h"
#include "convert/readers.h"
#include "convert/zip.h"

namespace {

struct PageWalk {
    std::vector<LaidOutLine> lines;
    int groups = 0;
    size_t budget = 0; // bytes of text still allowed
};

// Zones nest page, column, region, paragraph, line, word, character.
constexpr int max_zone_depth = 16;

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
    walk.lines.push_back(LaidOutLine{std::move(text), box[0], box[1], box[2], box[3], group, paragraph});
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

// The text of page `page`, or false when it has no text layer (or the
// time is up).
bool page_text(ddjvu_context_t *ctx, ddjvu_document_t *document, int page, long long deadline, PageWalk &walk)
{
    miniexp_t text;
    while ((text = ddjvu_document_get_pagetext(document, page, "line")) == miniexp_dummy) {
        if (clock_ms() > deadline)
            return false;
        djvu_messages(ctx);
    }
    walk.lines.clear();
    walk.groups = 0;
    if (miniexp_consp(text))
        walk_zone(walk, text, 0, -1, false);
    ddjvu_miniexp_release(document, text);
    for (const LaidOutLine &line : walk.lines)
        if (line.text.find_first_not_of(" \t\r\n\f\v") != std::string::npos)
            return true;
    return false;
}

// An indirect book keeps its pages in files of their own, which are never
// read: no text can come of it, and djvulibre, asked for them, may loop on
// their names ("../../x").
bool indirect_book(std::string_view bytes)
{
    return bytes.size() > 24 && bytes.substr(12, 4) == "DJVM" && bytes.substr(16, 4) == "DIRM" &&
           (static_cast<unsigned char>(bytes[24]) & 0x80) == 0;
}

} // namespace

ReadResult read_djvu(const Input &in, Document &doc)
{
    std::string_view form = in.bytes.size() >= 16 ? in.bytes.substr(12, 4) : std::string_view();
    if (!in.bytes.starts_with("AT&TFORM") || (form != "DJVU" && form != "DJVM"))
        return ReadResult::not_this_format;
    if (indirect_book(in.bytes))
        return notice(doc, NoticeKind::no_text_layer, in.name);
    const long long deadline = clock_ms() + static_cast<long long>(child_seconds) * 1000;
    ddjvu_context_t *ctx = ddjvu_context_create("drifterm-convert");
    if (ctx == nullptr)
        return notice(doc, NoticeKind::no_text, in.name, "DjVu");
    ddjvu_document_t *document = ddjvu_document_create(ctx, nullptr, 0);
    if (document == nullptr) {
        ddjvu_context_release(ctx);
        return notice(doc, NoticeKind::no_text, in.name, "DjVu");
    }
    ddjvu_stream_write(document, 0, in.bytes.data(), in.bytes.size());
    ddjvu_stream_close(document, 0, 0);
    while (!ddjvu_document_decoding_done(document) && clock_ms() <= deadline)
        djvu_messages(ctx);

    const bool decoded = ddjvu_document_decoding_status(document) == DDJVU_JOB_OK;
    const int pages = decoded ? ddjvu_document_get_pagenum(document) : 0;
    PageWalk walk;
    walk.budget = archive_limit;
    int with_text = 0;
    for (int page = 0; page < pages && clock_ms() <= deadline && walk.budget > 0; ++page) {
        if (!page_text(ctx, document, page, deadline, walk)) {
            paragraph_list_blocks({"page " + std::to_string(page + 1) + " of " + in.name + " has no text layer"}, doc);
            continue;
        }
        ++with_text;
        // Form feeds and the other control characters a layer may hold
        // are no text.
        paragraph_list_blocks(layout_paragraphs(walk.lines), doc);
        document_flush(doc, "page " + std::to_string(page + 1));
    }
    ddjvu_document_release(document);
    ddjvu_context_release(ctx);
    if (with_text > 0)
        return ReadResult::read;
    doc.blocks.clear();
    return decoded ? notice(doc, NoticeKind::no_text_layer, in.name) : notice(doc, NoticeKind::no_text, in.name, "DjVu");
}
