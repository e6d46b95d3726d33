// Programs and library calls run in child processes, within limits: a
// hostile document may make antiword, gs, chmlib or poppler loop, flood or
// crash, and none of that may reach the converter. No shell ever sees a path.
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

#include "convert/confine.h"
#include "convert/process.h"
#include "convert/readers.h"

extern char **environ;

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

bool reading_in_process()
{
    return drifterm_fuzz_reads_in_process != nullptr && drifterm_fuzz_reads_in_process();
}

long long clock_ms()
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
// (so that the whole group can be killed), stdin on /dev/null, default
// signals. `out` becomes stdout unless the work writes on it itself; stderr
// goes to /dev/null unless kept.
static void child_setup(int out, int read_end, bool out_as_stdout, bool keep_stderr = false)
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
    if (!keep_stderr)
        dup2(null, 2);
    if (null > 2)
        close(null);
    if (out_as_stdout && out > 2)
        close(out);
}

using Sink = std::function<bool(std::string_view chunk)>;

// Reads the child's output into `take` until it ends, `take` wants no more
// or the time limit; then waits for it, kills what is left of its group
// and reaps it.
static void collect_child(pid_t pid, int fd, const Sink &take, int seconds, ChildOutput &result)
{
    const long long deadline = clock_ms() + static_cast<long long>(seconds) * 1000;
    bool ended = false, stop = false;
    char buffer[65536];
    while (!stop) {
        long long left = deadline - clock_ms();
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
        stop = !take(std::string_view(buffer, static_cast<size_t>(got)));
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
        if (!exited && clock_ms() >= deadline) {
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
    result.status = status;
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
// end (or, when out_as_stdout, with it as its standard output), and hands
// what it writes to `take` within the time limit.
static void run_child(const std::function<void(int fd)> &work, bool out_as_stdout, const Sink &take, int seconds,
                      ChildOutput &result)
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
        // A library's report of what went wrong is the converter's own.
        child_setup(fds[1], fds[0], out_as_stdout, !out_as_stdout);
        work(out_as_stdout ? 1 : fds[1]);
        _exit(0);
    }
    setpgid(pid, pid);
    close(fds[1]);
    collect_child(pid, fds[0], take, seconds, result);
}

// A sink that keeps what comes in `result.out`, up to `cap` bytes.
static Sink capped(ChildOutput &result, size_t cap)
{
    return [&result, cap](std::string_view chunk) {
        result.out.append(chunk.substr(0, cap - result.out.size()));
        return result.out.size() < cap;
    };
}

struct Exec {
    std::vector<char *> args, env;
    const char *dir;
};

void run_program(const std::vector<std::string> &argv, const std::vector<std::string> &extra_env,
                 const InputFile &file, const std::vector<std::string> &data_paths, size_t cap, int seconds,
                 ChildOutput &result)
{
    result = ChildOutput{};
    if (argv.empty())
        return;
    // Everything the child needs is made before the fork.
    Exec exec{{}, {}, file.dir.c_str()};
    ProgramConfinement confinement;
    confinement.input = file.path;
    confinement.work_dir = file.dir;
    confinement.data_paths = data_paths;
    confinement.cpu_seconds = seconds;
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
    run_child(
        [&exec, &confinement](int) {
            ConfineFailure failure;
            if (chdir(exec.dir) != 0 || !confine_program(confinement, failure))
                _exit(127);
            execve(exec.args[0], exec.args.data(), exec.env.data());
            _exit(127);
        },
        true, capped(result, cap), seconds, result);
}

// In a forked child: confined, keeping `fd`, or ended.
static void confine_or_end(const Confinement &confinement, int fd)
{
    Confinement own = confinement;
    own.keep_fds.push_back(fd);
    ConfineFailure failure;
    if (!confine_child(own, failure))
        _exit(child_not_confined);
}

void run_in_child(const std::function<void(int fd)> &work, const Confinement &confinement,
                  const std::function<bool(std::string_view)> &take, int seconds, ChildOutput &result)
{
    auto confined = [&](int fd) {
        confine_or_end(confinement, fd);
        work(fd);
    };
    run_child(confined, false, take, seconds, result);
}

// ---------------------------------------------------------------- workers

void pool_stop(std::vector<Worker> &workers)
{
    for (Worker &w : workers) {
        if (w.fd >= 0)
            close(w.fd);
        w.fd = -1;
        if (w.pid > 0) {
            kill(w.pid, SIGKILL);
            while (waitpid(w.pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        w.pid = -1;
    }
}

bool pool_start(int count, const Confinement &confinement, const std::function<void(int k, int fd)> &work,
                std::vector<Worker> &workers)
{
    for (int k = 0; k < count; k++) {
        int fds[2];
        if (!open_pipe(fds)) {
            pool_stop(workers);
            return false;
        }
        pid_t pid = fork();
        if (pid < 0) {
            close(fds[0]);
            close(fds[1]);
            pool_stop(workers);
            return false;
        }
        if (pid == 0) {
            for (Worker &w : workers)
                close(w.fd);
            child_setup(fds[1], fds[0], false);
            confine_or_end(confinement, fds[1]);
            work(k, fds[1]);
            _exit(0);
        }
        close(fds[1]);
        Worker w;
        w.pid = pid;
        w.fd = fds[0];
        workers.push_back(w);
    }
    return true;
}

// The end of a worker's records: it must have ended well, and sent whole ones.
static bool worker_ended_well(Worker &w)
{
    close(w.fd);
    w.fd = -1;
    int status = 0;
    pid_t pid = w.pid;
    w.pid = -1;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && w.pending.empty();
}

PoolEnd pool_collect(std::vector<Worker> &workers, const std::function<bool(size_t k, std::string_view record)> &take,
                     const std::function<bool()> &done, long long deadline_ms)
{
    char buffer[65536];
    while (!done()) {
        std::vector<pollfd> polled;
        std::vector<size_t> which;
        for (size_t k = 0; k < workers.size(); k++)
            if (workers[k].fd >= 0) {
                polled.push_back({workers[k].fd, POLLIN, 0});
                which.push_back(k);
            }
        if (polled.empty())
            return PoolEnd::failed; // every worker ended, yet it is not done
        long long left = deadline_ms - clock_ms();
        if (left <= 0)
            return PoolEnd::timed_out;
        int ready = poll(polled.data(), polled.size(), static_cast<int>(left) + 1);
        if (ready < 0 && errno != EINTR)
            return PoolEnd::failed;
        for (size_t i = 0; ready > 0 && i < polled.size(); i++) {
            if (polled[i].revents == 0)
                continue;
            Worker &w = workers[which[i]];
            ssize_t got = read(w.fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got > 0) {
                size_t k = which[i];
                auto take_k = [&](std::string_view record) { return take(k, record); };
                if (!records_take(w.pending, std::string_view(buffer, static_cast<size_t>(got)), take_k))
                    return PoolEnd::failed;
            } else if (!worker_ended_well(w)) {
                return PoolEnd::failed;
            }
        }
    }
    return PoolEnd::done;
}

// ---------------------------------------------------------------- records

void put_text(std::string &out, std::string_view text)
{
    put_value<uint32_t>(out, static_cast<uint32_t>(text.size()));
    out += text;
}

bool take_text(std::string_view &in, std::string &text)
{
    uint32_t length;
    if (!take_value(in, length) || length > in.size())
        return false;
    text.assign(in.data(), length);
    in.remove_prefix(length);
    return true;
}

size_t record_open(std::string &out)
{
    size_t start = out.size();
    put_value<uint32_t>(out, 0);
    return start;
}

void record_close(std::string &out, size_t start)
{
    uint32_t length = static_cast<uint32_t>(out.size() - start - sizeof(uint32_t));
    std::memcpy(&out[start], &length, sizeof length);
}

bool record_next(std::string_view &pending, std::string_view &record)
{
    std::string_view in = pending;
    uint32_t length;
    if (!take_value(in, length) || in.size() < length)
        return false;
    record = in.substr(0, length);
    pending = in.substr(length);
    return true;
}

bool records_take(std::string &pending, std::string_view chunk, const std::function<bool(std::string_view)> &take)
{
    pending += chunk;
    std::string_view in = pending, record;
    while (record_next(in, record))
        if (!take(record))
            return false;
    pending.erase(0, pending.size() - in.size());
    return true;
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

