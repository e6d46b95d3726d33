// drifterm-convert FILE: prints FILE as plain text in the locale's
// character set, or nothing when it is a text fit to show as it is.
//
// drifterm-convert --confine PROGRAM ARGS: runs PROGRAM (a path) confined.
// drifterm-convert --kind FILE: prints the kind FILE is of, the id of its
// row in the table of formats ("pdf", "gzip", "epub", "text"...), for the
// filter to go by.
//
// Exit status: 0 when it printed or had nothing to print (a text to show
// as it is, a format not read here, anything but a regular file); 1 when
// FILE cannot be opened or read, or the text cannot be written; 2 for a
// usage error. Standard input is never read.
#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "convert/confine.h"
#include "convert/convert.h"
#include "convert/formats.h"
#include "convert/xml.h"
#include "convert/zip.h"

static const char usage[] = "usage: drifterm-convert FILE | --kind FILE | --formats | --help\n";

// A hostile document's conversion ends in seconds; this is the last resort
// should a library loop regardless.
static void limit_cpu_time()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_CPU, &limit) != 0)
        return;
    rlim_t soft = 20, hard = 22;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < hard)
        return;
    limit.rlim_cur = soft;
    limit.rlim_max = hard;
    setrlimit(RLIMIT_CPU, &limit);
}

static OutputCharset locale_charset()
{
    OutputCharset out;
    std::string codeset = nl_langinfo(CODESET);
    std::string upper;
    for (char c : codeset)
        upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (upper == "UTF-8" || upper == "UTF8")
        return out;
    out.utf8 = false;
    if (upper.empty() || upper == "ANSI_X3.4-1968" || upper == "ASCII" || upper == "US-ASCII")
        out.ascii = true;
    else
        out.codeset = codeset;
    return out;
}

// ---------------------------------------------------------------- --formats

// Magic bytes as they read, with \xHH for those that do not.
static std::string shown_bytes(std::string_view bytes)
{
    std::string out;
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F) {
            out += c;
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", b);
            out += hex;
        }
    }
    return out;
}

static std::string recognised_by(const Format &f)
{
    std::vector<std::string> ways;
    for (auto [magic, at] : {std::pair{f.magic, f.magic_at}, std::pair{f.other_magic, f.other_magic_at}})
        if (!magic.empty())
            ways.push_back("\"" + shown_bytes(magic) + "\"" + (at ? " at " + std::to_string(at) : ""));
    if (f.zip_mark != nullptr)
        ways.push_back(std::string("zip member ") + f.zip_mark);
    if (f.xml_root != nullptr)
        ways.push_back(std::string("root <") + f.xml_root + ">");
    if (f.suffixes != nullptr && *f.suffixes) {
        std::string names = "name";
        for (std::string_view name : format_suffixes(f))
            names += (names.size() == 4 ? " ." : "/.") + std::string(name);
        ways.push_back(names);
    }
    // The two rows without a mark of their own: text, and what is left.
    if (ways.empty())
        ways.push_back(f.kind == Kind::binary ? "anything no other row takes" : "no NUL bytes, or UTF-16");
    std::string out;
    for (const std::string &way : ways)
        out += (out.empty() ? "" : ", ") + way;
    return out;
}

static void print_formats()
{
    std::vector<std::vector<std::string>> rows = {{"format", "recognised by", "needs", "package"}};
    for (const Format &f : formats())
        rows.push_back({f.name, recognised_by(f), f.needs ? f.needs : "", f.package ? f.package : ""});
    size_t widths[3] = {0, 0, 0};
    for (const auto &row : rows)
        for (size_t i = 0; i < 3; i++)
            widths[i] = std::max(widths[i], row[i].size());
    for (const auto &row : rows) {
        std::string line;
        for (size_t i = 0; i < 3; i++)
            line += row[i] + std::string(widths[i] - row[i].size() + 2, ' ');
        line += row[3];
        line.erase(line.find_last_not_of(' ') + 1);
        puts(line.c_str());
    }
    printf("\nEach reader runs in a child confined by: %s\n", confinement_in_force().c_str());
}

// ---------------------------------------------------------------- the file

