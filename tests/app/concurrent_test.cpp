// Two runs at once with the same HOME, on different texts: each shows its
// own whole text to the end, though both use the same work file names,
// whether the second starts a second after the first or while the first
// is still preparing its text (a slow fmt), and the first to end leaves
// the other's working copy alone.
#include <sys/stat.h>

#include <cstdlib>

#include <string>
#include <vector>

#include "helpers.h"

namespace {

// Longer than a stream's buffer, so that a run still reads its file from
// disk a second after it started.
const int text_lines = 300;
const std::string padding(40, '.');

std::string line_of(const std::string &word, int i)
{
    return word + " " + std::to_string(i) + " " + padding;
}

std::string text_of(const std::string &word)
{
    std::string text;
    for (int i = 1; i <= text_lines; i++)
        text += line_of(word, i) + "\n";
    return text;
}

// At the end: every line was shown (the bar counts them), and the screen
// holds the text's own last lines in order.
bool shows_whole_text(Term *t, const std::string &word)
{
    const std::string last = std::to_string(text_lines) + "/" + std::to_string(text_lines) + " - 100%";
    if (term_row(t, 23).find(last) == std::string::npos)
        return false;
    for (int row = 0; row <= 21; row++)
        if (term_row(t, row) != line_of(word, text_lines - 21 + row))
            return false;
    return true;
}

struct Pair : Sandbox {
    std::string slow_bin = dir.path + "/bin";
    bool slow_fmt = false; // an fmt first on PATH that takes a second
    int gap_ms = 1000;     // between the two starts

    Pair()
    {
        mkdir(slow_bin.c_str(), 0700);
        write_script(slow_bin + "/fmt", "sleep 1\nexec /usr/bin/fmt \"$@\"\n");
    }

    Launch launch(const std::string &word, bool piped)
    {
        Launch s;
        if (piped) {
            s = piped_launch(home, {"-s", "10"}, text_of(word));
        } else {
            std::string file = dir.path + "/" + word + ".txt";
            write_file(file, text_of(word));
            s = reader_launch(home, {"-s", "10"}, file);
        }
        if (slow_fmt)
            s.env.push_back({"PATH", slow_bin + ":" + getenv("PATH")});
        return s;
    }

    // Starts the first, then the second gap_ms later; the first ends
    // while the second still scrolls, then the second ends.
    void run_both(bool piped)
    {
        TermPtr first(term_spawn(launch("alpha", piped)));
        ASSERT_TRUE(first);
        term_wait_for(first.get(), [](Term *) { return false; }, gap_ms); // the second comes later
        TermPtr second(term_spawn(launch("beta", piped)));
        ASSERT_TRUE(second);

        ASSERT_TRUE(term_wait_for(first.get(), [](Term *t) { return shows_whole_text(t, "alpha"); },
                                  10000))
            << term_screen(first.get());
        EXPECT_FALSE(term_exited(second.get())) << "the second ended before the first";
        ASSERT_EQ(term_press_until_exit(first.get(), "k", 3000), 0);

        ASSERT_TRUE(term_wait_for(second.get(), [](Term *t) { return shows_whole_text(t, "beta"); },
                                  10000))
            << term_screen(second.get());
        ASSERT_EQ(term_press_until_exit(second.get(), "k", 3000), 0);
        EXPECT_EQ(list_dir(work_dir_of(home)), std::vector<std::string>{});
    }
};

TEST(Concurrent, TwoFileRunsEachShowTheirWholeText)
{
    Pair pair;
    pair.run_both(false);
}

TEST(Concurrent, TwoPipedRunsEachShowTheirWholeText)
{
    Pair pair;
    pair.run_both(true);
}

// The second starts while the first's fmt still runs: it waits for the
// first to open its text before it prepares its own.
TEST(Concurrent, OverlappingPreparationsEachShowTheirWholeText)
{
    for (bool piped : {false, true}) {
        SCOPED_TRACE(piped ? "piped" : "file");
        Pair pair;
        pair.slow_fmt = true;
        pair.gap_ms = 300;
        pair.run_both(piped);
    }
}

}  // namespace
