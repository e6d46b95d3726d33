// Highlight test (bold, bell, auto-pause) and case conversion of a line.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include <curses.h>

#include "app/records.h"
#include "app/signals.h"
#include "control/control.h"
#include "display/display.h"
#include "scroll/scroll.h"

// Types the highlighted line in character mode. `speed` and `status_visible`
// are this routine's own copies: what keys do to them ends with the line.
static void type_highlighted(const char *line, uint32_t speed, uint32_t initial_speed,
                             int32_t status_visible, uint64_t total_lines, uint64_t line_no)
{
    TypingState typing;
    typing_begin(&typing);
    for (const char *p = line; *p; p++) {
        if (options.status_bar && status_visible)
            draw_status_bar(total_lines, line_no);
        typing_put(&typing, *p);
        handle_keys(&speed, initial_speed, &status_visible, total_lines, line_no);
        pace_sleep(speed);
        wrefresh(reader.main_window);
    }
    typing_finish(&typing);
}

void check_highlight(const char *line, uint32_t speed, uint32_t initial_speed,
                     int32_t status_visible, uint64_t total_lines, uint64_t line_no)
{
    if (!strstr(line, options.highlight_word)) {
        wattrset(reader.main_window, A_NORMAL);
        return;
    }
    reader.highlight_shown = 1;
    wattrset(reader.main_window, A_BOLD);
    if (options.beep_on_events)
        beep();
    if (options.char_mode && line[0])
        type_highlighted(line, speed, initial_speed, status_visible, total_lines, line_no);
    if (options.auto_pause) {
        wrefresh(reader.main_window);
        wait_for_any_key(false); // any key, q included, only resumes
    }
}

// ASCII letters only, whatever the locale: a user locale must not turn
// 'i' into a dotted capital or touch the bytes of a multibyte character.
static char ascii_upper(char c)
{
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

static char ascii_lower(char c)
{
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

void convert_case(char *line)
{
    const bool lower = options.case_kind == 2;
    for (char *p = line; *p; p++)
        *p = lower ? ascii_lower(*p) : ascii_upper(*p);
}

void mark_invalid_bytes(char *line)
{
    if (MB_CUR_MAX == 1)
        return; // every byte is a character of a single-byte locale
    mbstate_t shift {};
    char *start = line; // first byte of the character being decoded
    for (char *p = line; *p; p++) {
        wchar_t wide;
        size_t used = mbrtowc(&wide, p, 1, &shift);
        if (used == (size_t)-2)
            continue;
        if (used == (size_t)-1) {
            // The bytes before this one were no character; this one may start the next.
            shift = mbstate_t {};
            bool alone = start == p;
            for (; start < p; start++)
                *start = '?';
            if (alone)
                *p = '?';
            else
                p--;
            start = p + 1;
            continue;
        }
        start = p + 1;
    }
    for (; *start; start++) // a character cut off by the line's end
        *start = '?';
}
