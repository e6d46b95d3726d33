// The PDF reader's seam to poppler's private API. The release comes from
// poppler's own version header (poppler-config.h), read by CMake into
// DRIFTERM_POPPLER_RELEASE as major * 100 + minor: 2212 for 22.12.
#include "convert/pdf/poppler_adapter.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>

#include <poppler/CharTypes.h>
#include <poppler/Error.h>
#include <poppler/GfxFont.h>
#include <poppler/GfxState.h>
#include <poppler/GlobalParams.h>
#include <poppler/OutputDev.h>
#include <poppler/PDFDoc.h>
#include <poppler/Stream.h>
#include <poppler/UTF.h>
#include <poppler/goo/gmem.h>

// Tried with 22.12 (Debian 12) and 25.03 (Debian 13).
#if !defined(DRIFTERM_POPPLER_RELEASE) || DRIFTERM_POPPLER_RELEASE < 2212
#error "drifterm-convert needs poppler 22.12 or later (its release is read from poppler-config.h)"
#endif

static_assert(std::is_same_v<Unicode, uint32_t>, "poppler's Unicode is a 32-bit code point");

struct PdfDocument {
    std::unique_ptr<PDFDoc> doc;
};

void PdfDocumentClose::operator()(PdfDocument *doc) const
{
    delete doc;
}

namespace {

void ignore_poppler(ErrorCategory, Goffset, const char *) {}

// A text string of the PDF (PDFDocEncoding or UTF-16) as code points.
std::vector<uint32_t> text_string_code_points(const GooString &given)
{
#if DRIFTERM_POPPLER_RELEASE >= 2503
    return TextStringToUCS4(given.toStr());
#else
    Unicode *decoded = nullptr;
    int length = TextStringToUCS4(given.toStr(), &decoded);
    std::vector<uint32_t> text(decoded, decoded + (length > 0 ? length : 0));
    gfree(decoded);
    return text;
#endif
}

// Whether poppler took the letter of `code` from a number in its glyph's
// name ("g36" as "$"): a font without a ToUnicode map whose names are no
// names of letters. Right for names that number the codes themselves,
// mostly wrong for those that number a subset's glyphs.
bool letter_from_number(const GfxFont *font, CharCode code)
{
    if (!font || font->isCIDFont() || font->hasToUnicodeCMap() || code > 255)
        return false;
    const char *name = static_cast<const Gfx8BitFont *>(font)->getCharName(static_cast<int>(code));
    if (!name || !strpbrk(name, "0123456789") || (name[0] == 'u' && (name[1] == 'n' || isxdigit(name[1]))))
        return false;
    return globalParams->mapNameToUnicodeText(name) == 0;
}


// The part of poppler's advance that is the character spacing, and the
// word spacing on a space, in text space.
void spacing_of(GfxState *state, CharCode code, int bytes, double &sx, double &sy)
{
    double spacing = state->getCharSpace();
    if (code == ' ' && bytes == 1)
        spacing += state->getWordSpace();
    if (state->getFont() && state->getFont()->getWMode() != 0)
        state->textTransformDelta(0, spacing, &sx, &sy);
    else
        state->textTransformDelta(spacing * state->getHorizScaling(), 0, &sx, &sy);
}

// poppler's drawing of a page, handed on letter by letter. poppler's own
// text device spends more than the whole drawing again on bookkeeping the
// reader does not use.
struct LetterDevice : OutputDev {
    PdfPageReader &reader;
    bool face_changed = true;
    PdfLetter letter{};

    explicit LetterDevice(PdfPageReader &r) : reader(r) {}

    bool upsideDown() override { return true; }
    bool useDrawChar() override { return true; }
    bool interpretType3Chars() override { return false; }
    bool needNonText() override { return false; }

    void startPage(int, GfxState *state, XRef *) override
    {
        face_changed = true;
        reader.page_begun(state->getPageWidth(), state->getPageHeight());
    }
    void endPage() override { reader.page_ended(); }
    void saveState(GfxState *) override { face_changed = true; }
    void restoreState(GfxState *) override { face_changed = true; }
    void updateAll(GfxState *state) override
    {
        face_changed = true;
        OutputDev::updateAll(state);
    }
    void updateCTM(GfxState *, double, double, double, double, double, double) override { face_changed = true; }
    void updateFont(GfxState *) override { face_changed = true; }
    void updateTextMat(GfxState *) override { face_changed = true; }
    void updateHorizScaling(GfxState *) override { face_changed = true; }

    void drawChar(GfxState *state, double x, double y, double dx, double dy, double, double, CharCode code,
                  int bytes, const Unicode *u, int uLen) override
    {
        letter.from_number = letter_from_number(state->getFont().get(), code);
        double sx, sy;
        spacing_of(state, code, bytes, sx, sy);
        state->transform(x, y, &letter.x, &letter.y);
        state->transformDelta(dx, dy, &letter.dx, &letter.dy);
        state->transformDelta(sx, sy, &letter.spacing_dx, &letter.spacing_dy);
        letter.text = u;
        letter.length = uLen;
        letter.face = reinterpret_cast<const PdfFace *>(state->getFont().get());
        letter.face_new = face_changed;
        if (face_changed) {
            double *m = letter.face_matrix;
            state->getFontTransMat(&m[0], &m[1], &m[2], &m[3]);
            letter.face_size = state->getTransformedFontSize();
            face_changed = false;
        }
        reader.letter_drawn(letter);
    }

    void beginActualText(GfxState *, const GooString *given) override
    {
        reader.given_text_begun(given ? text_string_code_points(*given) : std::vector<uint32_t>());
    }
    void endActualText(GfxState *) override { reader.given_text_ended(); }
};

} // namespace

PdfDocumentPtr pdf_open(std::string_view bytes, PdfOpened *opened)
{
    if (!globalParams)
        globalParams = std::make_unique<GlobalParams>();
    setErrorCallback(ignore_poppler);
    *opened = PdfOpened::broken;
    if (bytes.size() > static_cast<size_t>(INT32_MAX))
        return nullptr;
    auto *stream = new MemStream(bytes.data(), 0, static_cast<Goffset>(bytes.size()), Object(objNull));
    PdfDocumentPtr doc(new PdfDocument{std::make_unique<PDFDoc>(stream)});
    if (!doc->doc->isOk()) {
        if (doc->doc->getErrorCode() == errEncrypted)
            *opened = PdfOpened::encrypted;
        return nullptr;
    }
    *opened = PdfOpened::ok;
    return doc;
}

int pdf_page_count(PdfDocument &doc)
{
    return doc.doc->getNumPages();
}

double pdf_face_ascent(const PdfFace *face)
{
    return reinterpret_cast<const GfxFont *>(face)->getAscent();
}

double pdf_face_descent(const PdfFace *face)
{
    return reinterpret_cast<const GfxFont *>(face)->getDescent();
}

bool pdf_draw_page(PdfDocument &doc, int index, PdfPageReader &reader, bool (*stop)(void *data), void *data)
{
    if (index < 0 || index >= doc.doc->getNumPages() || !doc.doc->getCatalog()->getPage(index + 1))
        return false;
    LetterDevice device(reader);
    doc.doc->displayPage(&device, index + 1, 72, 72, 0, false, true, false, stop, data);
    return true;
}
