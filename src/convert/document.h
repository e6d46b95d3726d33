// The document every reader fills and the one writer that lays it out:
// blocks in reading order, then rows of text in the output's set.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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

// Rows laid out so far, and the block the last of them came from: a
// confined reader's blocks are laid out as they come from its child, so
// that a document of millions of them is never held as blocks.
struct LaidOut {
    std::string text;
    bool any = false;                      // a row was written
    BlockKind last = BlockKind::paragraph; // the block of the last row
};

struct Document {
    std::vector<Block> blocks;
    std::string notice;     // when set, printed instead of the blocks (a line, UTF-8)
    LaidOut laid_out;       // rows that come before the blocks (read_confined)
    size_t blocks_sent = 0; // blocks already handed to the parent (document_flush)
};

// Whether the reader has made any block, those already sent or laid out
// included.
inline bool document_has_blocks(const Document &doc)
{
    return !doc.blocks.empty() || doc.blocks_sent > 0 || doc.laid_out.any;
}
// Inside a confined reader's child (process.h, read_confined): hands the
// blocks made so far but the last `keep` to the parent and drops them,
// `place` naming what has been read whole ("chapter 3"). Should the child
// then crash or reach a limit, the parent shows them, then a line saying
// it stopped past `place` and why. A reader calls it where its blocks are
// final: none of them will change, move or be looked at again but the
// last `keep`. Outside a child it does nothing.
void document_flush(Document &doc, const std::string &place, size_t keep = 0);
// A reader's own line at the end of what it read, when it stopped early:
// "NAME could not be read past PLACE (TYPE): REASON", as a paragraph.
void document_stop(Document &doc, const std::string &name, const char *type, const std::string &place,
                   const char *reason);

// The output's character set, from the locale: UTF-8 as it is, ASCII by
// transliteration (C and POSIX), or another set through iconv.
struct OutputCharset {
    bool utf8 = true;
    bool ascii = false;   // transliterate to ASCII
    std::string codeset;  // for iconv when neither of the above
};

// Blocks to text: one row per heading, paragraph, list item, quote, table
// row and note, a blank line between blocks (none between items of one
// list), notes as "[label] text", NBSP-only rows blank. UTF-8 out, after
// the rows laid out already; a notice is its one row instead.
std::string layout_text(const Document &doc);
// The same, taking the rows laid out already rather than copying them.
std::string layout_text(Document &&doc);
// Appends the row of `block` to `layout`.
void layout_append(LaidOut &layout, const Block &block);
// UTF-8 text to the output set: transliterated for ASCII ("Café" -> "Cafe")
// (transliterate.cpp).
std::string to_output_charset(std::string_view utf8, const OutputCharset &out);
// The marker of a list item: "•", "-", "7.", "g.", "G.", "vii.", "VII.".
std::string list_marker(ListStyle style, long number);
// The numbering named as HTML's type and ODF's num-format name it ("1",
// "a", "A", "i", "I"); decimal for any other.
ListStyle numbering_style(std::string_view name);
