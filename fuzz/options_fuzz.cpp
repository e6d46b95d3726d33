// The option parser on any argument vector (the input split at NUL bytes),
// in a child process, since usage, version and failures end the process:
// whatever the arguments, the parse ends with status 0 or 1 or returns with
// options that keep their limits, and never crashes or draws a sanitizer report.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/records.h"
#include "app/startup.h"
#include "fuzz_support.h"

namespace {

char work_dir[] = "/tmp/drifterm-fuzz-options.XXXXXX";
const int returned = 3; // the child's status when the parse returned

// Runs before the fuzzer's own exit handler, which would report the exit.
void keep_exit_status(int status, void *)
{
    fflush(stdout);
    _exit(status);
}

[[noreturn]] void parse_in_child(std::vector<std::string> &args, int err)
{
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(err, 2);
    on_exit(keep_exit_status, nullptr);
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    reader.program_name = argv[0];
    optind = 1;
    parse_options((int)args.size(), argv.data());
    bool ok = (!options.file_path || strlen(options.file_path) <= 1024) &&
              (!options.highlight_word || strlen(options.highlight_word) <= 1024) &&
              (options.piped || options.file_path) && options.start_row <= 999;
    _exit(ok ? returned : 2);
}

void remove_work_dir()
{
    unlink((std::string(work_dir) + "/text").c_str());
    rmdir(work_dir);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    require(mkdtemp(work_dir) != nullptr, "mkdtemp");
    FILE *text = fopen((std::string(work_dir) + "/text").c_str(), "w");
    require(text != nullptr, "text");
    fclose(text);
    require(chdir(work_dir) == 0, "chdir"); // "text" names a file that opens
    atexit(remove_work_dir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> args = {"drifterm"};
    std::string arg;
    for (size_t i = 0; i < size && args.size() < 64; i++) {
        if (data[i]) {
            arg += (char)data[i];
        } else {
            args.push_back(arg);
            arg.clear();
        }
    }
    if (!arg.empty() && args.size() < 64)
        args.push_back(arg);

    int err[2];
    require(pipe(err) == 0, "pipe");
    fflush(stdout);
    fflush(stderr);
    pid_t child = fork();
    require(child >= 0, "fork");
    if (child == 0) {
        close(err[0]);
        parse_in_child(args, err[1]);
    }
    close(err[1]);
    std::string messages = read_to_end(err[0]);
    int status = wait_child(child);
    if (messages.find("Sanitizer") != std::string::npos ||
        messages.find("runtime error") != std::string::npos)
        fprintf(stderr, "%s", messages.c_str()), abort();
    if (WIFSIGNALED(status))
        fprintf(stderr, "the parse was killed by signal %d\n", WTERMSIG(status)), abort();
    int code = WEXITSTATUS(status);
    require(code == 0 || code == 1 || code == returned, "the parse ended otherwise");
    return 0;
}
