// Pseudo-terminal runner and libvterm screen model for end-to-end tests.
#include "harness.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vterm.h>


extern char **environ;

namespace harness {

struct Term {
    pid_t pid = -1;
    bool piped = false;
    int master = -1;
    int slave = -1;       // parent's copy, piped mode only, closed once the child exits
    int err_fd = -1;      // read end of the stderr pipe
    int in_fd = -1;       // write end of the stdin pipe; owned by the io thread
    int wake[2] = {-1, -1};
    std::string stdin_data;
    std::string program;
    std::string san_dir;
    std::thread io_thread, wait_thread;

    std::mutex mu;
    std::condition_variable cv;
    // Everything below is guarded by mu; libvterm callbacks run with it held.
    VTerm *vt = nullptr;
    VTermScreen *screen = nullptr;
    VTermState *state = nullptr;
    int rows = 0, cols = 0;
    std::string raw, err, reply;
    int bells = 0;
    bool cursor_visible = true;
    bool altscreen = false;
    std::vector<char> dirty;
    std::vector<std::string> row_text, row_sig;
    std::vector<int64_t> row_changed;
    int64_t last_change = 0;
    uint64_t generation = 0;
    bool master_eof = false;
    bool err_eof = false;
    bool exited = false;
    int exit_status = -1;
};

namespace {

struct ChildPlan {
    std::string path;
    std::vector<std::string> argv_s, env_s;
    std::vector<char *> argv, envp;
    std::string cwd;
    std::string exec_error;
};

std::string trim_right(const std::string &s)
{
    size_t end = s.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

// libvterm marks the right half of a wide character with this value.
constexpr uint32_t WIDE_CONTINUATION = 0xFFFFFFFFu;

// A cell's code point in UTF-8: the screen holds only valid ones.
void put_code_point(std::string &out, uint32_t cp)
{
    int tail = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
    static const unsigned char lead[] = {0x00, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(lead[tail] | (cp >> (6 * tail)));
    for (int i = tail - 1; i >= 0; i--)
        out += static_cast<char>(0x80 | ((cp >> (6 * i)) & 0x3F));
}

void cell_text(const VTermScreenCell &c, std::string &out)
{
    if (c.chars[0] == 0) {
        out += ' ';
        return;
    }
    for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && c.chars[i] != 0; i++)
        put_code_point(out, c.chars[i]);
}

// Palette index of a cell colour: -1 for the default, -2 for a direct RGB
// colour that is not in the palette.
int color_index(const VTermState *state, const VTermColor &c, bool fg)
{
    if (fg ? VTERM_COLOR_IS_DEFAULT_FG(&c) : VTERM_COLOR_IS_DEFAULT_BG(&c))
        return -1;
    if (VTERM_COLOR_IS_INDEXED(&c))
        return c.indexed.idx;
    for (int i = 0; i < 256; i++) {
        VTermColor p;
        vterm_state_get_palette_color(state, i, &p);
        vterm_state_convert_color_to_rgb(state, &p);
        if (p.rgb.red == c.rgb.red && p.rgb.green == c.rgb.green && p.rgb.blue == c.rgb.blue)
            return i;
    }
    return -2;
}

bool get_cell_locked(Term *t, int row, int col, VTermScreenCell *c)
{
    if (row < 0 || row >= t->rows || col < 0 || col >= t->cols)
        return false;
    VTermPos pos{row, col};
    return vterm_screen_get_cell(t->screen, pos, c) != 0;
}

std::string row_raw_locked(Term *t, int row)
{
    std::string s;
    if (row < 0 || row >= t->rows)
        return s;
    for (int col = 0; col < t->cols; col++) {
        VTermScreenCell c;
        if (!get_cell_locked(t, row, col, &c))
            continue;
        if (c.chars[0] == WIDE_CONTINUATION)
            continue;
        cell_text(c, s);
    }
    return s;
}

// Text plus attributes of a row, to notice any visible change.
std::string row_signature_locked(Term *t, int row, const std::string &raw)
{
    std::string sig = raw;
    sig += '\0';
    for (int col = 0; col < t->cols; col++) {
        VTermScreenCell c;
        if (!get_cell_locked(t, row, col, &c))
            continue;
        char buf[64];
        snprintf(buf, sizeof buf, "%d%d%d%d,%d,%d;", c.attrs.bold, c.attrs.underline,
                 c.attrs.reverse, c.attrs.italic, color_index(t->state, c.fg, true),
                 color_index(t->state, c.bg, false));
        sig += buf;
    }
    return sig;
}

void refresh_rows_locked(Term *t)
{
    int64_t now = term_now_ms();
    for (int row = 0; row < t->rows; row++) {
        if (!t->dirty[row])
            continue;
        t->dirty[row] = 0;
        std::string raw = row_raw_locked(t, row);
        std::string text = trim_right(raw);
        std::string sig = row_signature_locked(t, row, raw);
        if (text != t->row_text[row]) {
            t->row_text[row] = text;
            t->row_changed[row] = now;
        }
        if (sig != t->row_sig[row]) {
            t->row_sig[row] = sig;
            t->last_change = now;
        }
    }
}

void size_arrays_locked(Term *t, int rows, int cols)
{
    t->rows = rows;
    t->cols = cols;
    t->dirty.assign(rows, 1);
    t->row_text.resize(rows);
    t->row_sig.resize(rows);
    t->row_changed.resize(rows, 0);
}

int on_damage(VTermRect rect, void *user)
{
    Term *t = static_cast<Term *>(user);
    for (int row = std::max(rect.start_row, 0); row < rect.end_row && row < t->rows; row++)
        t->dirty[row] = 1;
    return 1;
}

int on_settermprop(VTermProp prop, VTermValue *val, void *user)
{
    Term *t = static_cast<Term *>(user);
    if (prop == VTERM_PROP_CURSORVISIBLE)
        t->cursor_visible = val->boolean != 0;
    else if (prop == VTERM_PROP_ALTSCREEN)
        t->altscreen = val->boolean != 0;
    return 1;
}

int on_bell(void *user)
{
    static_cast<Term *>(user)->bells++;
    return 1;
}

int on_resize(int rows, int cols, void *user)
{
    size_arrays_locked(static_cast<Term *>(user), rows, cols);
    return 1;
}

// Answers to terminal queries (cursor position, device attributes); written
// to the child once the lock is released.
void on_output(const char *s, size_t len, void *user)
{
    static_cast<Term *>(user)->reply.append(s, len);
}

// libvterm 0.3.3, whose header says version 0.3, has a ninth callback,
// sb_clear, left out here; 0.3.1's header says 0.1 and has eight.
const VTermScreenCallbacks SCREEN_CALLBACKS = {
    on_damage, nullptr, nullptr, on_settermprop, on_bell, on_resize, nullptr, nullptr,
#if VTERM_VERSION_MAJOR > 0 || VTERM_VERSION_MINOR >= 3
    nullptr,
#endif
};

void set_cloexec(int fd)
{
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

void set_nonblock(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void close_fd(int &fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

void write_all_fd(int fd, const char *p, size_t n, int timeout_ms)
{
    int64_t deadline = term_now_ms() + timeout_ms;
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno != EAGAIN)
            return;
        int64_t left = deadline - term_now_ms();
        if (left <= 0) {
            ADD_FAILURE() << "harness: the child did not take its input within " << timeout_ms
                          << " ms";
            return;
        }
        pollfd pfd{fd, POLLOUT, 0};
        poll(&pfd, 1, static_cast<int>(left));
    }
}

std::string env_name(const std::string &entry)
{
    return entry.substr(0, entry.find('='));
}

void env_set(std::vector<std::string> &env, const std::string &name, const std::string &value)
{
    std::string entry = name + "=" + value;
    for (auto &e : env) {
        if (env_name(e) == name) {
            e = entry;
            return;
        }
    }
    env.push_back(entry);
}

std::vector<std::string> build_env(const Launch &launch, const std::string &san_dir)
{
    std::vector<std::string> env;
    const char *path = getenv("PATH");
    env_set(env, "PATH", path ? path : "/usr/local/bin:/usr/bin:/bin");
    bool have_lang = false;
    for (char **e = environ; *e; ++e) {
        std::string entry = *e;
        if (entry.rfind("LANG=", 0) == 0 || entry.rfind("LC_", 0) == 0) {
            env_set(env, env_name(entry), entry.substr(entry.find('=') + 1));
            have_lang = have_lang || entry.rfind("LANG=", 0) == 0;
        }
    }
    if (!have_lang)
        env_set(env, "LANG", "C.UTF-8");
    env_set(env, "TERM", "xterm-256color");
    if (!launch.unset_home && !launch.home.empty())
        env_set(env, "HOME", launch.home);
    // Reports go to files so a test can fail on them instead of them vanishing in the pty.
    env_set(env, "ASAN_OPTIONS", "log_path=" + san_dir + "/asan:detect_leaks=0");
    env_set(env, "UBSAN_OPTIONS", "log_path=" + san_dir + "/ubsan:print_stacktrace=1");
    for (const auto &kv : launch.env)
        env_set(env, kv.first, kv.second);
    for (const auto &name : launch.unset_env)
        std::erase_if(env, [&](const std::string &e) { return env_name(e) == name; });
    return env;
}

// The first executable `name` in the directories of `path` (an empty entry
// is the current directory), or "".
std::string search_path(const std::string &name, const std::string &path)
{
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        std::string dir = path.substr(start, end - start);
        std::string cand = (dir.empty() ? std::string(".") : dir) + "/" + name;
        if (access(cand.c_str(), X_OK) == 0)
            return cand;
        start = end + 1;
    }
    return "";
}

std::string resolve_program(const std::string &prog, const std::vector<std::string> &env)
{
    if (prog.find('/') != std::string::npos)
        return prog;
    std::string path;
    for (const auto &e : env)
        if (env_name(e) == "PATH")
            path = e.substr(5);
    std::string found = search_path(prog, path);
    return found.empty() ? prog : found;
}

// Everything the child needs, prepared before fork so the child only makes
// async-signal-safe calls.
void plan_child(ChildPlan &plan, const Launch &launch, const std::string &san_dir,
                const std::string &pty_name)
{
    plan.env_s = build_env(launch, san_dir);
    plan.path = resolve_program(launch.program, plan.env_s);
    plan.argv_s.push_back(launch.argv0.empty() ? launch.program : launch.argv0);
    for (const auto &a : launch.args)
        plan.argv_s.push_back(a == "{PTY}" && !pty_name.empty() ? pty_name : a);
    for (auto &s : plan.argv_s)
        plan.argv.push_back(s.data());
    plan.argv.push_back(nullptr);
    for (auto &s : plan.env_s)
        plan.envp.push_back(s.data());
    plan.envp.push_back(nullptr);
    plan.cwd = launch.cwd;
    plan.exec_error = "harness: cannot run " + plan.path + "\n";
}

[[noreturn]] void child_exec(const ChildPlan &plan, int in, int out, int err)
{
    // Lift the sources above 2 first so the dup2 calls cannot clobber each other.
    if (in < 3)
        in = fcntl(in, F_DUPFD, 3);
    if (out < 3)
        out = fcntl(out, F_DUPFD, 3);
    if (err < 3)
        err = fcntl(err, F_DUPFD, 3);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGWINCH, SIGCHLD, SIGTSTP,
                    SIGTTIN, SIGTTOU, SIGALRM, SIGUSR1, SIGUSR2})
        sigaction(sig, &dfl, nullptr);
    if (!plan.cwd.empty() && chdir(plan.cwd.c_str()) != 0) {
        ssize_t ignored = write(2, plan.exec_error.data(), plan.exec_error.size());
        (void)ignored;
        _exit(127);
    }
    execve(plan.path.c_str(), plan.argv.data(), plan.envp.data());
    ssize_t ignored = write(2, plan.exec_error.data(), plan.exec_error.size());
    (void)ignored;
    _exit(127);
}

int status_of_siginfo(const siginfo_t &si)
{
    if (si.si_code == CLD_EXITED)
        return si.si_status & 0xFF;
    return 128 + si.si_status;
}

int status_of_wait(int st)
{
    if (WIFEXITED(st))
        return WEXITSTATUS(st);
    if (WIFSIGNALED(st))
        return 128 + WTERMSIG(st);
    return -1;
}

void check_sanitizer_reports(const std::string &dir, const std::string &program)
{
    if (dir.empty())
        return;
    for (const auto &name : list_dir(dir)) {
        std::string text = read_file(dir + "/" + name);
        if (!text.empty())
            ADD_FAILURE() << "sanitizer report from " << program << " (" << name << "):\n"
                          << text;
    }
    remove_tree(dir);
}

void notify(Term *t)
{
    t->cv.notify_all();
}

void feed_screen(Term *t, const char *buf, size_t n)
{
    std::string reply;
    {
        std::lock_guard<std::mutex> lk(t->mu);
        t->raw.append(buf, n);
        vterm_input_write(t->vt, buf, n);
        refresh_rows_locked(t);
        t->generation++;
        reply.swap(t->reply);
    }
    notify(t);
    // Best effort: a child that never reads its input gets no answer.
    if (!reply.empty()) {
        ssize_t ignored = write(t->master, reply.data(), reply.size());
        (void)ignored;
    }
}

// Marks the end of one of the child's outputs and wakes the waiters.
void note_eof(Term *t, bool &eof)
{
    {
        std::lock_guard<std::mutex> lk(t->mu);
        eof = true;
        t->generation++;
    }
    notify(t);
}

// Reads the pty and stderr, feeds stdin, until told to stop, so the child
// never blocks on a full pty or pipe.
void io_loop(Term *t)
{
    sigset_t pipe_set;
    sigemptyset(&pipe_set);
    sigaddset(&pipe_set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_set, nullptr);  // broken stdin pipe: EPIPE, not death

    bool master_open = true;
    bool err_open = t->err_fd >= 0;
    size_t in_off = 0;
    char buf[16384];
    for (;;) {
        pollfd fds[4];
        int n = 0, mi = -1, ei = -1, ii = -1;
        fds[n++] = {t->wake[0], POLLIN, 0};
        if (master_open) {
            mi = n;
            fds[n++] = {t->master, POLLIN, 0};
        }
        if (err_open) {
            ei = n;
            fds[n++] = {t->err_fd, POLLIN, 0};
        }
        if (t->in_fd >= 0) {
            ii = n;
            fds[n++] = {t->in_fd, POLLOUT, 0};
        }
        if (poll(fds, n, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents)
            break;
        if (mi >= 0 && fds[mi].revents) {
            ssize_t r = read(t->master, buf, sizeof buf);
            if (r > 0) {
                feed_screen(t, buf, static_cast<size_t>(r));
            } else if (r == 0 || (errno != EINTR && errno != EAGAIN)) {
                // EIO: every slave descriptor is closed and all output has been read.
                master_open = false;
                note_eof(t, t->master_eof);
            }
        }
        if (ei >= 0 && fds[ei].revents) {
            ssize_t r = read(t->err_fd, buf, sizeof buf);
            if (r > 0) {
                {
                    std::lock_guard<std::mutex> lk(t->mu);
                    t->err.append(buf, static_cast<size_t>(r));
                    t->generation++;
                }
                notify(t);
            } else if (r == 0 || (errno != EINTR && errno != EAGAIN)) {
                err_open = false;
                note_eof(t, t->err_eof);
            }
        }
        if (ii >= 0 && fds[ii].revents) {
            bool done = in_off >= t->stdin_data.size();
            if (!done) {
                size_t chunk = std::min<size_t>(t->stdin_data.size() - in_off, 65536);
                ssize_t w = write(t->in_fd, t->stdin_data.data() + in_off, chunk);
                if (w > 0)
                    in_off += static_cast<size_t>(w);
                else if (w < 0 && errno != EINTR && errno != EAGAIN)
                    done = true;
            }
            if (done || in_off >= t->stdin_data.size())
                close_fd(t->in_fd);
        }
    }
}

// Waits for the exit without reaping, so the process group id stays taken
// until term_close has killed whatever the child left behind.
void wait_loop(Term *t)
{
    siginfo_t si{};
    while (waitid(P_PID, static_cast<id_t>(t->pid), &si, WEXITED | WNOWAIT) < 0) {
        if (errno != EINTR)
            break;
    }
    {
        std::lock_guard<std::mutex> lk(t->mu);
        t->exited = true;
        t->exit_status = status_of_siginfo(si);
        // With the last slave descriptor gone the master reports EIO after the last byte.
        close_fd(t->slave);
        t->generation++;
    }
    notify(t);
}

bool setup_screen(Term *t, int rows, int cols)
{
    t->vt = vterm_new(rows, cols);
    if (!t->vt)
        return false;
    vterm_set_utf8(t->vt, 1);
    vterm_output_set_callback(t->vt, on_output, t);
    t->state = vterm_obtain_state(t->vt);
    vterm_state_set_bold_highbright(t->state, 0);
    t->screen = vterm_obtain_screen(t->vt);
    size_arrays_locked(t, rows, cols);
    vterm_screen_set_callbacks(t->screen, &SCREEN_CALLBACKS, t);
    vterm_screen_enable_altscreen(t->screen, 1);
    vterm_screen_reset(t->screen, 1);
    refresh_rows_locked(t);
    return true;
}

int nftw_open_dirs(const char *path, const struct stat *, int type, struct FTW *)
{
    if (type == FTW_D || type == FTW_DNR)
        chmod(path, 0700);
    return 0;
}

int nftw_remove(const char *path, const struct stat *, int, struct FTW *)
{
    remove(path);
    return 0;
}

}  // namespace

// ---- process ----

Term *term_spawn(const Launch &launch)
{
    Term *t = new Term;
    t->piped = launch.stdin_pipe;
    t->program = launch.program;
    t->stdin_data = launch.stdin_data;
    t->san_dir = make_temp_dir();

    struct winsize ws {};
    ws.ws_row = static_cast<unsigned short>(launch.rows);
    ws.ws_col = static_cast<unsigned short>(launch.cols);
    int slave = -1;
    if (openpty(&t->master, &slave, nullptr, nullptr, &ws) != 0) {
        ADD_FAILURE() << "harness: openpty: " << strerror(errno);
        check_sanitizer_reports(t->san_dir, t->program);
        delete t;
        return nullptr;
    }
    set_cloexec(t->master);
    set_cloexec(slave);
    char pty_name[256] = "";
    if (ptsname_r(t->master, pty_name, sizeof pty_name) != 0)
        pty_name[0] = '\0';

    int err_pipe[2] = {-1, -1}, in_pipe[2] = {-1, -1};
    if (launch.stderr_pipe && pipe2(err_pipe, O_CLOEXEC) != 0)
        ADD_FAILURE() << "harness: pipe: " << strerror(errno);
    if (launch.stdin_pipe && pipe2(in_pipe, O_CLOEXEC) != 0)
        ADD_FAILURE() << "harness: pipe: " << strerror(errno);

    ChildPlan plan;
    plan_child(plan, launch, t->san_dir, pty_name);
    int child_in = launch.stdin_pipe ? in_pipe[0] : slave;
    int child_err = err_pipe[1] >= 0 ? err_pipe[1] : slave;

    pid_t pid = fork();
    if (pid == 0) {
        if (launch.stdin_pipe) {
            // Own process group but no controlling terminal: the pty only
            // becomes the program's terminal by the path it is given.
            setpgid(0, 0);
        } else {
            setsid();
            ioctl(slave, TIOCSCTTY, 0);
        }
        child_exec(plan, child_in, slave, child_err);
    }
    close_fd(in_pipe[0]);
    close_fd(err_pipe[1]);
    if (pid < 0) {
        ADD_FAILURE() << "harness: fork: " << strerror(errno);
        close_fd(slave);
        close_fd(in_pipe[1]);
        close_fd(err_pipe[0]);
        close_fd(t->master);
        check_sanitizer_reports(t->san_dir, t->program);
        delete t;
        return nullptr;
    }
    t->pid = pid;
    // Piped mode keeps the slave open so the pty survives until the program opens it.
    if (launch.stdin_pipe)
        t->slave = slave;
    else
        close(slave);
    t->err_fd = err_pipe[0];
    t->err_eof = t->err_fd < 0;
    t->in_fd = in_pipe[1];
    if (t->in_fd >= 0)
        set_nonblock(t->in_fd);
    set_nonblock(t->master);
    if (pipe2(t->wake, O_CLOEXEC) != 0)
        ADD_FAILURE() << "harness: pipe: " << strerror(errno);
    {
        std::lock_guard<std::mutex> lk(t->mu);
        if (!setup_screen(t, launch.rows, launch.cols))
            ADD_FAILURE() << "harness: vterm_new failed";
    }
    t->wait_thread = std::thread(wait_loop, t);
    t->io_thread = std::thread(io_loop, t);
    return t;
}

void term_close(Term *t)
{
    if (!t)
        return;
    if (t->pid > 0) {
        // The child is not reaped yet, so its process group id cannot have been reused.
        kill(-t->pid, SIGKILL);
        kill(t->pid, SIGKILL);
    }
    if (t->wait_thread.joinable())
        t->wait_thread.join();
    if (t->pid > 0) {
        while (waitpid(t->pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (t->wake[1] >= 0) {
        ssize_t ignored = write(t->wake[1], "x", 1);
        (void)ignored;
    }
    if (t->io_thread.joinable())
        t->io_thread.join();
    close_fd(t->in_fd);
    close_fd(t->err_fd);
    close_fd(t->slave);
    close_fd(t->master);
    close_fd(t->wake[0]);
    close_fd(t->wake[1]);
    if (t->vt)
        vterm_free(t->vt);
    check_sanitizer_reports(t->san_dir, t->program);
    delete t;
}

void term_send(Term *t, const std::string &bytes)
{
    write_all_fd(t->master, bytes.data(), bytes.size(), 5000);
}

std::string ctrl_key(char letter)
{
    return std::string(1, static_cast<char>(letter & 0x1F));
}

void term_resize(Term *t, int rows, int cols)
{
    {
        std::lock_guard<std::mutex> lk(t->mu);
        vterm_set_size(t->vt, rows, cols);
        size_arrays_locked(t, rows, cols);
        refresh_rows_locked(t);
        t->generation++;
    }
    struct winsize ws {};
    ws.ws_row = static_cast<unsigned short>(rows);
    ws.ws_col = static_cast<unsigned short>(cols);
    ioctl(t->master, TIOCSWINSZ, &ws);
    // The kernel only signals the foreground group of a controlling terminal.
    if (t->piped && !term_exited(t))
        kill(t->pid, SIGWINCH);
}

void term_signal(Term *t, int sig)
{
    kill(t->pid, sig);
}

int term_pid(Term *t)
{
    return t->pid;
}

// ---- screen ----

// A copy of one of t's fields, taken under its lock.
template <typename T>
T locked(Term *t, const T &field)
{
    std::lock_guard<std::mutex> lk(t->mu);
    return field;
}

std::string term_row(Term *t, int row)
{
    std::lock_guard<std::mutex> lk(t->mu);
    return trim_right(row_raw_locked(t, row));
}

std::string term_row_raw(Term *t, int row)
{
    std::lock_guard<std::mutex> lk(t->mu);
    return row_raw_locked(t, row);
}

std::vector<std::string> term_rows_text(Term *t)
{
    std::lock_guard<std::mutex> lk(t->mu);
    std::vector<std::string> rows;
    for (int row = 0; row < t->rows; row++)
        rows.push_back(trim_right(row_raw_locked(t, row)));
    return rows;
}

Cell term_cell(Term *t, int row, int col)
{
    std::lock_guard<std::mutex> lk(t->mu);
    Cell cell;
    VTermScreenCell c;
    if (!get_cell_locked(t, row, col, &c))
        return cell;
    if (c.chars[0] != WIDE_CONTINUATION)
        cell_text(c, cell.text);
    cell.bold = c.attrs.bold;
    cell.reverse = c.attrs.reverse;
    cell.underline = c.attrs.underline != 0;
    cell.fg = color_index(t->state, c.fg, true);
    cell.bg = color_index(t->state, c.bg, false);
    return cell;
}

std::string term_screen(Term *t)
{
    std::vector<std::string> rows = term_rows_text(t);
    std::pair<int, int> cur = term_cursor(t);
    char head[160];
    snprintf(head, sizeof head, "screen %dx%d, cursor at %d,%d %s, %s screen\n", term_rows(t),
             term_cols(t), cur.first, cur.second,
             term_cursor_visible(t) ? "visible" : "hidden",
             term_altscreen(t) ? "alternate" : "main");
    return head + format_screen(rows);
}

int term_bells(Term *t) { return locked(t, t->bells); }

bool term_cursor_visible(Term *t) { return locked(t, t->cursor_visible); }

bool term_altscreen(Term *t) { return locked(t, t->altscreen); }

std::pair<int, int> term_cursor(Term *t)
{
    std::lock_guard<std::mutex> lk(t->mu);
    VTermPos pos;
    vterm_state_get_cursorpos(t->state, &pos);
    return {pos.row, pos.col};
}

int term_rows(Term *t) { return locked(t, t->rows); }

int term_cols(Term *t) { return locked(t, t->cols); }

std::string term_raw(Term *t) { return locked(t, t->raw); }

std::string term_stderr(Term *t) { return locked(t, t->err); }

// ---- waiting ----

bool term_wait_for(Term *t, const std::function<bool(Term *)> &pred, int timeout_ms)
{
    int64_t deadline = term_now_ms() + timeout_ms;
    for (;;) {
        uint64_t gen;
        {
            std::lock_guard<std::mutex> lk(t->mu);
            gen = t->generation;
        }
        if (pred(t))
            return true;
        int64_t left = deadline - term_now_ms();
        if (left <= 0)
            return false;
        // Woken by new output or the exit; the cap covers predicates on files.
        std::unique_lock<std::mutex> lk(t->mu);
        t->cv.wait_for(lk, std::chrono::milliseconds(std::min<int64_t>(left, 20)),
                       [&] { return t->generation != gen; });
    }
}

bool term_wait_row(Term *t, int row, const std::string &text, int timeout_ms)
{
    std::string want = trim_right(text);
    return term_wait_for(t, [&](Term *x) { return term_row(x, row) == want; }, timeout_ms);
}

bool term_wait_row_contains(Term *t, int row, const std::string &text, int timeout_ms)
{
    return term_wait_for(
        t, [&](Term *x) { return term_row(x, row).find(text) != std::string::npos; },
        timeout_ms);
}

bool term_wait_text(Term *t, const std::string &text, int timeout_ms)
{
    return term_wait_for(
        t,
        [&](Term *x) {
            for (const auto &r : term_rows_text(x))
                if (r.find(text) != std::string::npos)
                    return true;
            return false;
        },
        timeout_ms);
}

namespace {

bool screen_matches(const std::vector<std::string> &expected, const std::vector<std::string> &actual)
{
    if (expected.size() > actual.size())
        return false;
    for (size_t i = 0; i < actual.size(); i++) {
        std::string want = i < expected.size() ? trim_right(expected[i]) : std::string();
        if (actual[i] != want)
            return false;
    }
    return true;
}

}  // namespace

bool term_wait_screen(Term *t, const std::vector<std::string> &rows, int timeout_ms)
{
    return term_wait_for(
        t, [&](Term *x) { return screen_matches(rows, term_rows_text(x)); }, timeout_ms);
}

int term_wait_exit(Term *t, int timeout_ms)
{
    if (!term_wait_for(t, [](Term *x) { return term_exited(x); }, timeout_ms))
        return -1;
    // Until the last output is on the screen and in stderr; bounded, as a
    // descendant that keeps the pty or the pipe open holds off the end for ever.
    term_wait_for(
        t,
        [](Term *x) {
            std::lock_guard<std::mutex> lk(x->mu);
            return x->master_eof && x->err_eof;
        },
        500);
    return locked(t, t->exit_status);
}

int term_press_until_exit(Term *t, const std::string &key, int timeout_ms)
{
    const int64_t deadline = term_now_ms() + timeout_ms;
    do {
        term_send(t, key);
        if (term_wait_for(t, [](Term *x) { return term_exited(x); }, 100))
            return term_wait_exit(t, 0);
    } while (term_now_ms() < deadline);
    return -1;
}

bool term_catches_signal(Term *t, int sig)
{
    std::ifstream status("/proc/" + std::to_string(term_pid(t)) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1;
    return false;
}

bool term_exited(Term *t) { return locked(t, t->exited); }

// ---- timing ----

int64_t term_now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t term_last_change_ms(Term *t) { return locked(t, t->last_change); }

int64_t term_row_changed_ms(Term *t, int row)
{
    std::lock_guard<std::mutex> lk(t->mu);
    if (row < 0 || row >= t->rows)
        return 0;
    return t->row_changed[row];
}

int64_t term_wait_row_differs(Term *t, int row, const std::string &from, int timeout_ms)
{
    std::string base = trim_right(from);
    int64_t when = -1;
    term_wait_for(
        t,
        [&](Term *x) {
            std::lock_guard<std::mutex> lk(x->mu);
            if (row < 0 || row >= x->rows || x->row_text[row] == base)
                return false;
            when = x->row_changed[row];
            return true;
        },
        timeout_ms);
    return when;
}

int64_t term_wait_row_change(Term *t, int row, int timeout_ms)
{
    std::string base;
    {
        std::lock_guard<std::mutex> lk(t->mu);
        if (row >= 0 && row < t->rows)
            base = t->row_text[row];
    }
    return term_wait_row_differs(t, row, base, timeout_ms);
}

// ---- failure messages ----

std::string format_screen(const std::vector<std::string> &rows)
{
    std::string out;
    for (size_t i = 0; i < rows.size(); i++) {
        char num[32];
        snprintf(num, sizeof num, "%3zu|", i);
        out += num + rows[i] + "\n";
    }
    return out;
}

std::string format_timeout(const std::string &expected, int timeout_ms,
                           const std::vector<std::string> &seen)
{
    return "timed out after " + std::to_string(timeout_ms) + " ms waiting for " + expected +
           "\nscreen seen:\n" + format_screen(seen);
}

std::string format_screen_diff(const std::vector<std::string> &expected,
                               const std::vector<std::string> &actual)
{
    size_t n = std::max(expected.size(), actual.size());
    std::string exp_out, act_out;
    for (size_t i = 0; i < n; i++) {
        std::string e = i < expected.size() ? trim_right(expected[i]) : std::string();
        std::string a = i < actual.size() ? actual[i] : std::string();
        char num[32];
        snprintf(num, sizeof num, "%s%3zu|", e == a ? " " : "*", i);
        if (i < expected.size() || e != a)
            exp_out += num + e + "\n";
        if (i < actual.size())
            act_out += num + a + "\n";
    }
    return "screen differs (rows marked * differ; rows not listed as expected are blank)\n"
           "expected:\n" +
           exp_out + "actual:\n" + act_out;
}

namespace {

std::string quoted(const std::string &s)
{
    return "\"" + s + "\"";
}

::testing::AssertionResult timeout_failure(Term *t, const std::string &expected, int timeout_ms)
{
    std::string msg = format_timeout(expected, timeout_ms, term_rows_text(t));
    std::string err = term_stderr(t);
    if (!err.empty())
        msg += "stderr so far:\n" + err;
    if (term_exited(t))
        msg += "(the child has exited)\n";
    return ::testing::AssertionFailure() << msg;
}

}  // namespace

::testing::AssertionResult term_check_row(Term *t, int row, const std::string &text, int timeout_ms)
{
    if (term_wait_row(t, row, text, timeout_ms))
        return ::testing::AssertionSuccess();
    return timeout_failure(t, "row " + std::to_string(row) + " == " + quoted(text), timeout_ms);
}

::testing::AssertionResult term_check_row_contains(Term *t, int row, const std::string &text,
                                                   int timeout_ms)
{
    if (term_wait_row_contains(t, row, text, timeout_ms))
        return ::testing::AssertionSuccess();
    return timeout_failure(t, "row " + std::to_string(row) + " containing " + quoted(text),
                           timeout_ms);
}

::testing::AssertionResult term_check_text(Term *t, const std::string &text, int timeout_ms)
{
    if (term_wait_text(t, text, timeout_ms))
        return ::testing::AssertionSuccess();
    return timeout_failure(t, quoted(text) + " anywhere on the screen", timeout_ms);
}

::testing::AssertionResult term_check_screen(Term *t, const std::vector<std::string> &expected,
                                             int timeout_ms)
{
    if (term_wait_screen(t, expected, timeout_ms))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "timed out after " << timeout_ms << " ms waiting for the whole screen\n"
           << format_screen_diff(expected, term_rows_text(t));
}

::testing::AssertionResult term_check_exit(Term *t, int status, int timeout_ms)
{
    int got = term_wait_exit(t, timeout_ms);
    if (got == status)
        return ::testing::AssertionSuccess();
    std::string what = got < 0 ? "still running after " + std::to_string(timeout_ms) + " ms"
                               : "exit status " + std::to_string(got);
    return ::testing::AssertionFailure()
           << "expected exit status " << status << ", got " << what << "\nstderr:\n"
           << term_stderr(t) << "screen:\n"
           << term_screen(t);
}

// ---- files ----

std::string make_temp_dir()
{
    char tmpl[] = "/tmp/drifterm-test.XXXXXX";
    if (!mkdtemp(tmpl)) {
        ADD_FAILURE() << "harness: mkdtemp: " << strerror(errno);
        return std::string();
    }
    return tmpl;
}

void remove_tree(const std::string &path)
{
    // Only what make_temp_dir made: a stray empty or relative path must not cost a tree.
    if (path.rfind("/tmp/", 0) != 0 || path.size() <= 5 || path.find("/../") != std::string::npos) {
        if (!path.empty())
            ADD_FAILURE() << "harness: remove_tree refuses " << path;
        return;
    }
    nftw(path.c_str(), nftw_open_dirs, 16, FTW_PHYS);
    nftw(path.c_str(), nftw_remove, 16, FTW_PHYS | FTW_DEPTH);
}

void write_file(const std::string &path, const std::string &bytes)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        ADD_FAILURE() << "harness: cannot write " << path << ": " << strerror(errno);
        return;
    }
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t w = write(fd, bytes.data() + off, bytes.size() - off);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            ADD_FAILURE() << "harness: write " << path << ": " << strerror(errno);
            break;
        }
        off += static_cast<size_t>(w);
    }
    close(fd);
}

std::string read_file(const std::string &path)
{
    std::string out;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return out;
    char buf[65536];
    for (;;) {
        ssize_t r = read(fd, buf, sizeof buf);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        out.append(buf, static_cast<size_t>(r));
    }
    close(fd);
    return out;
}

bool file_exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_dir(const std::string &path)
{
    std::vector<std::string> names;
    DIR *d = opendir(path.c_str());
    if (!d)
        return names;
    while (struct dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string work_dir_of(const std::string &home)
{
    return home + "/.drifterm";
}

std::string find_program(const std::string &name)
{
    const char *path = getenv("PATH");
    return search_path(name, path ? path : "/usr/bin:/bin");
}

// ---- plain runs ----

RunResult run_plain(const Launch &launch, int timeout_ms)
{
    RunResult res;
    std::string san_dir = make_temp_dir();
    ChildPlan plan;
    plan_child(plan, launch, san_dir, std::string());

    int out[2] = {-1, -1}, err[2] = {-1, -1}, in[2] = {-1, -1};
    bool use_pipe = launch.stdin_pipe || !launch.stdin_data.empty();
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 ||
        (use_pipe && pipe2(in, O_CLOEXEC) != 0)) {
        ADD_FAILURE() << "harness: pipe: " << strerror(errno);
        for (int *fd : {&out[0], &out[1], &err[0], &err[1], &in[0], &in[1]})
            close_fd(*fd);
        check_sanitizer_reports(san_dir, launch.program);
        return res;
    }
    if (!use_pipe)
        in[0] = open("/dev/null", O_RDONLY | O_CLOEXEC);

    pid_t pid = fork();
    if (pid == 0) {
        setsid();  // a new session without a terminal: /dev/tty cannot be opened
        child_exec(plan, in[0], out[1], err[1]);
    }
    close_fd(in[0]);
    close_fd(out[1]);
    close_fd(err[1]);
    if (pid < 0) {
        ADD_FAILURE() << "harness: fork: " << strerror(errno);
        close_fd(in[1]);
        close_fd(out[0]);
        close_fd(err[0]);
        check_sanitizer_reports(san_dir, launch.program);
        return res;
    }
    if (in[1] >= 0)
        set_nonblock(in[1]);

    // A child that stops reading its input must not kill the test with SIGPIPE.
    sigset_t pipe_set, old_set;
    sigemptyset(&pipe_set);
    sigaddset(&pipe_set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_set, &old_set);

    int64_t deadline = term_now_ms() + timeout_ms;
    bool timed_out = false;
    size_t in_off = 0;
    char buf[16384];
    while (out[0] >= 0 || err[0] >= 0 || in[1] >= 0) {
        int64_t left = deadline - term_now_ms();
        if (left <= 0 && !timed_out) {
            timed_out = true;
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            close_fd(in[1]);
            deadline = term_now_ms() + 2000;  // to drain what the killed group left
            continue;
        }
        if (left <= 0)
            break;
        pollfd fds[3];
        int n = 0, oi = -1, ei = -1, ii = -1;
        if (out[0] >= 0) {
            oi = n;
            fds[n++] = {out[0], POLLIN, 0};
        }
        if (err[0] >= 0) {
            ei = n;
            fds[n++] = {err[0], POLLIN, 0};
        }
        if (in[1] >= 0) {
            ii = n;
            fds[n++] = {in[1], POLLOUT, 0};
        }
        if (poll(fds, n, static_cast<int>(left)) < 0 && errno != EINTR)
            break;
        for (auto [idx, fd, dst] : {std::tuple{oi, &out[0], &res.out}, std::tuple{ei, &err[0], &res.err}}) {
            if (idx < 0 || !fds[idx].revents)
                continue;
            ssize_t r = read(*fd, buf, sizeof buf);
            if (r > 0)
                dst->append(buf, static_cast<size_t>(r));
            else if (r == 0 || (errno != EINTR && errno != EAGAIN))
                close_fd(*fd);
        }
        if (ii >= 0 && fds[ii].revents) {
            if (in_off < launch.stdin_data.size()) {
                size_t chunk = std::min<size_t>(launch.stdin_data.size() - in_off, 65536);
                ssize_t w = write(in[1], launch.stdin_data.data() + in_off, chunk);
                if (w > 0)
                    in_off += static_cast<size_t>(w);
                else if (w < 0 && errno != EINTR && errno != EAGAIN)
                    close_fd(in[1]);
            }
            if (in_off >= launch.stdin_data.size())
                close_fd(in[1]);
        }
    }
    close_fd(in[1]);
    close_fd(out[0]);
    close_fd(err[0]);

    // The output is closed; give the child the rest of the time to exit.
    siginfo_t si{};
    for (;;) {
        si.si_pid = 0;
        int r = waitid(P_PID, static_cast<id_t>(pid), &si, WEXITED | WNOHANG | WNOWAIT);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || si.si_pid == pid)
            break;
        if (term_now_ms() >= deadline) {
            timed_out = true;
            break;
        }
        usleep(2000);
    }
    kill(-pid, SIGKILL);  // whatever it left behind; the group id is still ours
    if (timed_out)
        kill(pid, SIGKILL);
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    res.status = timed_out ? -1 : status_of_wait(st);

    struct timespec zero {};
    if (!sigismember(&old_set, SIGPIPE))
        while (sigtimedwait(&pipe_set, nullptr, &zero) > 0) {
        }
    pthread_sigmask(SIG_SETMASK, &old_set, nullptr);
    check_sanitizer_reports(san_dir, launch.program);
    return res;
}

}  // namespace harness
