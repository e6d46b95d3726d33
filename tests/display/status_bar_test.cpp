// Status bar: the string helpers, the percentage, and the bar as the reader sees it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "display/display.h"

namespace {

std::string shown_percent(float percent)
{
    char buf[32];
    snprintf(buf, sizeof buf, "%.0f", (double)percent);
    return buf;
}

TEST(StatusBarHelpers, ShortenNameAndBaseName)
{
    struct Case {
        const char *text;
        int32_t limit;
        const char *expected;
    };
    const Case cases[] = {
        {"fifteen_chars.t", 15, "fifteen_chars.t"},   // exactly the limit: whole, no mark
        {"sixteen_chars.tx", 15, "sixteen_chars.t~"}, // one over: cut and marked
        {"short", 15, "short"},
        {"", 15, ""},
        {"abc", 0, "~"},
        {"", 0, ""},
        {"a long name indeed", -1, "a long name indeed"}, // negative: whole text
        {"x", -100, "x"},
    };
    for (const Case &c : cases) {
        char *result = shorten_name(c.text, c.limit);
        EXPECT_STREQ(result, c.expected) << c.text << " limit " << c.limit;
        free(result);
    }

    struct BaseCase {
        const char *path;
        const char *expected;
    };
    const BaseCase base_cases[] = {
        {"/home/user/notes.txt", "notes.txt"},
        {"dir/sub/", ""},
        {"plain.txt", "plain.txt"},
        {"/", ""},
        {"", ""},
    };
    for (const BaseCase &c : base_cases)
        EXPECT_STREQ(base_name(c.path), c.expected) << c.path;
    const char *path = "a/b";
    EXPECT_EQ(base_name(path), path + 2) << "a position inside the path, not a copy";
}

TEST(StatusBarHelpers, PercentInSinglePrecision)
{
    struct Case {
        uint64_t line_no, total_lines;
        const char *shown;
    };
    const Case cases[] = {
        {1, 3, "33"}, {2, 3, "67"}, {3, 3, "100"}, {1, 8, "12"}, // halves go to the even neighbour
        {3, 8, "38"}, {0, 0, "0"},  {0, 5, "0"},   {199, 200, "100"}, {397, 400, "99"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(shown_percent(percent_of(c.line_no, c.total_lines)), c.shown)
            << c.line_no << " of " << c.total_lines;
    EXPECT_EQ(percent_of(1, 3), 33.333336f);
    EXPECT_EQ(percent_of(2, 3), 66.66667f);
}

} // namespace

// ---- end to end ----

#include <regex>

#include "helpers.h"

namespace {

const int WAIT_MS = 10000;

// The program on `file`, written with `text` into its own directory.
struct BarRun : ReaderRun {
    BarRun(const std::string &file, const std::string &text, const std::string &speed,
           int rows = 24, int cols = 80)
        : ReaderRun(text, {"-s", speed}, file, [=](Launch &launch) {
              launch.rows = rows;
              launch.cols = cols;
          })
    {
    }
};

// Waits until the bottom row's first columns read `left` followed by blanks up to `width`.
::testing::AssertionResult wait_left_part(Term *t, const std::string &left, size_t width = 57)
{
    std::string expected = left + std::string(width - left.size(), ' ');
    int bottom = term_rows(t) - 1;
    if (term_wait_for(t, [&](Term *tt) { return term_row_raw(tt, bottom).substr(0, width) == expected; },
                      WAIT_MS))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "bottom row never began with \"" << left << "\"\n" << term_screen(t);
}

TEST(StatusBar, ShowsPositionPageNameAndClockInReverse)
{
    BarRun run("three.txt", "alpha\nbeta\ngamma\n", "400");
    ASSERT_TRUE(run.t);
    Term *t = run.t.get();
    ASSERT_TRUE(wait_left_part(t, "1/3 - 33%  Page: 1 - three.txt"));
    ASSERT_TRUE(wait_left_part(t, "2/3 - 67%  Page: 1 - three.txt"));
    ASSERT_TRUE(wait_left_part(t, "3/3 - 100%  Page: 1 - three.txt"));

    std::string row = term_row_raw(t, 23);
    ASSERT_EQ(row.size(), 80u);
    const std::regex clock("(Mon|Tue|Wed|Thu|Fri|Sat|Sun) "
                           "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                           "(0[1-9]|[12][0-9]|3[01])  (0[1-9]|1[0-2]):[0-5][0-9]:[0-5][0-9](AM|PM)");
    EXPECT_TRUE(std::regex_match(row.substr(57, 22), clock)) << row;
    EXPECT_EQ(row.substr(56, 1), " ");
    EXPECT_EQ(row.substr(79, 1), " ") << "the last column stays blank";
    for (int col : {0, 30, 56, 60, 79})
        EXPECT_TRUE(term_cell(t, 23, col).reverse) << "col " << col;
    EXPECT_FALSE(term_cell(t, 22, 0).reverse);

    // The last line's bar looks the same before and after the final draw:
    // an idle key is pressed until the closing wait takes one.
    EXPECT_EQ(term_press_until_exit(t, "x", WAIT_MS), 0) << term_screen(t);
}

TEST(StatusBar, ShortNameOfTheFile)
{
    struct Case {
        const char *file;
        const char *left;
    };
    const Case cases[] = {
        {"abcdefghijklmno", "1/1 - 100%  Page: 1 - abcdefghijklmno"},  // 15: whole
        {"abcdefghijklmnop", "1/1 - 100%  Page: 1 - abcdefghijklmno~"}, // 16: cut and marked
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        BarRun run(c.file, "only line\n", "20");
        ASSERT_TRUE(run.t);
        EXPECT_TRUE(wait_left_part(run.t.get(), c.left));
        EXPECT_EQ(term_press_until_exit(run.t.get(), "x", WAIT_MS), 0) << term_screen(run.t.get());
    }
}

TEST(StatusBar, PageCounterRisesAtEveryMultipleOfLines)
{
    // The draw for line 24 raises it, and so does the final draw when the
    // last line is such a multiple; an empty text ends on line 0, a multiple too.
    struct Case {
        int lines;
        const char *left;
    };
    const Case cases[] = {
        {0, "0/0 - 0%  Page: 2 - pages.txt"},
        {23, "23/23 - 100%  Page: 1 - pages.txt"},
        {24, "24/24 - 100%  Page: 3 - pages.txt"},
        {25, "25/25 - 100%  Page: 2 - pages.txt"},
        {49, "49/49 - 100%  Page: 3 - pages.txt"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.lines) + " lines");
        BarRun run("pages.txt", numbered_lines(c.lines), "5");
        ASSERT_TRUE(run.t);
        EXPECT_TRUE(wait_left_part(run.t.get(), c.left));
        EXPECT_EQ(term_press_until_exit(run.t.get(), "x", WAIT_MS), 0) << term_screen(run.t.get());
    }
}

TEST(StatusBar, PageCounterSeenWhileScrolling)
{
    BarRun run("pages.txt", numbered_lines(49), "60");
    ASSERT_TRUE(run.t);
    Term *t = run.t.get();
    EXPECT_TRUE(wait_left_part(t, "23/49 - 47%  Page: 1 - pages.txt"));
    EXPECT_TRUE(wait_left_part(t, "24/49 - 49%  Page: 2 - pages.txt"));
    EXPECT_TRUE(wait_left_part(t, "47/49 - 96%  Page: 2 - pages.txt"));
    EXPECT_TRUE(wait_left_part(t, "48/49 - 98%  Page: 3 - pages.txt"));
    EXPECT_EQ(term_press_until_exit(t, "x", WAIT_MS), 0) << term_screen(t);
}

TEST(StatusBar, LongLineMakesTheTotalRunAhead)
{
    // One displayed line, but two reads for the line total: it ends at 50%.
    BarRun run("long.txt", std::string(300, 'w') + "\n", "20");
    ASSERT_TRUE(run.t);
    EXPECT_TRUE(wait_left_part(run.t.get(), "1/2 - 50%  Page: 1 - long.txt"));
    EXPECT_EQ(term_press_until_exit(run.t.get(), "x", WAIT_MS), 0) << term_screen(run.t.get());
}

TEST(StatusBar, NarrowTerminalCutsTheLeftPartAndDropsTheClock)
{
    BarRun run("three.txt", "alpha\nbeta\ngamma\n", "400", 24, 20);
    ASSERT_TRUE(run.t);
    Term *t = run.t.get();
    EXPECT_TRUE(wait_left_part(t, "1/3 - 33%  Page: 1 -", 20));
    EXPECT_TRUE(term_wait_for(t, [](Term *tt) { return term_row(tt, 23) == "3/3 - 100%  Page: 1"; },
                              WAIT_MS))
        << term_screen(t);
    EXPECT_TRUE(term_cell(t, 23, 19).reverse);
    EXPECT_EQ(term_press_until_exit(t, "x", WAIT_MS), 0) << term_screen(t);
}

} // namespace
