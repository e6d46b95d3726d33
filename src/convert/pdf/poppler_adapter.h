// The few things the PDF reader asks of poppler, behind one seam: poppler's
// private headers promise nothing from one release to the next, so only
// poppler_adapter.cpp includes them, and it knows the releases it was
// built against. Nothing here names a poppler type.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

// A document poppler has opened; it reads the bytes where they are, so
// they must outlive it.
struct PdfDocument;
struct PdfDocumentClose {
    void operator()(PdfDocument *doc) const;
};
using PdfDocumentPtr = std::unique_ptr<PdfDocument, PdfDocumentClose>;

enum class PdfOpened { ok, encrypted, broken };

// Opens `bytes` quietly (poppler's complaints about a damaged file are not
// ours to print); nullptr unless `*opened` is ok.
PdfDocumentPtr pdf_open(std::string_view bytes, PdfOpened *opened);
int pdf_page_count(PdfDocument &doc);

// A face as the reader tells faces apart; its ascent and descent, in ems.
struct PdfFace;
double pdf_face_ascent(const PdfFace *face);
double pdf_face_descent(const PdfFace *face);

// A letter as the page draws it: where it starts, its advance, and the
// part of that which is character and word spacing, in points with y
// growing downwards; its characters; the face's matrix on the page and its
// size there, which are worked out again only when the face or a matrix
// changed since the letter before (`face_new`).
struct PdfLetter {
    double x, y, dx, dy;
    double spacing_dx, spacing_dy;
    const uint32_t *text;
    int length;
    bool from_number; // its characters guessed from a number in its glyph's name ("g36" as "$")
    const PdfFace *face;
    bool face_new;
    double face_matrix[4];
    double face_size;
};

// What drawing a page tells the reader, in the order of the page's content.
struct PdfPageReader {
    virtual ~PdfPageReader() = default;
    virtual void page_begun(double width, double height) = 0;
    virtual void letter_drawn(const PdfLetter &letter) = 0;
    // A span marked with the text it stands for (ActualText), decoded.
    virtual void given_text_begun(std::vector<uint32_t> text) = 0;
    virtual void given_text_ended() = 0;
    virtual void page_ended() = 0;
};

// Draws page `index` (from 0) into `reader`; false when there is no such
// page. poppler asks `stop(data)` every few operators, and ends the page
// where it says so.
bool pdf_draw_page(PdfDocument &doc, int index, PdfPageReader &reader, bool (*stop)(void *data), void *data);
