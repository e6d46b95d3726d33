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
// list), notes as "[label] text", NBSP-only rows blank. UTF-8 out; a
// notice is its one row instead.
std::string layout_text(const Document &doc);
// UTF-8 text to the output set: transliterated for ASCII ("Café" -> "Cafe")
// (transliterate.cpp).
std::string to_output_charset(std::string_view utf8, const OutputCharset &out);
// The marker of a list item: "•", "-", "7.", "g.", "G.", "vii.", "VII.".
std::string list_marker(ListStyle style, long number);
// The numbering named as HTML's type and ODF's num-format name it ("1",
// "a", "A", "i", "I"); decimal for any other.
ListStyle numbering_style(std::string_view name);
