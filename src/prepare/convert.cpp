// The working copy: conversion by the input filter, reflow with fmt and
// squeezing of blank-line runs.
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "app/shared.h"
#include "prepare/prepare.h"

static const char system_filter[] = "/usr/bin/lesspipe.sh";

const char *choose_filter(const char *from_env, const char *system_path, const char *bundled_path)
{
    if (from_env && *from_env)
        return from_env;
    if (access(system_path, F_OK) != 0 && access(bundled_path, F_OK) == 0)
        return bundled_path;
    // When neither exists the shell fails to find it, which leaves an
    // empty working copy and so the plain copy.
    return system_path;
}

std::string filter_command(const char *filter, const char *input, const char *output)
{
    return shell_quote(filter) + " " + shell_quote(input) + (is_pdf_name(input) ? " - > " : " > ") +
           shell_quote(output);
}

std::string fmt_command(const char *input, const char *output)
{
    return "fmt -s " + shell_quote(input) + " > " + shell_quote(output);
}

// Starts `command` with /bin/sh and returns the child.
static pid_t start_shell_command(const std::string &command)
{
    // system() would ignore SIGINT here, losing a Ctrl-C during a slow
    // conversion; so fork ourselves and keep our own handler meanwhile.
    sigset_t child_signals, saved_mask;
    sigemptyset(&child_signals);
    sigaddset(&child_signals, SIGINT);
    sigaddset(&child_signals, SIGQUIT);
    sigaddset(&child_signals, SIGWINCH);
    // Blocked across fork so that the child cannot run our handler before
    // it has restored the default dispositions.
    sigprocmask(SIG_BLOCK, &child_signals, &saved_mask);
    pid_t child = fork();
    if (child == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGQUIT, SIG_DFL);
        signal(SIGWINCH, SIG_DFL);
        sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
        execl("/bin/sh", "sh", "-c", command.c_str(), (char *)nullptr);
        _exit(127);
    }
    int fork_errno = errno;
    sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
    if (child < 0) {
        errno = fork_errno;
        die("fork()");
    }
    return child;
}

// What an interrupt during a command leaves to do once it has ended.
static void end_shell_command()
{
    act_on_signals(); // during preparation the cleanup exit also removes the scratch file
}

void run_shell_command(const std::string &command)
{
    pid_t child = start_shell_command(command);
    int status;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    end_shell_command();
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

void convert_with_lesspipe()
{
    puts("Loading..");
    fflush(stdout);
    const char *filter = choose_filter(getenv("DRIFTERM_FILTER"), system_filter, DRIFTERM_FILTER_PATH);
    run_shell_command(filter_command(filter, options.file_path, work_files.temp_path));
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
    std::string command = fmt_command(work_files.converted_path, work_files.temp_path);
    if (options.no_squeeze) {
        run_shell_command(command);
    } else {
        // Squeeze fmt's output as it comes, on another core, rather than
        // after it. What is followed must be the file fmt's shell makes.
        unlink(work_files.temp_path);
        squeezed_early = squeeze_while_written(work_files.temp_path, start_shell_command(command));
        end_shell_command();
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
