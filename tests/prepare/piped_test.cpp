// Piped input: the copy rule of standard input, and the program reading a
// pipe (or a keyboard) while it draws on and takes keys from the -t terminal.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "helpers.h"
#include "line_reads_model.h"
#include "prepare/prepare.h"

namespace {

std::string copy_in_chunks(const std::string &input, size_t chunk)
{
    CaptureCut cut;
    std::string out;
    for (size_t at = 0; at < input.size(); at += chunk) {
        std::string part = input.substr(at, chunk);
        out.append(part.data(), capture_keep(&cut, part.data(), part.size()));
    }
    return out;
}

TEST(CaptureKeep, MatchesLineReadsWrittenAsCStrings)
{
    std::string nul(1, '\0');
    std::vector<std::string> inputs = {
        "",
        "one\ntwo\nthree\n",
        "no newline at the end",
        "two" + nul + "hidden\nthree\n",          // the newline after a NUL is lost too
        nul + nul + "\n" + nul,
        std::string(1022, 'a') + "\nb\n",          // exactly one full read
        std::string(1023, 'a') + "\nb\n",          // a full read, then a lone newline
        std::string(1023, 'a') + nul + "kept?\n",  // the NUL starts the next read
        std::string(1000, 'a') + nul + std::string(30, 'b') + "\nafter\n",
        std::string(5000, 'x'),
    };
    std::mt19937 rng(11);
    for (int i = 0; i < 20; i++) {
        std::string text;
        for (int n = 0; n < 4000; n++) {
            unsigned r = rng() % 100;
            text += r < 2 ? '\0' : r < 5 ? '\n' : (char)('a' + r % 26);
        }
        inputs.push_back(text);
    }
    for (const std::string &input : inputs)
        for (size_t chunk : {1ul, 7ul, 1023ul, 1024ul, 4096ul})
            EXPECT_EQ(copy_in_chunks(input, chunk), line_reads_model(input, false))
                << "chunk " << chunk << ", input of " << input.size() << " bytes";
}

// ---- end to end ----

// A home, and a filter that writes nothing, so the capture itself is prepared.
struct Stage : Sandbox {
    std::string filter = dir.path + "/empty-filter";

    explicit Stage(const std::string &filter_body = "exit 0\n")
    {
        write_script(filter, filter_body);
    }

    std::string work_file(const char *name) const { return work_dir_of(home) + "/" + name; }

    Launch launch(const std::vector<std::string> &args, const std::string &input) const
    {
        Launch launch = reader_launch(home, args);
        launch.cwd = dir.path;
        launch.env = {{"DRIFTERM_FILTER", filter}};
        launch.stdin_pipe = true;
        launch.stdin_data = input;
        return launch;
    }

