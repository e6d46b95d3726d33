// End-to-end test harness: runs a program on a pseudo-terminal of fixed size,
// keeps a libvterm model of its screen, and lets GoogleTest tests wait for
// screen states, send keys, resize, and read exit status, stderr and files.
// Rows and columns are 0-based everywhere.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#ifndef DRIFTERM_BINARY
#define DRIFTERM_BINARY "drifterm"
#endif

// Names live in a namespace so they can never clash at link time with the
// program's own library; the using-directive below keeps call sites short.
namespace harness {

// How to start the child. args are the arguments after argv[0]; argv[0] is
// argv0 when set, else program. The environment is rebuilt from scratch:
// PATH, LANG and LC_* from the parent (LANG=C.UTF-8 when the parent has
// none), TERM=xterm-256color, HOME=home (unset when home is empty or
// unset_home), sanitizer log options, then env (overriding), minus unset_env.
struct Launch {
    std::vector<std::string> args;
    int rows = 24, cols = 80;
    std::string home;
    bool unset_home = false;
    std::vector<std::pair<std::string, std::string>> env;
    std::vector<std::string> unset_env;
    std::string cwd;            // working directory; empty keeps the parent's
    bool stdin_pipe = false;    // stdin is a pipe fed with stdin_data, then closed
    std::string stdin_data;
    bool stderr_pipe = true;    // stderr captured apart (term_stderr), else on the pty
    std::string program = DRIFTERM_BINARY;
    std::string argv0;          // argv[0] when not empty
};

// One running child and its screen model. Opaque; use the term_* functions.
struct Term;

// Starts the child on a new pty. In piped mode (stdin_pipe) every argument
// equal to "{PTY}" becomes the slave's path, the pty is not the child's
// controlling terminal, and stdout/stderr still go to the pty/pipe as usual.
// Returns nullptr (after ADD_FAILURE) when the pty or fork fails.
Term *term_spawn(const Launch &launch);
// SIGKILLs the child's process group if still there, reaps it, joins the
// threads, frees everything, and fails the current test if the child left
// a sanitizer report.
void term_close(Term *t);

struct TermCloser {
    void operator()(Term *t) const { term_close(t); }
};
// Closes the terminal even when an ASSERT_* leaves the test early.
using TermPtr = std::unique_ptr<Term, TermCloser>;

// Input. Key sequences are what xterm sends in keypad-transmit mode, which
// is the mode a curses program with keypad() enabled puts it in.
void term_send(Term *t, const std::string &bytes);
inline constexpr const char *KEY_UP_SEQ = "\033OA";
inline constexpr const char *KEY_DOWN_SEQ = "\033OB";
inline constexpr const char *KEY_RIGHT_SEQ = "\033OC";
inline constexpr const char *KEY_LEFT_SEQ = "\033OD";
inline constexpr const char *KEY_HOME_SEQ = "\033OH";
inline constexpr const char *KEY_END_SEQ = "\033OF";
inline constexpr const char *KEY_PPAGE_SEQ = "\033[5~";
inline constexpr const char *KEY_NPAGE_SEQ = "\033[6~";
inline constexpr const char *KEY_IC_SEQ = "\033[2~";
inline constexpr const char *KEY_DC_SEQ = "\033[3~";
inline constexpr const char *KEY_BACKSPACE_SEQ = "\177";
inline constexpr const char *KEY_ENTER_SEQ = "\r";
inline constexpr const char *KEY_ESC_SEQ = "\033";
inline constexpr const char *KEY_F1_SEQ = "\033OP";
inline constexpr const char *KEY_F2_SEQ = "\033OQ";
inline constexpr const char *KEY_F3_SEQ = "\033OR";
inline constexpr const char *KEY_F4_SEQ = "\033OS";
inline constexpr const char *KEY_F5_SEQ = "\033[15~";
inline constexpr const char *KEY_F6_SEQ = "\033[17~";
inline constexpr const char *KEY_F7_SEQ = "\033[18~";
inline constexpr const char *KEY_F8_SEQ = "\033[19~";
inline constexpr const char *KEY_F9_SEQ = "\033[20~";
inline constexpr const char *KEY_F10_SEQ = "\033[21~";
inline constexpr const char *KEY_F11_SEQ = "\033[23~";
inline constexpr const char *KEY_F12_SEQ = "\033[24~";
// Control-c and friends: ctrl_key('c') == "\003".
std::string ctrl_key(char letter);

// Resizes pty and screen model; the child gets SIGWINCH (from the kernel
// in the default mode, sent explicitly in piped mode).
void term_resize(Term *t, int rows, int cols);
void term_signal(Term *t, int sig);
int term_pid(Term *t);

// Screen reading; each call takes the screen lock.
struct Cell {
    std::string text;   // UTF-8; " " when blank, "" for the right half of a wide char
    bool bold = false, reverse = false, underline = false;
    int fg = -1, bg = -1;   // palette index 0..255, -1 for the default colour
};
std::string term_row(Term *t, int row);        // trailing blanks trimmed
std::string term_row_raw(Term *t, int row);    // padded to the full width
std::vector<std::string> term_rows_text(Term *t);   // every row, trimmed
Cell term_cell(Term *t, int row, int col);
std::string term_screen(Term *t);              // whole screen with row numbers
int term_bells(Term *t);
bool term_cursor_visible(Term *t);
bool term_altscreen(Term *t);
std::pair<int, int> term_cursor(Term *t);      // {row, col}
int term_rows(Term *t);
int term_cols(Term *t);
std::string term_raw(Term *t);                 // every byte read from the pty
std::string term_stderr(Term *t);              // stderr so far (stderr_pipe)

// Waiting: polls pred until it holds or timeout_ms passes. Predicates may
// call any term_* reader.
bool term_wait_for(Term *t, const std::function<bool(Term *)> &pred, int timeout_ms);
bool term_wait_row(Term *t, int row, const std::string &text, int timeout_ms);
bool term_wait_row_contains(Term *t, int row, const std::string &text, int timeout_ms);
bool term_wait_text(Term *t, const std::string &text, int timeout_ms);
bool term_wait_screen(Term *t, const std::vector<std::string> &rows, int timeout_ms);

// Exit: status 0..255, 128+signal when killed, -1 on timeout. Once the
// child has exited this also waits (briefly) until its last output is on
// the screen model.
int term_wait_exit(Term *t, int timeout_ms);
bool term_exited(Term *t);
// Sends `key` every 100 ms until the child exits; returns its status, or -1
// after timeout_ms. For ending a run at its closing wait: a single key sent
// as the last line shows can be taken by the poll between lines instead.
int term_press_until_exit(Term *t, const std::string &key, int timeout_ms);
// True once the child catches `sig` with a handler of its own (from /proc):
// a signal sent before that ends it by the default action.
bool term_catches_signal(Term *t, int sig);

// Timing, on the steady clock in milliseconds. A row "changes" when its
// trimmed text differs; the times are when the reader applied the change.
int64_t term_now_ms();
int64_t term_last_change_ms(Term *t);             // any cell, text or attributes
int64_t term_row_changed_ms(Term *t, int row);    // last text change of the row
// Waits until the row's text differs from what it is now; returns the time
// of that change, or -1 on timeout.
int64_t term_wait_row_change(Term *t, int row, int timeout_ms);
// The same, but against a given text, so no change can slip by between a
// check and the call.
int64_t term_wait_row_differs(Term *t, int row, const std::string &from, int timeout_ms);

// Failure messages (pure, so they can be tested on their own).
std::string format_screen(const std::vector<std::string> &rows);
std::string format_timeout(const std::string &expected, int timeout_ms,
                           const std::vector<std::string> &seen);
std::string format_screen_diff(const std::vector<std::string> &expected,
                               const std::vector<std::string> &actual);

// GoogleTest checks: on timeout the message holds what was expected and the
// whole screen that was seen. Use through the macros below.
::testing::AssertionResult term_check_row(Term *t, int row, const std::string &text, int timeout_ms);
::testing::AssertionResult term_check_row_contains(Term *t, int row, const std::string &text,
                                                   int timeout_ms);
::testing::AssertionResult term_check_text(Term *t, const std::string &text, int timeout_ms);
// Rows past the end of expected must be blank.
::testing::AssertionResult term_check_screen(Term *t, const std::vector<std::string> &expected,
                                             int timeout_ms);
::testing::AssertionResult term_check_exit(Term *t, int status, int timeout_ms);

// Files.
std::string make_temp_dir();                    // fresh directory under /tmp
void remove_tree(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);
std::string read_file(const std::string &path); // "" when unreadable
bool file_exists(const std::string &path);
std::vector<std::string> list_dir(const std::string &path);  // sorted, no . and ..
std::string work_dir_of(const std::string &home);             // home + "/.drifterm"
std::string find_program(const std::string &name);  // on this process's PATH; "" when absent

// A temporary directory removed when the holder goes out of scope.
struct TempDir {
    std::string path = make_temp_dir();
    TempDir() = default;
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    ~TempDir() { remove_tree(path); }
};

// Runs the program with no terminal at all: stdin from stdin_data (a pipe
// when stdin_pipe or data is given, else /dev/null), stdout and stderr to
// pipes. rows, cols and {PTY} do not apply. Killed after timeout_ms, which
// gives status -1.
struct RunResult {
    int status = -1;
    std::string out, err;
};
RunResult run_plain(const Launch &launch, int timeout_ms);

}  // namespace harness

