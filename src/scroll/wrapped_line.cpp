// Lines wider than the window: curses would wrap them onto the rows below
// the display row, over the status bar, and the next line would then be
// written over their wrapped rows. Such a line is laid out in a pad as
// curses wraps it and brought in from below, so that its last row ends on
// the display row and the rows above move up to make room.
#include <cstdlib>
#include <cstring>

#include <curses.h>

#include "app/records.h"
#include "scroll/scroll.h"

bool fits_one_row(const char *line, int columns)
{
    int width = 0;
    for (const unsigned char *p = (const unsigned char *)line; *p && *p != '\n'; p++) {
        // Controls and tabs take more than one cell; so may a byte that is
        // no character of a single-byte locale, shown as "M-x".
        if (*p < 0x20 || *p == 0x7f || (*p >= 0x80 && MB_CUR_MAX == 1))
            return false;
        // Every character of a multibyte locale is at least as many bytes
        // as it takes cells, so the bytes bound the width.
        width++;
    }
    return width < columns;
}

// Rows a line can take: each byte at most a tab's or a "M-^X" width.
static int pad_rows_for(int columns)
{
    int widest_byte = TABSIZE > 4 ? TABSIZE : 4;
    return widest_byte * 1023 / (columns > 0 ? columns : 1) + 2;
}

static WINDOW *layout_pad = nullptr;

// The pad, as wide as the main window, which a resize may have changed.
static WINDOW *layout_pad_for(int columns)
{
    if (layout_pad && getmaxx(layout_pad) != columns) {
        delwin(layout_pad);
        layout_pad = nullptr;
    }
    if (!layout_pad)
        layout_pad = newpad(pad_rows_for(columns), columns);
    return layout_pad;
}

// Writes `line` (without its newline) on the pad from its top left corner,
// with the main window's attributes; returns the number of rows it took.
static int layout_line(WINDOW *pad, const char *line)
{
    attr_t attributes;
    short pair;
    wattr_get(reader.main_window, &attributes, &pair, nullptr);
    wattr_set(pad, attributes, pair, nullptr);
    wmove(pad, 0, 0);
    wclrtobot(pad);
    untouchwin(pad);
    size_t length = strcspn(line, "\n");
    waddnstr(pad, line, (int)length);
    // The rows written are the ones touched; a row the cursor merely
    // wrapped to after the last column holds nothing.
    int rows = 1;
    for (int row = getmaxy(pad) - 1; row > 0; row--)
        if (is_linetouched(pad, row)) {
            rows = row + 1;
            break;
        }
    return rows;
}

void show_wrapped_line(const char *line)
{
    WINDOW *main = reader.main_window;
    int columns = getmaxx(main);
    int bottom = (int)reader.display_row;
    WINDOW *pad = layout_pad_for(columns);
    if (!pad || bottom < 0 || bottom >= getmaxy(main)) {
        mvwprintw(main, (int)reader.display_row, 0, "%s", line); // as curses would
        return;
    }
    int rows = layout_line(pad, line);
    // A line taller than the rows above the display row shows its end.
    int shown = rows < bottom + 1 ? rows : bottom + 1;
    if (shown > 1)
        wscrl(main, shown - 1);
    copywin(pad, main, rows - shown, 0, bottom - shown + 1, 0, bottom, columns - 1, FALSE);
}
