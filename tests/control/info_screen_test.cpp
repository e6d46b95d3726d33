// Information screen: the pace text, and the page as the reader sees it.
#include <string>

#include <gtest/gtest.h>

#include "control/control.h"

namespace {

TEST(InfoScreenPace, SecondsInSinglePrecisionAndEnding)
{
    struct Case {
        uint32_t pace;
        const char *expected;
    } const cases[] = {
        {1, "(1 Milliseconds | 0.00 Second)"},
        {5, "(5 Milliseconds | 0.00 Second)"},   // double precision would say 0.01
        {75, "(75 Milliseconds | 0.08 Second)"}, // double precision would say 0.07
        {500, "(500 Milliseconds | 0.50 Second)"},
        {995, "(995 Milliseconds | 1.00 Second)"}, // double precision would say 0.99
        {1000, "(1000 Milliseconds | 1.00 Second)"},
        {1001, "(1001 Milliseconds | 1.00 Seconds)"},
    };
    for (const Case &c : cases) {
        char text[96];
        info_pace_text(text, sizeof text, c.pace);
        EXPECT_STREQ(text, c.expected) << c.pace;
    }
}

} // namespace

// ---- end to end ----

#include <csignal>
#include <memory>

#include "helpers.h"

namespace {

const int WAIT_MS = 10000;
const char FACTS[] = "line 1\nline 2\nline 3\nline 4\n"; // 28 bytes

// The program on facts.txt, from its directory unless `cwd` is given; t is its terminal.
class InfoScreen : public ::testing::Test {
protected:
    // Starts the run, presses i while line 1 is shown and waits for the page.
    ::testing::AssertionResult open_page(const std::vector<std::string> &args, int rows = 24,
                                         int cols = 80, const std::string &cwd = "")
    {
        run = std::make_unique<ReaderRun>(FACTS, args, "facts.txt", [=](Launch &launch) {
            launch.rows = rows;
            launch.cols = cols;
            if (!cwd.empty())
                launch.cwd = cwd;
            launch.env.push_back({"VISUAL", "/bin/true"});
        });
        t = run->t.get();
        if (!t)
            return ::testing::AssertionFailure() << "no terminal";
        // On a narrow terminal the clock covers all but the start of the bar.
        int bottom = term_rows(t) - 1;
        if (!term_wait_for(t, [&](Term *tt) { return term_row(tt, bottom).rfind("1/4 ", 0) == 0; },
                           WAIT_MS))
            return ::testing::AssertionFailure() << "no status bar for line 1\n" << term_screen(t);
        term_send(t, "i");
        if (!term_wait_row_contains(t, 2, "Filename: facts.txt", WAIT_MS))
            return ::testing::AssertionFailure() << "no information page\n" << term_screen(t);
        return ::testing::AssertionSuccess();
    }

