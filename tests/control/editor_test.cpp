// The editor: its choice from the environment, and key e as a user sees it,
// with this test binary standing in for the editor.
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "app/records.h"
#include "control/control.h"
#include "helpers.h"

namespace {

// Run as an editor (STUB_EDITOR_RECORD set), this binary records its
// argument list and the dispositions it was given, optionally ignores the
// keyboard signals, waits STUB_EDITOR_MS, marks the end in RECORD.done and
// exits with STUB_EDITOR_STATUS, all before GoogleTest starts. A script
// could not show its argv[0]: the kernel puts the script's path there.

const char *disposition_of(int sig)
{
    struct sigaction now {};
    sigaction(sig, nullptr, &now);
    return now.sa_handler == SIG_IGN ? "ignored" : "default";
}

void stub_write(const std::string &path, const std::string &text)
{
    std::string part = path + ".part";
    FILE *f = fopen(part.c_str(), "w");
    if (!f)
        _exit(99);
    fputs(text.c_str(), f);
    fclose(f);
    rename(part.c_str(), path.c_str()); // the test never sees half a record
}

int stub_editor()
{
    const char *record = getenv("STUB_EDITOR_RECORD");
    if (!record)
        return 0;
    std::string text = read_file("/proc/self/cmdline");
    for (char &c : text)
        if (c == '\0')
            c = '\n';
    text += std::string("int=") + disposition_of(SIGINT) + " quit=" + disposition_of(SIGQUIT) + "\n";
    if (getenv("STUB_EDITOR_IGNORE_KEYS")) {
        signal(SIGINT, SIG_IGN);
        signal(SIGQUIT, SIG_IGN);
    }
    stub_write(record, text);
    if (getenv("STUB_EDITOR_LEAVE_SCREEN")) {
        // What a full-screen editor sends as it ends: normal screen, cursor
        // shown, keypad back in normal mode.
        const char reset[] = "\033[?1049l\033[?25h\033[?1l\033>";
        ssize_t ignored = write(STDOUT_FILENO, reset, sizeof reset - 1);
        (void)ignored;
    }
    const char *ms = getenv("STUB_EDITOR_MS");
    long wait_ms = ms ? atol(ms) : 0;
    struct timespec left = {wait_ms / 1000, wait_ms % 1000 * 1000000};
    while (nanosleep(&left, &left) != 0) {
    }
    stub_write(std::string(record) + ".done", "");
    const char *status = getenv("STUB_EDITOR_STATUS");
    _exit(status ? atoi(status) : 0);
}

[[maybe_unused]] const int stub_editor_ran = stub_editor();

TEST(EditorProgramName, IsThePartAfterTheLastSlash)
{
    const struct {
        const char *editor, *name;
    } cases[] = {
        {"/usr/bin/vim", "vim"}, {"vim", "vim"}, {"./ed", "ed"},
        {"a//b", "b"},           {"/opt/ed/", ""}, {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(editor_program_name(c.editor), c.name) << c.editor;
}

// Sets or unsets one variable; nullptr unsets.
void put_env(const char *name, const char *value)
{
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

TEST(ChooseEditor, VisualThenEditorByExistenceThenTheFallback)
{
    TempDir tmp;
    const std::string &dir = tmp.path;
    const std::string first = dir + "/first-ed", second = dir + "/second-ed";
    write_file(first, "");  // existence is enough: not executable
    write_file(second, "");
    write_file(dir + "/localed", "");
    mkdir((dir + "/localdir").c_str(), 0700);
    mkdir((dir + "/sub").c_str(), 0700);
    write_file(dir + "/sub/ed", "");
    const std::string missing = dir + "/missing-ed";
    const char *fallback = access("/bin/vi", F_OK) == 0 ? "/bin/vi" : "None";

    enum Expect { VISUAL, EDITOR, FALLBACK };
    const struct {
        const char *visual, *editor;
        Expect expect;
    } cases[] = {
        {first.c_str(), nullptr, VISUAL},
        {first.c_str(), second.c_str(), VISUAL},
        {nullptr, second.c_str(), EDITOR},
        {"no-such-editor-here", second.c_str(), FALLBACK}, // EDITOR is not read
        {missing.c_str(), second.c_str(), FALLBACK},
        {"", second.c_str(), FALLBACK},
        {nullptr, nullptr, FALLBACK},
        {nullptr, "no-such-editor-here", FALLBACK},
        {nullptr, "", FALLBACK},
        {"localed", nullptr, VISUAL}, // bare names are looked for in the cwd
        {"localdir", second.c_str(), VISUAL},
        {"sub/ed", nullptr, VISUAL},
        {nullptr, "localed", EDITOR},
    };

    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    for (const auto &c : cases) {
        put_env("VISUAL", c.visual);
        put_env("EDITOR", c.editor);
        choose_editor();
        std::string label = std::string("VISUAL=") + (c.visual ? c.visual : "(unset)") +
                            " EDITOR=" + (c.editor ? c.editor : "(unset)");
        if (c.expect == FALLBACK) {
            EXPECT_STREQ(reader.editor, fallback) << label;
            continue;
        }
        // The environment's own string, not a copy.
        const char *source = getenv(c.expect == VISUAL ? "VISUAL" : "EDITOR");
        EXPECT_EQ((const void *)reader.editor, (const void *)source) << label;
    }
    unsetenv("VISUAL");
    unsetenv("EDITOR");
    ASSERT_EQ(chdir(cwd), 0);
}

std::string self_path()
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, (size_t)n) : std::string();
}

// The number of a text line ("L0042") shown on a row, or -1.
int line_number_of(const std::string &row)
{
    if (row.size() != 5 || row[0] != 'L' || row.find_first_not_of("0123456789", 1) != std::string::npos)
        return -1;
    return atoi(row.c_str() + 1);
}

// The newest text line on the screen and its row, or {-1, -1}.
std::pair<int, int> last_line_shown(Term *t)
{
    std::vector<std::string> rows = term_rows_text(t);
    for (int r = (int)rows.size() - 1; r >= 0; r--)
        if (line_number_of(rows[r]) > 0)
            return {line_number_of(rows[r]), r};
    return {-1, -1};
}

bool wait_line_after(Term *t, int line, int timeout_ms)
{
    return term_wait_for(t, [&](Term *term) { return last_line_shown(term).first > line; }, timeout_ms);
}

constexpr int kWait = 10000;
const char *const no_editor = "No editor found: set VISUAL or EDITOR to its full path (/usr/bin/nano)";

class EditorLaunch : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string &dir = tmp_.path;
        home_ = dir + "/home";
        bin_ = dir + "/bin";
        ASSERT_EQ(mkdir(home_.c_str(), 0700), 0);
        ASSERT_EQ(mkdir(bin_.c_str(), 0700), 0);
        doc_ = dir + "/doc.txt";
        std::string text;
        char line[16];
        for (int i = 1; i <= 400; i++) {
            snprintf(line, sizeof line, "L%04d\n", i);
            text += line;
        }
        write_file(doc_, text);
        record_ = dir + "/record";
        stub_ = stub_named("stubedit");
    }

