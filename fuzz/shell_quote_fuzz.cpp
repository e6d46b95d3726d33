// Shell quoting: a quoted text must read back, as the shell parses it, as
// exactly the bytes given. Every input is checked against a model of the
// shell's quote rules; every 16th also goes through /bin/sh itself, alone
// (printf %s ARG) and as the filter's command line.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "prepare/prepare.h"

namespace {

char work_dir[] = "/tmp/drifterm-fuzz-quote.XXXXXX";
std::string echo_filter; // prints its first argument as it is

// What the shell makes of a word built only of '...' parts and \' escapes.
bool unquote(const std::string &word, std::string *text)
{
    for (size_t at = 0; at < word.size();) {
        if (word.compare(at, 2, "\\'") == 0) {
            *text += '\'';
            at += 2;
        } else if (word[at] == '\'') {
            size_t end = word.find('\'', at + 1);
            if (end == std::string::npos)
                return false;
            *text += word.substr(at + 1, end - at - 1);
            at = end + 1;
        } else {
            return false;
        }
    }
    return true;
}

// Standard output of `sh -c command`.
std::string shell_output(const std::string &command)
{
    int out[2];
    require(pipe(out) == 0, "pipe");
    pid_t child = fork();
    require(child >= 0, "fork");
    if (child == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execl("/bin/sh", "sh", "-c", command.c_str(), (char *)nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string text = read_to_end(out[0]);
    int status = wait_child(child);
    if (WIFSIGNALED(status))
        fprintf(stderr, "sh was killed by signal %d\n", WTERMSIG(status)), abort();
    return text;
}

void remove_work_dir()
{
    unlink(echo_filter.c_str());
    unlink((std::string(work_dir) + "/out").c_str());
    rmdir(work_dir);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    require(mkdtemp(work_dir) != nullptr, "mkdtemp");
    echo_filter = std::string(work_dir) + "/echo filter";
    FILE *script = fopen(echo_filter.c_str(), "w");
    require(script != nullptr, "filter");
    fputs("#!/bin/sh\nprintf %s \"$1\"\n", script);
    fclose(script);
    chmod(echo_filter.c_str(), 0755);
    atexit(remove_work_dir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    if (text.find('\0') != std::string::npos)
        return 0; // no C string holds a NUL
    const std::string quoted = shell_quote(text.c_str());
    std::string back;
    require(unquote(quoted, &back) && back == text, "the quoted word reads back otherwise");

    static unsigned count = 0;
    if (count++ % 16 != 0)
        return 0;
    require(shell_output("printf %s " + quoted) == text, "sh printed something else");
    const std::string out = std::string(work_dir) + "/out";
    unlink(out.c_str());
    shell_output(filter_command(echo_filter.c_str(), text.c_str(), out.c_str()));
    require(read_whole_file(out) == text, "the filter was given something else");
    return 0;
}
