// Self-tests of the terminal harness, run against the shell and a small
// curses fixture instead of the real program.
#include "harness.h"

#include <cstdlib>

#include <gtest/gtest-spi.h>
#include <sys/stat.h>

namespace {

const int WAIT_MS = 5000;

Launch sh_launch(const std::string &script)
{
    Launch launch;
    launch.program = "/bin/sh";
    launch.args = {"-c", script};
    return launch;
}

Launch fixture_launch()
{
    Launch launch;
    launch.program = HARNESS_FIXTURE;
    return launch;
}

// Writes a fake report where the child's sanitizer options send reports.
const char *FAKE_REPORT =
    R"(d=${ASAN_OPTIONS#log_path=}; d=${d%%:*}; echo "ERROR: AddressSanitizer: fake report" > "$d.$$")";

TEST(Harness, ReadsTextAttributesAndColours)
{
    TermPtr t(term_spawn(sh_launch(
        R"(printf '\033[1mB\033[0m \033[7mR\033[0m \033[31mr\033[42mg\033[0m \033[4mu\033[0m )"
        R"(\033[38;5;200mx\033[48;5;17my\033[0m é 漢Z')")));
    ASSERT_TRUE(t);
    const std::string text = "B R rg u xy é 漢Z";  // 17 columns: the wide char takes two
    ASSERT_SCREEN_ROW(t.get(), 0, text, WAIT_MS);
    EXPECT_EQ(term_row_raw(t.get(), 0), text + std::string(80 - 17, ' '));
    EXPECT_EQ(term_cursor(t.get()), std::make_pair(0, 17));

    struct Case {
        int col;
        const char *text;
        bool bold, reverse, underline;
        int fg, bg;
    };
    const Case cases[] = {
        {0, "B", true, false, false, -1, -1},   {1, " ", false, false, false, -1, -1},
        {2, "R", false, true, false, -1, -1},   {4, "r", false, false, false, 1, -1},
        {5, "g", false, false, false, 1, 2},    {7, "u", false, false, true, -1, -1},
        {9, "x", false, false, false, 200, -1}, {10, "y", false, false, false, 200, 17},
        {12, "é", false, false, false, -1, -1}, {14, "漢", false, false, false, -1, -1},
        {15, "", false, false, false, -1, -1},  {16, "Z", false, false, false, -1, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("col " + std::to_string(c.col));
        Cell cell = term_cell(t.get(), 0, c.col);
        EXPECT_EQ(cell.text, c.text);
        EXPECT_EQ(cell.bold, c.bold);
        EXPECT_EQ(cell.reverse, c.reverse);
        EXPECT_EQ(cell.underline, c.underline);
        EXPECT_EQ(cell.fg, c.fg);
        EXPECT_EQ(cell.bg, c.bg);
    }
    EXPECT_NE(term_raw(t.get()).find("\033[1mB"), std::string::npos);
    EXPECT_EXIT_STATUS(t.get(), 0, WAIT_MS);
}

TEST(Harness, ExitStatusOnPtyAndPlain)
{
    struct Case {
        const char *program;
        const char *script;
        int status;
    };
    const Case cases[] = {
        {"/bin/sh", "exit 0", 0},
        {"/bin/sh", "exit 3", 3},
        {"/bin/sh", "kill -TERM $$", 128 + 15},
        {"/bin/sh", "kill -KILL $$", 128 + 9},
        {"/nonexistent/program", "", 127},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.script);
        Launch launch = sh_launch(c.script);
        launch.program = c.program;
        TermPtr t(term_spawn(launch));
        ASSERT_TRUE(t);
        EXPECT_EXIT_STATUS(t.get(), c.status, WAIT_MS);
        EXPECT_TRUE(term_exited(t.get()));
        EXPECT_EQ(run_plain(launch, WAIT_MS).status, c.status);
        if (c.status == 127) {
            EXPECT_NE(term_stderr(t.get()).find("harness: cannot run"), std::string::npos);
        }
    }
}

TEST(Harness, PtySizeAndEnvironment)
{
    struct Case {
        int rows, cols;
        const char *size;
    };
    for (const Case &c : {Case{24, 80, "24 80"}, Case{10, 40, "10 40"}}) {
        Launch launch = sh_launch(R"(stty size; echo "$TERM"; test -t 0 && echo tty)");
        launch.rows = c.rows;
        launch.cols = c.cols;
        TermPtr t(term_spawn(launch));
        ASSERT_TRUE(t);
        EXPECT_SCREEN(t.get(), (std::vector<std::string>{c.size, "xterm-256color", "tty"}), WAIT_MS);
        EXPECT_EQ(term_rows(t.get()), c.rows);
        EXPECT_EQ(term_cols(t.get()), c.cols);
    }
}

TEST(Harness, EnvironmentIsRebuilt)
{
    // Set in the parent to show they do not leak through.
    setenv("VISUAL", "parent-visual", 1);
    setenv("FOO", "parent-foo", 1);
    const char *script =
        R"(echo "T=$TERM H=${HOME-unset} V=${VISUAL-unset} E=${EDITOR-unset} F=${FOO-unset} P=${PATH:+set} L=${LANG:+set}")";
    struct Case {
        std::string home;
        bool unset_home;
        std::vector<std::pair<std::string, std::string>> env;
        std::vector<std::string> unset_env;
        const char *out;
    };
    const Case cases[] = {
        {"/h", false, {}, {}, "T=xterm-256color H=/h V=unset E=unset F=unset P=set L=set\n"},
        {"/h", true, {{"VISUAL", "vi"}, {"FOO", "1"}}, {}, "T=xterm-256color H=unset V=vi E=unset F=1 P=set L=set\n"},
        {"", false, {{"TERM", "dumb"}, {"EDITOR", "ed"}}, {}, "T=dumb H=unset V=unset E=ed F=unset P=set L=set\n"},
        {"/h", false, {{"FOO", "1"}}, {"TERM", "FOO"}, "T= H=/h V=unset E=unset F=unset P=set L=set\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.out);
        Launch launch = sh_launch(script);
        launch.home = c.home;
        launch.unset_home = c.unset_home;
        launch.env = c.env;
        launch.unset_env = c.unset_env;
        RunResult r = run_plain(launch, WAIT_MS);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, 0);
    }
    unsetenv("VISUAL");
    unsetenv("FOO");
}

TEST(Harness, CursesProgramStateKeysAndExit)
{
    TermPtr t(term_spawn(fixture_launch()));
    ASSERT_TRUE(t);
    ASSERT_SCREEN_ROW(t.get(), 23, "bottom", WAIT_MS);
    EXPECT_SCREEN_ROW(t.get(), 0, "size 24x80", WAIT_MS);
    EXPECT_TRUE(term_altscreen(t.get()));
    EXPECT_FALSE(term_cursor_visible(t.get()));

    Cell bold = term_cell(t.get(), 2, 0), rev = term_cell(t.get(), 2, 5);
    Cell red = term_cell(t.get(), 2, 9), blue = term_cell(t.get(), 2, 13);
    EXPECT_TRUE(bold.bold);
    EXPECT_TRUE(rev.reverse);
    EXPECT_EQ(red.fg, 1);
    EXPECT_EQ(red.bg, -1);
    EXPECT_EQ(blue.fg, 7);
    EXPECT_EQ(blue.bg, 4);

    struct Case {
        std::string seq;
        const char *name;
    };
    const Case keys[] = {
        {KEY_UP_SEQ, "KEY_UP"},       {KEY_DOWN_SEQ, "KEY_DOWN"},
        {KEY_LEFT_SEQ, "KEY_LEFT"},   {KEY_RIGHT_SEQ, "KEY_RIGHT"},
        {KEY_HOME_SEQ, "KEY_HOME"},   {KEY_END_SEQ, "KEY_END"},
        {KEY_PPAGE_SEQ, "KEY_PPAGE"}, {KEY_NPAGE_SEQ, "KEY_NPAGE"},
        {KEY_IC_SEQ, "KEY_IC"},       {KEY_DC_SEQ, "KEY_DC"},
        {KEY_BACKSPACE_SEQ, "KEY_BACKSPACE"},
        {KEY_F1_SEQ, "KEY_F(1)"},     {KEY_F2_SEQ, "KEY_F(2)"},
        {KEY_F3_SEQ, "KEY_F(3)"},     {KEY_F4_SEQ, "KEY_F(4)"},
        {KEY_F5_SEQ, "KEY_F(5)"},     {KEY_F6_SEQ, "KEY_F(6)"},
        {KEY_F7_SEQ, "KEY_F(7)"},     {KEY_F8_SEQ, "KEY_F(8)"},
        {KEY_F9_SEQ, "KEY_F(9)"},     {KEY_F10_SEQ, "KEY_F(10)"},
        {KEY_F11_SEQ, "KEY_F(11)"},   {KEY_F12_SEQ, "KEY_F(12)"},
        {ctrl_key('a'), "^A"},        {"z", "z"},
    };
    for (const Case &k : keys) {
        term_send(t.get(), k.seq);
        EXPECT_SCREEN_ROW(t.get(), 3, std::string("key ") + k.name, WAIT_MS);
    }

    term_send(t.get(), "bb");
    EXPECT_TRUE(term_wait_for(t.get(), [](Term *x) { return term_bells(x) == 2; }, WAIT_MS));

    term_send(t.get(), "x");
    EXPECT_EXIT_STATUS(t.get(), 3, WAIT_MS);
    EXPECT_FALSE(term_altscreen(t.get()));
    EXPECT_TRUE(term_cursor_visible(t.get()));
}

TEST(Harness, ResizeReachesChildInBothModes)
{
    struct Case {
        const char *name;
        bool piped;
    };
    for (const Case &c : {Case{"pty", false}, Case{"piped", true}}) {
        SCOPED_TRACE(c.name);
        Launch launch = fixture_launch();
        if (c.piped) {
            launch.stdin_pipe = true;
            launch.stdin_data = "abc\n";
            launch.args = {"-t", "{PTY}"};
        }
        TermPtr t(term_spawn(launch));
        ASSERT_TRUE(t);
        ASSERT_SCREEN_ROW(t.get(), 0, "size 24x80", WAIT_MS);
        if (c.piped) {
            EXPECT_SCREEN_ROW(t.get(), 1, "stdin 4", WAIT_MS);
        }
        term_resize(t.get(), 30, 100);
        EXPECT_EQ(term_rows(t.get()), 30);
        EXPECT_EQ(term_cols(t.get()), 100);
        EXPECT_SCREEN_ROW(t.get(), 0, "size 30x100", WAIT_MS);
        EXPECT_SCREEN_ROW(t.get(), 29, "bottom", WAIT_MS);
        term_resize(t.get(), 12, 50);
        EXPECT_SCREEN_ROW(t.get(), 0, "size 12x50", WAIT_MS);
        term_send(t.get(), "q");
        EXPECT_EXIT_STATUS(t.get(), 0, WAIT_MS);
    }
}

TEST(Harness, PipedModeFeedsStdinAndNamesThePty)
{
    Launch launch = sh_launch(R"(n=$(wc -c); echo "got $n" > "$1"; echo "on stdout")");
    launch.args.push_back("sh");
    launch.args.push_back("{PTY}");
    launch.stdin_pipe = true;
    launch.stdin_data = std::string(1000000, 'x');  // far more than a pipe holds
    TermPtr t(term_spawn(launch));
    ASSERT_TRUE(t);
    EXPECT_SCREEN(t.get(), (std::vector<std::string>{"got 1000000", "on stdout"}), WAIT_MS);
    EXPECT_EXIT_STATUS(t.get(), 0, WAIT_MS);
}

TEST(Harness, StderrCapturedApartOrOnScreen)
{
    for (bool apart : {true, false}) {
        SCOPED_TRACE(apart ? "pipe" : "pty");
        Launch launch = sh_launch("echo out; echo err >&2");
        launch.stderr_pipe = apart;
        TermPtr t(term_spawn(launch));
        ASSERT_TRUE(t);
        EXPECT_EXIT_STATUS(t.get(), 0, WAIT_MS);
        std::vector<std::string> screen{"out"};
        if (!apart)
            screen.push_back("err");
        EXPECT_SCREEN(t.get(), screen, WAIT_MS);
        EXPECT_EQ(term_stderr(t.get()), apart ? "err\n" : "");
    }
}

TEST(Harness, BellsCursorAndAltscreen)
{
    struct Case {
        const char *script;
        int bells;
        bool visible, alt;
    };
    const Case cases[] = {
        {R"(printf '\a\a\a')", 3, true, false},
        {R"(printf '\033[?25l')", 0, false, false},
        {R"(printf '\033[?25l\033[?25h')", 0, true, false},
        {R"(printf '\033[?1049h')", 0, true, true},
        {R"(printf '\033[?1049h\033[?1049l')", 0, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.script);
        TermPtr t(term_spawn(sh_launch(std::string(c.script) + "; echo done")));
        ASSERT_TRUE(t);
        ASSERT_SCREEN_TEXT(t.get(), "done", WAIT_MS);
        EXPECT_EQ(term_bells(t.get()), c.bells);
        EXPECT_EQ(term_cursor_visible(t.get()), c.visible);
        EXPECT_EQ(term_altscreen(t.get()), c.alt);
    }
}

TEST(Harness, FailureMessagesShowTheWholeScreen)
{
    EXPECT_EQ(format_screen({"a", "", "b"}), "  0|a\n  1|\n  2|b\n");
    EXPECT_EQ(format_timeout("row 1 == \"x\"", 50, {"a", "b"}),
              "timed out after 50 ms waiting for row 1 == \"x\"\nscreen seen:\n  0|a\n  1|b\n");
    EXPECT_EQ(format_screen_diff({"a", "x"}, {"a", "b", ""}),
              "screen differs (rows marked * differ; rows not listed as expected are blank)\n"
              "expected:\n   0|a\n*  1|x\nactual:\n   0|a\n*  1|b\n   2|\n");

    TermPtr t(term_spawn(sh_launch("printf 'hello\\nworld'")));
    ASSERT_TRUE(t);
    ASSERT_SCREEN_ROW(t.get(), 1, "world", WAIT_MS);

    ::testing::AssertionResult row = term_check_row(t.get(), 0, "nope", 30);
    EXPECT_FALSE(row);
    for (const char *part : {"waiting for row 0 == \"nope\"", "  0|hello\n", "  1|world\n", " 23|\n"})
        EXPECT_NE(std::string(row.message()).find(part), std::string::npos) << part;

    ::testing::AssertionResult text = term_check_text(t.get(), "absent", 30);
    EXPECT_FALSE(text);
    EXPECT_NE(std::string(text.message()).find("  1|world\n"), std::string::npos);

    ::testing::AssertionResult whole = term_check_screen(t.get(), {"hello", "word"}, 30);
    EXPECT_FALSE(whole);
    for (const char *part : {"expected:\n   0|hello\n*  1|word\n", "actual:\n   0|hello\n*  1|world\n"})
        EXPECT_NE(std::string(whole.message()).find(part), std::string::npos) << part;
    EXPECT_TRUE(term_check_screen(t.get(), {"hello", "world"}, 30));
    EXPECT_TRUE(term_check_row_contains(t.get(), 1, "orl", 30));

    ::testing::AssertionResult exit = term_check_exit(t.get(), 5, WAIT_MS);
    EXPECT_FALSE(exit);
    EXPECT_NE(std::string(exit.message()).find("got exit status 0"), std::string::npos);
}

TEST(Harness, RowChangeTimes)
{
    TermPtr t(term_spawn(
        sh_launch("stty -echo; echo ready; read x; printf one; sleep 0.3; printf '\\rtwo'; sleep 5")));
    ASSERT_TRUE(t);
    ASSERT_SCREEN_ROW(t.get(), 0, "ready", WAIT_MS);
    int64_t sent = term_now_ms();
    term_send(t.get(), KEY_ENTER_SEQ);
    ASSERT_SCREEN_ROW(t.get(), 1, "one", WAIT_MS);
    int64_t one = term_row_changed_ms(t.get(), 1);
    int64_t two = term_wait_row_differs(t.get(), 1, "one", WAIT_MS);
    EXPECT_EQ(term_row(t.get(), 1), "two");
    EXPECT_GE(one, sent);
    // Loose bounds: the child sleeps 300 ms between the two writes.
    EXPECT_GE(two - one, 200);
    EXPECT_LT(two - one, 3000);
    EXPECT_GE(term_last_change_ms(t.get()), two);
    EXPECT_EQ(term_wait_row_change(t.get(), 1, 50), -1);
}

TEST(Harness, RunPlainHasNoTerminal)
{
    struct Case {
        const char *script;
        std::string stdin_data;
        const char *out, *err;
        int status;
    };
    const Case cases[] = {
        {"echo hi; echo e >&2; exit 4", "", "hi\n", "e\n", 4},
        {"cat", "abc", "abc", "", 0},
        {"wc -c", std::string(1000000, 'x'), "1000000\n", "", 0},
        {"exit 0", std::string(1000000, 'x'), "", "", 0},  // input never read: no SIGPIPE here
        {"tty", "", "not a tty\n", "", 1},
        {"(exec 3</dev/tty) 2>/dev/null && echo tty || echo none", "", "none\n", "", 0},
        {"kill -TERM $$", "", "", "", 128 + 15},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.script);
        Launch launch = sh_launch(c.script);
        launch.stdin_data = c.stdin_data;
        RunResult r = run_plain(launch, WAIT_MS);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, c.status);
    }

    int64_t start = term_now_ms();
    RunResult slow = run_plain(sh_launch("echo started; sleep 10"), 200);
    EXPECT_EQ(slow.status, -1);
    EXPECT_EQ(slow.out, "started\n");
    EXPECT_LT(term_now_ms() - start, 3000);
}

