// The readers' tests' one notation for the blocks a reader makes: a line
// a block, as the writer would see it. "H text", "P text", "Q text" (or
// "Q@1 text" nested), "L decimal 7 @0 text" (bullets and dashes without a
// number), "T a | b", "N [1] text", "R text as it is"; "notice: ..." for
// a notice.
#pragma once

#include <string>
#include <vector>

#include "convert/document.h"
#include "helpers.h"

inline const char *style_name(ListStyle style)
{
    switch (style) {
    case ListStyle::bullet: return "bullet";
    case ListStyle::dash: return "dash";
    case ListStyle::decimal: return "decimal";
    case ListStyle::lower_alpha: return "lower_alpha";
    case ListStyle::upper_alpha: return "upper_alpha";
    case ListStyle::lower_roman: return "lower_roman";
    case ListStyle::upper_roman: return "upper_roman";
    }
    return "?";
}

inline std::string dump_block(const Block &block)
{
    std::string text = harness::collapsed(block.text);
    switch (block.kind) {
    case BlockKind::heading:
        return "H " + text;
    case BlockKind::list_item: {
        std::string out = std::string("L ") + style_name(block.style);
        if (block.style != ListStyle::bullet && block.style != ListStyle::dash)
            out += " " + std::to_string(block.number);
        return out + " @" + std::to_string(block.depth) + " " + text;
    }
    case BlockKind::table_row: {
        std::string out = "T";
        for (size_t i = 0; i < block.cells.size(); ++i)
            out += (i ? " | " : " ") + harness::collapsed(block.cells[i]);
        return out;
    }
    case BlockKind::note:
        return "N [" + block.label + "] " + text;
    case BlockKind::quote:
        return (block.depth > 0 ? "Q@" + std::to_string(block.depth) + " " : "Q ") + text;
    case BlockKind::preformatted:
        return "R " + block.text;
    case BlockKind::paragraph:
        break;
    }
    return "P " + text;
}

// The document a line a block, its notice first.
inline std::vector<std::string> dump(const Document &doc)
{
    std::vector<std::string> out;
    if (!doc.notice.empty())
        out.push_back("notice: " + doc.notice);
    for (const Block &block : doc.blocks)
        out.push_back(dump_block(block));
    return out;
}

// The same as one text, a line a block, each ended by "\n"; the newline a
// preformatted block ends with is dropped, not doubled.
inline std::string dump_text(const Document &doc)
{
    std::string out;
    for (std::string line : dump(doc)) {
        while (!line.empty() && line.back() == '\n')
            line.pop_back();
        out += line + "\n";
    }
    return out;
}