    // A link to this binary, so the editor is run under `name`.
    std::string stub_named(const char *name)
    {
        std::string path = bin_ + "/" + name;
        EXPECT_EQ(symlink(self_path().c_str(), path.c_str()), 0);
        return path;
    }

    TermPtr start(const std::vector<std::pair<std::string, std::string>> &env)
    {
        Launch launch = reader_launch(home_, {"-s", "40"}, doc_);
        launch.cwd = tmp_.path;
        launch.env.push_back({"STUB_EDITOR_RECORD", record_});
        launch.env.insert(launch.env.end(), env.begin(), env.end());
        return TermPtr(term_spawn(launch));
    }

    // Waits until the text moves, then presses e.
    void press_e(Term *t)
    {
        ASSERT_TRUE(wait_line_after(t, 2, kWait)) << term_screen(t);
        term_send(t, "e");
    }

    bool wait_file(Term *t, const std::string &path)
    {
        return term_wait_for(t, [&](Term *) { return file_exists(path); }, kWait);
    }

    // The editor's argument list as recorded, one entry a line.
    std::vector<std::string> recorded()
    {
        std::vector<std::string> lines;
        std::string text = read_file(record_), line;
        for (char c : text) {
            if (c == '\n') {
                lines.push_back(line);
                line.clear();
            } else {
                line += c;
            }
        }
        return lines;
    }

    // Key e found nothing to run: the status row says so and the text waits
    // for a key. An e between a poll and the next line's discard is dropped
    // by design, so it is pressed again until it takes.
    void expect_no_editor_told(Term *t)
    {
        auto told = [](Term *x) { return term_row(x, 23).rfind(no_editor, 0) == 0; };
        for (int tries = 0; tries < 3 && !term_wait_for(t, told, kWait / 3); tries++)
            term_send(t, "e");
        EXPECT_TRUE(told(t)) << term_screen(t);
        EXPECT_TRUE(row_settles(t, 21, 500, kWait));
    }

    // The reader is still there, scrolling past `line`; q ends it normally.
    void expect_scrolling_then_quit(Term *t, int line)
    {
        EXPECT_TRUE(wait_line_after(t, line, kWait)) << term_screen(t);
        EXPECT_FALSE(term_exited(t));
        term_send(t, "q");
        EXPECT_EXIT_STATUS(t, 0, kWait);
    }

    TempDir tmp_;
    std::string home_, bin_, doc_, record_, stub_;
};

