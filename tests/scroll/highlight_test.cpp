// Case conversion: only ASCII letters change, whatever the locale.
#include <clocale>
#include <cstring>

#include <gtest/gtest.h>

#include "app/records.h"
#include "scroll/scroll.h"

TEST(ConvertCase, ChangesAsciiLettersOnly)
{
    const struct {
        int32_t kind;
        const char *in, *out;
    } cases[] = {
        {1, "drifterm Reads 42 lines, fast!\n", "DRIFTERM READS 42 LINES, FAST!\n"},
        {2, "DRIFTERM Reads 42 LINES, Fast!\n", "drifterm reads 42 lines, fast!\n"},
        {0, "any kind but 2 is upper", "ANY KIND BUT 2 IS UPPER"},
        {1, "\ta-z\t[@`{~]%s\n", "\tA-Z\t[@`{~]%S\n"},
        {2, "\tA-Z\t[@`{~]0123456789\n", "\ta-z\t[@`{~]0123456789\n"},
        {1, "caf\xc3\xa9 \xc3\x89t\xc3\xa9", "CAF\xc3\xa9 \xc3\x89T\xc3\xa9"},
        {2, "CAF\xc3\xa9 \xc3\x89T\xc3\xa9", "caf\xc3\xa9 \xc3\x89t\xc3\xa9"},
        {1, "\xc3\xa9\xff\x80", "\xc3\xa9\xff\x80"},
        {2, "\xc3\xa9\xff\x80", "\xc3\xa9\xff\x80"},
        {1, "", ""},
    };
    // The user's character locale must not widen the mapping (Turkish i and the like).
    setlocale(LC_CTYPE, "C.UTF-8");
    for (const auto &c : cases) {
        options.case_kind = c.kind;
        char line[64];
        snprintf(line, sizeof line, "%s", c.in);
        convert_case(line);
        EXPECT_STREQ(line, c.out) << "kind " << c.kind << ": " << c.in;
    }
    setlocale(LC_CTYPE, "C");
}

TEST(MarkInvalidBytes, ReplacesOnlyBytesOfNoCharacter)
{
    const struct {
        const char *in, *out;
    } cases[] = {
        {"plain ascii\n", "plain ascii\n"},
        {"caf\xc3\xa9 \xe2\x80\x94 Stra\xc3\x9f" "e\n", "caf\xc3\xa9 \xe2\x80\x94 Stra\xc3\x9f" "e\n"},
        {"a\xff" "b", "a?b"},
        {"\xc3" "A", "?A"},
        {"x\xc3\n", "x?\n"},
        {"\xe2\x80\xc3\xa9", "??\xc3\xa9"},
        {"\x80\x80", "??"},
        {"end \xe6\x97", "end ??"},
        {"", ""},
    };
    setlocale(LC_CTYPE, "C.UTF-8");
    for (const auto &c : cases) {
        char line[64];
        snprintf(line, sizeof line, "%s", c.in);
        mark_invalid_bytes(line);
        EXPECT_STREQ(line, c.out) << c.in;
    }
    setlocale(LC_CTYPE, "C");
    char line[] = "a\xff" "b";
    mark_invalid_bytes(line); // a single-byte locale leaves every byte alone
    EXPECT_STREQ(line, "a\xff" "b");
}

// ---- end to end ----

#include <string>
#include <vector>

#include "helpers.h"