    std::unique_ptr<ReaderRun> run;
    Term *t = nullptr;
};

// Ends a run quickly from wherever it is.
::testing::AssertionResult interrupt_run(Term *t)
{
    term_signal(t, SIGINT);
    return term_check_exit(t, 0, WAIT_MS);
}

// A row of the page: `text` inside the side borders of a `cols`-wide screen.
std::string framed(const std::string &text, int cols = 80)
{
    return "│" + text + std::string(cols - 2 - text.size(), ' ') + "│";
}

TEST_F(InfoScreen, WholePageOn24By80)
{
    ASSERT_TRUE(open_page({}));
    std::vector<std::string> expected = {
        "┌" + repeat("─", 25) + "Drifterm 2.0  [Press any key]" + repeat("─", 24) + "┐",
        "│" + repeat("─", 78) + "│",
        framed("Filename: facts.txt"),
        framed("File Size: 28 bytes"),
        framed("Current Dir: " + run->dir.path + "/"),
        framed("Current Line: 1 of 4 - 25% - Page: 1"),
        framed("Scroll Speed: (1000 Milliseconds | 1.00 Second)"),
        framed("Original Speed: (1000 Milliseconds | 1.00 Second)"),
        framed("External Editor: /bin/true"),
        framed("Terminal Size: 24 Rows, 80 Columns"),
        framed("Beep On Events: No"),
        framed("Auto-Pause: No"),
        framed("Skip Extra Blank Lines: Yes"),
    };
    while (expected.size() < 23)
        expected.push_back(framed(""));
    expected.push_back("└" + repeat("─", 78) + "┘");
    ASSERT_SCREEN(t, expected, WAIT_MS);

    struct Attr {
        int row, col;
        bool bold;
    };
    const Attr attrs[] = {
        {0, 26, true}, {0, 54, true}, {0, 25, false}, // the title
        {2, 1, true},  {2, 9, true},  {2, 11, false}, // "Filename: " then its value
        {9, 1, true},  {9, 16, false},                 // "Terminal Size: " then its value
        {12, 1, true}, {12, 23, true}, {12, 25, false}, {1, 5, false},
    };
    for (const Attr &a : attrs)
        EXPECT_EQ(term_cell(t, a.row, a.col).bold, a.bold) << "row " << a.row << " col " << a.col;

    EXPECT_TRUE(interrupt_run(t));
}

TEST_F(InfoScreen, RowsFollowTheRun)
{
    struct Case {
        std::vector<std::string> args;
        std::string cwd;
        std::vector<std::pair<int, std::string>> rows;
    };
    const Case cases[] = {
        {{"-s", "300", "-n", "-b", "-a"},
         "/",
         {{4, framed("Current Dir: / ")}, // root: a blank, not a second "/"
          {10, framed("Beep On Events: Yes")},
          {11, framed("Auto-Pause: Yes")},
          {12, framed("Skip Extra Blank Lines: No")}}},
        {{"-s", "1001"},
         "",
         {{6, framed("Scroll Speed: (1001 Milliseconds | 1.00 Seconds)")},
          {7, framed("Original Speed: (1001 Milliseconds | 1.00 Seconds)")}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[1]);
        ASSERT_TRUE(open_page(c.args, 24, 80, c.cwd));
        for (const auto &[row, text] : c.rows)
            EXPECT_SCREEN_ROW(t, row, text, WAIT_MS);
        EXPECT_TRUE(interrupt_run(t));
    }
}

TEST_F(InfoScreen, NarrowTerminalHasNoTitleAndCutsTheDirectory)
{
    ASSERT_TRUE(open_page({"-s", "300"}, 24, 27));
    // 27 - 18 = 9 characters of the directory, then the cut mark and "/".
    const std::string dir = run->dir.path.substr(0, 9) + "~/";
    EXPECT_SCREEN_ROW(t, 0, "┌" + repeat("─", 25) + "┐", WAIT_MS);
    EXPECT_SCREEN_ROW(t, 2, framed("Filename: facts.txt", 27), WAIT_MS);
    EXPECT_SCREEN_ROW(t, 4, framed("Current Dir: " + dir, 27), WAIT_MS);
    EXPECT_TRUE(interrupt_run(t));
}

TEST_F(InfoScreen, ShortTerminalMissesTheRowsThatDoNotFit)
{
    ASSERT_TRUE(open_page({"-s", "300"}, 10, 80));
    EXPECT_SCREEN_ROW(t, 8, framed("External Editor: /bin/true"), WAIT_MS);
    // Row 9 is the bottom border, written over by the terminal-size row.
    EXPECT_SCREEN_ROW(t, 9, "└Terminal Size: 10 Rows, 80 Columns" + repeat("─", 44) + "┘", WAIT_MS);
    std::string screen = term_screen(t);
    EXPECT_EQ(screen.find("Beep On Events"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("Skip Extra"), std::string::npos) << screen;
    EXPECT_TRUE(interrupt_run(t));
}

TEST_F(InfoScreen, QClosesThePageAndScrollingResumes)
{
    ASSERT_TRUE(open_page({"-s", "300"}));
    EXPECT_SCREEN_ROW(t, 5, framed("Current Line: 1 of 4 - 25% - Page: 1"), WAIT_MS);
    term_send(t, "q"); // only closes the page
    ASSERT_TRUE(term_wait_for(
        t, [](Term *tt) { return term_row(tt, 2).find("Filename") == std::string::npos; }, WAIT_MS))
        << term_screen(t);
    // Line 2 comes next; once it has moved up, line 1 is back above it.
    EXPECT_TRUE(term_wait_for(
        t, [](Term *tt) { return term_row(tt, 23).rfind("2/4 - 50%", 0) == 0; }, WAIT_MS))
        << term_screen(t);
    EXPECT_TRUE(term_wait_for(
        t,
        [](Term *tt) {
            return term_row(tt, 20) == "line 1" && term_row(tt, 21) == "line 2" &&
                   term_row(tt, 23).rfind("3/4 - 75%", 0) == 0;
        },
        WAIT_MS))
        << term_screen(t);
    EXPECT_SCREEN_ROW_CONTAINS(t, 23, "4/4 - 100%", WAIT_MS);
    EXPECT_FALSE(term_exited(t));
    EXPECT_EQ(term_press_until_exit(t, "x", WAIT_MS), 0);
}

TEST_F(InfoScreen, ResizeRedrawsThePageAtTheNewSize)
{
    ASSERT_TRUE(open_page({"-s", "300"}));
    term_resize(t, 20, 60);
    EXPECT_SCREEN_ROW(t, 9, framed("Terminal Size: 20 Rows, 60 Columns", 60), WAIT_MS);
    EXPECT_SCREEN_ROW(t, 0, "┌" + repeat("─", 15) + "Drifterm 2.0  [Press any key]" + repeat("─", 14) + "┐",
                      WAIT_MS);
    EXPECT_SCREEN_ROW(t, 19, "└" + repeat("─", 58) + "┘", WAIT_MS);
    term_send(t, " ");
    EXPECT_TRUE(term_wait_for(
        t, [](Term *tt) { return term_row(tt, 19).rfind("2/4 - 50%", 0) == 0; }, WAIT_MS))
        << term_screen(t);
    EXPECT_EQ(term_press_until_exit(t, "x", WAIT_MS), 0);
}

TEST_F(InfoScreen, InterruptOnThePageTakesTheCleanupExit)
{
    ASSERT_TRUE(open_page({"-s", "300"}));
    term_signal(t, SIGINT);
    EXPECT_EXIT_STATUS(t, 0, WAIT_MS);
    EXPECT_EQ(list_dir(work_dir_of(run->home.path)), std::vector<std::string>{});
}

} // namespace
