// Display: the curses screen, its two windows, colour schemes, resize and status bar.
// The windows and the display row are kept in ReaderState (app/records.h):
// a resize replaces them, so every user reads them there at each use.
#pragma once

#include <cstdint>
#include <cstdio>

// screen and windows (screen.cpp)
// Makes the curses screen on the -t terminal `tty`, named `name`, into
// reader.tty_screen, leaving the terminal's modes as they were until
// init_screen starts it; exits with status 1 when curses cannot use it.
void open_terminal_screen(FILE *tty, const char *name);
void init_screen();
void apply_color_scheme();
void on_resize(int signal);
// The resize rebuild, carried out on the main flow after on_resize.
void rebuild_screen();
// Descriptor curses reads keys from: standard input, or the -t terminal.
int screen_input_fd();

// status bar (status_bar.cpp)
void draw_status_bar(uint64_t total_lines, uint64_t line_no);
char *shorten_name(const char *text, int32_t limit);
const char *base_name(const char *path);
// Turns control bytes into '?', so a file name holding a newline or a tab
// cannot move the cursor off the row it is printed on.
void mark_control_bytes(char *text);
// percent for line_no of total_lines, in single precision; 0 for an empty text.
float percent_of(uint64_t line_no, uint64_t total_lines);
