// What the readers of Word, MOBI, DjVu, CHM, PostScript and binary files
// share: programs run as children under limits, notices, lines laid out
// on a page (programs.cpp, lines.cpp, read_binary.cpp).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "convert/convert.h"

// "NAME needs PROGRAM (Debian package PACKAGE)".
std::string notice_needs(const std::string &name, const char *program, const char *package);
// "no text in NAME (TYPE)".
std::string notice_no_text(const std::string &name, const char *type);

// The path of an executable `name` on PATH, or "" when there is none.
std::string program_on_path(const char *name);

// What a child process wrote on its standard output, and how it ended.
struct ChildOutput {
    std::string out;        // at most the cap given
    bool succeeded = false; // it ended by itself, with status 0
    bool timed_out = false; // killed at the time limit
};

// A child's time limit: a hostile file may make a program loop.
constexpr int child_seconds = 10;

// Runs the program `argv[0]` (a path) with `argv`, never through a shell:
// standard input /dev/null, standard error discarded, standard output read
// up to `cap` bytes; in the directory `dir`, with `extra_env` ("NAME=value")
// on top of this process's environment. It and every process it starts are
// killed after `seconds`, or once it has written `cap` bytes.
void run_program(const std::vector<std::string> &argv, const std::vector<std::string> &extra_env,
                 const char *dir, size_t cap, int seconds, ChildOutput &result);
// Runs `work(fd, context)` in a child process of its own, which writes on
// `fd`, under the same limits: a library that can loop or crash on a
// hostile file takes only the child with it.
void run_isolated(void (*work)(int fd, void *context), void *context, size_t cap, int seconds,
                  ChildOutput &result);
// Writes all of `bytes` on `fd`; false when the reader has gone.
bool write_all(int fd, std::string_view bytes);

// A private directory of its own for a child, holding the document as a
// file when the bytes came without one (Input.path is nullptr).
struct InputFile {
    std::string dir;  // the private directory, removed by input_file_remove
    std::string path; // the document, absolute
};
// False when no directory or file could be made.
bool input_file_make(const Input &in, InputFile &file);
void input_file_remove(InputFile &file);

// Text that a program wrote, or a PalmDOC book holds, as paragraphs: one
// a line (blank lines dropped), control characters (form feeds among them)
// made spaces, repaired to UTF-8.
void line_blocks(std::string_view text, Document &doc);
// The same, but a paragraph runs to the next blank line.
void paragraph_blocks(std::string_view text, Document &doc);
// The same for paragraphs already found.
void paragraph_list_blocks(const std::vector<std::string> &paragraphs, Document &doc);

// What a MOBI book holds: its HTML parts in reading order (a KF8 book's
// in spine order), as UTF-8; or a PalmDOC book's plain text, as it is; or
// a notice (DRM, unreadable).
struct MobiText {
    std::vector<std::string> html;
    std::string text;
    std::string notice;
};
// False when the bytes are no MOBI or PalmDOC book.
bool mobi_text(const Input &in, MobiText &book);
// The HTML pages of a CHM book: those its table of contents names, in its
// order, then the rest in the order of its directory; or a notice. False
// when the bytes are no CHM file.
bool chm_pages(const Input &in, std::vector<std::string> &pages, std::string &notice);
// The member paths a CHM table of contents (.hhc sitemap) names, in its
// order, each once, resolved against `hhc_dir` ("/" for the top).
std::vector<std::string> chm_toc_paths(std::string_view hhc, const std::string &hhc_dir);

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
