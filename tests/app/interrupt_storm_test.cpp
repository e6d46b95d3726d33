// Interrupts, hangups and kills at random moments of a run, and storms of
// resizes: whatever the moment, an interrupt ends the run with status 0 (a
// hangup or kill as that signal), no work file and the terminal given back;
// after any number of resizes the layout is the one of the last size. The random choices come from one seed, printed with every
// failure; DRIFTERM_STORM_SEED replays a run.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "helpers.h"

#if defined(__SANITIZE_ADDRESS__)
#define STORM_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define STORM_SANITIZED 1
#endif
#endif
#ifndef STORM_SANITIZED
#define STORM_SANITIZED 0
#endif

namespace {

// The sanitizer build runs each program several times slower.
const int64_t budget_ms = STORM_SANITIZED ? 20000 : 45000;
const int max_runs = STORM_SANITIZED ? 60 : 300;

uint32_t storm_seed()
{
    const char *given = getenv("DRIFTERM_STORM_SEED");
    return given && *given ? (uint32_t)strtoul(given, nullptr, 10) : 20261209u;
}

// One kind of moment to interrupt: how the run is set up, how it is brought
// to the moment, and the spread of the random delay after that.
struct Moment {
    const char *name;
    int lines;            // lines of the text
    const char *pace;
    bool slow_filter;     // the filter sleeps before it writes the text
    bool piped;           // the text comes on standard input, the screen is the -t terminal
    const char *keys;     // sent once a line shows (p: pause, i: information screen)
    const char *wait_for; // text to wait for before the delay ("" : only the handler)
    int max_delay_ms;
    bool editor = false;  // e starts a slow editor, during which the reader ignores SIGINT
};

const Moment moments[] = {
    {"start-up", 5, "20", false, false, "", "", 15},
    {"slow filter, signal to the program", 5, "20", true, false, "", "", 400},
    {"slow filter, Ctrl-C on the terminal", 5, "20", true, false, "", "", 400},
    {"scrolling", 400, "10", false, false, "", "line 1", 300},
    {"pause", 400, "10", false, false, "p", "line 1", 150},
    {"information screen", 400, "10", false, false, "i", "line 1", 150},
    {"closing wait", 3, "10", false, false, "", "3/3 - 100%", 100},
    {"piped: capture, preparation and start", 20000, "10", false, true, "", "", 60},
    {"editor wait", 400, "10", false, false, "e", "line 1", 250, true},
};

// The signal of a run: any of the three, but the reader leaves SIGINT to
// the editor; a Ctrl-C moment sends its own.
int storm_signal(const Moment &m, uint32_t pick)
{
    const int any[] = {SIGINT, SIGTERM, SIGHUP};
    return m.editor ? any[1 + pick % 2] : any[pick % 3];
}

struct StormFixture : Sandbox {
    std::string text = dir.path + "/text.txt";
    std::string filter = put_script("slow_filter", "sleep 0.2\ncat -- \"$1\"\n");
    std::string editor = put_script("slow_editor", "sleep 0.3\n");

