// drifterm-convert: documents to plain text.
//
//   bytes --detect_kind--> Kind --format_for--> reader --Document--> write_text
//
// A reader knows its format and nothing of layout: it fills a Document with
// blocks (or a notice). The one writer lays every format out the same way
// and writes it in the locale's character set. Every XML parse goes through
// xml.cpp and every archive read through zip.cpp, so that no reader can
// forget the safe options or the limits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// ---------------------------------------------------------------- blocks

enum class BlockKind {
    heading,
    paragraph,
    list_item,
    quote,
    table_row,
    note,         // "[label] text"
    preformatted, // text written as it is, newlines and all
};

enum class ListStyle { bullet, dash, decimal, lower_alpha, upper_alpha, lower_roman, upper_roman };

struct Block {
    BlockKind kind = BlockKind::paragraph;
    std::string text;                    // UTF-8; runs of white space are collapsed by the writer
    std::vector<std::string> cells;      // table_row: its cells, in order
    ListStyle style = ListStyle::bullet; // list_item
    long number = 0;                     // list_item: its ordinal (the list's start counts from there)
    int depth = 0;                       // list or quote nesting, 0 for the outermost
    std::string label;                   // note: its marker without brackets ("1", "*")
};

struct Document {
    std::vector<Block> blocks;
    std::string notice; // when set, printed instead of the blocks (a line, UTF-8)
};

// The output's character set, from the locale: UTF-8 as it is, ASCII by
// transliteration (C and POSIX), or another set through iconv.
struct OutputCharset {
    bool utf8 = true;
    bool ascii = false;   // transliterate to ASCII
    std::string codeset;  // for iconv when neither of the above
};

// Blocks to text: one row per heading, paragraph, list item, quote, table
// row and note, a blank line between blocks (none between items of one
// list), notes as "[label] text", NBSP-only rows blank. UTF-8 out.
std::string layout_text(const Document &doc);
// UTF-8 text to the output set: transliterated for ASCII ("Café" -> "Cafe").
std::string to_output_charset(std::string_view utf8, const OutputCharset &out);
// The marker of a list item: "•", "-", "7.", "g.", "G.", "vii.", "VII.".
std::string list_marker(ListStyle style, long number);
// The numbering named as HTML's type and ODF's num-format name it ("1",
// "a", "A", "i", "I"); decimal for any other.
ListStyle numbering_style(std::string_view name);

// ---------------------------------------------------------------- charsets

bool valid_utf8(std::string_view bytes);
// Where the run of ASCII bytes from `at` ends: the first byte past it, or the size.
size_t ascii_run_end(std::string_view bytes, size_t at);
// The byte order of UTF-16 text without a BOM ("UTF-16LE"/"UTF-16BE"), or "".
std::string utf16_without_bom(std::string_view bytes);
// The bytes' character set, for iconv: a BOM first, then BOM-less UTF-16,
// valid UTF-8, then uchardet; WINDOWS-1252 for 8-bit text nothing else fits.
std::string detect_charset(std::string_view bytes);
// `bytes` in `charset` as UTF-8; a BOM is dropped, a sequence that is no
// character becomes U+FFFD and the conversion goes on.
std::string to_utf8(std::string_view bytes, const std::string &charset);
// A UTF-8 rendering of one code point (U+FFFD for a value that is none).
void append_utf8(std::string &out, uint32_t code_point);
// Stands in for a sequence iconv cannot convert at the head of `rest`:
// puts its replacement in `replacement` and returns the bytes it covers.
using IconvStandIn = std::function<size_t(std::string_view rest, std::string &replacement)>;
// `bytes` from set `from` to set `to` through iconv, into `out`, each
// sequence it cannot convert replaced by `stand_in`; `restart` puts a
// stateful set back to its start after one. False when iconv knows neither.
bool iconv_convert(std::string_view bytes, const std::string &from, const std::string &to, bool restart,
                   const IconvStandIn &stand_in, std::string &out);

// ---------------------------------------------------------------- limits

// No more than this is expanded from one archive member or compressed
// stream, nor from all the members of one archive together.
constexpr size_t member_limit = size_t{64} << 20;
constexpr size_t archive_limit = size_t{256} << 20;

// ---------------------------------------------------------------- zip

struct ZipArchive; // libzip's archive over bytes in memory, and what was read from it

// Opens the archive held in `bytes` (which must outlive it); nullptr when
// it is not a zip.
ZipArchive *zip_open_bytes(std::string_view bytes);
void zip_close(ZipArchive *zip);
bool zip_has(ZipArchive *zip, const std::string &name);
// Reads the member named exactly `name` (no patterns) into `out`, at most
// member_limit bytes and what is left of archive_limit; false when it is
// absent, unreadable or over a limit.
bool zip_read(ZipArchive *zip, const std::string &name, std::string &out);

// ---------------------------------------------------------------- xml

