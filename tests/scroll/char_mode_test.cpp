// Character mode end to end: the typing row, the pace per byte, keys per
// byte, the bar, highlighted lines and whole multibyte characters.
#include <set>
#include <string>
#include <vector>

#include "helpers.h"

namespace {

const int WAIT_MS = 10000;
const int BAR_ROW = 23;
const int TYPING_ROW = 11; // half of the default display row 22

// The program in character mode: -m, then `options`. Piped, the text is
// shown exactly as given, NUL bytes included.
std::vector<std::string> in_char_mode(std::vector<std::string> options)
{
    options.insert(options.begin(), "-m");
    return options;
}

struct CharRun : ReaderRun {
    CharRun(const std::string &text, const std::vector<std::string> &options, bool piped = false)
        : ReaderRun(text, in_char_mode(options), piped ? "-" : "typed.txt")
    {
    }
};

// Every text `row` shows until `done` holds (or the time is up).
std::vector<std::string> row_texts_until(Term *t, int row, const std::function<bool(Term *)> &done)
{
    std::vector<std::string> seen;
    term_wait_for(
        t,
        [&](Term *tt) {
            std::string text = term_row(tt, row);
            if (seen.empty() || seen.back() != text)
                seen.push_back(text);
            return done(tt);
        },
        WAIT_MS);
    return seen;
}

bool seen_text(const std::vector<std::string> &seen, const std::string &text)
{
    for (const std::string &s : seen)
        if (s.find(text) != std::string::npos)
            return true;
    return false;
}

bool only_row_used(Term *t, int row)
{
    for (int r = 0; r < BAR_ROW; r++)
        if (r != row && !term_row(t, r).empty())
            return false;
    return true;
}

bool bar_shown(Term *t)
{
    return term_row(t, BAR_ROW).find(" - ") != std::string::npos && term_cell(t, BAR_ROW, 0).reverse;
}

TEST(CharModeEndToEnd, TypesOnOneRowOneLineAtATime)
{
    const struct {
        std::vector<std::string> options;
        int row;
    } cases[] = {
        {{"-s", "30"}, TYPING_ROW},
        {{"-p", "5", "-s", "30"}, 5},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.row);
        CharRun run("first line\nsecond\n", c.options);
        ASSERT_TRUE(run.t);
        Term *t = run.t.get();
        ASSERT_SCREEN_ROW(t, c.row, "first line", WAIT_MS);
        EXPECT_TRUE(only_row_used(t, c.row)) << term_screen(t);
        ASSERT_SCREEN_ROW(t, c.row, "second", WAIT_MS);
        EXPECT_TRUE(only_row_used(t, c.row)) << term_screen(t);
        ASSERT_SCREEN_ROW_CONTAINS(t, BAR_ROW, "2/2 - 100%", WAIT_MS);
        ASSERT_SCREEN_ROW(t, c.row, "", WAIT_MS); // wiped after the last line too
        EXPECT_TRUE(term_press_until_exit(t, "x", 10000) == 0);
    }
}

TEST(CharModeEndToEnd, PaceIsPerByte)
{
    // Nine letters and the newline: ten steps of 50 ms from one line's
    // first letter to the next line's.
    CharRun run("abcdefghi\nABCDEFGHI\nend\n", {"-s", "50"});
    ASSERT_TRUE(run.t);
    Term *t = run.t.get();
    int64_t first = term_wait_row_differs(t, TYPING_ROW, "", WAIT_MS);
    ASSERT_GE(first, 0);
    ASSERT_SCREEN_ROW(t, TYPING_ROW, "", WAIT_MS);
    int64_t second = term_wait_row_differs(t, TYPING_ROW, "", WAIT_MS);
    ASSERT_GE(second, 0);
    EXPECT_SCREEN_ROW_CONTAINS(t, TYPING_ROW, "A", 0);
    EXPECT_GE(second - first, 400);
    EXPECT_LE(second - first, 1500);
    EXPECT_TRUE(term_press_until_exit(t, "x", 10000) == 0);
}

