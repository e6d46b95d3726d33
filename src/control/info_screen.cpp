// Information screen: a full-screen page of facts about the run, closed by any key.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include <curses.h>

#include "app/exits.h"
#include "app/records.h"
#include "app/signals.h"
#include "control/control.h"
#include "display/display.h"

void info_pace_text(char *buf, size_t size, uint32_t pace)
{
    float seconds = (float)pace / 1000.0f;
    snprintf(buf, size, "(%d Milliseconds | %.2f Second%s", (int)pace, (double)seconds,
             pace > 1000u ? "s)" : ")");
}

// The directory as shown: cut past COLS - 18, a limit taken unsigned so a
// very narrow terminal never cuts it.
static const char *info_directory_text(const char *cwd)
{
    if (strlen(cwd) > (size_t)(unsigned)(COLS - 18))
        return shorten_name(cwd, COLS - 18);
    return cwd;
}

// A bold label at column 1; the caller then prints the value right after it.
static int info_label(int row, const char *label)
{
    wattrset(stdscr, A_BOLD);
    mvprintw(row, 1, "%s", label);
    wattrset(stdscr, A_NORMAL);
    return 1 + (int)strlen(label);
}

static void info_print_pace(int row, const char *label, uint32_t pace)
{
    char text[96];
    info_pace_text(text, sizeof text, pace);
    mvprintw(row, info_label(row, label), "%s", text);
}

static void info_draw_page(const char *dir_text, uint32_t speed, uint32_t initial_speed,
                           uint64_t total_lines, uint64_t line_no)
{
    wclear(stdscr);
    wrefresh(stdscr);
    wborder(stdscr, 0, 0, 0, 0, 0, 0, 0, 0);
    wattrset(stdscr, A_BOLD);
    mvprintw(0, COLS / 2 - 14, "%s", "Drifterm 2.0  [Press any key]");
    wattrset(stdscr, A_NORMAL);
    if (wmove(stdscr, 1, 1) == OK)
        whline(stdscr, ACS_HLINE, COLS - 2);

    char file_name[1024];
    snprintf(file_name, sizeof file_name, "%s", options.file_path ? base_name(options.file_path) : "");
    mark_control_bytes(file_name);
    mvprintw(2, info_label(2, "Filename: "), "%s", file_name);
    mvprintw(3, info_label(3, "File Size: "), "%ld bytes", (long)reader.file_size);
    mvprintw(4, info_label(4, "Current Dir: "), "%s%c", dir_text,
             strlen(dir_text) < 2 ? ' ' : '/');
    mvprintw(5, info_label(5, "Current Line: "), "%ld of %ld - %.0f%% - Page: %d", (long)line_no,
             (long)total_lines, (double)reader.percent, (int)reader.page);
    info_print_pace(6, "Scroll Speed: ", speed);
    info_print_pace(7, "Original Speed: ", initial_speed);
    mvprintw(8, info_label(8, "External Editor: "), "%s", reader.editor ? reader.editor : "None");
    mvprintw(9, info_label(9, "Terminal Size: "), "%d Rows, %d Columns", LINES, COLS);
    mvprintw(10, info_label(10, "Beep On Events: "), "%s", options.beep_on_events ? "Yes" : "No");
    mvprintw(11, info_label(11, "Auto-Pause: "), "%s", options.auto_pause ? "Yes" : "No");
    mvprintw(12, info_label(12, "Skip Extra Blank Lines: "), "%s",
             options.no_squeeze ? "No" : "Yes");
}

void show_info_screen(uint32_t speed, uint32_t initial_speed, uint64_t total_lines,
                      uint64_t line_no)
{
    char cwd[1024];
    if (!getcwd(cwd, sizeof cwd))
        die_on_screen("getcwd()");
    mark_control_bytes(cwd);
    const char *dir_text = info_directory_text(cwd);
    def_prog_mode();
    // The key read refreshes stdscr, which brings the page up. A resize
    // while it waits rebuilds the windows and reports KEY_RESIZE: the page
    // is then drawn again at the new size and the wait goes on.
    for (;;) {
        info_draw_page(dir_text, speed, initial_speed, total_lines, line_no);
        if (wait_for_key(false) != KEY_RESIZE)
            break;
        dir_text = info_directory_text(cwd);
    }
    wclear(stdscr);
    wrefresh(stdscr);
    reset_prog_mode();
    wrefresh(stdscr);
    reader.status_redraw = 1;
}