// libxml2's documents, parsed with the network, DTD loading and entity
// substitution off, and an external-entity loader that refuses everything.
struct _xmlDoc;
struct _xmlNode;
using XmlDoc = _xmlDoc *;
using XmlNode = _xmlNode *;

// Installs the refusing entity loader; main and every test call it first.
void xml_init();
// nullptr when the bytes are not well-formed enough to read.
XmlDoc xml_parse(std::string_view bytes);
// HTML in `encoding` ("" to let libxml2 look for a BOM or <meta charset>).
XmlDoc html_parse(std::string_view bytes, const char *encoding);
void xml_free(XmlDoc doc);
XmlNode xml_root(XmlDoc doc);
// Tree helpers: an element's local name (no prefix) or "", an attribute by
// local name or "", the next element child or sibling, all text within.
std::string xml_name(XmlNode node);
std::string xml_attr(XmlNode node, const char *local_name);
XmlNode xml_first_element(XmlNode node);
XmlNode xml_next_element(XmlNode node);
std::string xml_text(XmlNode node);

// ---------------------------------------------------------------- readers

struct Input {
    std::string_view bytes;     // the whole file
    std::string name;           // its base name, for detection and notices
    const char *path = nullptr; // the file, for a library that reads only by name; nullptr for bytes alone
};

// Each fills `doc` and returns true, or returns false when the bytes turn
// out not to be its format (then nothing is printed). A reader that needs
// a program or library that is missing fills doc.notice instead.
bool read_text(const Input &in, Document &doc);
bool read_html(const Input &in, Document &doc);
bool read_epub(const Input &in, Document &doc);
bool read_docx(const Input &in, Document &doc);
bool read_odt(const Input &in, Document &doc);
bool read_fb2(const Input &in, Document &doc);
bool read_rtf(const Input &in, Document &doc);
bool read_pdf(const Input &in, Document &doc);
bool read_doc(const Input &in, Document &doc);
bool read_mobi(const Input &in, Document &doc);
bool read_djvu(const Input &in, Document &doc);
bool read_chm(const Input &in, Document &doc);
bool read_postscript(const Input &in, Document &doc);
// No known kind and not text: a notice, "no text in NAME (TYPE)".
bool read_binary(const Input &in, Document &doc);

// The HTML walker that the HTML, EPUB (and other book) readers share:
// appends the blocks of the (X)HTML tree under `root` to `doc`.
void html_blocks(XmlNode root, Document &doc);
// HTML or XHTML bytes of any declared or detected encoding to blocks:
// the XML parser first, the HTML one when that fails.
bool html_bytes_blocks(std::string_view bytes, Document &doc);

// ---------------------------------------------------------------- formats

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

// One row of the table of formats (formats.cpp). detect_kind reads the
// recognition fields of every row: content first (magic, zip_mark,
// xml_root), the name second (suffixes).
struct Format {
    Kind kind;
    const char *name;       // "EPUB"; also the TYPE that notices name
    std::string_view magic; // bytes the file holds at magic_at, or empty
    size_t magic_at;
    const char *zip_mark;   // zip member that marks it ("word/document.xml"), or
                            // "mimetype=VALUE" for the mimetype member's content; or nullptr
    const char *xml_root;   // local name of the XML/HTML root element, or nullptr
    const char *suffixes;   // names it goes by, lower case, space separated ("htm html xhtml"), or ""
    const char *needs;      // the library or program it is read with
    const char *package;    // the Debian package that provides that
    bool (*read)(const Input &, Document &); // nullptr: not read here (the filter reads it)
    std::string_view other_magic = {};      // a second mark the format may carry instead, or empty
    size_t other_magic_at = 0;
};

// The kind of the bytes: content first (magic bytes, zip members, XML
// root), then the name. A text named like another format is text.
Kind detect_kind(std::string_view bytes, const std::string &name);
// The table's row for `kind`, or nullptr.
const Format *format_for(Kind kind);
const std::vector<Format> &formats();

// ---------------------------------------------------------------- whole

// The whole conversion of one file's bytes: detected, read and laid out in
// the output set. Returns false, leaving `text` empty, when there is
// nothing to print: a text already fit to show as it is, or no text at all.
bool convert_document(const Input &in, const OutputCharset &out, std::string &text);

// ---------------------------------------------------------------- text helpers (charset.cpp, read_text.cpp)

// The code point at `at` in UTF-8 `text`, and `at` moved past it; a byte
// that starts no valid sequence is U+FFFD and moves `at` by one.
uint32_t next_code_point(std::string_view text, size_t &at);
// The byte order of UTF-32 text without a BOM ("UTF-32LE"/"UTF-32BE"), or "".
std::string utf32_without_bom(std::string_view bytes);
// True for a text to show as it is: valid UTF-8 without a BOM, CR, NUL or
// ISO 2022 escape; `ascii` tells whether it is all ASCII too.
bool text_fit_as_is(std::string_view bytes, bool &ascii);
