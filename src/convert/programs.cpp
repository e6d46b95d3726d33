// Programs and libraries run in child processes, within limits: a hostile
// document may make antiword, gs or chmlib loop, flood or crash, and none
// of that may reach the converter. No shell ever sees a path.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include "convert/convert.h"
#include "convert/programs.h"

extern char **environ;

std::string notice_needs(const std::string &name, const char *program, const char *package)
{
    return name + " needs " + program + " (Debian package " + package + ")";
}

std::string program_on_path(const char *name)
{
    const char *path = getenv("PATH");
    if (path == nullptr || *path == '\0')
        return "";
    std::string_view dirs = path;
    while (true) {
        size_t colon = dirs.find(':');
        std::string dir(dirs.substr(0, colon));
        if (dir.empty())
            dir = ".";
        std::string candidate = dir + "/" + name;
        struct stat st;
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string_view::npos)
            return "";
        dirs.remove_prefix(colon + 1);
    }
}

static long long now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool write_all(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t wrote = write(fd, bytes.data(), bytes.size());
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(wrote));
    }
    return true;
}

// The child's side before it execs or works: a process group of its own
// (so that the whole group can be killed), stdin and stderr on /dev/null,
// default signals. `out` becomes stdout unless the work writes on it itself.
static void child_setup(int out, int read_end, bool out_as_stdout)
{
    setpgid(0, 0);
    signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int null = open("/dev/null", O_RDWR);
    if (null < 0)
        _exit(127);
    close(read_end);
    dup2(null, 0);
    dup2(out_as_stdout ? out : null, 1);
    dup2(null, 2);
    if (null > 2)
        close(null);
    if (out_as_stdout && out > 2)
        close(out);
}

// Reads the child's output until it ends, the cap or the time limit; then
// waits for it, kills what is left of its group and reaps it.
static void collect_child(pid_t pid, int fd, size_t cap, int seconds, ChildOutput &result)
{
    const long long deadline = now_ms() + static_cast<long long>(seconds) * 1000;
    bool ended = false, stop = false;
    char buffer[65536];
    while (!stop) {
        long long left = deadline - now_ms();
        if (left <= 0) {
            result.timed_out = true;
            break;
        }
        struct pollfd p = {fd, POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            result.timed_out = ready == 0;
            break;
        }
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0) {
            ended = got == 0;
            break;
        }
        size_t room = cap - result.out.size();
        result.out.append(buffer, std::min(room, static_cast<size_t>(got)));
        stop = result.out.size() >= cap;
    }
    close(fd);
    // Its output is closed: give it until the deadline to exit, without
    // reaping it yet, so that its process group is still ours to kill.
    bool exited = false;
    while (ended && !exited) {
        siginfo_t info;
        info.si_pid = 0;
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 && errno != EINTR)
            break;
        exited = info.si_pid == pid;
        if (!exited && now_ms() >= deadline) {
            result.timed_out = true;
            break;
        }
        if (!exited) {
            struct timespec pause = {0, 5 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
    }
    kill(-pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.succeeded = exited && !result.timed_out && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

static bool open_pipe(int fds[2])
{
    if (pipe(fds) != 0)
        return false;
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    return true;
}

// Forks a child of its own group that runs `work` with the pipe's write
// end (or, when out_as_stdout, with it as its standard output), and reads
// what it writes within the limits.
static void run_child(void (*work)(int fd, void *context), void *context, bool out_as_stdout, size_t cap,
                      int seconds, ChildOutput &result)
{
    result = ChildOutput{};
    // A SIGCHLD ignored by whoever started the converter would have the
    // system reap the child unseen, and its end could not be told.
    struct sigaction chld;
    if (sigaction(SIGCHLD, nullptr, &chld) == 0 && chld.sa_handler == SIG_IGN)
        signal(SIGCHLD, SIG_DFL);
    int fds[2];
    if (!open_pipe(fds))
        return;
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return;
    }
    if (pid == 0) {
        child_setup(fds[1], fds[0], out_as_stdout);
        work(out_as_stdout ? 1 : fds[1], context);
        _exit(0);
    }
    setpgid(pid, pid);
    close(fds[1]);
    collect_child(pid, fds[0], cap, seconds, result);
}

struct Exec {
    std::vector<char *> args, env;
    const char *dir;
};

static void exec_program(int, void *context)
{
    const Exec &exec = *static_cast<const Exec *>(context);
    if (exec.dir != nullptr && chdir(exec.dir) != 0)
        _exit(127);
    execve(exec.args[0], exec.args.data(), exec.env.data());
    _exit(127);
}

void run_program(const std::vector<std::string> &argv, const std::vector<std::string> &extra_env,
                 const char *dir, size_t cap, int seconds, ChildOutput &result)
{
    result = ChildOutput{};
    if (argv.empty())
        return;
    // Everything the child needs is made before the fork.
    Exec exec{{}, {}, dir};
    for (const std::string &arg : argv)
        exec.args.push_back(const_cast<char *>(arg.c_str()));
    exec.args.push_back(nullptr);
    for (const std::string &entry : extra_env)
        exec.env.push_back(const_cast<char *>(entry.c_str()));
    for (char **at = environ; at && *at; ++at) {
        std::string_view entry = *at;
        bool replaced = false;
        for (const std::string &extra : extra_env)
            replaced = replaced || entry.substr(0, entry.find('=') + 1) == extra.substr(0, extra.find('=') + 1);
        if (!replaced)
            exec.env.push_back(*at);
    }
    exec.env.push_back(nullptr);
    run_child(exec_program, &exec, true, cap, seconds, result);
}

void run_isolated(void (*work)(int fd, void *context), void *context, size_t cap, int seconds,
                  ChildOutput &result)
{
    run_child(work, context, false, cap, seconds, result);
}

static std::string temp_root()
{
    const char *tmp = getenv("TMPDIR");
    return tmp != nullptr && *tmp == '/' ? tmp : "/tmp";
}

bool input_file_make(const Input &in, InputFile &file)
{
    file = InputFile{};
    std::string pattern = temp_root() + "/drifterm-convert.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        return false;
    file.dir = pattern;
    if (in.path != nullptr && *in.path != '\0') {
        // Absolute, so that it holds in the child's directory, and never
        // taken for an option however it begins.
        if (in.path[0] == '/') {
            file.path = in.path;
            return true;
        }
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) != nullptr) {
            file.path = std::string(cwd) + "/" + in.path;
            return true;
        }
    }
    file.path = file.dir + "/document";
    int fd = open(file.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool written = fd >= 0 && write_all(fd, in.bytes);
    if (fd >= 0 && close(fd) != 0)
        written = false;
    if (!written)
        input_file_remove(file);
    return written;
}

