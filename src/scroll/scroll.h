// Scrolling: the timed display loops and the per-line treatments.
#pragma once

#include <cstdint>
#include <cstdio>

// line scroller (line_scroller.cpp)
void scroll_lines(uint32_t initial_speed);
int64_t count_lines(FILE *stream);
int64_t file_size_of(FILE *stream);
// Row test of the start: true when `row` can take new text on a screen of `lines` rows.
bool row_in_range(uint32_t row, int lines);

// character mode (char_mode.cpp)
void scroll_chars(uint32_t initial_speed);
// Row on which character mode types: the display row, halved without -p.
uint32_t typing_row();

// highlight and case (highlight.cpp)
void check_highlight(const char *line, uint32_t speed, uint32_t initial_speed,
                     int32_t status_visible, uint64_t total_lines, uint64_t line_no);
void convert_case(char *line);
