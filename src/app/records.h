// The three program-wide records, Options, ReaderState and WorkFiles, and
// their one instance each: the only long-lived state besides the signal flags.
#pragma once

#include <cstdint>
#include <cstdio>

#include <sys/types.h>

// curses' screen and window, declared as ncurses declares them, so that the
// records compile where curses is not included (src/prepare/ draws
// nothing); a curses whose types differ fails at its own typedefs.
typedef struct screen SCREEN;
typedef struct _win_st WINDOW;

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
