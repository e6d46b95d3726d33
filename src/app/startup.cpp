// Start-up order, work paths, run_reader and the ways the program ends.
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include <curses.h>

#include "app/exits.h"
#include "app/records.h"
#include "app/signals.h"
#include "app/startup.h"
#include "app/work_lock.h"
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
    remove_own_work_files();
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
    sigaction(SIGTERM, &action, nullptr);
    // Started with hangups ignored (nohup): keep them ignored.
    struct sigaction hangup {};
    sigaction(SIGHUP, nullptr, &hangup);
    if (hangup.sa_handler != SIG_IGN)
        sigaction(SIGHUP, &action, nullptr);
}

// Formats `format` with the work directory into `dest` (1024 bytes).
static void format_work_path(char *dest, const char *format)
{
    snprintf(dest, sizeof work_files.work_dir, format, work_files.work_dir);
}

// Why the work directory, as lstat found it, cannot be trusted with the
// work files; nullptr when it can. In a directory that others may write
// to, or that is not where its path says, a link planted under a work name
// would make the run overwrite or remove the file it points at.
static const char *work_dir_problem(const struct stat &status)
{
    if (S_ISLNK(status.st_mode))
        return "is a symbolic link, not a directory";
    if (!S_ISDIR(status.st_mode))
        return "is not a directory";
    if (status.st_uid != geteuid())
        return "is owned by another user";
    if (status.st_mode & (S_IWGRP | S_IWOTH))
        return "is writable by group or others";
    return nullptr;
}

static void check_work_dir()
{
    // Without its closing slash, so that lstat sees a link itself.
    char dir[1024];
    snprintf(dir, sizeof dir, "%s", work_files.work_dir);
    dir[strlen(dir) - 1] = '\0';
    struct stat status;
    if (lstat(dir, &status) != 0)
        die(work_files.work_dir);
    if (const char *problem = work_dir_problem(status))
        work_file_refuse(work_files.work_dir, problem);
}

// With HOME unset the work files go to the current directory, which must
// then be no one else's to write.
static void check_current_dir()
{
    struct stat status;
    if (stat(".", &status) != 0)
        die("stat()");
    if (status.st_mode & S_IWOTH) {
        char cwd[1024];
        work_file_refuse(getcwd(cwd, sizeof cwd) ? cwd : ".",
                         "is writable by others (HOME is not set, so the work files would be made here)");
    }
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
        check_work_dir();
    } else {
        check_current_dir();
    }
    format_work_path(work_files.converted_path, "%sdrift_file");
    format_work_path(work_files.temp_path, "%sdrift_tmp");
    format_work_path(work_files.piped_path, "%spiped");
    // A link under a work name is refused here already, before -h or -v.
    for (const char *path : {work_files.converted_path, work_files.temp_path, work_files.piped_path}) {
        struct stat status;
        if (lstat(path, &status) == 0 && S_ISLNK(status.st_mode))
            work_file_refuse(path, link_in_place_of_work_file);
    }
}

void run_reader(uint32_t initial_speed)
{
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

// Ended by a hangup or kill: the parent is told so, as by the signal's own action.
[[noreturn]] static void exit_by_signal(int signal)
{
    fflush(nullptr);
    ::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    _exit(128 + signal);
}

[[noreturn]] void cleanup_and_exit()
{
    remove_filter_temp_dir();
    if (reader.preparing)
        unlink(work_files.temp_path);
    remove_own_work_files();
    if (reader.screen_up) {
        wclear(stdscr);
        wrefresh(stdscr);
        flushinp();
        endwin();
    }
    if (ending_signal)
        exit_by_signal(ending_signal);
    exit(0);
}

[[noreturn]] void die(const char *text)
{
    remove_filter_temp_dir();
    perror(text);
    exit(1);
}

[[noreturn]] void die_with_hint(const char *text, const char *hint)
{
    remove_filter_temp_dir();
    perror(text);
    fprintf(stderr, "%s\n", hint);
    exit(1);
}

[[noreturn]] void die_naming(const char *name, const char *reason)
{
    remove_filter_temp_dir();
    fprintf(stderr, "%s: %s\n", name, reason);
    exit(1);
}

void report_on_screen(const char *text)
{
    int saved = errno; // endwin may change it
    endwin();
    errno = saved;
    perror(text);
}

[[noreturn]] void die_on_screen(const char *text)
{
    report_on_screen(text);
    cleanup_and_exit();
}
