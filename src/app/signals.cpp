// Signals: the handlers only record what arrived and wake the main flow,
// which carries the work out at its own safe points.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <curses.h>

#include "app/exits.h"
#include "app/records.h"
#include "app/signals.h"
#include "display/display.h"

volatile sig_atomic_t interrupt_pending = 0;
volatile sig_atomic_t ending_signal = 0;
volatile sig_atomic_t resize_pending = 0;

// Every signal the program catches; a child gets their default actions back.
static const int handled_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGWINCH};

static int wakeup_pipe[2] = {-1, -1};

// A pipe whose ends do not block and close on exec. pipe2 does it at once
// where there is one; elsewhere the flags are set after.
static int open_wakeup_pipe(int ends[2])
{
#ifdef DRIFTERM_HAVE_PIPE2
    return pipe2(ends, O_NONBLOCK | O_CLOEXEC);
#else
    if (pipe(ends) != 0)
        return -1;
    for (int i = 0; i < 2; i++) {
        int flags = fcntl(ends[i], F_GETFL);
        if (flags < 0 || fcntl(ends[i], F_SETFL, flags | O_NONBLOCK) != 0 ||
            fcntl(ends[i], F_SETFD, FD_CLOEXEC) != 0) {
            close(ends[0]);
            close(ends[1]);
            ends[0] = ends[1] = -1;
            return -1;
        }
    }
    return 0;
#endif
}

int signal_wakeup_fd()
{
    if (wakeup_pipe[0] < 0 && open_wakeup_pipe(wakeup_pipe) != 0)
        die("pipe()");
    return wakeup_pipe[0];
}

void signal_wakeup_notify()
{
    int saved = errno;
    if (wakeup_pipe[1] >= 0) {
        ssize_t ignored = write(wakeup_pipe[1], "!", 1);
        (void)ignored; // a full pipe already wakes the reader
    }
    errno = saved;
}

void drain_signal_wakeups()
{
    int saved = errno; // callers report the error of the call before
    char buf[64];
    while (read(signal_wakeup_fd(), buf, sizeof buf) > 0) {
    }
    errno = saved;
}

void on_interrupt(int signal)
{
    // A hangup or kill ends the run the same way, but is reported as that
    // signal once the work files are gone.
    if (signal != SIGINT)
        ending_signal = signal;
    interrupt_pending = 1;
    signal_wakeup_notify();
}

void child_signals_block(sigset_t *saved_mask)
{
    sigset_t handled;
    sigemptyset(&handled);
    for (int signal : handled_signals)
        sigaddset(&handled, signal);
    sigaddset(&handled, SIGQUIT);
    sigprocmask(SIG_BLOCK, &handled, saved_mask);
}

void child_signals_default(const sigset_t *saved_mask)
{
    for (int signal : handled_signals)
        ::signal(signal, SIG_DFL);
    ::signal(SIGQUIT, SIG_DFL);
    sigprocmask(SIG_SETMASK, saved_mask, nullptr);
}

void act_on_signals()
{
    drain_signal_wakeups();
    if (interrupt_pending)
        cleanup_and_exit();
    if (resize_pending && reader.screen_up) {
        resize_pending = 0;
        rebuild_screen();
    }
}

static int64_t monotonic_ms()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

void pace_sleep(uint32_t ms)
{
    act_on_signals();
    const int64_t deadline = monotonic_ms() + ms;
    for (;;) {
        int64_t left = deadline - monotonic_ms();
        if (left <= 0)
            return;
        struct pollfd wake = {signal_wakeup_fd(), POLLIN, 0};
        poll(&wake, 1, left > INT_MAX ? INT_MAX : (int)left);
        act_on_signals();
    }
}

// True when the key input has reached its end or is gone: waiting on it
// would never end, so the caller takes the cleanup exit.
static bool input_is_gone(const struct pollfd &input)
{
    if (input.revents & (POLLHUP | POLLERR | POLLNVAL))
        return true;
    // Readable with nothing to read is the end of input; so is readable
    // input that cannot say how much it holds (/dev/null), or it would spin.
    int pending = 0;
    return (input.revents & POLLIN) && (ioctl(input.fd, FIONREAD, &pending) != 0 || pending == 0);
}

int wait_for_key(bool from_main_window)
{
    for (;;) {
        act_on_signals();
        // Looked up afresh: a resize replaces the main window.
        WINDOW *win = from_main_window ? reader.main_window : stdscr;
        nodelay(win, TRUE);
        int key = wgetch(win);
        nodelay(win, FALSE);
        if (key != ERR)
            return key;
        struct pollfd fds[2] = {{screen_input_fd(), POLLIN, 0}, {signal_wakeup_fd(), POLLIN, 0}};
        if (poll(fds, 2, -1) > 0 && input_is_gone(fds[0]))
            cleanup_and_exit();
    }
}

void wait_for_any_key(bool from_main_window)
{
    // The rebuild after a resize queues KEY_RESIZE, which no one typed.
    while (wait_for_key(from_main_window) == KEY_RESIZE) {
    }
}
