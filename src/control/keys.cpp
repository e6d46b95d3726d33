// Key commands: one key polled between lines (or bytes) and carried out at once.
#include <cstdint>

#include <curses.h>

#include "app/exits.h"
#include "app/records.h"
#include "app/signals.h"
#include "control/control.h"
#include "display/display.h"

KeyAction key_action_of(int key)
{
    switch (key) {
    case ' ': return ACTION_TURBO;
    case 'q': return ACTION_QUIT;
    case 'o': return ACTION_ORIGINAL_SPEED;
    case 'p': return ACTION_PAUSE;
    case 'v': return ACTION_STATUS_ON;
    case 'n': return ACTION_STATUS_OFF;
    case 'c': return ACTION_CLEAR;
    case 'f': return ACTION_FASTER;
    case 's': return ACTION_SLOWER;
    case 'a': return ACTION_AUTO_PAUSE;
    case 'i': return ACTION_INFO;
    case 'e': return ACTION_EDITOR;
    default: return ACTION_NONE; // ERR, other keys, upper case, keypad codes
    }
}

void drop_typed_keys()
{
    nodelay(stdscr, TRUE);
    while (wgetch(stdscr) != ERR) {
    }
}

KeyAction poll_key()
{
    // A pause may have left stdscr blocking; the poll must never wait.
    nodelay(stdscr, TRUE);
    // A resize rebuild queues KEY_RESIZE ahead of a key typed meanwhile,
    // which the next line's drop_typed_keys would then drop.
    int key;
    do
        key = wgetch(stdscr);
    while (key == KEY_RESIZE);
    return key_action_of(key);
}

// A quarter of the pace, truncated. The product is taken in 64 bits so
// that paces above 2^32/25 get the same quarter instead of a wrapped one.
static uint32_t pace_step(uint32_t pace)
{
    return (uint32_t)((uint64_t)pace * 25 / 100);
}

uint32_t pace_faster(uint32_t pace)
{
    return pace - pace_step(pace);
}

uint32_t pace_slower(uint32_t pace)
{
    uint64_t slower = (uint64_t)pace + pace_step(pace);
    return slower > UINT32_MAX ? UINT32_MAX : (uint32_t)slower;
}

uint32_t pace_turbo(uint32_t pace, uint32_t adjusted_speed, uint32_t initial_speed)
{
    if (pace != 1)
        return 1;
    return adjusted_speed ? adjusted_speed : initial_speed;
}

// Holds everything until any key, which is not taken as a command.
static void pause_until_key(int32_t status_visible, uint64_t total_lines, uint64_t line_no)
{
    if (options.status_bar && status_visible)
        draw_status_bar(total_lines, line_no);
    wait_for_any_key(false);
}

static void hide_status_bar(int32_t *status_visible)
{
    if (!options.status_bar)
        return;
    *status_visible = 0;
    wbkgd(reader.status_window, 0); // undo the bar's reverse video
    wclear(reader.status_window);
    wrefresh(reader.status_window);
}

// Key e with nothing to run: the status row says so and how to name an
// editor, held until a key so that it can be read at any pace.
static const char no_editor_text[] =
    "No editor found: set VISUAL or EDITOR to its full path (/usr/bin/nano)";

static void report_no_editor(int32_t status_visible, uint64_t total_lines, uint64_t line_no)
{
    wbkgd(reader.status_window, A_REVERSE);
    werase(reader.status_window);
    mvwprintw(reader.status_window, 0, 0, "%s", no_editor_text);
    wnoutrefresh(reader.main_window); // as the bar: the main window covers this row too
    touchwin(reader.status_window);
    wrefresh(reader.status_window);
    wait_for_any_key(false);
    if (options.status_bar && status_visible) {
        draw_status_bar(total_lines, line_no);
        return;
    }
    wbkgd(reader.status_window, 0);
    wclear(reader.status_window);
    wrefresh(reader.status_window);
}

void handle_keys(uint32_t *speed, uint32_t initial_speed, int32_t *status_visible,
                 uint64_t total_lines, uint64_t line_no)
{
    switch (poll_key()) {
    case ACTION_NONE:
        break;
    case ACTION_TURBO:
        *speed = pace_turbo(*speed, reader.adjusted_speed, initial_speed);
        break;
    case ACTION_QUIT:
        cleanup_and_exit();
    case ACTION_ORIGINAL_SPEED:
        *speed = initial_speed;
        reader.adjusted_speed = 0;
        break;
    case ACTION_PAUSE:
        pause_until_key(*status_visible, total_lines, line_no);
        break;
    case ACTION_STATUS_ON:
        options.status_bar = 1;
        *status_visible = 1;
        break;
    case ACTION_STATUS_OFF:
        hide_status_bar(status_visible);
        break;
    case ACTION_CLEAR:
        wclear(reader.main_window);
        wrefresh(reader.main_window);
        break;
    case ACTION_FASTER:
        *speed = reader.adjusted_speed = pace_faster(*speed);
        break;
    case ACTION_SLOWER:
        *speed = reader.adjusted_speed = pace_slower(*speed);
        break;
    case ACTION_AUTO_PAUSE:
        options.auto_pause = !options.auto_pause;
        break;
    case ACTION_INFO:
        if (options.beep_on_events)
            beep();
        show_info_screen(*speed, initial_speed, total_lines, line_no);
        break;
    case ACTION_EDITOR:
        if (editor_chosen())
            launch_editor(line_no);
        else
            report_no_editor(*status_visible, total_lines, line_no);
        break;
    }
}