namespace {

const int WAIT_MS = 10000;
const int LAST_ROW = 21; // the last line of the text once it has moved up, on 24 rows
const int BAR_ROW = 23;

bool row_bold(Term *t, int row)
{
    std::string text = term_row(t, row);
    for (int col = 0; col < (int)text.size() && col < term_cols(t); col++) {
        Cell cell = term_cell(t, row, col);
        if (cell.text != " " && !cell.bold)
            return false;
    }
    return !text.empty();
}

bool any_bold(Term *t, int from_row, int to_row)
{
    for (int row = from_row; row <= to_row; row++)
        for (int col = 0; col < term_cols(t); col++)
            if (term_cell(t, row, col).bold)
                return true;
    return false;
}

// Waits for the end of a text of `total` lines whose last line reads
// `last`, once it has moved up into place.
::testing::AssertionResult reaches_end(Term *t, int total, const std::string &last)
{
    std::string bar = std::to_string(total) + "/" + std::to_string(total) + " - 100%";
    if (!term_wait_row_contains(t, BAR_ROW, bar, WAIT_MS) || !term_wait_row(t, LAST_ROW, last, WAIT_MS))
        return ::testing::AssertionFailure() << "no end with " << bar << " and \"" << last
                                             << "\"\n" << term_screen(t);
    return ::testing::AssertionSuccess();
}

TEST(HighlightEndToEnd, BoldLinesAndCase)
{
    struct Shown {
        const char *text;
        bool bold;
    };
    const struct {
        std::vector<std::string> options;
        std::string text;
        std::vector<Shown> rows; // the last rows of the screen at the end
    } cases[] = {
        {{}, "plain one\nsee drifterm here\nplain two\n",
         {{"plain one", false}, {"see drifterm here", true}, {"plain two", false}}},
        {{"-w", "zebra"}, "a zebra\ndrifterm\nZEBRA\n",
         {{"a zebra", true}, {"drifterm", false}, {"ZEBRA", false}}},
        {{"-w", ""}, "one\ntwo\n", {{"one", true}, {"two", true}}},
        {{"-u"}, "the drifterm line\nONLY DRIFTERM\nrest\n",
         {{"THE DRIFTERM LINE", true}, {"ONLY DRIFTERM", false}, {"REST", false}}},
        {{"-l"}, "MiXeD 123,\tTAB! [X]\n", {{"mixed 123,      tab! [x]", false}}},
        {{}, "caf\xc3\xa9 \xe2\x80\x94 Stra\xc3\x9f" "e drifterm\n",
         {{"caf\xc3\xa9 \xe2\x80\x94 Stra\xc3\x9f" "e drifterm", true}}},
        {{"-u"}, "caf\xc3\xa9 \xc3\xa9t\xc3\xa9 \xe2\x80\x94 Stra\xc3\x9f" "e\n",
         {{"CAF\xc3\xa9 \xc3\xa9T\xc3\xa9 \xe2\x80\x94 STRA\xc3\x9f" "E", false}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::string> options = c.options;
        options.insert(options.end(), {"-s", "20"});
        ReaderRun run(c.text, options);
        ASSERT_TRUE(run.t);
        Term *t = run.t.get();
        ASSERT_TRUE(reaches_end(t, (int)c.rows.size(), c.rows.back().text));
        int row = LAST_ROW - (int)c.rows.size() + 1;
        for (const Shown &shown : c.rows) {
            EXPECT_SCREEN_ROW(t, row, shown.text, 0);
            EXPECT_EQ(row_bold(t, row), shown.bold) << shown.text;
            row++;
        }
        EXPECT_TRUE(term_press_until_exit(t, "x", 10000) == 0);
    }
}

TEST(HighlightEndToEnd, AutoPauseHoldsBeforeTheLineAndAnyKeyResumes)
{
    ReaderRun run("one\ntwo drifterm\nthree\n", {"-a", "-s", "30"});
    ASSERT_TRUE(run.t);
    Term *t = run.t.get();
    ASSERT_SCREEN_ROW(t, LAST_ROW, "one", WAIT_MS);
    ASSERT_TRUE(row_settles(t, LAST_ROW, 500, WAIT_MS));
    EXPECT_SCREEN_ROW(t, LAST_ROW, "one", 0);
    EXPECT_EQ(term_screen(t).find("two"), std::string::npos) << term_screen(t);
    EXPECT_SCREEN_ROW_CONTAINS(t, BAR_ROW, "2/3", 0);

    term_send(t, "q"); // only resumes
    ASSERT_TRUE(reaches_end(t, 3, "three"));
    EXPECT_SCREEN_ROW(t, LAST_ROW - 1, "two drifterm", 0);
    EXPECT_TRUE(row_bold(t, LAST_ROW - 1));
    EXPECT_TRUE(term_press_until_exit(t, "x", 10000) == 0);
}

TEST(HighlightEndToEnd, KeyATurnsAutoPauseOff)
{
    std::string text;
    for (int i = 1; i <= 12; i++)
        text += "line " + std::to_string(i) + (i == 8 ? " drifterm\n" : "\n");
    ReaderRun run(text, {"-a", "-s", "60"});
    ASSERT_TRUE(run.t);
    Term *t = run.t.get();
    ASSERT_SCREEN_ROW(t, LAST_ROW, "line 2", WAIT_MS);
    term_send(t, "a");
    // Runs through the highlighted line to the end without a stop.
    ASSERT_TRUE(reaches_end(t, 12, "line 12"));
    EXPECT_TRUE(row_bold(t, LAST_ROW - 4));
    EXPECT_TRUE(term_press_until_exit(t, "x", 10000) == 0);
}

TEST(HighlightEndToEnd, BellOncePerHighlightedLine)
{
    ReaderRun run("drifterm\nplain\nagain drifterm\nplain\n", {"-b", "-s", "20"});
    ASSERT_TRUE(run.t);
    Term *t = run.t.get();
    ASSERT_TRUE(reaches_end(t, 4, "plain"));
    EXPECT_EQ(term_bells(t), 2);
    EXPECT_TRUE(term_press_until_exit(t, "x", 10000) == 0);
}

TEST(HighlightEndToEnd, Utf8FileNameInTheStatusBar)
{
    ReaderRun run("\xc3\xa9t\xc3\xa9\n", {"-s", "20"}, "caf\xc3\xa9.txt");
    ASSERT_TRUE(run.t);
    Term *t = run.t.get();
    ASSERT_TRUE(reaches_end(t, 1, "\xc3\xa9t\xc3\xa9"));
    EXPECT_SCREEN_ROW_CONTAINS(t, BAR_ROW, "1/1 - 100%  Page: 1 - caf\xc3\xa9.txt ", WAIT_MS);
    EXPECT_TRUE(term_press_until_exit(t, "x", 10000) == 0);
}

TEST(HighlightEndToEnd, InvalidUtf8RunsToItsEnd)
{
    ReaderRun run("a\xff" "b\n\xc3(\n\x80\x80 mid \xe2\x80\nlast line\n", {"-s", "20"});
    ASSERT_TRUE(run.t);
    Term *t = run.t.get();
    ASSERT_TRUE(reaches_end(t, 4, "last line"));
    // Each byte that is no character shows as "?", and nothing else is lost.
    EXPECT_SCREEN_ROW(t, LAST_ROW - 3, "a?b", 0);
    EXPECT_SCREEN_ROW(t, LAST_ROW - 2, "?(", 0);
    EXPECT_SCREEN_ROW(t, LAST_ROW - 1, "?? mid ??", 0);
    EXPECT_TRUE(term_press_until_exit(t, "x", 10000) == 0);
}

TEST(HighlightEndToEnd, WordSplitAcrossTwoDisplayedLinesIsFoundInNeither)
{
    // 1020 bytes and "dri" make the first read; "fterm" opens the second.
    ReaderRun run(std::string(1020, 'x') + "drifterm\nok drifterm\n", {"-s", "20"});
    ASSERT_TRUE(run.t);
    Term *t = run.t.get();
    // The total counts reads of 254 bytes: five for the long line.
    ASSERT_SCREEN_ROW_CONTAINS(t, BAR_ROW, "3/6 - 50%", WAIT_MS);
    ASSERT_SCREEN_ROW(t, LAST_ROW, "ok drifterm", WAIT_MS);
    EXPECT_TRUE(row_bold(t, LAST_ROW));
    EXPECT_SCREEN_ROW(t, LAST_ROW - 1, "fterm", 0);
    EXPECT_FALSE(any_bold(t, 0, LAST_ROW - 1)) << term_screen(t);
    EXPECT_TRUE(term_press_until_exit(t, "x", 10000) == 0);
}

} // namespace
