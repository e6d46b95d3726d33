// The working copy: conversion by the input filter, reflow with fmt and
// squeezing of blank-line runs.
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/shared.h"
#include "prepare/prepare.h"

static const char system_filter[] = "/usr/bin/lesspipe.sh";

const char *choose_filter(const char *from_env, const char *system_path, const char *bundled_path,
                          const char *source_path)
{
    if (from_env && *from_env)
        return from_env;
    for (const char *path : {system_path, bundled_path, source_path})
        if (access(path, F_OK) == 0)
            return path;
    return nullptr;
}

std::string filter_command(const char *filter, const char *input, const char *output)
{
    return shell_quote(filter) + " " + shell_quote(input) + (is_pdf_name(input) ? " - > " : " > ") +
           shell_quote(output);
}

// fmt's lines (at most 75 columns) fit a terminal this wide without wrapping.
static const int fmt_default_fit = 76;

// Columns of the terminal the text will be shown on; 0 when unknown.
static int reflow_width()
{
    // As curses will take it: COLUMNS when set, else the terminal's own size.
    const char *columns = getenv("COLUMNS");
    if (columns && atoi(columns) > 0)
        return atoi(columns);
    int fd = reader.tty_stream ? fileno(reader.tty_stream) : STDOUT_FILENO;
    struct winsize size {};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 0;
}

std::string fmt_command(const char *input, const char *output, int width)
{
    std::string options = "-s";
    if (width > 0 && width < fmt_default_fit)
        options += " -w " + std::to_string(width);
    return "fmt " + options + " " + shell_quote(input) + " > " + shell_quote(output);
}

// Starts `command` with /bin/sh and returns the child.
static pid_t start_shell_command(const std::string &command)
{
    // system() would ignore SIGINT here, losing a Ctrl-C during a slow
    // conversion; so fork ourselves and keep our own handlers meanwhile.
    sigset_t saved_mask;
    child_signals_block(&saved_mask);
    pid_t child = fork();
    if (child == 0) {
        // A group of its own, so that an interrupt, hangup or kill of the
        // reader can end the whole command: the shell and what it started.
        // Out of the terminal's foreground group it must not read the
        // terminal, which would stop it for good: its input is empty.
        setpgid(0, 0);
        int nothing = open("/dev/null", O_RDONLY);
        if (nothing > STDIN_FILENO) {
            dup2(nothing, STDIN_FILENO);
            close(nothing);
        }
        child_signals_default(&saved_mask);
        execl("/bin/sh", "sh", "-c", command.c_str(), (char *)nullptr);
        _exit(127);
    }
    int fork_errno = errno;
    if (child > 0)
        setpgid(child, child); // either side may come first
    sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
    if (child < 0) {
        errno = fork_errno;
        die("fork()");
    }
    return child;
}

