// What the office readers (DOCX, ODT, RTF, Word) share (office.cpp).
// Included by office/ alone.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/document.h"
#include "convert/readers.h"
#include "convert/xml.h"

struct ZipArchive;

// Deeper than any real document nests; the parser refuses far less anyway.
constexpr int office_max_depth = 100;

// A paragraph being gathered, and what follows it: its notes, and the
// paragraphs of its text boxes and frames.
struct Para {
    std::string text;
    std::vector<Block> after;
};

// A character of the Symbol font by its code (0x20..0xFF) in UTF-8: Greek
// letters, bullets, arrows and signs; "" for a code without a meaning.
std::string symbol_font_text(unsigned code);
// A bullet's own character to the list style that shows it: dash for a
// dash-like one, bullet for anything else.
ListStyle bullet_style(std::string_view bullet_text);
// All the text of `blocks` as one line, table cells included: a note's
// paragraphs, a table cell's nested content.
std::string blocks_text(const std::vector<Block> &blocks);
// Appends a table row of `cells` to `blocks`, trailing empty cells dropped;
// a row with no text at all is not appended.
void append_table_row(std::vector<Block> &blocks, std::vector<std::string> cells);
// The label of the n-th endnote (from 1): lower roman, "i", "ii", "iii".
std::string endnote_label(long n);
// A decimal number in `text` (leading blanks and a sign allowed), clamped to
// a billion either way so that counting on from it cannot overflow;
// `fallback` when there is none.
long office_number(std::string_view text, long fallback);
// The children of `node` named `want`, and those of the children named in
// `wrappers` (space separated: "sdt sdtContent"), at any depth below a limit.
void office_collect(XmlNode node, const char *want, std::string_view wrappers, std::vector<XmlNode> &found);
// A table cell's text from the blocks read in it; its notes are moved to
// `notes`, to follow the row.
std::string office_cell_text(std::vector<Block> &content, std::vector<Block> &notes);
// The counters of one list, a level each: an item counts on from the last
// of its level, or from `start` when its level starts afresh (as every
// level deeper than an item's does after it); `set_to` >= 0 sets the count.
constexpr int office_levels = 10;
struct ListCounters {
    bool started[office_levels] = {};
    long value[office_levels] = {};
};
long office_count(ListCounters &counters, int level, long start, long set_to);
// Member `name` of `zip` parsed, or nullptr.
XmlDocPtr office_parse_member(ZipArchive *zip, const char *name);
// What a document's parts (paragraphs, the body's children) may number: a
// quarter of a million, and one more for each 8 bytes of text they made,
// so that a flood of empty ones ends early and honest text reads whole.
struct PartBudget {
    size_t parts = 0;
    size_t text = 0;
};
// Counts a part, whose blocks are those of the document from `from` on,
// then hands on what is read (office_flush, keeping the last `keep`);
// false once the parts outrun their text.
bool office_part_taken(PartBudget &budget, Document &doc, size_t from, size_t keep = 0);
// The body in member `name` of `zip`, read as a stream (xml_stream) so
// that memory follows the text and not the markup: each element `choose`
// takes makes its blocks by `make`, counted and handed on as they come.
// Read; or not this format after all (no such member, no body `found`, a
// fault before anything was shown); or what was read and a line saying
// why it stopped. `type` names the format in the notices.
ReadResult office_stream_body(ZipArchive *zip, const char *name,
                              const std::function<XmlStep(XmlNode element, int depth)> &choose,
                              const std::function<void(XmlNode element)> &make, const bool &found,
                              const Input &in, const char *type, Document &doc);
// Hands the blocks read so far but the last `keep` to the parent, once
// there are enough of them to be worth a write (document_flush); the
// place is the paragraph they reach.
void office_flush(Document &doc, size_t keep = 0);
// Appends `block` unless its text is blank, then what follows it (its notes,
// its text boxes' paragraphs), which `after` gives up.
void office_append(std::vector<Block> &out, Block block, std::vector<Block> &after);
// The block a paragraph style makes by its name, in lower case: a heading
// for "heading 1" to "heading 9" ("heading1" as a styleId spells it) and
// "title", a quote for "quote", "intense quote", "block text" and
// "quotations", else a paragraph.
BlockKind office_style_kind(std::string_view lower_name);
