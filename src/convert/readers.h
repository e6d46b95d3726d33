// The readers, one per format: each knows its format and nothing of
// layout, and fills a Document with blocks, or gives a notice instead.
#pragma once

#include <string>
#include <string_view>

struct Document;

struct Input {
    std::string_view bytes;     // the whole file
    std::string name;           // its base name, for detection and notices
    const char *path = nullptr; // the file, for a program that reads only by name; nullptr for bytes alone
};

// How a reader ends: the document read (its blocks, which may be none),
// the bytes not of its format after all (the text reader or the binary
// notice then has them), or a notice in the document (notices.h).
enum class ReadResult { read, not_this_format, notice };

using ReadFunction = ReadResult (*)(const Input &in, Document &doc);

ReadResult read_text(const Input &in, Document &doc);
ReadResult read_html(const Input &in, Document &doc);
ReadResult read_epub(const Input &in, Document &doc);
ReadResult read_docx(const Input &in, Document &doc);
ReadResult read_odt(const Input &in, Document &doc);
ReadResult read_fb2(const Input &in, Document &doc);
ReadResult read_rtf(const Input &in, Document &doc);
ReadResult read_pdf(const Input &in, Document &doc);
ReadResult read_doc(const Input &in, Document &doc);
ReadResult read_mobi(const Input &in, Document &doc);
ReadResult read_djvu(const Input &in, Document &doc);
ReadResult read_chm(const Input &in, Document &doc);
ReadResult read_postscript(const Input &in, Document &doc);
// No known kind and not text: a notice, "no text in NAME (TYPE)".
ReadResult read_binary(const Input &in, Document &doc);
