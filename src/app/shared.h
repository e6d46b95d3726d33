// What every module shares: the three program-wide records, the signal
// flags, the exits and the waits that serve signals. The start-up and the
// command line, which call into every module, are in app/startup.h.
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>

#include <curses.h>
#include <sys/types.h>

// Which file a path named when this run made it, so that the run removes
// only its own work files when another run has replaced them since.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0; // 0: this run made no such file
};

// What the command line sets.
struct Options {
    const char *file_path = nullptr;      // file to read; in piped mode the capture file's path
    const char *tty_name = nullptr;       // terminal device named with -t (piped mode only)
    int32_t piped = 1;                    // 1 until a file is named on the command line
    uint32_t speed_ms = 1000;             // pace in ms per line (per character with -m)
    const char *highlight_word = nullptr; // lines holding it are bold (-w, else "drifterm")
    const char *color_name = nullptr;     // colour scheme name from -c
    int32_t color_given = 0;              // -c was given
    uint32_t start_row = 0;               // -p row; 0 means the default row
    int32_t no_squeeze = 0;               // -n: keep runs of blank lines
    int32_t case_enabled = 0;             // -l or -u given
    int32_t case_kind = 0;                // 1 upper case (-u), 2 lower case (-l)
    int32_t char_mode = 0;                // -m: a character at a time
    int32_t status_bar = 1;               // status bar enabled (-x clears, key v sets)
    int32_t auto_pause = 0;               // -a: pause on highlighted lines (key a toggles)
    int32_t beep_on_events = 0;           // -b: allow beeping
};

// Run-time state shared by the display loops, status bar, keys and info screen.
struct ReaderState {
    const char *short_name = nullptr;     // file name shown in the status bar
    FILE *source_file = nullptr;          // the named file, opened as a readability test
    FILE *scroll_file = nullptr;          // the stream being scrolled
    int64_t file_size = 0;                // size in bytes of the scrolled file
    float percent = 0;                    // progress in percent, from the last status draw
    int64_t page = 1;                     // page counter
    const char *editor = nullptr;         // editor program, or "None"
    uint32_t display_row = 0;             // window row on which new text is written
    int32_t status_redraw = 0;            // info screen closed: char mode redraws the bar once
    int32_t highlight_shown = 0;          // the highlight test already typed this line
    uint32_t adjusted_speed = 0;          // last pace set by f or s; 0 when none
    const char *program_name = nullptr;   // argv[0], for the usage line
    SCREEN *tty_screen = nullptr;         // curses screen on the -t terminal (piped mode)
    FILE *tty_stream = nullptr;           // the -t terminal, open for curses' input and output
    WINDOW *main_window = nullptr;        // full-screen scrolling window
    WINDOW *status_window = nullptr;      // one-line window on the bottom row
    int32_t screen_up = 0;                // curses mode has been started by init_screen
    int32_t preparing = 0;                // this run writes its work files: they are its own
    int lock_fd = -1;                     // the work directory, locked while this run prepares
    FileIdentity own_converted;           // the working copy as this run left it prepared
    FileIdentity own_piped;               // the capture as this run left it prepared
};

// Paths of the work directory and its files; written once before parsing.
struct WorkFiles {
    char work_dir[1024];       // "$HOME/.drifterm/", empty when HOME is unset
    char converted_path[1024]; // the working copy, "drift_file"
    char temp_path[1024];      // scratch file of reflow and squeezing, "drift_tmp"
    char piped_path[1024];     // capture of standard input, "piped"
};

extern Options options;
extern ReaderState reader;
extern WorkFiles work_files;

// Set by the signal handlers, acted on by the main flow (see act_on_signals).
// interrupt_pending asks for the cleanup exit (SIGINT, SIGTERM, SIGHUP);
// ending_signal is the SIGTERM or SIGHUP that the exit then reports.
extern volatile sig_atomic_t interrupt_pending;
extern volatile sig_atomic_t ending_signal;
extern volatile sig_atomic_t resize_pending;

// work files (startup.cpp). Runs of one user share the file names, so the
// preparation is serialized by a lock on the work directory, taken before
// the first write of a work file and released once the file to show is open.
void lock_work_files();
// "Loading.." on standard output, once: before the text is prepared, or
// earlier while a run waits for another's preparation.
void show_loading();
// Releases the lock, noting which working copy and capture are this run's.
void unlock_work_files();
// Removes the working copy and capture if they are still this run's own:
// while it prepares, whatever they name is.
void remove_own_work_files();

// exits (startup.cpp, command_line.cpp)
[[noreturn]] void cleanup_and_exit();
[[noreturn]] void die(const char *text);
[[noreturn]] void die_on_screen(const char *text);
// What die_on_screen prints: curses ended, then the failed call and the error.
void report_on_screen(const char *text);
// Prints the usage text and exits with status 0; also after the screen is up.
[[noreturn]] void print_usage();

// signals on the main flow (signals.cpp)
// Descriptor that becomes readable whenever a handled signal arrives, so
// that every wait can include it and none can miss a signal.
int signal_wakeup_fd();
void drain_signal_wakeups();
// Async-signal-safe: wakes whatever wait is in progress on the main flow.
void signal_wakeup_notify();
// Around fork: the parent blocks every handled signal (and SIGQUIT) so that
// no handler of ours runs in the child, which then restores their default
// actions and the mask in `saved_mask` before it execs.
void child_signals_block(sigset_t *saved_mask);
void child_signals_default(const sigset_t *saved_mask);
// Carries out what the handlers recorded: the cleanup exit for an
// interrupt, the window rebuild for a resize (once the screen exists).
void act_on_signals();
// Sleeps `ms` milliseconds, acting on signals as they arrive; a resize
// does not shorten the pace, an interrupt ends the program at once.
void pace_sleep(uint32_t ms);
// Blocking key read (on the main window or stdscr) that still serves
// signals while it waits.
// Returns KEY_RESIZE after a rebuild, for a caller that must redraw.
int wait_for_key(bool from_main_window);
// The same for a key typed by the user: a resize keeps it waiting.
void wait_for_any_key(bool from_main_window);