TEST(Harness, SanitizerReportFailsTheTest)
{
    Launch launch = sh_launch(FAKE_REPORT);
    Term *t = term_spawn(launch);
    ASSERT_TRUE(t);
    EXPECT_EXIT_STATUS(t, 0, WAIT_MS);
    EXPECT_NONFATAL_FAILURE(term_close(t), "AddressSanitizer: fake report");
    EXPECT_NONFATAL_FAILURE(run_plain(launch, WAIT_MS), "AddressSanitizer: fake report");
}

TEST(Harness, FileHelpers)
{
    std::string dir;
    {
        TempDir tmp;
        dir = tmp.path;
        ASSERT_EQ(dir.rfind("/tmp/", 0), 0u);
        EXPECT_TRUE(list_dir(dir).empty());
        write_file(dir + "/b", "two");
        write_file(dir + "/a", std::string("x\0y", 3));
        std::string home = dir + "/home";
        ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
        EXPECT_EQ(work_dir_of(home), home + "/.drifterm");
        ASSERT_EQ(mkdir(work_dir_of(home).c_str(), 0500), 0);  // removable all the same
        EXPECT_EQ(list_dir(dir), (std::vector<std::string>{"a", "b", "home"}));
        EXPECT_EQ(read_file(dir + "/a"), std::string("x\0y", 3));
        EXPECT_EQ(read_file(dir + "/missing"), "");
        EXPECT_TRUE(file_exists(dir + "/b"));
        EXPECT_FALSE(file_exists(dir + "/missing"));
    }
    EXPECT_FALSE(file_exists(dir));
    EXPECT_NONFATAL_FAILURE(remove_tree("/etc/hostname"), "refuses");
}

}  // namespace
