// Kindle and Mobipocket books (MOBI, AZW, AZW3, PRC) through libmobi: the
// HTML it rebuilds from the text records goes through the HTML walk, its
// parts sharing the book's notes.
// PalmDOC books hold plain text instead.
#include <cstdio>
#include <mobi.h>

#include "convert/books/books.h"
#include "convert/charset.h"
#include "convert/document.h"
#include "convert/html/html.h"
#include "convert/notices.h"
#include "convert/page_rows.h"
#include "convert/zip.h"

using namespace std::string_view_literals;

namespace {

MOBIData *mobi_open(std::string_view bytes)
{
    MOBIData *m = mobi_init();
    if (m == nullptr)
        return nullptr;
    // Read from the bytes in memory: the book never needs a file name.
    FILE *stream = fmemopen(const_cast<char *>(bytes.data()), bytes.size(), "rb");
    MOBI_RET loaded = stream ? mobi_load_file(m, stream) : MOBI_ERROR;
    if (stream)
        fclose(stream);
    if (loaded != MOBI_SUCCESS || m->rh == nullptr) {
        mobi_free(m);
        return nullptr;
    }
    return m;
}

// The whole text, records unpacked, as the book has it.
bool mobi_raw_text(const MOBIData *m, size_t size, std::string &text)
{
    text.assign(size + 1, '\0');
    size_t length = size;
    if (mobi_get_rawml(m, text.data(), &length) != MOBI_SUCCESS || length > size)
        return false;
    text.resize(length);
    return true;
}

// A KF7 book's HTML is one part; a KF8 one's are its spine's files, which
// libmobi rebuilds from skeleton and fragments in skeleton order, the
// order of the spine. Its parts are UTF-8 (libmobi converts CP1252).
bool mobi_markup(const MOBIData *m, std::vector<std::string> &html)
{
    MOBIRawml *rawml = mobi_init_rawml(m);
    if (rawml == nullptr)
        return false;
    // Links, the OPF and the aid attributes are left as they are: the text
    // needs none of them, and rebuilding a KF8 link to a fragment the book
    // lacks fails the whole book.
    bool parsed = mobi_parse_rawml_opt(rawml, m, false, false, false) == MOBI_SUCCESS;
    size_t total = 0;
    for (const MOBIPart *part = parsed ? rawml->markup : nullptr; part; part = part->next) {
        if (part->type != T_HTML || part->data == nullptr)
            continue;
        total += part->size;
        if (part->size > member_limit || total > archive_limit)
            break;
        html.emplace_back(reinterpret_cast<const char *>(part->data), part->size);
    }
    mobi_free_rawml(rawml);
    return parsed;
}

} // namespace

bool mobi_text(const Input &in, MobiText &book)
{
    book = MobiText{};
    if (in.bytes.size() < 68)
        return false;
    std::string_view type = in.bytes.substr(60, 8);
    if (type != "BOOKMOBI"sv && type != "TEXtREAd"sv)
        return false;
    MOBIData *m = mobi_open(in.bytes);
    if (m == nullptr) {
        book.notice = notice_text(NoticeKind::no_text, in.name, "MOBI");
        return true;
    }
    // The records' claim of their unpacked size is checked before libmobi
    // allocates it.
    const size_t size = mobi_get_text_maxsize(m);
    bool read = false;
    if (mobi_is_encrypted(m))
        book.notice = notice_text(NoticeKind::drm, in.name);
    else if (size == 0 || size > member_limit)
        read = false;
    else if (type == "TEXtREAd"sv || !mobi_is_mobipocket(m))
        read = mobi_raw_text(m, size, book.text);
    else
        read = mobi_markup(m, book.html);
    mobi_free(m);
    if (!read && book.notice.empty())
        book.notice = notice_text(NoticeKind::no_text, in.name, "MOBI");
    return true;
}

ReadResult read_mobi(const Input &in, Document &doc)
{
    MobiText book;
    if (!mobi_text(in, book))
        return ReadResult::not_this_format;
    if (!book.notice.empty()) {
        doc.notice = book.notice;
        return ReadResult::notice;
    }
    if (!book.html.empty()) {
        // A BOM says UTF-8 to both of the HTML reader's parsers, over any
        // charset the markup still declares from before libmobi's conversion.
        // A note's text may stand in another part than its marker.
        Notes notes;
        for (size_t k = 0; k < book.html.size(); k++) {
            bool too_large = false;
            html_bytes_walk("\xef\xbb\xbf" + book.html[k], notes, doc, &too_large);
            if (too_large)
                return book_stopped(doc, in, "MOBI", "part " + std::to_string(k));
            document_flush(doc, "part " + std::to_string(k + 1));
        }
    } else {
        std::string charset = detect_charset(book.text);
        std::string text = to_utf8(book.text, charset.empty() ? "WINDOWS-1252" : charset);
        // Hard-wrapped texts part their paragraphs with blank lines; the
        // others hold a paragraph a line.
        if (text.find("\n\n") != std::string::npos || text.find("\r\n\r\n") != std::string::npos)
            paragraph_blocks(text, doc);
        else
            line_blocks(text, doc);
    }
    if (!document_has_blocks(doc))
        return notice(doc, NoticeKind::no_text, in.name, "MOBI");
    return ReadResult::read;
}