TEST_F(EditorLaunch, RunsTheEditorWithItsNameTheLineAndTheFileThenScrollsOn)
{
    TermPtr t = start({{"VISUAL", stub_}, {"STUB_EDITOR_MS", "1500"}});
    ASSERT_TRUE(t);
    press_e(t.get());
    ASSERT_TRUE(wait_file(t.get(), record_)) << term_screen(t.get());
    std::vector<std::string> args = recorded();
    ASSERT_EQ(args.size(), 4u) << read_file(record_);
    EXPECT_EQ(args[0], "stubedit");
    EXPECT_EQ(args[2], doc_);
    EXPECT_EQ(args[3], "int=default quit=default");
    // While the editor runs the reader is held on the line that was current.
    ASSERT_EQ(args[1][0], '+');
    int line = atoi(args[1].c_str() + 1);
    EXPECT_TRUE(term_wait_for(t.get(), [&](Term *term) { return last_line_shown(term).first == line; }, 1000))
        << args[1] << "\n" << term_screen(t.get());
    ASSERT_TRUE(wait_file(t.get(), record_ + ".done"));
    expect_scrolling_then_quit(t.get(), line);
    EXPECT_EQ(term_stderr(t.get()), "");
}

TEST_F(EditorLaunch, TheScreenComesBackAsItWasAfterAFullScreenEditor)
{
    TermPtr t = start({{"VISUAL", stub_}, {"STUB_EDITOR_LEAVE_SCREEN", "1"}});
    ASSERT_TRUE(t);
    press_e(t.get());
    ASSERT_TRUE(term_altscreen(t.get()));
    ASSERT_TRUE(wait_file(t.get(), record_ + ".done")) << term_screen(t.get());
    int line = atoi(recorded()[1].c_str() + 1);
    ASSERT_TRUE(wait_line_after(t.get(), line + 1, kWait)) << term_screen(t.get());
    EXPECT_TRUE(term_altscreen(t.get()));
    EXPECT_FALSE(term_cursor_visible(t.get()));
    term_send(t.get(), "q");
    EXPECT_EXIT_STATUS(t.get(), 0, kWait);
    EXPECT_FALSE(term_altscreen(t.get()));
    EXPECT_TRUE(term_cursor_visible(t.get()));
}

