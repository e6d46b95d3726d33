// Character mode. (Typing helpers only, for now.)
#include <cstring>
#include <cwchar>

#include "app/app.h"
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

void scroll_chars(uint32_t) {}
