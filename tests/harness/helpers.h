// What the tests of the reader share on top of the harness: the usual
// launch, a run on a text of its own, sample texts and a few screen checks.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "harness.h"

namespace harness {

// ---- starting the reader ----

// The usual launch: HOME, a filter that writes nothing (so the plain copy
// of the file is what scrolls), `options`, then -f `file` when one is given.
Launch reader_launch(const std::string &home, std::vector<std::string> options,
                     const std::string &file = "");
// The same with `input` on standard input, drawn on the pty named by -t.
Launch piped_launch(const std::string &home, std::vector<std::string> options,
                    const std::string &input);

// The reader with a HOME of its own, on `text` written to `name` in a
// directory of its own, which is also the working directory. A name ending
// in "/" is made an empty directory instead; "-" gives the text on standard
// input (piped_launch). `adjust` may change the launch (size, environment)
// before the start. The terminal is closed at scope end.
struct ReaderRun {
    TempDir home, dir;
    std::string path;  // the text's file; empty when piped
    TermPtr t;

    ReaderRun(const std::string &text, const std::vector<std::string> &options,
              const std::string &name = "text.txt",
              const std::function<void(Launch &)> &adjust = nullptr);
    // True while the working copy is in the work directory.
    bool work_file_left() const;
};

// A temporary directory holding an empty HOME, `home`, and whatever else a
// test puts beside it.
struct Sandbox {
    TempDir dir;
    std::string home;

    explicit Sandbox(const std::string &home_name = "home");
    // A file of `text` beside HOME, and its path; put_script's is a shell
    // script of `body`, ready to run.
    std::string put(const std::string &name, const std::string &text) const;
    std::string put_script(const std::string &name, const std::string &body) const;
};

// ---- sample texts ----

// A row of the plainest table: what the case is, and its text or bytes.
struct NamedText {
    const char *name;
    std::string text;
};

// "line 1\n" to "line <count>\n".
std::string numbered_lines(int count);
std::string repeat(const std::string &piece, size_t count);
// Runs of white space as one space, none at either end, as the converter's
// writer shows a block's text.
std::string collapsed(const std::string &text);
// At least `size` bytes from `seed`: words, runs of blank lines, CR LF and
// lone CRs, runs long enough for several line reads, and NUL bytes (CRs in
// their place without with_nuls).
std::string random_text(unsigned seed, size_t size, bool with_nuls = true);
// A one-page PDF showing `text`, with an exact cross-reference table.
std::string make_pdf(const std::string &text);
// A piece of text placed on a PDF page.
struct PdfText {
    std::string text;      // UTF-8, of what WinAnsiEncoding holds ("•", "–", "é")
    double x = 72, y = 72; // left edge and baseline, in points from the page's left and top
    double size = 10;
    bool mono = false;     // Courier, else Helvetica
    std::string actual;    // ASCII the glyphs stand for (marked ActualText), or empty
};
struct PdfLayout {
    std::vector<std::vector<PdfText>> pages; // US letter pages and their texts
    int claimed_pages = 0;                   // the page count the file claims, if not the real one
    bool locked = false;                     // encrypted, with a user password
    int rotate = 0;                          // every page shown turned by this many degrees
};
// A PDF of those pages, with an exact cross-reference table.
std::string make_pdf(const PdfLayout &layout);
// How wide ASCII `text` is set in Courier (`mono`) or Helvetica, in points.
double pdf_text_width(const std::string &text, double size, bool mono);
// An executable shell script: "#!/bin/sh" and `body`.
void write_script(const std::string &path, const std::string &body);
// A temporary stream holding `bytes`, at its start; fclose removes it.
FILE *stream_of(const std::string &bytes);
// Everything `file` holds, read from its start; it is left at its start.
std::string contents_from_start(FILE *file);

// ---- screen checks ----

// True once `row` has kept its text for quiet_ms.
bool row_settles(Term *t, int row, int quiet_ms, int timeout_ms);
// The bottom row, the status bar's, holds nothing: no text, no reverse video.
bool bar_hidden(Term *t);
// The terminal is as the shell had it: normal screen, cursor shown.
bool out_of_curses_mode(Term *t);

}  // namespace harness