static std::string base_name_of(const char *path)
{
    std::string name(path);
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

static int fail(const char *path)
{
    fprintf(stderr, "drifterm-convert: %s: %s\n", path, strerror(errno));
    return 1;
}

// A closed pipe ends the run quietly: by SIGPIPE, or here when it is ignored.
static int print_text(const std::string &text)
{
    if (fwrite(text.data(), 1, text.size(), stdout) == text.size() && fflush(stdout) == 0)
        return 0;
    if (errno == EPIPE)
        return 0;
    fprintf(stderr, "drifterm-convert: standard output: %s\n", strerror(errno));
    return 1;
}

// A file's bytes, mapped: never read through a FIFO or device.
struct Mapped {
    void *map = nullptr;
    size_t size = 0;
    bool regular = false; // a regular file with bytes in it
};

static bool map_file(const char *path, Mapped &file)
{
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st{};
    bool ok = fstat(fd, &st) == 0;
    if (ok && S_ISREG(st.st_mode) && st.st_size > 0) {
        file.size = static_cast<size_t>(st.st_size);
        file.map = mmap(nullptr, file.size, PROT_READ, MAP_PRIVATE, fd, 0);
        ok = file.map != MAP_FAILED;
        file.regular = ok;
        if (!ok)
            file.map = nullptr;
    }
    int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

static void unmap_file(Mapped &file)
{
    if (file.map != nullptr)
        munmap(file.map, file.size);
    file = Mapped{};
}

static std::string_view bytes_of(const Mapped &file)
{
    return file.map ? std::string_view(static_cast<const char *>(file.map), file.size) : std::string_view();
}

static int convert_file(const char *path)
{
    Mapped file;
    if (!map_file(path, file))
        return fail(path);
    // A FIFO, device or directory is nothing to convert; an empty file or
    // one past the limits neither (the caller shows it as it is).
    int status = 0;
    if (file.regular && file.size <= archive_limit) {
        Input in;
        in.bytes = bytes_of(file);
        in.name = base_name_of(path);
        in.path = path;
        std::string text;
        if (convert_document(in, locale_charset(), text))
            status = print_text(text);
    }
    unmap_file(file);
    return status;
}

// The word the filter goes by: the kind of the file, as the table names it.
static int print_kind(const char *path)
{
    Mapped file;
    if (!map_file(path, file))
        return fail(path);
    const Format *format = format_for(detect_kind(bytes_of(file), base_name_of(path)));
    unmap_file(file);
    puts(format ? format->id : "text");
    return 0;
}

// drifterm-convert --confine PROGRAM ARGS...: PROGRAM run confined, as the
// converter runs its own: the filter's decompressors. It reads its input
// on standard input and writes on standard output, and may open no file
// but the system's.
static int run_confined(char **argv)
{
    ProgramConfinement confinement;
    ConfineFailure failure;
    if (!confine_program(confinement, failure)) {
        fprintf(stderr, "drifterm-convert: confining %s: %s: %s\n", argv[0], failure.step, strerror(failure.error));
        return 126;
    }
    execv(argv[0], argv);
    fprintf(stderr, "drifterm-convert: %s: %s\n", argv[0], strerror(errno));
    return 127;
}

int main(int argc, char **argv)
{
    setlocale(LC_ALL, "");
    limit_cpu_time();
    int first = 1;
    if (argc == 2 && strcmp(argv[1], "--help") == 0) {
        fputs(usage, stdout);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "--formats") == 0) {
        print_formats();
        return 0;
    }
    if (argc >= 3 && strcmp(argv[1], "--confine") == 0 && argv[2][0] == '/')
        return run_confined(argv + 2);
    if (argc == 3 && strcmp(argv[1], "--kind") == 0) {
        xml_init();
        return print_kind(argv[2]);
    }
    if (argc >= 2 && strcmp(argv[1], "--") == 0)
        first = 2;
    if (argc != first + 1 || (first == 1 && argv[1][0] == '-' && argv[1][1] != '\0')) {
        fputs(usage, stderr);
        return 2;
    }
    xml_init();
    return convert_file(argv[first]);
}