TEST_F(EditorLaunch, WhichEditorKeyERuns)
{
    // Exists in the cwd, so chosen; but "None..." means no editor. On PATH
    // too, so a launch would be recorded.
    std::string none = stub_named("None"), nonesuch = stub_named("Nonesuch");
    ASSERT_EQ(symlink(none.c_str(), (tmp_.path + "/None").c_str()), 0);
    ASSERT_EQ(symlink(nonesuch.c_str(), (tmp_.path + "/Nonesuch").c_str()), 0);
    std::string other = stub_named("otheredit");
    const char *path = getenv("PATH");
    std::string search = bin_ + ":" + (path ? path : "/usr/bin:/bin");
    const struct {
        const char *label;
        std::vector<std::pair<std::string, std::string>> env;
        const char *ran; // argv[0] of the editor run, nullptr for none
    } cases[] = {
        {"EDITOR when VISUAL is unset", {{"EDITOR", other}}, "otheredit"},
        {"an error status is ignored", {{"VISUAL", stub_}, {"STUB_EDITOR_STATUS", "7"}}, "stubedit"},
        {"None", {{"VISUAL", "None"}, {"PATH", search}}, nullptr},
        {"None, by its first four letters", {{"VISUAL", "Nonesuch"}, {"PATH", search}}, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        unlink(record_.c_str());
        unlink((record_ + ".done").c_str());
        TermPtr t = start(c.env);
        ASSERT_TRUE(t);
        press_e(t.get());
        int line = last_line_shown(t.get()).first;
        if (c.ran) {
            ASSERT_TRUE(wait_file(t.get(), record_ + ".done")) << term_screen(t.get());
            std::vector<std::string> args = recorded();
            ASSERT_GE(args.size(), 1u);
            EXPECT_EQ(args[0], c.ran);
            line = atoi(args[1].c_str() + 1);
        } else {
            expect_no_editor_told(t.get());
            EXPECT_FALSE(file_exists(record_));
            line = last_line_shown(t.get()).first;
            term_send(t.get(), "x");
        }
        expect_scrolling_then_quit(t.get(), line);
        EXPECT_EQ(term_stderr(t.get()), "");
    }
}

TEST_F(EditorLaunch, MissingBareVisualFallsBackEvenWithEditorSet)
{
    std::string probe = tmp_.path + "/vi-ran";
    bool have_vi = access("/bin/vi", F_OK) == 0;
    // Should the fallback be vim, it leaves at once and says so.
    TermPtr t = start({{"VISUAL", "no-such-editor-here"}, {"EDITOR", stub_},
                       {"VIMINIT", "call writefile([], $VI_PROBE) | qa!"}, {"VI_PROBE", probe}});
    ASSERT_TRUE(t);
    press_e(t.get());
    int line = last_line_shown(t.get()).first;
    char target[PATH_MAX] = "";
    if (have_vi && realpath("/bin/vi", target) && strstr(editor_program_name(target), "vim")) {
        EXPECT_TRUE(wait_file(t.get(), probe)) << term_screen(t.get());
    }
    if (have_vi && !wait_line_after(t.get(), line + 3, 3000))
        term_send(t.get(), "\033:q!\r"); // another vi: leave it by hand
    if (!have_vi) {
        expect_no_editor_told(t.get());
        line = last_line_shown(t.get()).first;
        term_send(t.get(), "x");
    }
    EXPECT_TRUE(wait_line_after(t.get(), line + 3, kWait)) << term_screen(t.get());
    EXPECT_FALSE(file_exists(record_));
    expect_scrolling_then_quit(t.get(), line);
}

TEST_F(EditorLaunch, ResizeDuringTheEditorRebuildsTheScreenAfterwards)
{
    TermPtr t = start({{"VISUAL", stub_}, {"STUB_EDITOR_MS", "1500"}});
    ASSERT_TRUE(t);
    press_e(t.get());
    ASSERT_TRUE(wait_file(t.get(), record_)) << term_screen(t.get());
    int line = atoi(recorded().at(1).c_str() + 1);
    term_resize(t.get(), 30, 100);
    ASSERT_TRUE(wait_file(t.get(), record_ + ".done"));
    // The next line comes in on the entry row of the new size.
    EXPECT_TRUE(term_wait_for(t.get(), [&](Term *term) {
        auto [number, row] = last_line_shown(term);
        return number > line && row == 30 - 2;
    }, kWait)) << term_screen(t.get());
    expect_scrolling_then_quit(t.get(), line);
    EXPECT_EQ(term_stderr(t.get()), "");
}

TEST_F(EditorLaunch, CtrlCAndQuitKeyDuringTheEditorAreTheEditorsAlone)
{
    TermPtr t = start({{"VISUAL", stub_}, {"STUB_EDITOR_MS", "1500"}, {"STUB_EDITOR_IGNORE_KEYS", "1"}});
    ASSERT_TRUE(t);
    press_e(t.get());
    ASSERT_TRUE(wait_file(t.get(), record_)) << term_screen(t.get());
    int line = atoi(recorded().at(1).c_str() + 1);
    term_send(t.get(), ctrl_key('c'));
    term_send(t.get(), "\x1c"); // Ctrl-backslash
    ASSERT_TRUE(wait_file(t.get(), record_ + ".done"));
    EXPECT_TRUE(wait_line_after(t.get(), line, kWait)) << term_screen(t.get());
    EXPECT_FALSE(term_exited(t.get()));
    // Afterwards Ctrl-C is the reader's again: the cleanup exit.
    term_send(t.get(), ctrl_key('c'));
    EXPECT_EXIT_STATUS(t.get(), 0, kWait);
    EXPECT_FALSE(file_exists(work_dir_of(home_) + "/drift_file"));
}

TEST_F(EditorLaunch, AnEditorThatCannotRunIsReportedByTheChild)
{
    std::string plain = tmp_.path + "/not-executable";
    write_file(plain, "");
    TermPtr t = start({{"VISUAL", plain}});
    ASSERT_TRUE(t);
    press_e(t.get());
    int line = last_line_shown(t.get()).first;
    EXPECT_TRUE(term_wait_for(t.get(), [](Term *term) {
        return term_stderr(term).find("execlp(): Permission denied") != std::string::npos;
    }, kWait)) << term_stderr(t.get());
    // The child's cleanup exit took the working copy; the reader goes on
    // from the stream it has open, where it was: in turbo to the end, no
    // line comes twice and the count stops at the total.
    EXPECT_TRUE(wait_line_after(t.get(), line + 3, kWait)) << term_screen(t.get());
    EXPECT_FALSE(file_exists(work_dir_of(home_) + "/drift_file"));
    term_send(t.get(), " ");
    // The closing wait: the last line above the bar and nothing moving.
    ASSERT_TRUE(term_wait_for(t.get(), [](Term *term) {
        return term_row(term, 21) == "L0400" && term_now_ms() - term_last_change_ms(term) > 500;
    }, kWait)) << term_screen(t.get());
    EXPECT_SCREEN_ROW_CONTAINS(t.get(), 23, "400/400 - 100%", 0);
    for (int row = 0; row < 21; row++)
        EXPECT_EQ(line_number_of(term_row(t.get(), row)), 379 + row) << term_screen(t.get());
    EXPECT_EQ(term_press_until_exit(t.get(), "k", kWait), 0);
}

} // namespace