// Ends the command's process group and reaps the shell: politely first,
// then for good if something in it outlives a second.
static void stop_shell_command(pid_t child)
{
    kill(-child, SIGTERM);
    int status;
    for (int waited_ms = 0; waited_ms < 1000; waited_ms += 10) {
        pid_t pid = waitpid(child, &status, WNOHANG);
        if (pid == child || (pid < 0 && errno != EINTR))
            return;
        poll(nullptr, 0, 10);
    }
    kill(-child, SIGKILL);
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

bool shell_command_ended(pid_t child, bool wait)
{
    for (;;) {
        int status;
        pid_t pid = waitpid(child, &status, wait ? 0 : WNOHANG);
        if (pid != 0 && !(pid < 0 && errno == EINTR))
            return true; // ended, or no such child to wait for
        if (interrupt_pending) {
            stop_shell_command(child);
            act_on_signals(); // during preparation the cleanup exit also removes the scratch file
        }
        if (pid == 0)
            return false;
    }
}

void run_shell_command(const std::string &command)
{
    shell_command_ended(start_shell_command(command), true);
}

static int64_t size_of_file(const char *path)
{
    FILE *file = fopen(path, "r");
    if (!file)
        die("fopen()");
    fseek(file, 0, SEEK_END);
    int64_t size = ftell(file);
    fseek(file, 0, SEEK_SET);
    fclose(file);
    return size;
}

// Another run with the same HOME may be scrolling the working copy, so it
// is never rewritten in place: the new text is written under the scratch
// name and then moved over it, which leaves the other run its own file.
static void move_into_place()
{
    if (rename(work_files.temp_path, work_files.converted_path) != 0)
        die("rename()");
}

// Runs the input filter into the scratch file; with no filter anywhere the
// scratch file is only made empty, so the input is copied as it is.
static void run_filter()
{
    const char *filter = choose_filter(getenv("DRIFTERM_FILTER"), system_filter, DRIFTERM_FILTER_PATH,
                                       DRIFTERM_SOURCE_FILTER_PATH);
    if (filter) {
        run_shell_command(filter_command(filter, options.file_path, work_files.temp_path));
        return;
    }
    int fd = open(work_files.temp_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        die("fopen()");
    close(fd);
}

void convert_with_lesspipe()
{
    show_loading();
    lock_work_files();
    export_converter_path();
    run_filter();
    if (size_of_file(work_files.temp_path) == 0) {
        // The filter left nothing: the input is shown as it is. A named
        // file is read from the stream the command line opened, since a
        // FIFO opened a second time would wait for a writer that has gone.
        FILE *in = reader.source_file ? reader.source_file : fopen(options.file_path, "r");
        if (!in)
            die("fopen()");
        FILE *out = fopen(work_files.temp_path, "w");
        if (!out)
            die("fopen()");
        copy_line_reads(in, out);
        if (in != reader.source_file)
            fclose(in);
        fclose(out);
    }
    move_into_place();
}

// The squeezed text, made while fmt ran; named in the squeeze step.
static FILE *squeezed_early = nullptr;

void reformat_with_fmt()
{
    int width = reflow_width();
    // fmt counts bytes: text with other characters than ASCII is reflowed
    // in characters, and squeezed afterwards by the squeeze step.
    if (reflow_in_characters(width))
        return;
    std::string command = fmt_command(work_files.converted_path, work_files.temp_path, width);
    if (options.no_squeeze) {
        run_shell_command(command);
    } else {
        // Squeeze fmt's output as it comes, on another core, rather than
        // after it. What is followed must be the file fmt's shell makes.
        unlink(work_files.temp_path);
        squeezed_early = squeeze_while_written(work_files.temp_path, start_shell_command(command));
    }
    replace_work_file();
}

void squeeze_blank_lines()
{
    FILE *in = fopen(work_files.converted_path, "r+");
    if (!in)
        die("fopen()");
    if (squeezed_early) {
        bool named = name_unnamed_file(squeezed_early, work_files.temp_path);
        fclose(squeezed_early);
        squeezed_early = nullptr;
        if (named) {
            fclose(in);
            replace_work_file();
            return;
        }
    }
    FILE *out = fopen(work_files.temp_path, "w");
    if (!out)
        die("fopen()");
    squeeze_line_reads(in, out);
    fclose(in);
    fclose(out);
    replace_work_file();
}

void replace_work_file()
{
    if (unlink(work_files.converted_path) != 0)
        die("unlink()");
    if (link(work_files.temp_path, work_files.converted_path) != 0)
        die("link()");
    if (unlink(work_files.temp_path) != 0)
        die("unlink()");
}

bool is_pdf_name(const char *path)
{
    if (!strstr(path, ".pdf"))
        return false;
    const char *last_dot = strrchr(path, '.');
    return strncmp(last_dot, ".pdf", 4) == 0;
}

std::string shell_quote(const char *text)
{
    std::string quoted = "'";
    for (; *text; text++) {
        if (*text == '\'')
            quoted += "'\\''";
        else
            quoted += *text;
    }
    return quoted + "'";
}
