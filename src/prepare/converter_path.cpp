// The converter the filter runs: the drifterm-convert built or installed
// beside this very binary, so that a build that is not installed, or a run
// pointed at the source tree's filter, reads documents with the converter
// of the same build rather than with some other one on PATH.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "app/records.h"
#include "prepare/prepare.h"

static const char converter_name[] = "drifterm-convert";

// `name` looked up in the directories of `path`, as the shell would run it.
static std::string find_on_path(const char *name, const char *path)
{
    std::string dirs = path ? path : "";
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

std::string program_directory(const char *proc_exe, const char *argv0, const char *path)
{
    char resolved[PATH_MAX];
    std::string binary;
    ssize_t len = proc_exe ? readlink(proc_exe, resolved, sizeof resolved - 1) : -1;
    if (len > 0) {
        resolved[len] = '\0';
        binary = resolved;
    } else if (argv0 && *argv0) {
        // Without /proc: argv[0] is the path run, or a name found on PATH.
        std::string run = strchr(argv0, '/') ? std::string(argv0) : find_on_path(argv0, path);
        if (!run.empty() && realpath(run.c_str(), resolved))
            binary = resolved;
    }
    size_t slash = binary.rfind('/');
    if (binary.empty() || slash == std::string::npos)
        return "";
    return slash == 0 ? "/" : binary.substr(0, slash);
}

void export_converter_path()
{
    const char *set = getenv("DRIFTERM_CONVERT");
    if (set && *set)
        return; // the user's choice
    std::string dir = program_directory("/proc/self/exe", reader.program_name, getenv("PATH"));
    if (dir.empty())
        return;
    std::string converter = (dir == "/" ? "" : dir) + "/" + converter_name;
    if (access(converter.c_str(), X_OK) == 0)
        setenv("DRIFTERM_CONVERT", converter.c_str(), 1);
}
