// Work files opened so that no one else can redirect them: a work name is
// never followed when it is a symbolic link, and only a file this run made
// is written. The filter's temp folder, which the program removes itself.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/exits.h"
#include "app/records.h"
#include "prepare/prepare.h"

const char *const link_in_place_of_work_file = "is a symbolic link, not a work file";

[[noreturn]] void work_file_refuse(const char *path, const char *reason)
{
    die_naming(path, reason);
}

bool work_file_check(const char *path)
{
    struct stat status;
    if (lstat(path, &status) != 0)
        return false;
    if (S_ISLNK(status.st_mode))
        work_file_refuse(path, link_in_place_of_work_file);
    if (!S_ISREG(status.st_mode))
        work_file_refuse(path, "is not a regular file");
    return true;
}

void work_file_clear(const char *path)
{
    // A plain file under a work name is a stale one of this program's; the
    // unlink takes only the name, whatever other names the file has.
    if (work_file_check(path) && unlink(path) != 0 && errno != ENOENT)
        die("unlink()");
}

FILE *work_file_create(const char *path)
{
    work_file_clear(path);
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        int saved = errno;
        work_file_check(path); // something was put there since
        errno = saved;
        die("fopen()");
    }
    FILE *file = fdopen(fd, "w");
    if (!file)
        die("fopen()");
    return file;
}

FILE *work_file_open(const char *path, const char *mode)
{
    work_file_check(path);
    int fd = open(path, (strcmp(mode, "r+") == 0 ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        int saved = errno;
        work_file_check(path); // something was put there since
        errno = saved;
        return nullptr;
    }
    FILE *file = fdopen(fd, mode);
    if (!file)
        close(fd);
    return file;
}

// ---- the filter's temp folder ----

// Empty while there is none. The filter is ended by SIGKILL when it does
// not end on SIGTERM, and then cannot remove what it made there.
static char filter_temp_dir[1024];

const char *make_filter_temp_dir()
{
    // Absolute, since the filter may change its directory.
    char cwd[1024] = "";
    if (work_files.work_dir[0] != '/' && !getcwd(cwd, sizeof cwd))
        return nullptr;
    char name[1024];
    int n = snprintf(name, sizeof name, "%s%s%sdrift_filter.XXXXXX", cwd, cwd[0] ? "/" : "",
                     work_files.work_dir);
    if (n < 0 || (size_t)n >= sizeof name || !mkdtemp(name))
        return nullptr; // the filter then has the user's own TMPDIR
    snprintf(filter_temp_dir, sizeof filter_temp_dir, "%s", name);
    return filter_temp_dir;
}

static int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    remove(path);
    return 0;
}

void remove_filter_temp_dir()
{
    if (!filter_temp_dir[0])
        return;
    int saved = errno; // die reports the error of the call before
    // FTW_PHYS: a link the filter made inside is removed, never followed.
    nftw(filter_temp_dir, remove_entry, 16, FTW_DEPTH | FTW_PHYS);
    filter_temp_dir[0] = '\0';
    errno = saved;
}
