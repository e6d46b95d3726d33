// The PDF reader's two halves: read_pdf.cpp takes the lines of each page
// from poppler (in worker processes, pages in parallel), layout.cpp
// makes blocks of all the lines of the document at once, so that how a
// paragraph runs over a page break does not depend on which worker read
// which page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/document.h"

enum PdfLineFlag : uint8_t {
    pdf_mono = 1,        // in a fixed-pitch face
    pdf_maybe_mono = 2,  // too few letters to tell, all as wide
    pdf_rotated = 4,     // not horizontal
    pdf_ends_mono = 8,   // its last word is in a fixed-pitch face
    pdf_starts_mono = 16 // its first word is
};

// One row of a page, its words in poppler's reading order. Coordinates in
// points, y growing downwards.
struct PdfLine {
    std::string text;         // UTF-8; one space between words, '\t' where a wide gap parts cells;
                              // fixed-pitch rows have a space for every letter's width of gap
    float x0 = 0, x1 = 0;     // left and right end
    float top = 0, bottom = 0;
    float size = 0;           // the size of its largest words' face
    float first_width = 0;    // width of its first word
    float text_x = 0;         // where its second word starts (an item's text), x1 when alone
    float char_width = 0;     // fixed-pitch rows: the width of one letter
    uint8_t flags = 0;
    std::vector<float> stops; // where each cell after a wide gap starts
};

struct PdfPage {
    float width = 0, height = 0;
    std::vector<PdfLine> lines;
    bool cut_short = false; // its drawing was stopped at its budget
};

// The blocks of a whole document's pages, in order.
void pdf_blocks(const std::vector<PdfPage> &pages, Document &doc);
