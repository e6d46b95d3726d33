// The table of formats: one row each, saying how a kind is recognised,
// what reads it and which Debian package provides that. Adding a format
// is a row here, a reader, a detection row and a reader row in the tests.
#include "convert/convert.h"

const std::vector<Format> &formats()
{
    static const std::vector<Format> table = {
        {Kind::epub, "EPUB", "zip with mimetype application/epub+zip or META-INF/container.xml; *.epub",
         "libxml2, libzip", "libxml2, libzip4", read_epub},
        {Kind::docx, "DOCX", "zip with word/document.xml; *.docx", "libxml2, libzip", "libxml2, libzip4", read_docx},
        {Kind::odt, "ODT", "zip with mimetype application/vnd.oasis.opendocument.text; *.odt", "libxml2, libzip",
         "libxml2, libzip4", read_odt},
        {Kind::fb2, "FictionBook", "XML root <FictionBook>; *.fb2", "libxml2", "libxml2", read_fb2},
        {Kind::html, "HTML", "<!DOCTYPE html>, <html> or an XHTML root; *.html, *.htm, *.xhtml", "libxml2", "libxml2",
         read_html},
        {Kind::rtf, "RTF", "{\\rtf; *.rtf", "its own reader", "", read_rtf},
        {Kind::text, "text", "no NUL bytes, or UTF-16; any name", "uchardet, iconv", "libuchardet0, libc6", read_text},
        {Kind::pdf, "PDF", "%PDF-; *.pdf", "pdftotext (in the filter)", "poppler-utils", nullptr},
        {Kind::gzip, "gzip", "1f 8b; *.gz", "gzip (in the filter)", "gzip", nullptr},
        {Kind::bzip2, "bzip2", "BZh; *.bz2", "bzip2 (in the filter)", "bzip2", nullptr},
        {Kind::xz, "xz", "fd 37 7a 58 5a 00; *.xz", "xz (in the filter)", "xz-utils", nullptr},
        {Kind::zstd, "zstd", "28 b5 2f fd; *.zst", "zstd (in the filter)", "zstd", nullptr},
    };
    return table;
}

const Format *format_for(Kind kind)
{
    for (const Format &f : formats())
        if (f.kind == kind)
            return &f;
    return nullptr;
}
