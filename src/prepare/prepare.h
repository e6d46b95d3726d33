// Text preparation: piped input capture and the working copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/types.h>

// the working copy: filtered, reflowed and squeezed (working_copy.cpp)
void convert_with_lesspipe();
void reformat_with_fmt();
void squeeze_blank_lines();
void replace_work_file();
bool is_pdf_name(const char *path);
// `text` single-quoted for the shell, a quote inside written as '\''.
std::string shell_quote(const char *text);
// The filter program: `from_env` when set and not empty, else the first
// that exists of the system filter, the installed bundled one and the one
// in the source tree (a program run from its build folder); else nullptr.
const char *choose_filter(const char *from_env, const char *system_path, const char *bundled_path,
                          const char *source_path);
// The shell command lines, every path single-quoted.
std::string filter_command(const char *filter, const char *input, const char *output);
// "fmt -s", with "-w width" added for a terminal narrower than fmt's
// 75-column lines need (width > 0).
std::string fmt_command(const char *input, const char *output, int width);
// Runs `command` with /bin/sh (noclobber set) in a process group of its
// own and waits for it, its status ignored; `tmpdir`, when given, is its
// TMPDIR. An interrupt, hangup or kill meanwhile ends the command's whole
// group and takes the cleanup exit.
void run_shell_command(const std::string &command, const char *tmpdir = nullptr);
// Reaps the command `child` if it has ended (waiting for that when `wait`),
// and ends what it left running in its group; a pending interrupt ends the
// command's group and takes the cleanup exit.
bool shell_command_ended(pid_t child, bool wait);

// work files (work_files.cpp). A work name is never followed when it is a
// symbolic link, and only a file this run made is written: anything but a
// plain file in its place stops the run (a message naming it, status 1)
// and nothing is touched.
extern const char *const link_in_place_of_work_file;
[[noreturn]] void work_file_refuse(const char *path, const char *reason);
// True when a plain file is at `path`, false when nothing is; else stops the run.
bool work_file_check(const char *path);
// Removes this run's stale file at `path`, so that an exclusive create
// (here, or by a shell with noclobber set) can make it afresh.
void work_file_clear(const char *path);
// Makes `path` afresh for writing, exclusively.
FILE *work_file_create(const char *path);
// Opens the plain file at `path` with `mode` "r" or "r+"; nullptr with
// errno set when it cannot be opened.
FILE *work_file_open(const char *path, const char *mode);
// A folder of this run's own in the work directory, absolute, for the
// filter's TMPDIR; nullptr when none can be made.
const char *make_filter_temp_dir();
// Removes that folder with all in it; every exit calls it.
void remove_filter_temp_dir();

// the converter for the filter (converter_path.cpp)
// The directory of the running binary: `proc_exe` read as a link where it
// exists, else `argv0` resolved (looked up in `path` when it holds no
// '/'); "" when neither tells.
std::string program_directory(const char *proc_exe, const char *argv0, const char *path);
// Sets DRIFTERM_CONVERT, unless set already, to the drifterm-convert beside
// the running binary when there is one.
void export_converter_path();

// reflow in characters (wide_reflow.cpp)
// When the working copy holds bytes >= 0x80, reflows it with fmt -s (the
// command of fmt_command, at `width`) measuring characters rather than
// bytes, and returns true; false leaves the working copy as it was, for
// the reflow of bytes.
bool reflow_in_characters(int width);
// True when what is left to read of `fd` holds a byte >= 0x80.
bool holds_non_ascii(int fd);
// The length of the character at `p` (`avail` bytes there, at least 1):
// that of a valid UTF-8 sequence, else 1; its code point (or the byte).
size_t utf8_char_length(const unsigned char *p, size_t avail, uint32_t *code_point);
// 2 for East Asian wide and fullwidth characters, else 1.
int char_columns(uint32_t code_point);
// `in` with each non-ASCII character (a valid UTF-8 sequence, or a byte
// that is part of none) written as one byte 0x80, two for a wide one.
void encode_for_fmt(FILE *in, FILE *out);
// fmt's output `reflowed` of the encoded `original`, with the characters
// of `original` in place of the placeholders; false when fmt changed more
// than white space (what was written is then of no use).
bool decode_from_fmt(FILE *reflowed, FILE *original, FILE *out);

// line reads in large blocks (line_reads.cpp)
// Write to `out` exactly what copying `in` in reads of at most 1023 bytes,
// each written as a C string, writes; the squeeze also drops every blank
// read (first byte CR or LF) that follows a blank read.
void copy_line_reads(FILE *in, FILE *out);
void squeeze_line_reads(FILE *in, FILE *out);
// Squeezes the file at `path` as the child `writer` writes it, into a file
// without a name, until the writer has ended; the writer is reaped either
// way. Returns that file, or nullptr when none could be made.
FILE *squeeze_while_written(const char *path, pid_t writer);
// Gives a file from squeeze_while_written the name `path`.
bool name_unnamed_file(FILE *file, const char *path);

// piped input (piped.cpp)
void capture_piped_input();
// Copies the pipe `in` to its end into `capture` as line reads would, in
// a wait that serves signals; piped input and a FIFO named as the file.
void capture_stream(int in, FILE *capture);
FILE *open_terminal_device(const char *name);
// Where the copy of standard input stands within one line read.
struct CaptureCut {
    uint32_t read_len = 0;  // bytes of the current read so far
    bool after_nul = false; // the current read met a NUL byte
};
// Drops in place what line reads of at most 1023 bytes, each written back
// as a C string, would lose from this chunk; returns the length kept.
size_t capture_keep(CaptureCut *cut, char *data, size_t len);
