// The table of formats, one row each: how a kind is recognised, what reads
// it and which Debian package provides that. The filter (through --kind),
// --formats, the fuzz target, the README and the manual page all go by it;
// HACKING.md says what else a new format needs.
#include "convert/formats.h"

using namespace std::string_view_literals;

const std::vector<Format> &formats()
{
    // kind, id, name, magic, at, zip mark, XML root, suffixes, needs, package, reader;
    // then, where they are not their defaults: a second mark and its offset,
    // text_by_name, confines_itself, library_data, by_path (formats.h)
    static const std::vector<Format> table = {
        {Kind::epub, "epub", "EPUB", {}, 0, "mimetype=application/epub+zip", nullptr, "epub", "libxml2, libzip",
         "libxml2, libzip4", read_epub},
        {Kind::docx, "docx", "DOCX", {}, 0, "word/document.xml", nullptr, "docx", "libxml2, libzip", "libxml2, libzip4",
         read_docx},
        {Kind::odt, "odt", "ODT", {}, 0, "mimetype=application/vnd.oasis.opendocument.text", nullptr, "odt",
         "libxml2, libzip", "libxml2, libzip4", read_odt},
        {Kind::fb2, "fb2", "FictionBook", {}, 0, nullptr, "FictionBook", "fb2", "libxml2", "libxml2", read_fb2},
        {Kind::html, "html", "HTML", {}, 0, nullptr, "html", "htm html xhtml", "libxml2", "libxml2", read_html},
        {Kind::rtf, "rtf", "RTF", "{\\rtf"sv, 0, nullptr, nullptr, "rtf", "its own reader", "", read_rtf},
        {Kind::pdf, "pdf", "PDF", "%PDF-"sv, 0, nullptr, nullptr, "pdf", "libpoppler", "libpoppler126", read_pdf,
         {}, 0, false, true},
        {Kind::doc, "doc", "Word document", "\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1"sv, 0, nullptr, nullptr, "doc dot",
         "libgsf; antiword, else catdoc, for Word 6 and 95", "libgsf-1-114, antiword, catdoc", read_doc,
         {}, 0, false, true},
        // PalmDOC books carry "TEXtREAd" instead, DOS EPS files a binary header.
        {Kind::mobi, "mobi", "MOBI", "BOOKMOBI"sv, 60, nullptr, nullptr, "mobi azw azw3 prc", "libmobi", "libmobi0",
         read_mobi, "TEXtREAd"sv, 60},
        {Kind::djvu, "djvu", "DjVu", "AT&TFORM"sv, 0, nullptr, nullptr, "djvu djv", "libdjvulibre", "libdjvulibre21",
         read_djvu, {}, 0, false, false, "/usr/share/djvu"},
        {Kind::chm, "chm", "CHM", "ITSF"sv, 0, nullptr, nullptr, "chm", "libchm", "libchm1", read_chm, {}, 0,
         false, false, nullptr, true},
        {Kind::postscript, "postscript", "PostScript", "%!PS"sv, 0, nullptr, nullptr, "ps eps epsf epsi",
         "gs (to PDF), then libpoppler", "ghostscript", read_postscript, "\xc5\xd0\xd3\xc6"sv, 0, false, true},
        // compress(1)'s .Z files too, which gzip undoes.
        {Kind::gzip, "gzip", "gzip", "\x1f\x8b"sv, 0, nullptr, nullptr, "gz z", "gzip (in the filter)", "gzip", nullptr,
         "\x1f\x9d"sv, 0},
        {Kind::bzip2, "bzip2", "bzip2", "BZh"sv, 0, nullptr, nullptr, "bz2", "bzip2 (in the filter)", "bzip2", nullptr},
        {Kind::xz, "xz", "xz", "\xfd" "7zXZ\0"sv, 0, nullptr, nullptr, "xz lzma", "xz (in the filter)", "xz-utils",
         nullptr},
        {Kind::zstd, "zstd", "zstd", "\x28\xb5\x2f\xfd"sv, 0, nullptr, nullptr, "zst", "zstd (in the filter)", "zstd",
         nullptr},
        // Last: what is left, when it holds no NUL bytes or is UTF-16.
        {Kind::text, "text", "text", {}, 0, nullptr, nullptr, "", "uchardet, iconv", "libuchardet0, libc6", read_text},
        // What is left and is not text: a notice naming what it looks like.
        {Kind::binary, "binary", "binary data", {}, 0, nullptr, nullptr, "", "its own magic list", "", read_binary},
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

std::vector<std::string_view> format_suffixes(const Format &f)
{
    std::vector<std::string_view> names;
    for (std::string_view list = f.suffixes ? f.suffixes : ""; !list.empty();) {
        size_t space = list.find(' ');
        names.push_back(list.substr(0, space));
        list = space == std::string_view::npos ? std::string_view() : list.substr(space + 1);
    }
    return names;
}
