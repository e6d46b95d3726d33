// The table of formats, one row each, and the detection that reads it:
// how a kind is recognised, what reads it, and which package provides that.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "convert/readers.h"

enum class Kind {
    unknown,
    text,
    html,
    epub,
    docx,
    odt,
    fb2,
    rtf,
    pdf,
    doc,
    mobi,
    djvu,
    chm,
    postscript,
    gzip,
    bzip2,
    xz,
    zstd,
    binary, // no known kind, and not text
};

// One row of the table (formats.cpp). detect_kind reads the recognition
// fields of every row: content first (magic, zip_mark, xml_root), the
// name second (suffixes).
struct Format {
    Kind kind;
    const char *id;         // "epub": the word --kind prints, for the filter
    const char *name;       // "EPUB"; also the TYPE that notices name
    std::string_view magic; // bytes the file holds at magic_at, or empty
    size_t magic_at;
    const char *zip_mark;   // zip member that marks it ("word/document.xml"), or
                            // "mimetype=VALUE" for the mimetype member's content; or nullptr
    const char *xml_root;   // local name of the XML/HTML root element, or nullptr
    const char *suffixes;   // names it goes by, lower case, space separated ("htm html xhtml"), or ""
    const char *needs;      // the library or program it is read with
    const char *package;    // the Debian package that provides that
    ReadFunction read;      // nullptr: not read here (the filter reads it)
    std::string_view other_magic = {}; // a second mark the format may carry instead, or empty
    size_t other_magic_at = 0;
    bool text_by_name = false; // a format written as text, with no mark of its own: its
                               // suffixes alone choose it, when the bytes look like text
    // How its reader runs. Every reader runs in a confined child (process.h)
    // but one that confines its own children: the programs it runs, its
    // pool of workers.
    bool confines_itself = false;
    const char *library_data = nullptr; // a folder its library reads by itself, read-only to the child
    bool by_path = false;               // its library opens the document only by name
};

// The names a format goes by, each a suffix without its dot.
std::vector<std::string_view> format_suffixes(const Format &f);
// The kind of the bytes: content first (magic bytes, zip members, XML
// root), then the name. A text named like another format is text.
Kind detect_kind(std::string_view bytes, const std::string &name);
// What bytes of no kind read here look like ("PNG image", "ELF
// executable"), by their magic; nullptr when nothing tells (read_binary.cpp).
const char *binary_type(std::string_view bytes);
// The table's row for `kind`, or nullptr.
const Format *format_for(Kind kind);
const std::vector<Format> &formats();
