// Two runs at once with the same HOME, on different texts, the second
// started a second after the first: each shows its own whole text to the
// end, though both use the same work file names, and the first to end
// removes the other's working copy while the other still reads it.
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
    Launch launch(const std::string &word, bool piped)
    {
        if (piped)
            return piped_launch(home, {"-s", "10"}, text_of(word));
        std::string file = dir.path + "/" + word + ".txt";
        write_file(file, text_of(word));
        return reader_launch(home, {"-s", "10"}, file);
    }

    // Starts the first, then the second a second later; the first ends
    // while the second still scrolls, then the second ends.
    void run_both(bool piped)
    {
        TermPtr first(term_spawn(launch("alpha", piped)));
        ASSERT_TRUE(first);
        term_wait_for(first.get(), [](Term *) { return false; }, 1000); // the second comes a second later
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

}  // namespace
