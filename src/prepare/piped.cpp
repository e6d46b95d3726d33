// Piped input: capture standard input and attach curses to the -t terminal.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/exits.h"
#include "app/records.h"
#include "app/signals.h"
#include "app/work_lock.h"
#include "display/display.h"
#include "prepare/prepare.h"

// The copy works like line reads into a 1024-byte buffer written back as
// C strings: a read ends after a newline or 1023 bytes, and whatever in it
// follows a NUL byte is lost.
constexpr uint32_t capture_read_max = 1023;

size_t capture_keep(CaptureCut *cut, char *data, size_t len)
{
    size_t kept = 0;
    for (size_t i = 0; i < len; i++) {
        char c = data[i];
        if (c == '\0')
            cut->after_nul = true;
        if (!cut->after_nul)
            data[kept++] = c;
        if (c == '\n' || ++cut->read_len == capture_read_max) {
            cut->read_len = 0;
            cut->after_nul = false;
        }
    }
    return kept;
}

FILE *open_terminal_device(const char *name)
{
    struct stat status;
    if (!name) {
        // No -t: reported as the bad address it would be, with no text of our own.
        errno = EFAULT;
        die(nullptr);
    }
    if (stat(name, &status) != 0)
        die(name);
    if ((status.st_mode & S_IFMT) != S_IFCHR) {
        errno = ENOTTY;
        die(name);
    }
    FILE *tty = fopen(name, "a+");
    if (!tty)
        die("fopen()");
    return tty;
}

// The writer may keep the pipe open for long, so the wait also serves
// signals: an interrupt takes the cleanup exit, a resize needs nothing yet.
void capture_stream(int in, FILE *capture)
{
    CaptureCut cut;
    char buf[1024];
    for (;;) {
        struct pollfd fds[2] = {{in, POLLIN, 0}, {signal_wakeup_fd(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue; // the wake-up pipe holds the signal for the next poll
            die("poll()");
        }
        if (fds[1].revents) {
            act_on_signals();
            resize_pending = 0; // the screen, still to come, takes the size as it is then
        }
        if (!fds[0].revents)
            continue;
        ssize_t n = read(in, buf, sizeof buf);
        if (n == 0)
            return;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            die("read()");
        }
        size_t kept = capture_keep(&cut, buf, (size_t)n);
        if (fwrite(buf, 1, kept, capture) != kept)
            die("fwrite()");
    }
}

void capture_piped_input()
{
    if (!options.piped)
        return;
    FILE *tty = open_terminal_device(options.tty_name);
    // A character device that is no terminal (/dev/null) would take the
    // screen without complaint and never give a key.
    if (!isatty(fileno(tty))) {
        errno = ENOTTY;
        die(options.tty_name);
    }
    reader.tty_stream = tty;
    // Another piped run with the same HOME may be showing its capture: the
    // new one is written under the scratch name and moved over it, which
    // leaves the other run its own file.
    lock_work_files();
    FILE *capture = work_file_create(work_files.temp_path);
    capture_stream(STDIN_FILENO, capture);
    if (fclose(capture) != 0)
        die("fclose()");
    work_file_check(work_files.temp_path);
    if (rename(work_files.temp_path, work_files.piped_path) != 0)
        die("rename()");
    open_terminal_screen(tty, options.tty_name);
}
