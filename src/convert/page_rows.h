// Rows of text to paragraphs, for the readers whose text comes as rows:
// with their places on a page (DjVu's text layer), the
// layout says where a paragraph ends; without (a program's output, a
// PalmDOC book), a row or a run of rows between blank ones is one.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "convert/document.h"

// A line laid out on a page: its text, its box (y grows upward), and the
// zone that holds it (-1 for none), which may be a paragraph already.
struct LaidOutLine {
    std::string text;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int group = -1;
    bool paragraph = false;
};
// A page's lines, in reading order, as paragraphs: a paragraph zone is one;
// elsewhere a new paragraph begins at a line that is not below the last
// (a new column), after a gap wider than the page's usual spacing, at an
// indented first line, after a short line that ends a sentence, and after
// a heading (a short line set in from the margin).
std::vector<std::string> layout_paragraphs(const std::vector<LaidOutLine> &lines);

// Text as paragraphs, one a line (blank lines dropped), control
// characters (form feeds among them) made spaces, repaired to UTF-8.
void line_blocks(std::string_view text, Document &doc);
// The same, but a paragraph runs to the next blank line.
void paragraph_blocks(std::string_view text, Document &doc);
// The same for paragraphs already found.
void paragraph_list_blocks(const std::vector<std::string> &paragraphs, Document &doc);
