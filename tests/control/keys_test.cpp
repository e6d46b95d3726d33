// Key mapping, pace arithmetic and the effect of each key on the caller's state.
#include <cstdio>
#include <unistd.h>

#include <curses.h>
#include <gtest/gtest.h>

#include "app/records.h"
#include "control/control.h"

TEST(KeyActionOf, MapsOnlyTheTwelveLowerCaseCommands)
{
    const struct {
        int key;
        KeyAction action;
    } cases[] = {
        {' ', ACTION_TURBO},         {'q', ACTION_QUIT},       {'o', ACTION_ORIGINAL_SPEED},
        {'p', ACTION_PAUSE},         {'v', ACTION_STATUS_ON},  {'n', ACTION_STATUS_OFF},
        {'c', ACTION_CLEAR},         {'f', ACTION_FASTER},     {'s', ACTION_SLOWER},
        {'a', ACTION_AUTO_PAUSE},    {'i', ACTION_INFO},       {'e', ACTION_EDITOR},
        {'Q', ACTION_NONE},          {'P', ACTION_NONE},       {'F', ACTION_NONE},
        {'x', ACTION_NONE},          {'\n', ACTION_NONE},      {27, ACTION_NONE},
        {KEY_UP, ACTION_NONE},       {KEY_LEFT, ACTION_NONE},  {KEY_F(1), ACTION_NONE},
        {KEY_F(12), ACTION_NONE},    {KEY_RESIZE, ACTION_NONE}, {ERR, ACTION_NONE},
        {'q' + 256, ACTION_NONE},
    };
    for (const auto &c : cases)
        EXPECT_EQ(key_action_of(c.key), c.action) << "key " << c.key;
}

TEST(PaceArithmetic, RepeatedStepsFollowTheTruncatedQuarter)
{
    uint32_t pace = 1000;
    for (uint32_t expected : {750u, 563u, 423u, 318u, 239u, 180u, 135u, 102u}) {
        pace = pace_faster(pace);
        EXPECT_EQ(pace, expected);
    }
    pace = 400;
    for (uint32_t expected : {500u, 625u, 781u, 976u}) {
        pace = pace_slower(pace);
        EXPECT_EQ(pace, expected);
    }
    const struct {
        uint32_t pace, faster, slower;
    } cases[] = {
        {1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 3, 5}, {5, 4, 6}, {8, 6, 10},
        // Beyond 2^32/25 the quarter is still exact: no wrap, f always shrinks.
        {171798692u, 128849019u, 214748365u},
        {4000000000u, 3000000000u, 4294967295u},
        {UINT32_MAX, 3221225472u, UINT32_MAX},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(pace_faster(c.pace), c.faster) << c.pace;
        EXPECT_EQ(pace_slower(c.pace), c.slower) << c.pace;
    }
    for (uint32_t p = 4; p < 100000; p += 7)
        ASSERT_LT(pace_faster(p), p);
}

TEST(PaceArithmetic, SpaceTogglesTheFastPace)
{
    // pace, adjusted, initial -> result
    const struct {
        uint32_t pace, adjusted, initial, result;
    } cases[] = {
        {1000, 0, 1000, 1}, {1, 0, 1000, 1000}, // nothing adjusted
        {750, 750, 1000, 1}, {1, 750, 1000, 750}, // after f
        {1, 0, 1, 1},                             // -s 1: stays 1
        {1, 1, 1000, 1},                          // f in fast mode pins 1
        {3, 3, 1000, 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(pace_turbo(c.pace, c.adjusted, c.initial), c.result)
            << c.pace << " " << c.adjusted << " " << c.initial;
}

// A curses screen whose keyboard is a pipe the test writes into.
class HandleKeys : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(pipe(keys_), 0);
        input_ = fdopen(keys_[0], "r");
        output_ = fopen("/dev/null", "w");
        screen_ = newterm("vt100", output_, input_);
        ASSERT_NE(screen_, nullptr);
        set_term(screen_);
        reader.main_window = newwin(LINES, 0, 0, 0);
        reader.status_window = newwin(1, COLS, LINES - 1, 0);
        reader.tty_stream = input_;
        reader.adjusted_speed = 0;
        options.status_bar = 1;
        options.auto_pause = 0;
    }
    void TearDown() override
    {
        reader.tty_stream = nullptr;
        endwin();
        delscreen(screen_);
        fclose(input_);
        fclose(output_);
        close(keys_[1]);
    }
    // Types `keys` and gives each its own call of handle_keys.
    void press(const char *keys)
    {
        for (const char *k = keys; *k; k++) {
            ASSERT_EQ(write(keys_[1], k, 1), 1);
            handle_keys(&speed_, initial_, &visible_, 10, 3);
        }
    }
    int keys_[2] = {-1, -1};
    FILE *input_ = nullptr;
    FILE *output_ = nullptr;
    SCREEN *screen_ = nullptr;
    uint32_t initial_ = 1000;
    uint32_t speed_ = 1000;
    int32_t visible_ = 1;
};

