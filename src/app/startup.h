// Start-up and command line: the entry, the work paths, run_reader and the
// option parser, which call into every module. Only src/app/ includes this.
#pragma once

#include <cstddef>
#include <cstdint>

// start-up (startup.cpp)
int drifterm_main(int argc, char **argv);
void install_signal_handlers();
void make_work_paths();
void run_reader(uint32_t initial_speed);

// command line (command_line.cpp)
void parse_command_line(int argc, char **argv);
bool is_all_digits(const char *text);
// Fills `options` from the arguments and returns when scanning ends; exits
// itself for usage, version and failures. parse_command_line then runs the reader.
void parse_options(int argc, char **argv);
// The number in the first `max_digits` (at most 20) characters of a digit
// string, saturated at INT64_MAX as atoi does on 64-bit systems, low 32 bits kept.
uint32_t number_from_value(const char *value, size_t max_digits);
