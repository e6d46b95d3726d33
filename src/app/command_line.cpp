// Command line, usage text and version line.
#include <cerrno>
#include <cstddef>
#include <cstdint>
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

namespace {

// Longest file name or -w word accepted.
constexpr size_t name_limit = 1024;
// How many characters of a -p or -s value are read as the number.
constexpr size_t row_digits = 3;
constexpr size_t speed_digits = 20;

// "+" asks glibc for the POSIX rules: no reordering, stop at the first non-option.
const char option_letters[] = "+s:p:f:w:c:navhbluxmt:";

const char *const usage_lines[] = {
    "-f <filename>   File to scroll.",
    "-s <n>          Scroll at <n> milliseconds. Default: 1000 (1 sec).",
    "-p <n>          Start text on row <n> (1 to LINES-2).",
    "-w <string>     Highlight all lines that <string> appears on.",
    "-l              Display in all lower case characters.",
    "-u              Display in all upper case characters.",
    "-c <color>      red, bgred, green, bggreen, blue, bgblue, yellow,"
    "                               "
    "bgyellow, magenta, bgmagenta, bgwhite.",
    "-n              Don't take out extra blank lines. Display as is.",
    "-a              Automatically pause on highlight word from -w.",
    "-v              Display program version number.",
    "-h              Help (This message).",
    "-x              Don't show status bar.",
    "-b              Allow beeping on important events.",
    "-m              Scroll a character at a time mode.",
    "-t <ttyname>    Name of tty your running drifterm from while piped",
    "\tWhile drifterm is running you can use the option keys:",
    "'q' to quit.",
    "'p' to pause.",
    "'spacebar' to scroll superfast (hit again to turn off).",
    "'c' to clear the current screen.",
    "'n' to turn off the status bar.",
    "'v' to turn the status bar back on.",
    "'f' to speed scrolling up in 25 percent increments.",
    "'s' to slow scrolling speed down in 25 percent increments.",
    "'o' to go back to original speed.",
    "'a' to toggle Auto-Pausing on/off.",
    "'e' open file in your editor. Uses $VISUAL, $EDITOR or /bin/vi.",
    "'i' to view detailed file/program/etc information.",
};

// Heap copy of `value` that is never freed; `failure_text` names the failure.
const char *copy_text(const char *value, const char *failure_text)
{
    size_t size = strlen(value) + 1;
    char *copy = static_cast<char *>(malloc(size));
    if (!copy)
        die(failure_text);
    memcpy(copy, value, size);
    return copy;
}

bool too_long(const char *value)
{
    return strnlen(value, name_limit + 1) > name_limit;
}

// A directory reads as an empty text and a device may never end
// (/dev/zero): neither is a document, so both are refused before the screen.
void refuse_unless_readable_kind(const char *path, const struct stat &status)
{
    if (S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        die(path);
    }
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
        die_naming(path, "not a regular file");
}

// Names the file to read and opens it, which is the test that it can be read.
// Earlier names and streams are left as they are.
void name_file(const char *path)
{
    options.piped = 0;
    if (too_long(path))
        print_usage();
    options.file_path = copy_text(path, "malloc()");
    // Looked at before the open too, since opening a device can block or act on it.
    struct stat status;
    if (stat(options.file_path, &status) == 0)
        refuse_unless_readable_kind(options.file_path, status);
    reader.source_file = fopen(options.file_path, "r");
    if (!reader.source_file) {
        act_on_signals(); // a FIFO waits for its writer: Ctrl-C there is an interrupt, not a failure
        die("fopen()");
    }
    if (fstat(fileno(reader.source_file), &status) == 0)
        refuse_unless_readable_kind(options.file_path, status);
}

uint32_t numeric_option(const char *value, size_t max_digits)
{
    if (!is_all_digits(value))
        print_usage();
    return number_from_value(value, max_digits);
}

[[noreturn]] void print_version()
{
    printf("drifterm 2.0  By Vornhallow\n");
    fflush(stdout);
    exit(0);
}

void apply_option(int letter, const char *value)
{
    switch (letter) {
    case 'f':
        name_file(value);
        break;
    case 's':
        options.speed_ms = numeric_option(value, speed_digits);
        break;
    case 'p':
        options.start_row = numeric_option(value, row_digits);
        break;
    case 'w':
        if (too_long(value))
            print_usage();
        options.highlight_word = copy_text(value, "malloc()");
        break;
    case 'c':
        options.color_given = 1;
        options.color_name = copy_text(value, "malloc");
        break;
    case 't':
        options.tty_name = copy_text(value, "malloc()");
        break;
    case 'n':
        options.no_squeeze = 1;
        break;
    case 'a':
        options.auto_pause = 1;
        break;
    case 'b':
        options.beep_on_events = 1;
        break;
    case 'l':
        options.case_enabled = 1;
        options.case_kind = 2;
        break;
    case 'u':
        options.case_enabled = 1;
        options.case_kind = 1;
        break;
    case 'x':
        options.status_bar = 0;
        break;
    case 'm':
        options.char_mode = 1;
        break;
    case 'v':
        print_version();
    default: // 'h', and '?' after getopt's own diagnostic
        print_usage();
    }
}

// Piped mode without -t fails for want of a terminal; when a file name
// follows the options, that name was what was meant, and it is not read.
void hint_at_ignored_file(int argc, char **argv)
{
    if (!options.piped || options.tty_name || optind >= argc || strcmp(argv[optind], "-") == 0)
        return;
    char hint[1024];
    snprintf(hint, sizeof hint, "%s: '%s' after the options is not read; name the file with -f FILE",
             reader.program_name, argv[optind]);
    errno = EFAULT; // the failure the run would meet, with no text of its own
    die_with_hint(nullptr, hint);
}

} // namespace

void parse_options(int argc, char **argv)
{
    if (argc < 2)
        print_usage();
    // The long forms every tool answers, as the first argument only, so
    // that every other command line is read as ever.
    if (strcmp(argv[1], "--help") == 0)
        print_usage();
    if (strcmp(argv[1], "--version") == 0)
        print_version();
    for (int i = 1; i < argc && argv[i][0] != '-'; i++)
        name_file(argv[i]);
    // getopt starts again at the first argument: after a leading file it stops at once.
    int letter;
    while ((letter = getopt(argc, argv, option_letters)) != -1)
        apply_option(letter, optarg);
}

void parse_command_line(int argc, char **argv)
{
    parse_options(argc, argv);
    hint_at_ignored_file(argc, argv);
    run_reader(options.speed_ms);
}

[[noreturn]] void print_usage()
{
    if (reader.screen_up && !isendwin())
        endwin();
    printf("Usage: %s [OPTIONS]\n", reader.program_name);
    for (const char *line : usage_lines)
        printf("%s\n", line);
    fflush(stdout);
    exit(0);
}

bool is_all_digits(const char *text)
{
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; p++)
        if (*p < '0' || *p > '9')
            return false;
    return true;
}

uint32_t number_from_value(const char *value, size_t max_digits)
{
    char copy[speed_digits + 1];
    size_t length = strnlen(value, max_digits < speed_digits ? max_digits : speed_digits);
    memcpy(copy, value, length);
    copy[length] = '\0';
    // strtoll saturates where atoi is undefined; the pace and row keep the low 32 bits.
    return static_cast<uint32_t>(strtoll(copy, nullptr, 10));
}
