// HTML and the books made of it (EPUB, FictionBook, MOBI, CHM): the walk
// from a tree of elements to blocks, by the role that each format's
// grammar gives an element; HTML's grammar; the page's encoding and parse.
// Included by html/ and books/ alone.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "convert/document.h"
#include "convert/readers.h"
#include "convert/xml.h"

// What an element is to the walk.
enum class Role : unsigned char {
    text,       // inline: its text joins the block around it
    skip,       // never shown, nor anything within
    block,      // a paragraph of its own (p, div, section...)
    heading,
    pre,        // its text as it is, line ends and all
    quote,      // the paragraphs within are quotes
    list,       // ul, ol
    item,       // li
    table,
    row,
    cell,
    line_break,
    picture,    // an image: its alt text in brackets, as text browsers show it
    noteref,    // a footnote's marker: "[label]" in the text
    notes,      // a section of notes
    note,       // one note: a note block of all its text
    verse,      // a stanza: its lines as one preformatted block
    verse_line,
};

// The footnotes of one book, across its pages: the label each reference
// gave its target, and the ids of the references themselves (a link in a
// note back to one of them is a back-link, not text).
struct Notes {
    std::unordered_map<std::string, std::string> label_of; // target id -> label
    std::unordered_set<std::string> ref_ids;
    long count = 0; // markers so far: the label of one without a text of its own
};

// Where the walk is, for a grammar that gives roles by context.
struct WalkContext {
    bool in_notes = false; // within a section of notes
    bool in_note = false;
    const Notes *notes = nullptr;
};

struct Grammar {
    Role (*role)(XmlNode element, const WalkContext &at);
    // The label a note gives itself (FictionBook: its title), or "";
    // nullptr when notes take their labels from their references.
    std::string (*own_label)(XmlNode note);
};

// Appends the blocks of the tree under `root` (an element or a whole
// document) to `doc`, without recursion: any depth of nesting is safe
// (walk.cpp).
void walk_blocks(XmlNode root, const Grammar &grammar, Notes &notes, Document &doc);

// HTML's own grammar (grammar.cpp).
extern const Grammar html_grammar;
// Whether a space-separated list ("footnote-ref noteref") holds `token`.
bool has_token(std::string_view list, std::string_view token);
// The fragment a link's href points to ("n1" of "ch2.xhtml#n1"), or "".
std::string link_target(XmlNode link);
// A marker's text without the brackets it may bring ("[1]", "{1}", "(1)").
std::string marker_label(std::string_view text);

// HTML or XHTML bytes to blocks, notes shared with the other pages of a
// book; false when neither parser makes anything of them, and then
// `too_large` tells whether they hold too much markup (read_html.cpp).
bool html_bytes_walk(std::string_view bytes, Notes &notes, Document &doc, bool *too_large = nullptr);
// The same for a page of its own.
bool html_bytes_blocks(std::string_view bytes, Document &doc, bool *too_large = nullptr);
// A book's reader stopped at a part of too much markup: what came before
// it, then the line saying so past `place`, the last part read whole; the
// notice when nothing came.
ReadResult book_stopped(Document &doc, const Input &in, const char *type, const std::string &place);

// The encoding that the bytes declare: a BOM, the byte pattern of UTF-16,
// the XML declaration, then <meta charset> or its http-equiv form; ""
// (encoding.cpp).
std::string declared_encoding(std::string_view bytes);
// The bytes as the HTML parser should see them in `encoding`: converted to
// UTF-8 when that is not ASCII-compatible or a wider code page stands for
// it (so `encoding` becomes "UTF-8"),
// without a UTF-8 BOM or an inline DTD (which that parser shows as text).
std::string html_parser_input(std::string_view bytes, std::string &encoding);
// The bytes parsed as XML, else as HTML in the encoding they declare,
// under an <html> root of its own when `html_root` and they have none
// (such a page nested past the parser's depth read flat: its words
// without its structure); nullptr when neither parser makes anything of
// them, `too_large` set when they hold more than max_elements elements.
XmlDoc markup_parse(std::string_view bytes, bool html_root, bool *too_large = nullptr);
