// The PDF reader on PDFs made here: where rows sit on the page decides
// what is a paragraph, a list item, a heading, code or a table's row;
// pages read in parallel give what one pass gives; hostile files are
// refused or cut short.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "convert/charset.h"
#include "convert/convert.h"
#include "convert/document.h"
#include "convert/formats.h"
#include "convert/readers.h"
#include "convert/xml.h"
#include "helpers.h"
#include "../dump.h"

using harness::make_pdf;
using harness::PdfLayout;
using harness::PdfText;

namespace {

// Rows end at 540 points at most; 78 letters of Courier at 10 points
// from 72 fill one.
constexpr double right_margin = 540;

// A page being written, row by row from the top.
struct Sheet {
    std::vector<PdfText> texts;
    double y = 90;
    bool mono = true; // Courier, else Helvetica

    // `text` wrapped where the next word would pass the right margin,
    // starting at `x`, the first row at `first_x` (an indent, or a marker
    // that hangs before the rest).
    Sheet &rows(const std::string &text, double x = 72, double first_x = -1, double size = 10)
    {
        std::string row;
        double at = first_x >= 0 ? first_x : x;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find(' ', start);
            std::string word = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
            start = end == std::string::npos ? text.size() : end + 1;
            if (!row.empty() && at + harness::pdf_text_width(row + " " + word, size, mono) > right_margin) {
                line(row, at, size);
                row.clear();
                at = x;
            }
            row += (row.empty() ? "" : " ") + word;
        }
        if (!row.empty())
            line(row, at, size);
        return *this;
    }
    // One row as it is, in the sheet's face or the other.
    Sheet &line(const std::string &text, double x = 72, double size = 10, bool other_face = false)
    {
        texts.push_back({text, x, y, size, mono != other_face, {}});
        y += 1.2 * size;
        return *this;
    }
    // One row of pieces, each in the sheet's face or the other (true), a
    // space between.
    Sheet &pieces(const std::vector<std::pair<std::string, bool>> &parts, double x = 72, double size = 10)
    {
        for (const auto &[text, other_face] : parts) {
            bool face = mono != other_face;
            texts.push_back({text, x, y, size, face, {}});
            x += harness::pdf_text_width(text + " ", size, face);
        }
        y += 1.2 * size;
        return *this;
    }
    Sheet &gap(double points = 12)
    {
        y += points;
        return *this;
    }
};

