// A small curses program the harness self-tests drive in place of the real
// binary, so they exercise the same curses paths: initscr or newterm on a
// named terminal, colours, keypad keys, beep, resize and endwin.
//   tool_fixture            curses on the standard terminal
//   tool_fixture -t TTY     read all of stdin first, then curses on TTY
// Keys: q quits (status 0), x quits with status 3, b beeps, anything else
// is shown by name on row 3.
#include <cstdio>
#include <cstring>

#include <curses.h>

static size_t g_stdin_bytes = 0;
static bool g_piped = false;

static void draw(void)
{
    erase();
    mvprintw(0, 0, "size %dx%d", LINES, COLS);
    if (g_piped)
        mvprintw(1, 0, "stdin %zu", g_stdin_bytes);
    attrset(A_BOLD);
    mvprintw(2, 0, "bold");
    attrset(A_REVERSE);
    mvprintw(2, 5, "rev");
    attrset(COLOR_PAIR(1));
    mvprintw(2, 9, "red");
    attrset(COLOR_PAIR(2));
    mvprintw(2, 13, "blue");
    attrset(A_NORMAL);
    mvprintw(LINES - 1, 0, "bottom");
    refresh();
}

int main(int argc, char **argv)
{
    SCREEN *scr = nullptr;
    FILE *tty = nullptr;
    if (argc > 2 && strcmp(argv[1], "-t") == 0) {
        g_piped = true;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, stdin)) > 0)
            g_stdin_bytes += n;
        tty = fopen(argv[2], "r+");
        if (!tty) {
            perror("fopen()");
            return 1;
        }
        scr = newterm(nullptr, tty, tty);
        set_term(scr);
    } else {
        initscr();
    }
    cbreak();
    noecho();
    keypad(stdscr, TRUE);
    curs_set(0);
    start_color();
    use_default_colors();
    init_pair(1, COLOR_RED, -1);
    init_pair(2, COLOR_WHITE, COLOR_BLUE);
    // getch can miss a SIGWINCH that lands just before it blocks; waking
    // up now and then lets the next call notice it.
    timeout(50);
    draw();
    int status = 0;
    for (;;) {
        int ch = getch();
        if (ch == KEY_RESIZE) {
            draw();
        } else if (ch == 'q') {
            break;
        } else if (ch == 'x') {
            status = 3;
            break;
        } else if (ch == 'b') {
            beep();
        } else if (ch != ERR) {
            mvprintw(3, 0, "key %s", keyname(ch));
            clrtoeol();
            refresh();
        }
    }
    endwin();
    if (scr)
        delscreen(scr);
    if (tty)
        fclose(tty);
    return status;
}
