// Character mode: each line typed a byte at a time on one row, then wiped.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include <curses.h>

#include "app/records.h"
#include "app/signals.h"
#include "control/control.h"
#include "display/display.h"
#include "scroll/scroll.h"

uint32_t typing_row()
{
    return options.start_row ? reader.display_row : reader.display_row >> 1;
}

void typing_begin(TypingState *typing)
{
    memset(typing, 0, sizeof *typing);
}

// Shows `count` undecodable bytes as one '?' each, so nothing is hidden.
static void typing_put_invalid(TypingState *typing, size_t count)
{
    for (size_t i = 0; i < count; i++)
        mvwprintw(reader.main_window, (int)typing_row(), typing->column++, "%c", '?');
}

void typing_put(TypingState *typing, char byte)
{
    typing->bytes[typing->held++] = byte;
    wchar_t wide;
    size_t used = mbrtowc(&wide, &byte, 1, &typing->shift);
    if (used == (size_t)-2) {
        if (typing->held < sizeof typing->bytes)
            return; // the character is not complete yet
        used = (size_t)-1;
    }
    if (used == (size_t)-1) {
        // The held bytes were no character; the last one may start the next.
        size_t before = typing->held - 1;
        typing_put_invalid(typing, before);
        typing->held = 0;
        memset(&typing->shift, 0, sizeof typing->shift);
        if (before == 0) {
            typing_put_invalid(typing, 1);
            return;
        }
        typing_put(typing, byte);
        return;
    }
    size_t count = typing->held;
    typing->held = 0;
    if (count == 1 && (unsigned char)byte < 0x80) {
        // ASCII, controls included: written as is, one column per byte.
        mvwprintw(reader.main_window, (int)typing_row(), typing->column++, "%c", byte);
        return;
    }
    int width = wcwidth(wide);
    if (width < 0) {
        typing_put_invalid(typing, count);
        return;
    }
    // A zero-width mark written after its base joins that base's cell.
    mvwaddnstr(reader.main_window, (int)typing_row(), typing->column, typing->bytes, (int)count);
    typing->column += width;
}

void typing_finish(TypingState *typing)
{
    typing_put_invalid(typing, typing->held); // a character cut off by the line's end
    typing_begin(typing);
}

// Types one line (not empty) with the order of steps that character mode uses.
static void type_line(const char *line, uint32_t *speed, uint32_t initial_speed,
                      int32_t *status_visible, uint64_t total_lines, uint64_t line_no)
{
    TypingState typing;
    typing_begin(&typing);
    for (const char *p = line; *p; p++) {
        if (options.status_bar && *status_visible)
            draw_status_bar(total_lines, line_no);
        if (reader.status_redraw) {
            // Once after the information screen, even with the bar off.
            draw_status_bar(total_lines, line_no);
            reader.status_redraw = 0;
        }
        typing_put(&typing, *p);
        pace_sleep(*speed);
        wrefresh(reader.main_window);
        handle_keys(speed, initial_speed, status_visible, total_lines, line_no);
    }
    typing_finish(&typing);
}

void scroll_chars(uint32_t initial_speed)
{
    uint32_t speed = initial_speed;
    int32_t status_visible = 1;
    uint64_t total_lines = (uint64_t)count_lines(reader.scroll_file);
    uint64_t line_no = 0;
    char line[1024];
    // No flushinp here: every key typed ahead is taken, one per byte.
    while (fgets(line, sizeof line, reader.scroll_file)) {
        line_no++;
        check_highlight(line, speed, initial_speed, status_visible, total_lines, line_no);
        if (options.case_enabled)
            convert_case(line);
        if (reader.highlight_shown)
            reader.highlight_shown = 0; // typed by the highlight test already
        else
            type_line(line, &speed, initial_speed, &status_visible, total_lines, line_no);
        wclear(reader.main_window);
        wrefresh(reader.main_window);
    }
    draw_status_bar(total_lines, line_no);
    wait_for_any_key(true);
    fclose(reader.scroll_file);
}
