// Scrolling: the timed display loops and the per-line treatments.
#pragma once

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cwchar>

// line scroller (line_scroller.cpp)
void scroll_lines(uint32_t initial_speed);
int64_t count_lines(FILE *stream);
int64_t file_size_of(FILE *stream);
// Row test of the start: true when `row` can take new text on a screen of `lines` rows.
bool row_in_range(uint32_t row, int lines);

// lines wider than the window (wrapped_line.cpp)
// True when `line` (up to its newline) surely fits one row of `columns` cells.
bool fits_one_row(const char *line, int columns);
// Shows a line that may wrap so that its last row ends on the display row,
// moving the rows above up; the rows below, the status bar's among them,
// are left alone.
void show_wrapped_line(const char *line);

// character mode (char_mode.cpp)
void scroll_chars(uint32_t initial_speed);
// Row on which character mode types: the display row, halved without -p.
uint32_t typing_row();

// Typing a line byte by byte: each byte takes its own pace step, but a
// multibyte character is written whole, once its last byte has come, at
// the column that the widths of the characters before it give.
struct TypingState {
    mbstate_t shift;       // decoding state of the character in progress
    int column;            // column of the next character
    size_t held;           // bytes of that character received so far
    char bytes[MB_LEN_MAX];
};
void typing_begin(TypingState *typing);
// Writes `byte` on the typing row of the main window, or holds it until its character is complete.
void typing_put(TypingState *typing, char byte);
// Shows what is left of a character that the line cut off, and starts afresh.
void typing_finish(TypingState *typing);

// highlight and case (highlight.cpp)
void check_highlight(const char *line, uint32_t speed, uint32_t initial_speed,
                     int32_t status_visible, uint64_t total_lines, uint64_t line_no);
void convert_case(char *line);
// For display only: turns each byte that belongs to no character of the
// locale's multibyte encoding into '?', so curses neither drops the bytes
// around it nor shows a newline after it as "^J".
void mark_invalid_bytes(char *line);