TEST_F(HandleKeys, KeysChangeThePaceAndTheAdjustedPace)
{
    const struct {
        const char *keys;
        uint32_t speed, adjusted;
    } cases[] = {
        {"", 1000, 0},
        {" ", 1, 0},
        {"  ", 1000, 0},
        {"f", 750, 750},
        {"f ", 1, 750},
        {"f  ", 750, 750},
        {"fo", 1000, 0},
        {"fo  ", 1000, 0},
        {"ss", 1562, 1562},
        {" f", 1, 1},       // fast mode pinned ...
        {" f ", 1, 1},
        {" fo", 1000, 0},   // ... until o
        {"Qx\033", 1000, 0}, // no commands
    };
    for (const auto &c : cases) {
        speed_ = initial_;
        reader.adjusted_speed = 0;
        press(c.keys);
        EXPECT_EQ(speed_, c.speed) << '"' << c.keys << '"';
        EXPECT_EQ(reader.adjusted_speed, c.adjusted) << '"' << c.keys << '"';
    }
}

TEST_F(HandleKeys, StatusAndAutoPauseFlags)
{
    const struct {
        int32_t bar_before;
        const char *keys;
        int32_t bar, visible, auto_pause;
    } cases[] = {
        {1, "n", 1, 0, 0},  {1, "nv", 1, 1, 0}, {0, "n", 0, 1, 0},
        {0, "v", 1, 1, 0},  {0, "vn", 1, 0, 0}, {1, "a", 1, 1, 1},
        {1, "aa", 1, 1, 0}, {1, "N", 1, 1, 0},
    };
    for (const auto &c : cases) {
        options.status_bar = c.bar_before;
        options.auto_pause = 0;
        visible_ = 1;
        press(c.keys);
        EXPECT_EQ(options.status_bar, c.bar) << c.keys;
        EXPECT_EQ(visible_, c.visible) << c.keys;
        EXPECT_EQ(options.auto_pause, c.auto_pause) << c.keys;
    }
    options.status_bar = 1;
}

TEST_F(HandleKeys, OneKeyPerCall)
{
    ASSERT_EQ(write(keys_[1], "ff", 2), 2);
    handle_keys(&speed_, initial_, &visible_, 10, 3);
    EXPECT_EQ(speed_, 750u);
    handle_keys(&speed_, initial_, &visible_, 10, 3);
    EXPECT_EQ(speed_, 563u);
    handle_keys(&speed_, initial_, &visible_, 10, 3); // nothing waiting: no block
    EXPECT_EQ(speed_, 563u);
}

// ---- end to end ----

#include <csignal>
#include <memory>

#include "helpers.h"

namespace {

const int WAIT_MS = 10000;
const int TEXT_ROW = 21; // newest line after the scroll, on 24 rows
const int BAR_ROW = 23;

// The number of the newest line shown, 0 when none.
int newest_line(Term *t)
{
    std::string row = term_row(t, TEXT_ROW);
    return row.rfind("line ", 0) == 0 ? atoi(row.c_str() + 5) : 0;
}

bool newest_line_reaches(Term *t, int number, int timeout_ms)
{
    return term_wait_for(t, [&](Term *tt) { return newest_line(tt) >= number; }, timeout_ms);
}

// Mean time per line over `count` lines, counted from the second line
// after the current one, by which a key sent just before has taken hold.
int64_t line_interval(Term *t, int count)
{
    int from = newest_line(t) + 2;
    if (!newest_line_reaches(t, from, WAIT_MS))
        return -1;
    int64_t start = term_now_ms();
    if (!newest_line_reaches(t, from + count, WAIT_MS))
        return -1;
    return (term_now_ms() - start) / count;
}

// Sends `key` and waits until the poll that takes it is past, so the next
// key gets its own poll. A key typed between a line's poll and the next
// line's discard of typed-ahead keys is dropped by design, which a loaded
// machine makes likely: a closing q is sent until the run ends.
void press_between_lines(Term *t, const std::string &key)
{
    int from = newest_line(t);
    term_send(t, key);
    newest_line_reaches(t, from + 2, WAIT_MS);
}

// Pauses with p. A key that comes between a line's poll and the discard
// of typed-ahead keys at the next line is dropped by design, so p is sent
// again only when the text has plainly run on.
bool pause_with_p(Term *t)
{
    for (int attempt = 0; attempt < 3; attempt++) {
        term_send(t, "p");
        if (row_settles(t, TEXT_ROW, 500, 2000)) // ten pace steps and no line
            return true;
    }
    return false;
}

// The program on `lines` numbered lines; t is its terminal.
class KeysEndToEnd : public ::testing::Test {
protected:
    // Starts the run with `options` and, when `first` is given, waits until that line shows.
    ::testing::AssertionResult start(int lines, const std::vector<std::string> &options, int first = 0)
    {
        run = std::make_unique<ReaderRun>(numbered_lines(lines), options);
        t = run->t.get();
        if (!t)
            return ::testing::AssertionFailure() << "no terminal";
        if (first > 0 && !newest_line_reaches(t, first, WAIT_MS))
            return ::testing::AssertionFailure() << "line " << first << " never showed\n" << term_screen(t);
        return ::testing::AssertionSuccess();
    }

