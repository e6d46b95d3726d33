// Start-up, work files, the normal end, interrupts and resizes, end to end.
#include <csignal>
#include <sys/stat.h>

#include "helpers.h"

namespace {

TEST(Startup, LinesEnterAboveStatusRowAndMoveUpAtTheDefaultPace)
{
    ReaderRun run("one\ntwo\nthree\nfour\nfive\n", {});
    Term *t = run.t.get();
    ASSERT_SCREEN_ROW(t, 22, "one", 3000);
    int64_t first = term_now_ms();
    int64_t moved = term_wait_row_differs(t, 22, "one", 3000);
    ASSERT_GT(moved, 0);
    EXPECT_SCREEN_ROW(t, 21, "one", 500);
    EXPECT_SCREEN_ROW(t, 22, "two", 500);
    // One pace step of 1000 ms, measured loosely: the point is the order of magnitude.
    EXPECT_GT(moved - first, 600);
    EXPECT_LT(moved - first, 1800);
    // At the end the five lines stand above the empty entry row.
    ASSERT_TRUE(term_wait_for(t, [](Term *t) {
        std::vector<std::string> rows = term_rows_text(t);
        return rows[16].empty() && rows[17] == "one" && rows[18] == "two" &&
               rows[19] == "three" && rows[20] == "four" && rows[21] == "five" &&
               rows[22].empty();
    }, 6000)) << term_screen(t);
    EXPECT_TRUE(run.work_file_left());
    ASSERT_EQ(term_press_until_exit(t, "x", 3000), 0);
    EXPECT_EQ(list_dir(work_dir_of(run.home.path)), std::vector<std::string>{});
    EXPECT_TRUE(out_of_curses_mode(t));
}

TEST(Startup, WithoutHomeTheWorkingCopyLivesInTheCurrentDirectory)
{
    TempDir cwd;
    write_file(cwd.path + "/text.txt", "alpha\nbeta\n");
    Launch launch = reader_launch("", {"-s", "20"}, "text.txt");
    launch.unset_home = true;
    launch.cwd = cwd.path;
    TermPtr t(term_spawn(launch));
    ASSERT_SCREEN_ROW(t.get(), 21, "beta", 3000);
    EXPECT_TRUE(file_exists(cwd.path + "/drift_file"));
    ASSERT_EQ(term_press_until_exit(t.get(), "k", 3000), 0);
    EXPECT_EQ(list_dir(cwd.path), std::vector<std::string>{"text.txt"});
}

TEST(Startup, MakesTheWorkDirectoryPrivate)
{
    TempDir home;
    RunResult r = run_plain(reader_launch(home.path, {"-v"}), 5000);
    EXPECT_EQ(r.status, 0);
    struct stat st {};
    ASSERT_EQ(stat(work_dir_of(home.path).c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0077, 0u);
}

TEST(Startup, RefusesAWorkDirectoryItCannotWrite)
{
    // Root may write anywhere, so the run drops to an unprivileged user.
    if (access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "setpriv (util-linux) is needed to run as another user";
    TempDir home;
    chmod(home.path.c_str(), 0755);
    std::string dir = work_dir_of(home.path);
    ASSERT_EQ(mkdir(dir.c_str(), 0555), 0);
    Launch launch;
    launch.home = home.path;
    launch.program = "/usr/bin/setpriv";
    launch.args = {"--reuid=65534", "--regid=65534", "--clear-groups", DRIFTERM_BINARY, "-v"};
    RunResult r = run_plain(launch, 5000);
    if (r.err.find("setpriv") != std::string::npos)
        GTEST_SKIP() << "cannot change user here: " << r.err;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, dir + "/: File exists\n");
}

TEST(Startup, RefusesAHomeTooLongForItsPathBuffer)
{
    Launch launch;
    launch.home = "/" + std::string(1100, 'h');
    launch.args = {"-v"};
    RunResult r = run_plain(launch, 5000);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "HOME: File name too long\n");
}

struct InterruptCase {
    const char *name;
    const char *pace;
    int lines;
    int wait_row;          // row that must show wait_text before the signal
    const char *wait_text;
    int settle_ms;         // time given to reach the state, after wait_text shows
};

class Interrupt : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(Interrupt, EndsAtOnceWithWorkFilesRemovedAndTheTerminalRestored)
{
    const InterruptCase &c = GetParam();
    ReaderRun run(numbered_lines(c.lines), {"-s", c.pace});
    Term *t = run.t.get();
    ASSERT_SCREEN_ROW(t, c.wait_row, c.wait_text, 5000);
    if (c.settle_ms > 0)
        term_wait_for(t, [](Term *) { return false; }, c.settle_ms);
    term_signal(t, SIGINT);
    ASSERT_EXIT_STATUS(t, 0, 1000);
    EXPECT_EQ(list_dir(work_dir_of(run.home.path)), std::vector<std::string>{});
    EXPECT_TRUE(out_of_curses_mode(t)) << term_screen(t);
}

void PrintTo(const InterruptCase &c, std::ostream *os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(
    Startup, Interrupt,
    ::testing::Values(InterruptCase{"WhileScrolling", "200", 50, 21, "line 1", 0},
                      InterruptCase{"DuringALongPaceSleep", "60000", 5, 22, "line 1", 200},
                      InterruptCase{"DuringTheClosingWait", "20", 2, 21, "line 2", 300}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Startup, AResizeRebuildsTheWindowsAtTheNewSize)
{
    ReaderRun run(numbered_lines(200), {"-s", "150"});
    Term *t = run.t.get();
    ASSERT_SCREEN_ROW(t, 21, "line 1", 3000);
    term_resize(t, 30, 100);
    // The screen goes blank, then new lines enter on row 28 of 30.
    ASSERT_TRUE(term_wait_for(t, [](Term *t) {
        return term_row(t, 28).rfind("line ", 0) == 0 && term_row(t, 27).rfind("line ", 0) == 0 &&
               term_row(t, 29).rfind("line ", 0) != 0 && term_row(t, 0).empty();
    }, 3000)) << term_screen(t);
    term_signal(t, SIGINT);
    ASSERT_EXIT_STATUS(t, 0, 1000);
}

TEST(Startup, AResizeDuringTheClosingWaitKeepsWaitingForAKey)
{
    ReaderRun run("only line\n", {"-s", "20"});
    Term *t = run.t.get();
    ASSERT_SCREEN_ROW_CONTAINS(t, 23, "1/1 - 100%", 3000);
    // Gives the last pace step time to end, so the closing wait has begun.
    term_wait_for(t, [](Term *) { return false; }, 300);
    term_resize(t, 20, 70);
    // The bar comes back only with a draw, and the closing wait makes none.
    ASSERT_TRUE(term_wait_for(t, [](Term *t) {
        for (const std::string &row : term_rows_text(t))
            if (!row.empty())
                return false;
        return true;
    }, 3000)) << term_screen(t);
    EXPECT_FALSE(term_wait_for(t, [](Term *t) { return term_exited(t); }, 500));
    term_send(t, "k");
    ASSERT_EXIT_STATUS(t, 0, 3000);
}

TEST(Startup, AStormOfResizesEndsInTheLayoutOfTheLastSize)
{
    ReaderRun run(numbered_lines(400), {"-s", "50"});
    Term *t = run.t.get();
    ASSERT_SCREEN_ROW_CONTAINS(t, 21, "line", 3000);
    for (int i = 0; i < 300; i++)
        term_resize(t, 10 + i % 30, 40 + i % 60);
    term_resize(t, 20, 60);
    // Lines written after the storm enter on row 18 and move up from there.
    ASSERT_TRUE(term_wait_for(t, [](Term *t) {
        for (int row = 16; row <= 18; row++)
            if (term_row(t, row).rfind("line ", 0) != 0)
                return false;
        return term_row(t, 19).rfind("line ", 0) != 0;
    }, 5000)) << term_screen(t);
    EXPECT_FALSE(term_exited(t));
    term_signal(t, SIGINT);
    ASSERT_EXIT_STATUS(t, 0, 1000);
    EXPECT_TRUE(out_of_curses_mode(t));
}

}  // namespace