// True when this process has no child left, running or unreaped.
bool no_children()
{
    errno = 0;
    return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

bool read(const std::string &pdf, Document &doc, const char *name = "sample.pdf")
{
    Input in;
    in.bytes = pdf;
    in.name = name;
    bool read = read_pdf(in, doc) != ReadResult::not_this_format;
    EXPECT_TRUE(no_children()) << "a worker is left behind";
    return read;
}

// A row drawn by PDF operators of the test's own: make_pdf sets no
// spacing. Its text is a placeholder, which the operators replace, padded
// to its length so that the file's offsets hold.
const std::string drawn_here(90, 'x');

std::string with_operators(std::string pdf, const std::string &operators)
{
    std::string shown = "(" + drawn_here + ") Tj";
    size_t at = pdf.find(shown);
    if (at != std::string::npos && operators.size() <= shown.size())
        pdf.replace(at, shown.size(), operators + std::string(shown.size() - operators.size(), ' '));
    return pdf;
}

std::string blocks_of(const PdfLayout &layout, const std::string &operators = "")
{
    Document doc;
    if (!read(with_operators(make_pdf(layout), operators), doc))
        return "(not read)";
    return dump_text(doc);
}

PdfLayout one_page(const Sheet &s)
{
    PdfLayout layout;
    layout.pages.push_back(s.texts);
    return layout;
}

const std::string lorem = "The reader watches the words drift by at a steady pace, row after row, while the "
                          "status bar keeps count of the lines that have gone past and of those still to come.";
const std::string more = "Nothing on the screen moves faster than the pace the reader set, and a key pressed "
                         "at any moment is answered before the next row arrives.";

struct Case {
    const char *name;
    Sheet sheet;
    std::string expected;
    std::string operators = ""; // what draws the row of drawn_here
    std::vector<Sheet> more = {}; // the pages after the sheet's
};

std::vector<Case> layout_cases()
{
    std::vector<Case> cases;
    cases.push_back({"rows of one paragraph join; a gap parts paragraphs",
                     Sheet().rows(lorem).gap().rows(more),
                     "P " + lorem + "\nP " + more + "\n"});
    cases.push_back({"an indented first row starts a paragraph",
                     Sheet().rows(lorem, 72, 96).rows(more, 72, 96),
                     "P " + lorem + "\nP " + more + "\n"});
    cases.push_back({"a row short of the margin ends its paragraph",
                     Sheet().line("Short rows stay as they are:").line("one").line("two"),
                     "P Short rows stay as they are:\nP one\nP two\n"});
    cases.push_back({"a larger size is a heading",
                     Sheet().line("2.1 Getting started", 72, 16).rows(lorem),
                     "H 2.1 Getting started\nP " + lorem + "\n"});
    {
        Sheet s;
        s.rows("Before the list:");
        s.line("\xE2\x80\xA2", 84).y -= 12;
        s.rows(lorem, 96);
        s.line("\xE2\x80\xA2", 84).y -= 12;
        s.rows("A short item.", 96);
        s.rows(more);
        cases.push_back({"bullets start items; their rows go on under the item's text", s,
                         "P Before the list:\nL bullet @0 " + lorem + "\nL bullet @0 A short item.\nP " + more +
                             "\n"});
    }
    {
        Sheet s;
        s.rows("1. " + lorem, 90, 72);
        s.rows("2. Second.", 90, 72);
        s.rows("(a) Nested, by a letter.", 108, 84);
        s.rows("iv. Numbered the roman way, and long enough to go on to a second row of its own, "
               "under its text.",
               108, 84);
        s.rows("3. Third.", 90, 72);
        cases.push_back({"numbers, letters and roman numerals start items, nested by their indent", s,
                         "L decimal 1 @0 " + lorem +
                             "\nL decimal 2 @0 Second.\nL lower_alpha 1 @1 Nested, by a letter.\n"
                             "L lower_roman 4 @1 Numbered the roman way, and long enough to go on to a second row "
                             "of its own, under its text.\nL decimal 3 @0 Third.\n"});
    }
    cases.push_back({"a number in running text is no item",
                     Sheet()
                         .line("The list it names has twice as many entries as the one before it, counting to")
                         .line("2. Then it ends."),
                     "P The list it names has twice as many entries as the one before it, counting to 2. Then it "
                     "ends.\n"});
    cases.push_back({"a term and its indented description stay apart",
                     Sheet()
                         .line("--pace")
                         .rows(lorem, 108)
                         .line("--quiet")
                         .rows(more, 108),
                     "P --pace\nP " + lorem + "\nP --quiet\nP " + more + "\n"});
    {
        // Each row ends where the next word would not fit.
        Sheet s;
        s.line("Call asn1_create_element() first, then asn1_write_value() on the new asn1_");
        s.line("node and its parts; the structure is freed with asn1_delete_structure() in the");
        s.line("end, and the rows of this sentence are joined where words were broken: exam-");
        s.line("ple, then well-known and then, once more at the very end of a row, the well-");
        s.line("known word again, as this example shows; the hyphen of a word whose halves the");
        s.line("document never writes together is kept, as the two halves of this mother-");
        s.line("tongue show.");
        cases.push_back({"words broken at a row's end: '_' stays, a hyphen goes where the document writes the "
                         "word whole, stays where it writes it with one or never whole",
                         s,
                         "P Call asn1_create_element() first, then asn1_write_value() on the new asn1_node and "
                         "its parts; the structure is freed with asn1_delete_structure() in the end, and the "
                         "rows of this sentence are joined where words were broken: example, then "
                         "well-known and then, once more at the very end of a row, the well-known word again, as this "
                         "example shows; the hyphen of a word whose halves the document never writes together is "
                         "kept, as the two halves of this mother-tongue show.\n"});
    }
    {
        Sheet s;
        s.mono = false;
        s.line("The program prints its options with:");
        s.line("drifterm --help", 90, 10, true);
        s.line("if (pace > 0)", 90, 10, true);
        s.line("wait(pace);", 114, 10, true);
        s.line("}", 90, 10, true);
        s.gap().line("Fixed-pitch rows are code, kept as they are set.");
        cases.push_back({"fixed-pitch rows in a document of proportional type are code, indented as set", s,
                         "P The program prints its options with:\nR drifterm --help\nif (pace > 0)\n    "
                         "wait(pace);\n}\nP Fixed-pitch rows are code, kept as they are set.\n"});
    }
    {
        Sheet s;
        s.mono = false;
        s.pieces({{"The status that a run of the program ends with when it finds errors is set by the option", false},
                  {"--error-", true}});
        s.pieces({{"exitcode=N", true}, {"and then the run ends with that status, whatever else it found.", false}});
        cases.push_back({"a hyphen at a row's end within code stays", s,
                         "P The status that a run of the program ends with when it finds errors is set by the "
                         "option --error-exitcode=N and then the run ends with that status, whatever else it "
                         "found.\n"});
    }
    {
        // The content draws a page's parts in any order, and a bold face
        // may be a word drawn twice, a little apart.
        Sheet s;
        s.y = 760;
        s.line("7", 300);
        s.y = 120;
        s.line("Bold");
        s.texts.push_back({"Bold", 72.2, s.texts.back().y, 10, true, {}});
        s.rows(lorem);
        s.y = 40;
        s.line("Chapter One");
        cases.push_back({"a page number drawn first, a head drawn last and a word drawn twice", s,
                         "P Chapter One\nP Bold\nP " + lorem + "\n"});
    }
    {
        // A glyph standing for more letters than it shows.
        Sheet s;
        s.mono = false;
        s.pieces({{"Reading the", false}, {"~", false}, {"page.", false}});
        s.texts[1].actual = "first";
        cases.push_back({"marked text replaces its glyphs", s, "P Reading the first page.\n"});
    }
    {
        // An accent set as a letter of its own over another, drawn before
        // it (TeX's way) or after it.
        Sheet s;
        s.mono = false;
        auto at = [&](const std::string &text, double x) {
            s.texts.push_back({text, x, s.y, 10, false, {}});
            return x + harness::pdf_text_width(text, 10, false);
        };
        auto accent_over = [&](const std::string &accent, double letter_x, const std::string &letter) {
            at(accent, letter_x + (harness::pdf_text_width(letter, 10, false) - 3.33) / 2);
        };
        double x = at("Universit", 72);
        accent_over("\xC2\xB4", x, "e");
        x = at("e", x);
        x = at(" de M", x);
        double o = x;
        x = at("o", x);
        accent_over("\xC2\xA8", o, "o");
        at("ller.", x);
        cases.push_back({"an accent drawn over a letter makes one letter with it", s,
                         "P Universit\xC3\xA9 de M\xC3\xB6ller.\n"});
    }
    cases.push_back({"a table of contents' row: its title and page number",
                     Sheet()
                         .line("1 Introduction ..................................................... 1")
                         .line("2 Reading a document ............................................... 7"),
                     "T 1 Introduction | 1\nT 2 Reading a document | 7\n"});
    // Ghostscript's way: word gaps set by character spacing undone by TJ
    // shifts inside words, and a kern as a space spaced down to nothing.
    cases.push_back({"character and word spacing and TJ shifts decide the gaps", Sheet().line(drawn_here),
                     "P If the given file.\n",
                     "2.5 Tc [(I)250(ft)250]TJ 0 Tc (he ) Tj -5.7 Tw (giv en) Tj 0 Tw ( file.) Tj"});
    {
        // A table drawn cell by cell, as office programs draw one, its cells
        // wrapping: the next cell's rows stand above the last one's.
        Sheet s;
        s.mono = false;
        auto cell = [&](double x, double y, const std::vector<std::string> &lines) {
            for (const std::string &line : lines) {
                s.texts.push_back({line, x, y, 10, false, {}});
                y += 12;
            }
        };
        cell(72, 72, {"--pace"});
        cell(180, 72, {"Sets the number of milliseconds", "between two rows as they", "scroll past."});
        cell(400, 72, {"fifty"});
        cell(72, 122, {"--quiet mode of", "the reader"});
        cell(180, 122, {"Keeps the bell silent."});
        cell(400, 122, {"off"});
        cell(72, 158, {"--last"});
        cell(180, 158, {"Ends."});
        cell(400, 158, {"none"});
        cases.push_back({"a table's cells that wrap stay in their row", s,
                         "T --pace | Sets the number of milliseconds between two rows as they scroll past. | fifty\n"
                         "T --quiet mode of the reader | Keeps the bell silent. | off\nT --last | Ends. | none\n"});
    }
    {
        // Pages that open with the same passage at the body's distance from
        // the next row, under a running head set apart from them.
        std::vector<Sheet> pages(4);
        for (Sheet &s : pages) {
            s.y = 40;
            s.line("A Book of Pages");
            s.y = 90;
            s.rows("The same passage opens every page. " + lorem);
        }
        std::vector<Sheet> more(pages.begin() + 1, pages.end());
        std::string page = "P The same passage opens every page. " + lorem + "\n";
        cases.push_back({"a running head is dropped, a row recurring at the top of the body is not", pages[0],
                         page + page + page + page, "", more});
    }
    return cases;
}

TEST(ReadPdf, BlocksFromWhereRowsSit)
{
    for (const Case &c : layout_cases()) {
        PdfLayout layout = one_page(c.sheet);
        for (const Sheet &s : c.more)
            layout.pages.push_back(s.texts);
        EXPECT_EQ(blocks_of(layout, c.operators), c.expected) << c.name;
    }
    // A page shown turned reads as the page it is.
    const Case bullets = layout_cases()[4];
    for (int turn : {90, 180, 270}) {
        PdfLayout turned = one_page(bullets.sheet);
        turned.rotate = turn;
        EXPECT_EQ(blocks_of(turned), bullets.expected) << turn << " degrees";
    }
}

// Pages of paragraphs that run over page breaks, under a running head and
// above a page number.
PdfLayout book(int pages)
{
    const size_t per_page = 40;
    std::string text;
    for (int i = 0; i < 6; i++)
        text += lorem + " " + more + " ";
    Sheet body;
    for (int paragraph = 1; body.texts.size() < per_page * static_cast<size_t>(pages); paragraph++)
        body.rows("Paragraph " + std::to_string(paragraph) + ". " + text).gap();
    PdfLayout layout;
    for (size_t p = 0; p < static_cast<size_t>(pages); p++) {
        Sheet s;
        s.line("A Book of Pages");
        double top = body.texts[p * per_page].y;
        for (size_t i = p * per_page; i < (p + 1) * per_page; i++) {
            s.texts.push_back(body.texts[i]);
            s.texts.back().y += 120 - top;
        }
        s.y = 760;
        s.line(std::to_string(p + 1), 300);
        layout.pages.push_back(s.texts);
    }
    return layout;
}

TEST(ReadPdf, PagesInParallelAsInOnePass)
{
    std::string pdf = make_pdf(book(24));
    std::string one_pass;
    for (const char *workers : {"0", "1", "2", "3", "7"}) {
        setenv("DRIFTERM_PDF_WORKERS", workers, 1);
        Document doc;
        ASSERT_TRUE(read(pdf, doc)) << workers;
        std::string text = dump_text(doc);
        if (one_pass.empty())
            one_pass = text;
        EXPECT_EQ(text, one_pass) << workers << " workers";
    }
    unsetenv("DRIFTERM_PDF_WORKERS");
    EXPECT_EQ(one_pass.find("A Book of Pages"), std::string::npos) << "running heads are dropped";
    EXPECT_EQ(one_pass.find("\nP 2\n"), std::string::npos) << "page numbers are dropped";
    // Paragraphs 1, 2, ... each one block, whichever pages they run over.
    size_t paragraphs = 0;
    for (size_t at = 0; (at = one_pass.find("P Paragraph ", at)) != std::string::npos; at++)
        paragraphs++;
    EXPECT_GT(paragraphs, 24u);
    EXPECT_EQ(paragraphs, static_cast<size_t>(std::count(one_pass.begin(), one_pass.end(), '\n')));
}

// What poppler would print to standard error, it does not.
std::string with_stderr_caught(const std::function<void()> &run)
{
    fflush(stderr);
    char name[] = "/tmp/read-pdf-stderr-XXXXXX";
    int fd = mkstemp(name);
    int saved = dup(2);
    dup2(fd, 2);
    run();
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::string caught;
    char buffer[4096];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        caught.append(buffer, static_cast<size_t>(n));
    close(fd);
    unlink(name);
    return caught;
}

TEST(ReadPdf, NoticesAndHostileFiles)
{
    PdfLayout locked = one_page(Sheet().rows(lorem));
    locked.locked = true;
    EXPECT_EQ(blocks_of(locked), "notice: sample.pdf is encrypted\n");
    EXPECT_EQ(blocks_of(one_page(Sheet())), "notice: no text in sample.pdf (PDF)\n");

    std::string whole = make_pdf(one_page(Sheet().rows(lorem)));
    struct Broken {
        const char *name;
        std::string bytes;
    } broken[] = {
        {"nothing after the header", "%PDF-1.4\n"},
        {"garbage", "%PDF-1.7\n" + std::string(4000, '\x9c')},
        {"cut before its page", whole.substr(0, whole.find("3 0 obj"))},
    };
    for (const Broken &b : broken) {
        std::string caught = with_stderr_caught([&] {
            Document doc;
            EXPECT_FALSE(read(b.bytes, doc)) << b.name;
        });
        EXPECT_EQ(caught, "") << b.name;
    }

    // More pages claimed than there are: those there are read. A million
    // claimed is more than the file has objects: poppler reads no page.
    PdfLayout claims = one_page(Sheet().rows(lorem));
    claims.claimed_pages = 3;
    EXPECT_EQ(blocks_of(claims), "P " + lorem + "\n");
    claims.claimed_pages = 1000000;
    std::string caught = with_stderr_caught([&] { EXPECT_EQ(blocks_of(claims), "(not read)"); });
    EXPECT_EQ(caught, "");
}

} // namespace