using namespace harness;  // NOLINT: test code only

// The checks as assertions, each with the arguments of its term_check_ call:
// (t, row, text, timeout), (t, text, timeout), (t, rows, timeout) or
// (t, status, timeout).
#define EXPECT_SCREEN_ROW(...) EXPECT_TRUE(::harness::term_check_row(__VA_ARGS__))
#define ASSERT_SCREEN_ROW(...) ASSERT_TRUE(::harness::term_check_row(__VA_ARGS__))
#define EXPECT_SCREEN_ROW_CONTAINS(...) EXPECT_TRUE(::harness::term_check_row_contains(__VA_ARGS__))
#define ASSERT_SCREEN_ROW_CONTAINS(...) ASSERT_TRUE(::harness::term_check_row_contains(__VA_ARGS__))
#define EXPECT_SCREEN_TEXT(...) EXPECT_TRUE(::harness::term_check_text(__VA_ARGS__))
#define ASSERT_SCREEN_TEXT(...) ASSERT_TRUE(::harness::term_check_text(__VA_ARGS__))
#define EXPECT_SCREEN(...) EXPECT_TRUE(::harness::term_check_screen(__VA_ARGS__))
#define ASSERT_SCREEN(...) ASSERT_TRUE(::harness::term_check_screen(__VA_ARGS__))
#define EXPECT_EXIT_STATUS(...) EXPECT_TRUE(::harness::term_check_exit(__VA_ARGS__))
#define ASSERT_EXIT_STATUS(...) ASSERT_TRUE(::harness::term_check_exit(__VA_ARGS__))