void input_file_remove(InputFile &file)
{
    if (file.dir.empty())
        return;
    // Whatever a child left there, one level deep, then the directory.
    if (DIR *dir = opendir(file.dir.c_str())) {
        while (struct dirent *entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
                unlink((file.dir + "/" + name).c_str());
        }
        closedir(dir);
    }
    rmdir(file.dir.c_str());
    file = InputFile{};
}

// A program's line as UTF-8, its control characters (form feeds among
// them) made spaces.
static std::string clean_line(std::string_view line)
{
    std::string out;
    for (char c : line) {
        unsigned char u = static_cast<unsigned char>(c);
        out += u < 0x20 || u == 0x7f ? ' ' : c;
    }
    return valid_utf8(out) ? out : to_utf8(out, "UTF-8");
}

static bool blank(std::string_view line)
{
    return line.find_first_not_of(" \t\r\f\v") == std::string_view::npos;
}

// Calls `take(line)` for every line of `text`.
template <typename Take> static void each_line(std::string_view text, Take take)
{
    while (!text.empty()) {
        size_t end = text.find('\n');
        take(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

static void add_paragraph(Document &doc, std::string_view text)
{
    Block block;
    block.text = clean_line(text);
    doc.blocks.push_back(block);
}

void paragraph_list_blocks(const std::vector<std::string> &paragraphs, Document &doc)
{
    for (const std::string &paragraph : paragraphs)
        add_paragraph(doc, paragraph);
}

void line_blocks(std::string_view text, Document &doc)
{
    each_line(text, [&](std::string_view line) {
        if (!blank(line))
            add_paragraph(doc, line);
    });
}

void paragraph_blocks(std::string_view text, Document &doc)
{
    std::string paragraph;
    auto flush = [&]() {
        if (!paragraph.empty())
            add_paragraph(doc, paragraph);
        paragraph.clear();
    };
    each_line(text, [&](std::string_view line) {
        if (blank(line)) {
            flush();
            return;
        }
        line.remove_prefix(line.find_first_not_of(" \t"));
        line = line.substr(0, line.find_last_not_of(" \t\r") + 1);
        if (!paragraph.empty())
            paragraph += ' ';
        paragraph += line;
    });
    flush();
}