    std::unique_ptr<ReaderRun> run;
    Term *t = nullptr;
};

TEST_F(KeysEndToEnd, QQuitsAtOnceAndRemovesTheWorkFile)
{
    ASSERT_TRUE(start(200, {"-s", "100"}, 2));
    EXPECT_TRUE(run->work_file_left());
    term_send(t, "q");
    EXPECT_EXIT_STATUS(t, 0, 3000);
    EXPECT_FALSE(run->work_file_left());
    EXPECT_LT(newest_line(t), 150);
}

TEST_F(KeysEndToEnd, OtherKeysDoNothing)
{
    ASSERT_TRUE(start(40, {"-s", "40"}, 2));
    for (const char *key : {"Q", "P", "N", KEY_UP_SEQ, KEY_LEFT_SEQ, KEY_F1_SEQ, KEY_F5_SEQ, "x"})
        press_between_lines(t, key);
    // The text ran on to its end, bar and all, with nothing paused or quit.
    ASSERT_SCREEN_ROW(t, TEXT_ROW, "line 40", WAIT_MS);
    EXPECT_SCREEN_ROW_CONTAINS(t, BAR_ROW, "40/40 - 100%", WAIT_MS);
    EXPECT_FALSE(term_exited(t));
    EXPECT_EQ(term_bells(t), 0);
    // The poll after the last line may take a key sent just then.
    EXPECT_EQ(term_press_until_exit(t, "x", WAIT_MS), 0);
}

TEST_F(KeysEndToEnd, PauseHoldsUntilAKeyAndQOnlyEndsIt)
{
    ASSERT_TRUE(start(200, {"-s", "50"}, 3));
    ASSERT_TRUE(pause_with_p(t)) << term_screen(t);
    int held = newest_line(t);
    EXPECT_SCREEN_ROW_CONTAINS(t, BAR_ROW, std::to_string(held) + "/200", 0);

    // A resize during the pause rebuilds the screen and keeps waiting.
    term_resize(t, 20, 70);
    EXPECT_TRUE(row_settles(t, 17, 600, WAIT_MS));
    EXPECT_FALSE(term_exited(t));

    term_send(t, "q");
    EXPECT_GE(term_wait_row_change(t, 17, WAIT_MS), 0) << "q ends the pause";
    EXPECT_FALSE(term_exited(t));
    EXPECT_EQ(term_press_until_exit(t, "q", WAIT_MS), 0) << term_screen(t);
}

TEST_F(KeysEndToEnd, InterruptDuringPauseTakesTheCleanupExit)
{
    ASSERT_TRUE(start(200, {"-s", "50"}, 2));
    ASSERT_TRUE(pause_with_p(t)) << term_screen(t);
    term_signal(t, SIGINT);
    EXPECT_EXIT_STATUS(t, 0, 3000);
    EXPECT_FALSE(run->work_file_left());
}

TEST_F(KeysEndToEnd, SpaceRunsFastAndBackToThePace)
{
    ASSERT_TRUE(start(3000, {"-s", "200"}, 2));
    term_send(t, " ");
    int start = newest_line(t);
    // Forty lines at 200 ms would take eight seconds.
    ASSERT_TRUE(newest_line_reaches(t, start + 40, 3000)) << term_screen(t);
    term_send(t, " ");
    // The screen lags a fast run; a line that stays put means the pace is back.
    ASSERT_TRUE(row_settles(t, TEXT_ROW, 150, WAIT_MS));
    int64_t interval = line_interval(t, 3);
    EXPECT_GE(interval, 150);
    EXPECT_LE(interval, 600);
    EXPECT_EQ(term_press_until_exit(t, "q", WAIT_MS), 0) << term_screen(t);
}

TEST_F(KeysEndToEnd, FasterAndSlowerChangeTheInterval)
{
    ASSERT_TRUE(start(200, {"-s", "240"}, 1));
    int64_t start = line_interval(t, 3);
    for (int i = 0; i < 3; i++) // 240 -> 180 -> 135 -> 102
        press_between_lines(t, "f");
    int64_t faster = line_interval(t, 3);
    for (int i = 0; i < 4; i++) // 102 -> 127 -> 158 -> 197 -> 246
        press_between_lines(t, "s");
    int64_t slower = line_interval(t, 2);
    // Loose bounds: a busy machine delays when the test sees a line.
    EXPECT_GE(start, 180);
    EXPECT_GT(faster, 60);
    EXPECT_LT(faster * 10, start * 7) << start << " then " << faster;
    EXPECT_GT(slower * 10, faster * 16) << faster << " then " << slower;
    EXPECT_EQ(term_press_until_exit(t, "q", WAIT_MS), 0) << term_screen(t);
}

TEST_F(KeysEndToEnd, ClearEmptiesTheWindowAndScrollingGoesOn)
{
    ASSERT_TRUE(start(100, {"-s", "60"}));
    ASSERT_TRUE(term_wait_for(t, [](Term *tt) { return !term_row(tt, 0).empty(); }, WAIT_MS));
    term_send(t, "c");
    // The next lines come in on the same row, below an empty window.
    bool cleared = term_wait_for(
        t,
        [](Term *tt) {
            for (int row = 0; row < TEXT_ROW - 1; row++)
                if (!term_row(tt, row).empty())
                    return false;
            std::string above = term_row(tt, TEXT_ROW - 1);
            return above.rfind("line ", 0) == 0 &&
                   newest_line(tt) == atoi(above.c_str() + 5) + 1;
        },
        WAIT_MS);
    EXPECT_TRUE(cleared) << term_screen(t);
    EXPECT_EQ(term_press_until_exit(t, "q", WAIT_MS), 0) << term_screen(t);
}

// The bar row holds the bar, in reverse video, or nothing at all.
bool bar_shown(Term *t)
{
    return term_row(t, BAR_ROW).find("%  Page: ") != std::string::npos &&
           term_cell(t, BAR_ROW, 0).reverse;
}

TEST_F(KeysEndToEnd, NHidesTheBarAndVBringsItBack)
{
    ASSERT_TRUE(start(200, {"-s", "40"}));
    ASSERT_TRUE(term_wait_for(t, bar_shown, WAIT_MS)) << term_screen(t);
    press_between_lines(t, "n");
    ASSERT_TRUE(term_wait_for(t, bar_hidden, WAIT_MS)) << term_screen(t);
    int hidden_at = newest_line(t);
    ASSERT_TRUE(newest_line_reaches(t, hidden_at + 5, WAIT_MS));
    EXPECT_TRUE(bar_hidden(t)) << term_screen(t);
    press_between_lines(t, "v");
    EXPECT_TRUE(term_wait_for(t, bar_shown, WAIT_MS)) << term_screen(t);
    EXPECT_EQ(term_press_until_exit(t, "q", WAIT_MS), 0) << term_screen(t);
}

// Sends `key` until `state` holds: a key between a poll and the next
// line's discard of typed-ahead keys is dropped by design.
bool press_until(Term *t, const std::string &key, bool (*state)(Term *))
{
    for (int attempt = 0; attempt < 3; attempt++) {
        term_send(t, key);
        if (term_wait_for(t, state, WAIT_MS / 3))
            return true;
    }
    return false;
}

TEST_F(KeysEndToEnd, AfterXOnlyVBringsTheBar)
{
    // Far more text than the keys take, even on a loaded machine: at its
    // end the bar is drawn whatever was asked.
    ASSERT_TRUE(start(5000, {"-x", "-s", "40"}, 2));
    EXPECT_TRUE(bar_hidden(t));
    press_between_lines(t, "n");
    ASSERT_TRUE(newest_line_reaches(t, newest_line(t) + 3, WAIT_MS));
    EXPECT_TRUE(bar_hidden(t)) << term_screen(t);
    EXPECT_TRUE(press_until(t, "v", bar_shown)) << term_screen(t);
    EXPECT_TRUE(press_until(t, "n", bar_hidden)) << term_screen(t);
    EXPECT_EQ(term_press_until_exit(t, "q", WAIT_MS), 0) << term_screen(t);
}

} // namespace
