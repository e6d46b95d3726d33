// The curses screen, its two windows, colour schemes and the resize rebuild.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <curses.h>

#include "app/exits.h"
#include "app/records.h"
#include "app/signals.h"
#include "display/display.h"

struct ColorScheme {
    const char *name;
    short foreground;
    short background;
};

static const ColorScheme color_schemes[] = {
    {"red", COLOR_RED, COLOR_BLACK},         {"bgred", COLOR_WHITE, COLOR_RED},
    {"bgblue", COLOR_WHITE, COLOR_BLUE},     {"blue", COLOR_BLUE, COLOR_BLACK},
    {"green", COLOR_GREEN, COLOR_BLACK},     {"bggreen", COLOR_BLUE, COLOR_GREEN},
    {"magenta", COLOR_MAGENTA, COLOR_BLACK}, {"bgmagenta", COLOR_WHITE, COLOR_MAGENTA},
    {"yellow", COLOR_YELLOW, COLOR_BLACK},   {"bgyellow", COLOR_WHITE, COLOR_YELLOW},
    {"bgwhite", COLOR_BLACK, COLOR_WHITE},   {"bgblack", COLOR_WHITE, COLOR_BLACK},
};

// newterm switches the terminal's modes at once; they are put back until
// the screen starts, so an exit during the conversion leaves the terminal
// as the user had it.
void open_terminal_screen(FILE *tty, const char *name)
{
    struct termios modes;
    bool saved = tcgetattr(fileno(tty), &modes) == 0;
    reader.tty_screen = newterm(nullptr, tty, tty);
    if (!reader.tty_screen) {
        const char *type = getenv("TERM");
        char text[1024];
        if (type && *type)
            snprintf(text, sizeof text, "%s: curses cannot use terminal type '%s'", name, type);
        else
            snprintf(text, sizeof text, "%s: curses cannot start: TERM is not set", name);
        errno = EINVAL;
        die(text);
    }
    if (saved)
        tcsetattr(fileno(tty), TCSANOW, &modes);
}

void init_screen()
{
    if (options.piped) {
        // No initscr here: curses on standard input and output would switch
        // that terminal's modes and, never ended, leave them switched.
        set_term(reader.tty_screen);
        wrefresh(stdscr);
        endwin();
    } else {
        initscr(); // a second call, on a rebuild, keeps the running screen
    }
    cbreak();
    noecho();
    nonl();
    intrflush(stdscr, FALSE);
    keypad(stdscr, TRUE);
    if (options.color_given)
        apply_color_scheme();
    reader.main_window = newwin(LINES, 0, 0, 0);
    reader.status_window = newwin(1, COLS, LINES - 1, 0);
    if (!reader.main_window || !reader.status_window)
        die_on_screen("malloc()");
    reader.screen_up = 1;
    wrefresh(stdscr);
    // Hidden only once the refresh has switched to the alternate screen:
    // terminals that save the cursor's visibility with it (libvterm) would
    // otherwise bring back a hidden cursor when the screen ends.
    curs_set(0);
}

void apply_color_scheme()
{
    if (!has_colors())
        die_on_screen("Your terminal does not support colors");
    start_color();
    for (const ColorScheme &scheme : color_schemes)
        if (strncmp(options.color_name, scheme.name, strlen(scheme.name)) == 0)
            assume_default_colors(scheme.foreground, scheme.background);
}

void on_resize(int)
{
    resize_pending = 1;
    signal_wakeup_notify();
}

int screen_input_fd()
{
    return reader.tty_stream ? fileno(reader.tty_stream) : STDIN_FILENO;
}

static int screen_output_fd()
{
    return reader.tty_stream ? fileno(reader.tty_stream) : STDOUT_FILENO;
}

void rebuild_screen()
{
    wrefresh(stdscr);
    endwin();
    delwin(reader.main_window);
    delwin(reader.status_window);
    // curses does not watch the size itself (the handler is ours), so tell it.
    struct winsize size {};
    if (ioctl(screen_output_fd(), TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0)
        resizeterm(size.ws_row, size.ws_col);
    init_screen();
    scrollok(reader.main_window, TRUE);
    reader.display_row = LINES - 2;
}
