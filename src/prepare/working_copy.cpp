// The working copy: conversion by the input filter, reflow with fmt and
// squeezing of blank-line runs.
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/exits.h"
#include "app/records.h"
#include "app/signals.h"
#include "app/work_lock.h"
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

// Starts `command` with /bin/sh and returns the child; `tmpdir`, when
// given, is the command's TMPDIR.
static pid_t start_shell_command(const std::string &command, const char *tmpdir = nullptr)
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
        if (tmpdir)
            setenv("TMPDIR", tmpdir, 1);
        child_signals_default(&saved_mask);
        // -C (noclobber): the shell makes the output file exclusively, so
        // that its ">" never follows a link put in the file's place.
        execl("/bin/sh", "sh", "-C", "-c", command.c_str(), (char *)nullptr);
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

// Sleeps `ms` milliseconds whatever signals arrive meanwhile.
static void sleep_ms(long ms)
{
    struct timespec left = {ms / 1000, ms % 1000 * 1000000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// A process group has members while it can be signalled. A zombie counts
// too, until whoever its parent is reaps it.
static bool group_has_members(pid_t group)
{
    return kill(-group, 0) == 0 || errno == EPERM;
}

const long group_term_grace_ms = 500; // from SIGTERM to SIGKILL
const long group_kill_wait_ms = 500;  // after SIGKILL: what stays are zombies no one reaps

// Ends the process group `group` of a command, whose leader is our child:
// SIGTERM, with SIGCONT for a member that is stopped (it would otherwise
// never act on it), then SIGKILL for what outlives the grace; returns once
// the group is empty. The shell may die at once and leave the rest behind,
// so what counts is the group, not the shell.
static void end_process_group(pid_t group)
{
    int status;
    while (waitpid(-group, &status, WNOHANG) > 0) {
    }
    if (!group_has_members(group))
        return;
    kill(-group, SIGTERM);
    kill(-group, SIGCONT);
    for (long waited_ms = 0; waited_ms < group_term_grace_ms + group_kill_wait_ms; waited_ms += 10) {
        if (waited_ms == group_term_grace_ms)
            kill(-group, SIGKILL);
        sleep_ms(10);
        while (waitpid(-group, &status, WNOHANG) > 0) {
        }
        if (!group_has_members(group))
            return;
    }
}

bool shell_command_ended(pid_t child, bool wait)
{
    for (;;) {
        int status;
        pid_t pid = waitpid(child, &status, WNOHANG);
        if (pid != 0 && !(pid < 0 && errno == EINTR)) {
            // The shell has ended (or was reaped with its group); what it
            // left running in the background goes with it.
            end_process_group(child);
            return true;
        }
        if (interrupt_pending) {
            end_process_group(child);
            act_on_signals(); // during preparation the cleanup exit also removes the scratch file
        }
        if (!wait)
            return false;
        // Polled rather than blocked in waitpid, so that a signal that comes
        // just before the wait cannot be missed until the command ends.
        struct pollfd wake = {signal_wakeup_fd(), POLLIN, 0};
        if (poll(&wake, 1, 20) > 0)
            drain_signal_wakeups(); // the flags stay for act_on_signals
    }
}

void run_shell_command(const std::string &command, const char *tmpdir)
{
    shell_command_ended(start_shell_command(command, tmpdir), true);
}

static int64_t size_of_file(const char *path)
{
    FILE *file = work_file_open(path, "r");
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
    work_file_check(work_files.temp_path);
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
        work_file_clear(work_files.temp_path);
        // A TMPDIR of this run's own, which goes when the filter ends,
        // however it ends.
        run_shell_command(filter_command(filter, options.file_path, work_files.temp_path),
                          make_filter_temp_dir());
        remove_filter_temp_dir();
        return;
    }
    fclose(work_file_create(work_files.temp_path));
}

static bool is_pipe(FILE *file)
{
    struct stat status;
    return fstat(fileno(file), &status) == 0 && S_ISFIFO(status.st_mode);
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
        FILE *out = work_file_create(work_files.temp_path);
        if (is_pipe(in))
            capture_stream(fileno(in), out); // as piped input: its writer may take its time
        else
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
    // What is written must be the file fmt's shell makes.
    work_file_clear(work_files.temp_path);
    if (options.no_squeeze) {
        run_shell_command(command);
    } else {
        // Squeeze fmt's output as it comes, on another core, rather than after it.
        squeezed_early = squeeze_while_written(work_files.temp_path, start_shell_command(command));
    }
    replace_work_file();
}

void squeeze_blank_lines()
{
    FILE *in = work_file_open(work_files.converted_path, "r+");
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
    FILE *out = work_file_create(work_files.temp_path);
    squeeze_line_reads(in, out);
    fclose(in);
    fclose(out);
    replace_work_file();
}

void replace_work_file()
{
    work_file_check(work_files.temp_path);
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