    Launch launch(const Moment &m)
    {
        write_file(text, numbered_lines(m.lines));
        Launch s = m.piped ? piped_launch(home, {"-s", m.pace}, numbered_lines(m.lines))
                           : reader_launch(home, {"-s", m.pace}, text);
        if (m.slow_filter)
            s.env = {{"DRIFTERM_FILTER", filter}};
        if (m.editor)
            s.env.push_back({"VISUAL", editor});
        return s;
    }
};

TEST(InterruptStorm, EveryMomentEndsCleanly)
{
    const uint32_t seed = storm_seed();
    std::mt19937 rng(seed);
    StormFixture fx;
    const int64_t deadline = term_now_ms() + budget_ms;
    int runs = 0;
    for (; runs < max_runs && term_now_ms() < deadline; runs++) {
        const Moment &m = moments[rng() % std::size(moments)];
        const int delay = (int)(rng() % (uint32_t)(m.max_delay_ms + 1));
        const bool ctrl_c = std::string(m.name).find("Ctrl-C") != std::string::npos;
        const int signal = ctrl_c ? SIGINT : storm_signal(m, rng());
        std::ostringstream where;
        where << "seed " << seed << ", run " << runs << ": " << strsignal(signal) << " at "
              << m.name << " + " << delay << " ms";
        SCOPED_TRACE(where.str());

        TermPtr t(term_spawn(fx.launch(m)));
        ASSERT_TRUE(t);
        ASSERT_TRUE(term_wait_for(t.get(), [&](Term *x) { return term_catches_signal(x, signal); }, 5000));
        if (*m.wait_for) {
            ASSERT_TRUE(term_wait_text(t.get(), m.wait_for, 5000)) << term_screen(t.get());
        }
        if (*m.keys)
            term_send(t.get(), m.keys);
        if (delay > 0)
            usleep((useconds_t)delay * 1000); // the random moment itself
        if (ctrl_c)
            term_send(t.get(), ctrl_key('c'));
        else
            term_signal(t.get(), signal);

        ASSERT_EXIT_STATUS(t.get(), signal == SIGINT ? 0 : 128 + signal, 5000);
        EXPECT_EQ(list_dir(work_dir_of(fx.home)), std::vector<std::string>{});
        EXPECT_TRUE(out_of_curses_mode(t.get())) << term_screen(t.get());
        EXPECT_EQ(term_stderr(t.get()), "");
        if (::testing::Test::HasFailure())
            break;
    }
    std::cout << "[ STORM    ] " << runs << " signalled runs, seed " << seed << "\n";
    EXPECT_GE(runs, STORM_SANITIZED ? 10 : 50);
}

// The state a resize storm hits, and what the screen must show afterwards.
struct ResizeCase {
    const char *name;
    const char *keys;    // sent once a line shows
    const char *settled; // text that shows the state has been reached
};

// Rows of the last size: 20 rows of 60 columns.
const int final_rows = 20, final_cols = 60;

bool status_bar_on_last_row(Term *t)
{
    Cell first = term_cell(t, final_rows - 1, 0);
    return term_row(t, final_rows - 1).find("Page:") != std::string::npos && first.reverse &&
           term_cols(t) == final_cols;
}

// Lines enter on the row above the status bar and move up from there.
bool scrolling_at_final_size(Term *t)
{
    for (int row = final_rows - 4; row <= final_rows - 2; row++)
        if (term_row(t, row).rfind("line ", 0) != 0)
            return false;
    return status_bar_on_last_row(t);
}

TEST(ResizeStorm, LayoutFollowsTheLastSize)
{
    const uint32_t seed = storm_seed();
    std::mt19937 rng(seed);
    const ResizeCase cases[] = {
        {"scrolling", "", "line 3"},
        {"pause", "p", "line 3"},
        {"information screen", "i", "Filename:"},
    };
    for (const ResizeCase &c : cases) {
        SCOPED_TRACE(std::string(c.name) + ", seed " + std::to_string(seed));
        ReaderRun run(numbered_lines(3000), {"-s", "30"});
        TermPtr &t = run.t;
        ASSERT_TRUE(t);
        ASSERT_SCREEN_TEXT(t.get(), "line 3", 5000);
        if (*c.keys)
            term_send(t.get(), c.keys);
        ASSERT_SCREEN_TEXT(t.get(), c.settled, 5000);
        for (int i = 0; i < 300; i++)
            term_resize(t.get(), 1 + (int)(rng() % 60), 1 + (int)(rng() % 150));
        term_resize(t.get(), final_rows, final_cols);

        if (std::string(c.name) == "information screen") {
            // Drawn again at the new size, still waiting for its key.
            ASSERT_TRUE(term_wait_for(t.get(), [](Term *t) {
                return term_row(t, 9).find("Terminal Size: 20 Rows, 60 Columns") !=
                       std::string::npos;
            }, 5000)) << term_screen(t.get());
            term_send(t.get(), "k"); // closes the page only
        } else if (std::string(c.name) == "pause") {
            // Still paused: nothing moves until a key.
            EXPECT_FALSE(term_wait_for(t.get(), [](Term *t) {
                return term_row(t, final_rows - 2).rfind("line ", 0) == 0;
            }, 500)) << term_screen(t.get());
            term_send(t.get(), "k");
        }
        ASSERT_TRUE(term_wait_for(t.get(), scrolling_at_final_size, 5000)) << term_screen(t.get());
        EXPECT_FALSE(term_exited(t.get()));
        term_signal(t.get(), SIGINT);
        ASSERT_EXIT_STATUS(t.get(), 0, 3000);
        EXPECT_TRUE(out_of_curses_mode(t.get()));
        EXPECT_EQ(list_dir(work_dir_of(run.home.path)), std::vector<std::string>{});
    }
}

}  // namespace
