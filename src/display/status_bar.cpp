// The status bar and its string helpers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <curses.h>

#include "app/exits.h"
#include "app/records.h"
#include "display/display.h"

// Clock text for now; empty when the local time cannot be had.
static void status_clock_text(char *buf, size_t size)
{
    time_t now = time(nullptr);
    const struct tm *local = localtime(&now);
    if (!local || strftime(buf, size, "%a %b %d  %I:%M:%S%p", local) == 0)
        buf[0] = '\0';
}

void draw_status_bar(uint64_t total_lines, uint64_t line_no)
{
    char clock_text[64];
    status_clock_text(clock_text, sizeof clock_text);
    reader.percent = percent_of(line_no, total_lines);
    // Every draw: the n key may have made the window plain.
    wbkgd(reader.status_window, A_REVERSE);
    if (LINES > 0 && line_no % (uint64_t)LINES == 0)
        reader.page++;
    mvwprintw(reader.status_window, 0, 0, "%ld/%ld - %.0f%%  Page: %ld - %s", (long)line_no,
              (long)total_lines, (double)reader.percent, (long)reader.page,
              reader.short_name ? reader.short_name : "");
    // Outside a window narrower than 23 columns, so simply not drawn there.
    mvwprintw(reader.status_window, 0, COLS - 23, "%s", clock_text);
    // The main window covers this row too. Put out its pending changes
    // first, so a later refresh of it cannot blank the bar, and copy the
    // whole bar, so cells it blanked come back in reverse video.
    wnoutrefresh(reader.main_window);
    touchwin(reader.status_window);
    wrefresh(reader.status_window);
}

char *shorten_name(const char *text, int32_t limit)
{
    size_t length = strlen(text);
    // A negative limit turns huge here, so the whole text is kept.
    size_t keep = length < (size_t)limit ? length : (size_t)limit;
    char *result = (char *)malloc(keep + 2);
    if (!result)
        die_on_screen("malloc()");
    memcpy(result, text, keep);
    result[keep] = '\0';
    if (length > keep)
        strcat(result, "~");
    return result;
}

const char *base_name(const char *path)
{
    const char *slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

void mark_control_bytes(char *text)
{
    for (; *text; text++)
        if ((unsigned char)*text < 0x20 || *text == 0x7f)
            *text = '?';
}

float percent_of(uint64_t line_no, uint64_t total_lines)
{
    // 0 of 0 would be NaN; an empty text shows 0 instead.
    if (total_lines == 0)
        return 0;
    float quotient = (float)line_no / (float)total_lines;
    return quotient * 100.0f;
}
