// Every way the program ends early: the cleanup exit, the two fatal paths
// (before the screen exists and after) and the usage text.
#pragma once

// exits (startup.cpp, command_line.cpp)
[[noreturn]] void cleanup_and_exit();
[[noreturn]] void die(const char *text);
[[noreturn]] void die_on_screen(const char *text);
// die, then one more line on standard error saying what was likely meant.
[[noreturn]] void die_with_hint(const char *text, const char *hint);
// The same path for a refusal that is no system error: "NAME: reason", status 1.
[[noreturn]] void die_naming(const char *name, const char *reason);
// What die_on_screen prints: curses ended, then the failed call and the error.
void report_on_screen(const char *text);
// Prints the usage text and exits with status 0; also after the screen is up.
[[noreturn]] void print_usage();