TEST(CharModeEndToEnd, LongLineShowsWhatFitsAndTakesAStepPerByte)
{
    std::string line;
    for (int i = 0; i < 20; i++)
        line += "0123456789";
    CharRun run(line + "\n", {"-s", "5"});
    ASSERT_TRUE(run.t);
    Term *t = run.t.get();
    int64_t first = term_wait_row_differs(t, TYPING_ROW, "", WAIT_MS);
    ASSERT_GE(first, 0);
    ASSERT_SCREEN_ROW(t, TYPING_ROW, line.substr(0, 80), WAIT_MS);
    EXPECT_SCREEN_ROW(t, TYPING_ROW + 1, "", 0);
    int64_t wiped = term_wait_row_differs(t, TYPING_ROW, line.substr(0, 80), WAIT_MS);
    ASSERT_GE(wiped, 0);
    EXPECT_SCREEN_ROW(t, TYPING_ROW, "", 0);
    EXPECT_GE(wiped - first, 900) << "200 more steps of 5 ms after the first byte";
    EXPECT_TRUE(term_press_until_exit(t, "x", 10000) == 0);
}

TEST(CharModeEndToEnd, KeysTypedAheadActOnTheNextBytes)
{
    CharRun run(std::string(60, 'k') + "\n", {"-s", "150"});
    ASSERT_TRUE(run.t);
    Term *t = run.t.get();
    ASSERT_TRUE(term_wait_for(t, bar_shown, WAIT_MS)) << term_screen(t);
    ASSERT_SCREEN_ROW(t, TYPING_ROW, "kk", WAIT_MS);
    term_send(t, "nvn");
    // One key per byte: hidden, shown again for a byte, hidden for good.
    EXPECT_TRUE(term_wait_for(t, bar_hidden, WAIT_MS)) << term_screen(t);
    EXPECT_TRUE(term_wait_for(t, bar_shown, WAIT_MS)) << term_screen(t);
    EXPECT_TRUE(term_wait_for(t, bar_hidden, WAIT_MS)) << term_screen(t);
    std::string typed = term_row(t, TYPING_ROW);
    ASSERT_TRUE(term_wait_for(
        t, [&](Term *tt) { return term_row(tt, TYPING_ROW).size() >= typed.size() + 3; }, WAIT_MS));
    EXPECT_TRUE(bar_hidden(t)) << term_screen(t);
    term_send(t, "q");
    EXPECT_EXIT_STATUS(t, 0, WAIT_MS);
}

TEST(CharModeEndToEnd, WithoutTheBarItShowsAfterTheInfoScreenAndAtTheEnd)
{
    CharRun run("hello there, a line to type\n", {"-x", "-s", "60"});
    ASSERT_TRUE(run.t);
    Term *t = run.t.get();
    ASSERT_SCREEN_ROW_CONTAINS(t, TYPING_ROW, "hel", WAIT_MS);
    EXPECT_TRUE(bar_hidden(t));
    term_send(t, "i");
    ASSERT_SCREEN_TEXT(t, "[Press any key]", WAIT_MS);
    term_send(t, " ");
    EXPECT_TRUE(term_wait_for(t, bar_shown, WAIT_MS)) << term_screen(t);
    EXPECT_SCREEN_ROW_CONTAINS(t, BAR_ROW, "1/1 - 100%", WAIT_MS);
    EXPECT_TRUE(term_press_until_exit(t, "x", 10000) == 0);
}

TEST(CharModeEndToEnd, WithoutTheBarItIsDrawnOnceAtTheEnd)
{
    // Slow enough that the bar row is surely seen while the line is typed.
    CharRun run("short line\n", {"-x", "-s", "100"});
    ASSERT_TRUE(run.t);
    Term *t = run.t.get();
    ASSERT_SCREEN_ROW_CONTAINS(t, TYPING_ROW, "sh", WAIT_MS);
    std::vector<std::string> bars = row_texts_until(t, BAR_ROW, [](Term *tt) {
        return term_row(tt, BAR_ROW).find("1/1 - 100%") != std::string::npos;
    });
    ASSERT_SCREEN_ROW_CONTAINS(t, BAR_ROW, "1/1 - 100%", 0);
    EXPECT_EQ(bars.size(), 2u) << "blank while typing, then the final bar";
    EXPECT_TRUE(term_cell(t, BAR_ROW, 0).reverse);
    EXPECT_TRUE(term_press_until_exit(t, "x", 10000) == 0);
}

