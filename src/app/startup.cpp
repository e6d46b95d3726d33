// Start-up order, work paths, run_reader and the ways the program ends.
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "app/startup.h"
#include "control/control.h"
#include "display/display.h"
#include "prepare/prepare.h"
#include "scroll/scroll.h"

Options options;
ReaderState reader;
WorkFiles work_files;

int drifterm_main(int argc, char **argv)
{
    setlocale(LC_CTYPE, ""); // UTF-8 text shows as itself; time and numbers stay in "C"
    install_signal_handlers();
    reader.program_name = argv[0];
    make_work_paths();
    choose_editor();
    act_on_signals();
    parse_command_line(argc, argv);

    // The normal end: unlike cleanup_and_exit, typed-ahead keys stay for the shell.
    unlink(work_files.converted_path);
    if (options.piped)
        unlink(work_files.piped_path);
    wclear(stdscr);
    wrefresh(stdscr);
    endwin();
    return 0;
}

void install_signal_handlers()
{
    signal_wakeup_fd(); // the wake-up pipe must exist before a handler can write to it
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a signal ends the wait it interrupts
    action.sa_handler = on_resize;
    sigaction(SIGWINCH, &action, nullptr);
    action.sa_handler = on_interrupt;
    sigaction(SIGINT, &action, nullptr);
}

// Formats `format` with the work directory into `dest` (1024 bytes).
static void format_work_path(char *dest, const char *format)
{
    snprintf(dest, sizeof work_files.work_dir, format, work_files.work_dir);
}

void make_work_paths()
{
    const char *home = getenv("HOME");
    // An empty HOME would put the work directory at the file system's root.
    if (home && *home) {
        int n = snprintf(work_files.work_dir, sizeof work_files.work_dir, "%s/.drifterm/", home);
        if (n < 0 || (size_t)n >= sizeof work_files.work_dir) {
            // A cut path would name some other directory: refuse instead.
            work_files.work_dir[0] = '\0';
            errno = ENAMETOOLONG;
            die("HOME");
        }
        if (access(work_files.work_dir, W_OK) != 0 && mkdir(work_files.work_dir, 0700) != 0) {
            // Another run may have made it between the test and mkdir.
            int saved = errno;
            if (!(saved == EEXIST && access(work_files.work_dir, W_OK) == 0)) {
                errno = saved;
                die(work_files.work_dir);
            }
        }
    }
    format_work_path(work_files.converted_path, "%sdrift_file");
    format_work_path(work_files.temp_path, "%sdrift_tmp");
    format_work_path(work_files.piped_path, "%spiped");
}

void run_reader(uint32_t initial_speed)
{
    // Until the text is prepared an exit removes the scratch file too:
    // every step may have it, and an interrupt may come between any two calls.
    reader.preparing = 1;
    if (options.piped) {
        options.file_path = work_files.piped_path;
        capture_piped_input();
        act_on_signals();
    }
    convert_with_lesspipe();
    act_on_signals();
    reformat_with_fmt();
    act_on_signals();
    if (!options.no_squeeze) {
        squeeze_blank_lines();
        act_on_signals();
    }
    reader.preparing = 0;
    // curses takes the size as it is now; a resize during preparation needs
    // no rebuild, unless the piped screen was made (with its size) before it.
    if (!options.piped)
        resize_pending = 0;
    init_screen();
    char *short_name = shorten_name(base_name(options.file_path), 15);
    mark_control_bytes(short_name);
    reader.short_name = short_name;
    if (!options.highlight_word)
        options.highlight_word = "drifterm";
    if (initial_speed == 0)
        print_usage();
    scroll_lines(initial_speed);
}

[[noreturn]] void cleanup_and_exit()
{
    if (reader.preparing)
        unlink(work_files.temp_path);
    unlink(work_files.converted_path);
    if (options.piped)
        unlink(work_files.piped_path);
    if (reader.screen_up) {
        wclear(stdscr);
        wrefresh(stdscr);
        flushinp();
        endwin();
    }
    exit(0);
}

[[noreturn]] void die(const char *text)
{
    perror(text);
    exit(1);
}

[[noreturn]] void die_on_screen(const char *text)
{
    int saved = errno; // endwin may change it
    endwin();
    errno = saved;
    perror(text);
    cleanup_and_exit();
}