    // Runs the program through the shell so that `redirections` can give it
    // other standard streams; $1 is the pty, $2 `extra`.
    Launch shell_launch(const std::string &redirections, const std::string &extra) const
    {
        Launch launch = this->launch({"-c", "exec \"$0\" -s 20 -t \"$1\" " + redirections,
                                     DRIFTERM_BINARY, "{PTY}", extra},
                                    "");
        launch.program = "/bin/sh";
        return launch;
    }
};

const int wait_ms = 10000;

TEST(PipedInput, ShowsTheCaptureItselfAndQuitsOnTheTerminalsKey)
{
    Stage stage;
    // fmt -s would split the long line and squeezing would drop the blank
    // run; the CRLF line shows, though its carriage return stays in the capture.
    std::string long_line = "alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu omicron";
    std::string input = "one\n\n\n\ntwo\n" + long_line + "\nthree\nwindows line\r\n";
    TermPtr t(term_spawn(stage.launch({"-s", "20", "-t", "{PTY}"}, input)));
    ASSERT_TRUE(t);
    ASSERT_SCREEN_ROW_CONTAINS(t.get(), 23, "8/8 - 100%", wait_ms);
    EXPECT_SCREEN_ROW_CONTAINS(t.get(), 23, "piped output", 0);
    std::vector<std::string> expected(14, "");
    expected.insert(expected.end(), {"one", "", "", "", "two", long_line, "three", "windows line", ""});
    EXPECT_TRUE(term_wait_for(t.get(), [&](Term *t) {
        std::vector<std::string> rows = term_rows_text(t);
        rows.resize(expected.size()); // all but the bar
        return rows == expected;
    }, wait_ms)) << term_screen(t.get());
    // The capture holds standard input as it came; the working copy was prepared from it.
    EXPECT_EQ(read_file(stage.work_file("piped")), input);
    EXPECT_NE(read_file(stage.work_file("drift_file")), input);

    term_send(t.get(), "q");
    EXPECT_EXIT_STATUS(t.get(), 0, wait_ms);
    EXPECT_FALSE(file_exists(stage.work_file("piped")));
    EXPECT_FALSE(file_exists(stage.work_file("drift_file")));
    EXPECT_EQ(term_stderr(t.get()), "");
}

TEST(PipedInput, EmptyInputShowsNothingAndWaitsForAKey)
{
    Stage stage;
    TermPtr t(term_spawn(stage.launch({"-s", "20", "-t", "{PTY}"}, "")));
    ASSERT_TRUE(t);
    ASSERT_SCREEN_ROW_CONTAINS(t.get(), 23, "piped output", wait_ms);
    for (int row = 0; row < 23; row++)
        EXPECT_EQ(term_row(t.get(), row), "") << row;
    EXPECT_FALSE(term_exited(t.get()));
    term_send(t.get(), "x");
    EXPECT_EXIT_STATUS(t.get(), 0, wait_ms);
}

TEST(PipedInput, AResizeRebuildsTheWindowsOnTheTerminalAndItsKeysStillSteer)
{
    Stage stage;
    TermPtr t(term_spawn(stage.launch({"-s", "30", "-t", "{PTY}"}, numbered_lines(400))));
    ASSERT_TRUE(t);
    ASSERT_SCREEN_TEXT(t.get(), "line 2", wait_ms);
    term_resize(t.get(), 30, 100);
    EXPECT_SCREEN_ROW_CONTAINS(t.get(), 29, "piped output", wait_ms);
    EXPECT_TRUE(term_wait_for(t.get(), [](Term *t) { return term_row(t, 28).rfind("line ", 0) == 0; },
                              wait_ms))
        << term_screen(t.get());
    term_send(t.get(), "q");
    EXPECT_EXIT_STATUS(t.get(), 0, wait_ms);
    EXPECT_EQ(term_raw(t.get()).find("line 400"), std::string::npos); // quit mid-text
    EXPECT_TRUE(list_dir(work_dir_of(stage.home)).empty());
}

// The writer keeps the pipe open while a signal comes: an interrupt ends the
// run without a screen, a resize lets the copy go on.
TEST(PipedInput, SignalsWhileTheWriterHoldsThePipeOpen)
{
    for (int sig : {SIGINT, SIGWINCH}) {
        Stage stage;
        std::string fifo = stage.dir.path + "/fifo";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        int writer = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(writer, 0);
        TermPtr t(term_spawn(stage.shell_launch("<\"$2\"", fifo)));
        ASSERT_TRUE(t);
        ASSERT_EQ(write(writer, "first\n", 6), 6);
        // The capture is written under the scratch name until the input ends.
        ASSERT_TRUE(term_wait_for(t.get(), [&](Term *) { return file_exists(stage.work_file("drift_tmp")); },
                                  wait_ms));
        term_signal(t.get(), sig);
        if (sig == SIGINT) {
            EXPECT_EXIT_STATUS(t.get(), 0, wait_ms);
            EXPECT_TRUE(list_dir(work_dir_of(stage.home)).empty());
            EXPECT_EQ(term_raw(t.get()), ""); // no screen was started
            EXPECT_EQ(term_stderr(t.get()), "");
            close(writer);
            continue;
        }
        ASSERT_EQ(write(writer, "second\n", 7), 7);
        close(writer);
        EXPECT_SCREEN_ROW(t.get(), 20, "first", wait_ms);
        EXPECT_SCREEN_ROW(t.get(), 21, "second", wait_ms);
        term_send(t.get(), "q");
        EXPECT_EXIT_STATUS(t.get(), 0, wait_ms);
    }
}

// The user's own terminal, as standard input and output, next to the -t one.
struct UserTerminal {
    int master = -1, slave = -1;
    char name[256] = "";
    UserTerminal()
    {
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
    }
    ~UserTerminal()
    {
        close(master);
        close(slave);
    }
    std::string drain() const
    {
        std::string out;
        char buf[4096];
        fcntl(master, F_SETFL, O_NONBLOCK);
        ssize_t n;
        while ((n = read(master, buf, sizeof buf)) > 0)
            out.append(buf, (size_t)n);
        return out;
    }
};

void expect_same_modes(int fd, const struct termios &before)
{
    struct termios after;
    ASSERT_EQ(tcgetattr(fd, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
}

TEST(PipedInput, TheKeyboardAsInputIsShownAndTheUsersTerminalIsLeftAlone)
{
    Stage stage;
    UserTerminal user;
    ASSERT_GE(user.master, 0);
    struct termios before;
    ASSERT_EQ(tcgetattr(user.slave, &before), 0);
    TermPtr t(term_spawn(stage.shell_launch("<\"$2\" >\"$2\"", user.name)));
    ASSERT_TRUE(t);
    std::string typed = "typed one\ntyped two\n\004";
    ASSERT_EQ(write(user.master, typed.data(), typed.size()), (ssize_t)typed.size());
    EXPECT_SCREEN_ROW(t.get(), 21, "typed two", wait_ms);
    EXPECT_SCREEN_ROW(t.get(), 20, "typed one", wait_ms);
    term_send(t.get(), "q");
    EXPECT_EXIT_STATUS(t.get(), 0, wait_ms);
    expect_same_modes(user.slave, before);
    EXPECT_EQ(user.drain().find('\033'), std::string::npos); // nothing drawn there
}

TEST(PipedInput, AnExitBeforeTheScreenStartsLeavesTheTerminalAsItWas)
{
    Stage stage("touch \"$0.started\"; sleep 1\n");
    UserTerminal tty;
    ASSERT_GE(tty.master, 0);
    struct termios before;
    ASSERT_EQ(tcgetattr(tty.slave, &before), 0);
    Launch launch = stage.launch({"-c", "exec \"$0\" -s 20 -t \"$1\"", DRIFTERM_BINARY, tty.name},
                                "text\n");
    launch.program = "/bin/sh";
    TermPtr t(term_spawn(launch));
    ASSERT_TRUE(t);
    // Curses is attached by now; the conversion is under way.
    ASSERT_TRUE(term_wait_for(t.get(), [&](Term *) { return file_exists(stage.filter + ".started"); },
                              wait_ms));
    term_signal(t.get(), SIGINT);
    EXPECT_EXIT_STATUS(t.get(), 0, wait_ms);
    expect_same_modes(tty.slave, before);
    EXPECT_EQ(tty.drain(), "");
}

TEST(PipedInput, ABadOrMissingTerminalStopsBeforeReadingAnything)
{
    Stage stage;
    std::string file = stage.dir.path + "/plain.txt";
    write_file(file, "text\n");
    const std::string enotty = ": Inappropriate ioctl for device\n";
    struct Case {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"-s", "20"}, "Bad address\n"},
        {{"-s", "20", "-t", file}, file + enotty},
        {{"-s", "20", "-t", stage.dir.path}, stage.dir.path + enotty},
        {{"-s", "20", "-t", "/dev/null"}, "/dev/null" + enotty},
        {{"-s", "20", "-t", "/nonexistent/tty"}, "/nonexistent/tty: No such file or directory\n"},
    };
    for (const Case &c : cases) {
        unlink(stage.work_file("piped").c_str());
        RunResult r = run_plain(stage.launch(c.args, "some input\n"), wait_ms);
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(file_exists(stage.work_file("piped"))) << c.err;
    }

    // Standard input a terminal: still no waiting for it.
    Launch launch = stage.launch({"-s", "20"}, "");
    launch.stdin_pipe = false;
    TermPtr t(term_spawn(launch));
    ASSERT_TRUE(t);
    EXPECT_EXIT_STATUS(t.get(), 1, wait_ms);
    EXPECT_TRUE(term_wait_for(t.get(), [](Term *t) { return term_stderr(t) == "Bad address\n"; }, wait_ms))
        << term_stderr(t.get());
}

TEST(PipedInput, ATerminalTypeCursesCannotUseIsReported)
{
    Stage stage;
    struct Case {
        bool unset;
        std::string message;
    } cases[] = {
        {false, ": curses cannot use terminal type 'no-such-terminal': Invalid argument\n"},
        {true, ": curses cannot start: TERM is not set: Invalid argument\n"},
    };
    for (const Case &c : cases) {
        Launch launch = stage.launch({"-s", "20", "-t", "{PTY}"}, "text\n");
        if (c.unset)
            launch.unset_env = {"TERM"};
        else
            launch.env.push_back({"TERM", "no-such-terminal"});
        TermPtr t(term_spawn(launch));
        ASSERT_TRUE(t);
        EXPECT_EXIT_STATUS(t.get(), 1, wait_ms);
        EXPECT_TRUE(term_wait_for(t.get(), [&](Term *t) {
            std::string err = term_stderr(t);
            return err.rfind("/dev/pts/", 0) == 0 && err.find(c.message) != std::string::npos;
        }, wait_ms)) << term_stderr(t.get());
        EXPECT_EQ(term_raw(t.get()), ""); // nothing half-drawn
    }
}

TEST(PipedInput, WithAFileTheTerminalIsNeitherTestedNorUsed)
{
    Stage stage;
    std::string file = stage.dir.path + "/story.txt";
    write_file(file, "from the file\n");
    Launch launch = stage.launch({"-s", "20", "-t", "/nonexistent", "-f", file}, "");
    launch.stdin_pipe = false;
    TermPtr t(term_spawn(launch));
    ASSERT_TRUE(t);
    EXPECT_SCREEN_ROW(t.get(), 21, "from the file", wait_ms);
    EXPECT_SCREEN_ROW_CONTAINS(t.get(), 23, "story.txt", wait_ms);
    term_send(t.get(), "q");
    EXPECT_EXIT_STATUS(t.get(), 0, wait_ms);
    EXPECT_EQ(term_stderr(t.get()), "");
}

} // namespace