TEST(CharModeEndToEnd, HighlightedLineTypedOnceInBoldAsRead)
{
    CharRun run("abc drifterm\nnext\n", {"-u", "-a", "-s", "30"});
    ASSERT_TRUE(run.t);
    Term *t = run.t.get();
    ASSERT_SCREEN_ROW(t, TYPING_ROW, "abc drifterm", WAIT_MS);
    // The automatic pause comes after the line has been typed.
    EXPECT_EQ(term_wait_row_differs(t, TYPING_ROW, "abc drifterm", 500), -1);
    for (int col : {0, 1, 2, 4, 11})
        EXPECT_TRUE(term_cell(t, TYPING_ROW, col).bold) << col;
    term_send(t, "x");
    std::vector<std::string> seen = row_texts_until(
        t, TYPING_ROW, [](Term *tt) { return term_row(tt, TYPING_ROW) == "NEXT"; });
    ASSERT_SCREEN_ROW(t, TYPING_ROW, "NEXT", 0);
    EXPECT_FALSE(seen_text(seen, "ABC")) << "typed a second time";
    EXPECT_FALSE(term_cell(t, TYPING_ROW, 0).bold);
    EXPECT_TRUE(term_press_until_exit(t, "x", 10000) == 0);
}

TEST(CharModeEndToEnd, LineStartingWithNulTypesNothing)
{
    CharRun run(std::string("first\n\0hidden\nthird\n", 20), {"-s", "20"}, true);
    ASSERT_TRUE(run.t);
    Term *t = run.t.get();
    std::vector<std::string> seen = row_texts_until(
        t, TYPING_ROW, [](Term *tt) { return term_row(tt, TYPING_ROW) == "third"; });
    ASSERT_SCREEN_ROW(t, TYPING_ROW, "third", 0);
    EXPECT_TRUE(seen_text(seen, "first"));
    EXPECT_FALSE(seen_text(seen, "hidden"));
    // Whether the copy of the input keeps the NUL line at all is not ours to say.
    EXPECT_SCREEN_ROW_CONTAINS(t, BAR_ROW, " - 100%", WAIT_MS);
    EXPECT_TRUE(term_press_until_exit(t, "x", 10000) == 0);
}

TEST(CharModeEndToEnd, EmptyFileEndsWithNoughtOfNoughtAndWaits)
{
    CharRun run("", {"-s", "20"});
    ASSERT_TRUE(run.t);
    Term *t = run.t.get();
    ASSERT_SCREEN_ROW_CONTAINS(t, BAR_ROW, "0/0 - 0%", WAIT_MS);
    EXPECT_EQ(term_wait_exit(t, 300), -1) << "waits for a key";
    term_send(t, "x");
    EXPECT_EXIT_STATUS(t, 0, WAIT_MS);
}

TEST(CharModeEndToEnd, MultibyteCharactersAppearWhole)
{
    CharRun run("caf\xc3\xa9\xe2\x80\x94" "x\n", {"-s", "30"});
    ASSERT_TRUE(run.t);
    Term *t = run.t.get();
    std::vector<std::string> seen = row_texts_until(
        t, TYPING_ROW, [](Term *tt) { return term_row(tt, TYPING_ROW) == "caf\xc3\xa9\xe2\x80\x94x"; });
    ASSERT_SCREEN_ROW(t, TYPING_ROW, "caf\xc3\xa9\xe2\x80\x94x", 0);
    const char *cells[] = {"c", "a", "f", "\xc3\xa9", "\xe2\x80\x94", "x"};
    for (int col = 0; col < 6; col++)
        EXPECT_EQ(term_cell(t, TYPING_ROW, col).text, cells[col]) << col;
    const std::set<std::string> whole = {"", "c", "ca", "caf", "caf\xc3\xa9", "caf\xc3\xa9\xe2\x80\x94",
                                         "caf\xc3\xa9\xe2\x80\x94x"};
    for (const std::string &s : seen)
        EXPECT_TRUE(whole.count(s)) << "a part of a character showed: " << s;
    EXPECT_TRUE(term_press_until_exit(t, "x", 10000) == 0);
}

} // namespace
