// A confined child can use what it was left (a descriptor opened before,
// a path named read-only, threads, memory) and nothing else: no other
// file, program, process, socket or signal, and no code it made.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "convert/confine.h"
#include "convert/document.h"
#include "convert/process.h"
#include "helpers.h"

namespace {

struct Setting {
    std::string home, data_dir;
    int kept = -1, dropped = -1; // opened before: one kept, one not
};

// 0 when the call worked, else its errno.
int result_of(bool worked)
{
    return worked ? 0 : errno;
}

int read_kept(const Setting &s)
{
    char buffer[8] = {};
    return result_of(read(s.kept, buffer, sizeof buffer) == 4 && memcmp(buffer, "kept", 4) == 0);
}

int open_for(const std::string &path, int flags)
{
    int fd = open(path.c_str(), flags);
    return result_of(fd >= 0);
}

int run_program(const Setting &)
{
    char *const argv[] = {const_cast<char *>("true"), nullptr};
    execve("/bin/true", argv, argv + 1);
    return errno;
}

int start_thread(const Setting &)
{
    int value = 0;
    std::thread([&] { value = 1; }).join();
    return value == 1 ? 0 : EINVAL;
}

int map_code(const Setting &)
{
    void *p = mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return result_of(p != MAP_FAILED);
}

// What the child made of the probe: "works", an errno's name or "signal N".
std::string outcome_in_confined_child(const Setting &s, int (*probe)(const Setting &))
{
    pid_t pid = fork();
    if (pid == 0) {
        Confinement c;
        c.keep_fds = {s.kept};
        c.read_only_paths = {s.data_dir};
        ConfineFailure failure;
        _exit(confine_child(c, failure) ? probe(s) : 255);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    int code = WEXITSTATUS(status);
    return code == 0 ? "works" : code == 255 ? "not confined" : strerrorname_np(code);
}

TEST(Confine, AChildUsesWhatItWasLeftAndNothingElse)
{
    if (!seccomp_offered() || landlock_abi() == 0)
        GTEST_SKIP() << "this kernel offers only: " << confinement_in_force();
    harness::TempDir dir;
    Setting s{dir.path + "/home", dir.path + "/data"};
    mkdir(s.home.c_str(), 0700);
    mkdir(s.data_dir.c_str(), 0700);
    harness::write_file(s.home + "/secret", "secret");
    harness::write_file(s.data_dir + "/table", "data");
    harness::write_file(dir.path + "/kept", "kept");
    s.kept = open((dir.path + "/kept").c_str(), O_RDONLY);
    s.dropped = open((dir.path + "/kept").c_str(), O_RDONLY);
    const std::string killed = "signal " + std::to_string(SIGSYS);
    // Under a sanitizer a program or process is refused softly, so that
    // a report can still be printed.
#if defined(__SANITIZE_ADDRESS__)
    const std::string spawn = "EPERM";
#else
    const std::string spawn = killed;
#endif
    struct Row {
        const char *what;
        int (*probe)(const Setting &);
        std::string expected;
    } rows[] = {
        {"a file under HOME", [](const Setting &s) { return open_for(s.home + "/secret", O_RDONLY); }, "EACCES"},
        {"a descriptor opened before", read_kept, "works"},
        {"a descriptor not kept", [](const Setting &s) { return result_of(fcntl(s.dropped, F_GETFD) >= 0); },
         "EBADF"},
        {"a path named read-only", [](const Setting &s) { return open_for(s.data_dir + "/table", O_RDONLY); },
         "works"},
        {"writing there", [](const Setting &s) { return open_for(s.data_dir + "/table", O_WRONLY); }, "EACCES"},
        {"making a file there",
         [](const Setting &s) { return open_for(s.data_dir + "/new", O_RDONLY | O_CREAT); }, "EACCES"},
        {"a program", run_program, spawn},
        {"a process", [](const Setting &) { return result_of(fork() >= 0); }, spawn},
        {"a socket", [](const Setting &) { return result_of(socket(AF_INET, SOCK_STREAM, 0) >= 0); }, killed},
        {"a signal to the parent", [](const Setting &) { return result_of(kill(getppid(), 0) == 0); }, killed},
        {"a signal to itself: abort()", [](const Setting &) -> int { abort(); }, "signal " + std::to_string(SIGABRT)},
        {"a thread", start_thread, "works"},
        {"executable memory", map_code, "EACCES"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(outcome_in_confined_child(s, row.probe), row.expected) << row.what;
    close(s.kept);
    close(s.dropped);
}

// A reader that hands over "one" and the list item "a" at "part 1",
// then, as its file's name says, ends or crashes before or after making
// "b" and "two".
ReadResult stopping_reader(const Input &in, Document &doc)
{
    auto add = [&doc](BlockKind kind, const char *text) {
        doc.blocks.emplace_back();
        doc.blocks.back().kind = kind;
        doc.blocks.back().text = text;
    };
    if (in.name == "crash-first")
        abort();
    add(BlockKind::paragraph, "one");
    add(BlockKind::list_item, "a");
    document_flush(doc, "part 1");
    add(BlockKind::list_item, "b");
    if (in.name == "crash-later")
        abort();
    add(BlockKind::paragraph, "two");
    return ReadResult::read;
}

// What a confined reader had read whole when it stopped is shown, then
// where and why it stopped; one that ends shows all, laid out as if never
// handed over in parts.
TEST(Confine, AReaderThatStopsLeavesWhatItReadWhole)
{
    const harness::NamedText rows[] = {
        {"ends", "one\n\n\u2022 a\n\u2022 b\n\ntwo\n"},
        {"crash-later", "one\n\n\u2022 a\n\ncrash-later could not be read past part 1 (TEST): its reader crashed (" +
                            std::string(strsignal(SIGABRT)) + ")\n"},
        {"crash-first", "crash-first could not be read (TEST): its reader crashed (" + std::string(strsignal(SIGABRT)) + ")\n"},
    };
    for (const auto &row : rows) {
        Document doc;
        read_confined(stopping_reader, Input{"bytes", row.name}, "TEST", doc);
        EXPECT_EQ(layout_text(doc), row.text) << row.name;
    }
}

} // namespace
