// A stand-in for libmobi's entry point mobi_init, preloaded into the
// converter (LD_PRELOAD) by a test: code reached inside the library tries
// what a hostile book's exploit would, reading a file under HOME and
// running a program, says on standard error what came of each, then hands
// over to the real mobi_init. In a sanitizer build the run needs
// ASAN_OPTIONS=verify_asan_link_order=0, since this comes before ASan.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

struct MOBIData;

namespace {

void report(const char *what, const char *outcome)
{
    dprintf(2, "library probe: %s: %s\n", what, outcome);
}

} // namespace

extern "C" MOBIData *mobi_init(void)
{
    const char *home = getenv("HOME");
    std::string secret = std::string(home != nullptr ? home : "") + "/secret";
    int fd = open(secret.c_str(), O_RDONLY);
    report("a file under HOME", fd >= 0 ? "opened" : strerrorname_np(errno));
    // Where the filter kills, the process ends after this line.
    report("a program", "starting");
    char sh[] = "sh", dash_c[] = "-c", line[] = "echo 'library probe: a program: ran' >&2";
    char *argv[] = {sh, dash_c, line, nullptr};
    execv("/bin/sh", argv);
    report("a program", strerrorname_np(errno));
    auto real = reinterpret_cast<MOBIData *(*)()>(dlsym(RTLD_NEXT, "mobi_init"));
    return real != nullptr ? real() : nullptr;
}
