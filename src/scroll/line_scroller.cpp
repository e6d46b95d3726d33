// The line scroller: moves the text up the main window a line at a time.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <curses.h>

#include "app/exits.h"
#include "app/records.h"
#include "app/signals.h"
#include "app/work_lock.h"
#include "control/control.h"
#include "display/display.h"
#include "scroll/scroll.h"

bool row_in_range(uint32_t row, int lines)
{
    return row - 1u < (uint32_t)(lines - 2);
}

// The line total is the number of reads of at most 254 bytes (fgets into
// 255) that deliver data. Such a read ends after a newline or after 254
// bytes, NULs included, so a line of n bytes with its newline takes
// ceil(n / 254) reads: the count follows from the newline positions alone,
// found here in large blocks instead of millions of small reads.
int64_t count_lines(FILE *stream)
{
    const uint64_t count_read_max = 254;
    static char block[1 << 16];
    int64_t count = 0;
    uint64_t line_len = 0; // bytes of the current line so far
    size_t len;
    while ((len = fread(block, 1, sizeof block, stream)) > 0) {
        const char *at = block, *end = block + len;
        while (const char *newline = (const char *)memchr(at, '\n', (size_t)(end - at))) {
            line_len += (uint64_t)(newline + 1 - at);
            count += (int64_t)((line_len + count_read_max - 1) / count_read_max);
            line_len = 0;
            at = newline + 1;
        }
        line_len += (uint64_t)(end - at);
    }
    count += (int64_t)((line_len + count_read_max - 1) / count_read_max); // a last line without newline
    rewind(stream);
    return count;
}

int64_t file_size_of(FILE *stream)
{
    fseek(stream, 0, SEEK_END);
    int64_t size = ftell(stream);
    fseek(stream, 0, SEEK_SET);
    return size;
}

// Settles the display row and opens and measures the file to show.
static void scroll_open()
{
    reader.display_row = options.start_row ? options.start_row : (uint32_t)(LINES - 2);
    if (!row_in_range(reader.display_row, LINES))
        print_usage();
    if (options.piped) {
        reader.scroll_file = fopen(work_files.piped_path, "r");
        reader.short_name = "piped output";
    } else {
        reader.scroll_file = fopen(work_files.converted_path, "r");
        reader.source_file = reader.scroll_file;
    }
    if (!reader.scroll_file)
        die_on_screen("fopen()");
    unlock_work_files(); // another run may now prepare its own text
}

// The end of the text: the final position, then any key.
static void scroll_finish(uint64_t total_lines, uint64_t line_no)
{
    draw_status_bar(total_lines, line_no);
    wait_for_any_key(true);
    fclose(reader.scroll_file);
}

// The main window covers the bar's row too, and its scroll blanks that row.
// While the bar is shown it is laid over the scrolled window again before
// the update, so the terminal keeps it and only the text rows move: curses
// then scrolls them alone instead of repainting the bar for every line.
static void refresh_after_scroll(int32_t status_visible)
{
    wnoutrefresh(reader.main_window);
    if (options.status_bar && status_visible) {
        touchwin(reader.status_window);
        wnoutrefresh(reader.status_window);
    }
    doupdate();
}

// A carriage return before the newline would send curses back to column 0,
// and the newline would then clear the row: CRLF text would show nothing.
static void drop_carriage_return(char *line)
{
    size_t length = strlen(line);
    if (length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n') {
        line[length - 2] = '\n';
        line[length - 1] = '\0';
    }
}

static void show_line(char *line, uint32_t speed, uint32_t initial_speed, int32_t status_visible,
                      uint64_t total_lines, uint64_t line_no)
{
    if (options.status_bar && status_visible)
        draw_status_bar(total_lines, line_no);
    check_highlight(line, speed, initial_speed, status_visible, total_lines, line_no);
    if (options.case_enabled)
        convert_case(line);
    // After the highlight test, which searches the line as read: curses
    // drops or garbles bytes that are no character of the locale.
    mark_invalid_bytes(line);
    drop_carriage_return(line);
    if (fits_one_row(line, getmaxx(reader.main_window))) {
        mvwprintw(reader.main_window, (int)reader.display_row, 0, "%s", line);
        // Shown now, so that a line spends its pace on the row it enters on.
        wrefresh(reader.main_window);
    } else {
        show_wrapped_line(line);
        refresh_after_scroll(status_visible);
    }
}

void scroll_lines(uint32_t initial_speed)
{
    scroll_open();
    uint64_t total_lines = (uint64_t)count_lines(reader.scroll_file);
    reader.file_size = file_size_of(reader.scroll_file);
    if (options.char_mode) {
        scroll_chars(initial_speed);
        return;
    }
    scrollok(reader.main_window, TRUE);

    uint32_t speed = initial_speed;
    int32_t status_visible = 1;
    uint64_t line_no = 0;
    char line[1024];
    while (fgets(line, sizeof line, reader.scroll_file)) {
        drop_typed_keys();
        line_no++;
        show_line(line, speed, initial_speed, status_visible, total_lines, line_no);
        pace_sleep(speed);
        wscrl(reader.main_window, 1);
        refresh_after_scroll(status_visible);
        handle_keys(&speed, initial_speed, &status_visible, total_lines, line_no);
    }
    scroll_finish(total_lines, line_no);
}
