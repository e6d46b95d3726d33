// What the fuzz targets share: a check that aborts with its reason, and
// reading files and a child's output, and reaping the child, while the
// fuzzer's own timer (SIGALRM) interrupts the calls.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

inline void require(bool holds, const char *what = "a requirement does not hold")
{
    if (!holds) {
        fprintf(stderr, "%s\n", what);
        abort();
    }
}

// Everything up to the end of `fd`, which is then closed.
inline std::string read_to_end(int fd)
{
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            text.append(buf, (size_t)n);
    close(fd);
    return text;
}

// The whole of a file that must be there.
inline std::string read_whole_file(const std::string &path)
{
    int fd = open(path.c_str(), O_RDONLY);
    require(fd >= 0, "a file to read is missing");
    return read_to_end(fd);
}

// The wait status of `child` once it has ended.
inline int wait_child(pid_t child)
{
    int status;
    pid_t waited;
    while ((waited = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
    }
    require(waited == child, "waitpid");
    return status;
}
