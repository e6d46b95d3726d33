// Stand-ins for the entry points of libmobi (mobi_init), djvulibre
// (ddjvu_context_create) and libchm (chm_open), preloaded into the
// converter (LD_PRELOAD) by a test: code reached inside the library tries
// what a hostile book's exploit would, reading a file under HOME and
// running a program, says on standard error what came of each, then hands
// over to the real entry point. In a sanitizer build the run needs
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
struct ddjvu_context_s;
typedef struct ddjvu_context_s ddjvu_context_t;
struct chmFile;

namespace {

void report(const char *what, const char *outcome)
{
    dprintf(2, "library probe: %s: %s\n", what, outcome);
}

void try_what_an_exploit_would()
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
}

template <typename Entry> Entry real(const char *name)
{
    return reinterpret_cast<Entry>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" MOBIData *mobi_init(void)
{
    try_what_an_exploit_would();
    auto entry = real<MOBIData *(*)()>("mobi_init");
    return entry != nullptr ? entry() : nullptr;
}

extern "C" ddjvu_context_t *ddjvu_context_create(const char *program)
{
    try_what_an_exploit_would();
    auto entry = real<ddjvu_context_t *(*)(const char *)>("ddjvu_context_create");
    return entry != nullptr ? entry(program) : nullptr;
}

extern "C" chmFile *chm_open(const char *path)
{
    try_what_an_exploit_would();
    auto entry = real<chmFile *(*)(const char *)>("chm_open");
    return entry != nullptr ? entry(path) : nullptr;
}
