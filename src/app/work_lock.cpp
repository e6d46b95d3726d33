// The work files' lock and removal, and "Loading..". Runs of one user
// share the work files' names, so the preparation is serialized by a lock
// on the work directory, taken before the first write of a work file and
// released once the file to show is open (work_lock.cpp).
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#ifdef DRIFTERM_HAVE_FLOCK
#include <sys/file.h>
#endif
#include <unistd.h>

#include "app/records.h"
#include "app/signals.h"
#include "app/work_lock.h"

void show_loading()
{
    static bool shown = false;
    if (shown)
        return;
    shown = true;
    puts("Loading..");
    fflush(stdout);
}

// The work directory (the current one when HOME is unset), locked against
// the other runs of the user; -1 where it cannot be locked.
static int lock_work_directory()
{
#ifdef DRIFTERM_HAVE_FLOCK
    int fd = open(work_files.work_dir[0] ? work_files.work_dir : ".", O_RDONLY | O_CLOEXEC);
    // A wait that polls, so that a signal is served at once.
    while (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            // No locks here (some network file systems): go on unserialized.
            close(fd);
            fd = -1;
            break;
        }
        show_loading(); // a piped run waits before its capture, so says it here
        struct pollfd wake = {signal_wakeup_fd(), POLLIN, 0};
        poll(&wake, 1, 50);
        act_on_signals();
    }
    return fd;
#else
    return -1; // POSIX has no lock on a directory: runs go unserialized
#endif
}

void lock_work_files()
{
    if (reader.preparing)
        return;
    reader.lock_fd = lock_work_directory();
    // From here an exit removes the scratch file too: every step may have
    // it, and an interrupt may come between any two calls.
    reader.preparing = 1;
}

// Which file `path` names now.
static void note_own_work_file(const char *path, FileIdentity *own)
{
    struct stat status;
    if (stat(path, &status) == 0) {
        own->device = status.st_dev;
        own->inode = status.st_ino;
    }
}

void unlock_work_files()
{
    // Until now the work files were this run's alone; from now another run
    // may replace them, so note which files are its own.
    note_own_work_file(work_files.converted_path, &reader.own_converted);
    if (options.piped)
        note_own_work_file(work_files.piped_path, &reader.own_piped);
    if (reader.lock_fd >= 0)
        close(reader.lock_fd);
    reader.lock_fd = -1;
    reader.preparing = 0;
}

static void remove_own_work_file(const char *path, const FileIdentity *own)
{
    struct stat status;
    if (reader.preparing ||
        (own->inode != 0 && stat(path, &status) == 0 && status.st_dev == own->device &&
         status.st_ino == own->inode))
        unlink(path);
}

void remove_own_work_files()
{
    remove_own_work_file(work_files.converted_path, &reader.own_converted);
    if (options.piped)
        remove_own_work_file(work_files.piped_path, &reader.own_piped);
}
