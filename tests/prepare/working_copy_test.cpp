// Preparing the working copy: the pure helpers, the squeeze rule, and the
// whole preparation as a user sees it, with stub filters.
#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/records.h"
#include "helpers.h"
#include "prepare/prepare.h"

namespace {

TEST(IsPdfName, LooksAtTheTextFromTheLastDot)
{
    for (const char *path : {"notes.pdf", "notes.pdfx", "old.pdf/notes", "report.pdf", "report.pdfa", ".pdf"})
        EXPECT_TRUE(is_pdf_name(path)) << path;
    for (const char *path : {"notes.PDF", "notes.pdf.gz", "notes", "report.PDF", "report.pdf.txt", "a.pd"})
        EXPECT_FALSE(is_pdf_name(path)) << path;
}

TEST(ShellQuote, TheShellGetsBackExactlyTheText)
{
    const char *texts[] = {
        "",          "plain",        "a blank",     "it's",       "''",     "a\"b",
        "$HOME",     "`touch x`",    "$(touch x)",  "back\\slash", "new\nline", "-n",
        "semi;colon|pipe&amp>redir<in", "*?[glob]", "tab\there",  "~user",   "'$(x)'\\'",
    };
    for (const char *text : texts) {
        std::string command = "printf %s " + shell_quote(text);
        FILE *shell = popen(command.c_str(), "r");
        ASSERT_NE(shell, nullptr);
        std::string out;
        char buf[256];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, shell)) > 0)
            out.append(buf, n);
        EXPECT_EQ(pclose(shell), 0) << text;
        EXPECT_EQ(out, text);
    }
}

TEST(ChooseFilter, EnvironmentThenSystemThenBundledThenSourceTree)
{
    TempDir tmp;
    // Each candidate path exists or not; the letters name the expected choice.
    struct Case {
        const char *env;
        bool system, bundled, source;
        char expect; // e(nv), s(ystem), b(undled), t(ree) or n(one)
    } cases[] = {
        {"/my/filter", true, true, true, 'e'}, {"/my/filter", false, false, false, 'e'},
        {"", true, true, true, 's'},           {nullptr, true, false, false, 's'},
        {nullptr, false, true, true, 'b'},     {"", false, true, false, 'b'},
        {nullptr, false, false, true, 't'},    {nullptr, false, false, false, 'n'},
    };
    for (const Case &c : cases) {
        std::string paths[3];
        const char *names[3] = {"system", "bundled", "tree"};
        bool present[3] = {c.system, c.bundled, c.source};
        for (int i = 0; i < 3; i++) {
            paths[i] = tmp.path + "/" + (present[i] ? "" : "no-") + names[i];
            if (present[i])
                write_file(paths[i], "");
        }
        const char *got = choose_filter(c.env, paths[0].c_str(), paths[1].c_str(), paths[2].c_str());
        std::string want = c.expect == 'e' ? c.env
                           : c.expect == 's' ? paths[0]
                           : c.expect == 'b' ? paths[1]
                           : c.expect == 't' ? paths[2] : "(none)";
        EXPECT_EQ(got ? got : "(none)", want) << (c.env ? c.env : "(unset)") << " " << c.system
                                              << c.bundled << c.source;
        for (const std::string &path : paths)
            unlink(path.c_str());
    }
}

TEST(ProgramDirectory, FromProcThenArgv0ThenPath)
{
    TempDir tmp;
    std::string bin = tmp.path + "/bin", elsewhere = tmp.path + "/elsewhere";
    mkdir(bin.c_str(), 0700);
    mkdir(elsewhere.c_str(), 0700);
    write_script(bin + "/prog", "");
    ASSERT_EQ(symlink((bin + "/prog").c_str(), (elsewhere + "/link").c_str()), 0);
    char real[PATH_MAX];
    ASSERT_NE(realpath(bin.c_str(), real), nullptr);
    const std::string none = tmp.path + "/no-proc-here";
    struct Case {
        std::string proc_exe, argv0, path, want;
    } cases[] = {
        {elsewhere + "/link", "ignored", "", bin},     // /proc/self/exe names the binary itself
        {none, bin + "/prog", "", real},               // a path run
        {none, elsewhere + "/link", "", real},         // resolved through the link
        {none, "prog", "/nonexistent:" + bin, real},  // found on PATH
        {none, "prog", "/nonexistent", ""},
        {none, "", "", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(program_directory(c.proc_exe.c_str(), c.argv0.c_str(), c.path.c_str()), c.want)
            << c.proc_exe << " " << c.argv0 << " " << c.path;
}

// What fmt is given for text with other characters than ASCII, and what
// comes back from what fmt could write of it.
TEST(ReflowInCharacters, PlaceholdersStandForTheCharactersAndGoBack)
{
    const std::string p1 = "\x80", p2 = "\x80\x80";
    struct Case {
        const char *label;
        std::string original, encoded;
    } cases[] = {
        {"ASCII as it is", "plain text\n", "plain text\n"},
        {"Cyrillic: one a letter", "\xd0\xbc\xd0\xb8\xd1\x80 ok", p1 + p1 + p1 + " ok"},
        {"wide CJK: two each", "\xe6\x97\xa5\xe6\x9c\xac", p2 + p2},
        {"fullwidth A", "\xef\xbc\xa1", p2},
        {"emoji, four bytes", "\xf0\x9f\x98\x80!", p2 + "!"},
        {"no-break space is no space to fmt", "a\xc2\xa0" "b", "a" + p1 + "b"},
        {"stray bytes one each", "\xff\x80 \xc3", p1 + p1 + " " + p1},
        {"cut sequence: each byte", "\xe2\x82 x", p1 + p1 + " x"},
        {"overlong and surrogate", "\xc0\xaf\xed\xa0\x80", p1 + p1 + p1 + p1 + p1},
        {"the placeholder itself", "\x80\x80", p2},
        {"past the 64 KiB buffers", repeat("\xd1\x8f ", 50000) + "\xe6\x97\xa5", repeat(p1 + " ", 50000) + p2},
    };
    for (const Case &c : cases) {
        FILE *in = stream_of(c.original);
        FILE *out = tmpfile();
        encode_for_fmt(in, out);
        EXPECT_EQ(contents_from_start(out), c.encoded) << c.label;
        // What fmt gives back unchanged decodes to the original.
        FILE *back = tmpfile();
        rewind(in);
        EXPECT_TRUE(decode_from_fmt(out, in, back)) << c.label;
        EXPECT_EQ(contents_from_start(back), c.original) << c.label;
        fclose(back);
        fclose(in);
        fclose(out);
    }

    // fmt's output of the encoded text: white space changed only, or more.
    const std::string cyrillic = "\xd0\xb0\xd0\xb1 \xd0\xb2 \xe6\x97\xa5 end";
    struct Back {
        const char *label;
        std::string reflowed, decoded; // empty decoded: refused
    } backs[] = {
        {"as it went", p1 + p1 + " " + p1 + " " + p2 + " end",  cyrillic},
        {"broken at a blank", p1 + p1 + "\n" + p1 + "  " + p2 + "\nend\n",
         "\xd0\xb0\xd0\xb1\n\xd0\xb2  \xe6\x97\xa5\nend\n"},
        {"a placeholder lost", p1 + " " + p1 + " " + p2 + " end", ""},
        {"one too many", p1 + p1 + " " + p1 + " " + p2 + p1 + " end", ""},
        {"a wide pair split", p1 + p1 + " " + p1 + " " + p1 + " " + p1 + " end", ""},
        {"a letter changed", p1 + p1 + " " + p1 + " " + p2 + " End", ""},
        {"text cut short", p1 + p1 + " " + p1, ""},
    };
    for (const Back &b : backs) {
        FILE *reflowed = stream_of(b.reflowed);
        FILE *original = stream_of(cyrillic);
        FILE *out = tmpfile();
        bool ok = decode_from_fmt(reflowed, original, out);
        EXPECT_EQ(ok, !b.decoded.empty()) << b.label;
        if (ok) {
            EXPECT_EQ(contents_from_start(out), b.decoded) << b.label;
        }
        fclose(reflowed);
        fclose(original);
        fclose(out);
    }
}

// Points the work files into `dir`, as a unit test may: they are globals.
void use_work_dir(const std::string &dir)
{
    snprintf(work_files.converted_path, sizeof work_files.converted_path, "%s/drift_file", dir.c_str());
    snprintf(work_files.temp_path, sizeof work_files.temp_path, "%s/drift_tmp", dir.c_str());
}

TEST(SqueezeBlankLines, KeepsOnlyTheFirstOfEachRunOfBlankReads)
{
    const std::string long_line(1023, 'x');
    struct Case {
        const char *name;
        std::string in, out;
    } cases[] = {
        {"empty file", "", ""},
        {"three blank lines", "one\n\n\n\ntwo\n", "one\n\ntwo\n"},
        {"single blank kept", "one\n\ntwo\n\nthree\n", "one\n\ntwo\n\nthree\n"},
        {"leading and trailing runs", "\n\nbody\n\n\n", "\nbody\n\n"},
        {"CR-LF blank counts", "one\n\r\n\ntwo\n", "one\n\r\ntwo\n"},
        {"CR with text after a blank is dropped", "one\n\n\rhidden\ntwo\n", "one\n\ntwo\n"},
        {"CR with text alone is kept", "one\n\rshown\ntwo\n", "one\n\rshown\ntwo\n"},
        {"1023-byte line's newline is a blank read", long_line + "\n\nnext\n", long_line + "\nnext\n"},
        {"1022-byte line is whole", long_line.substr(1) + "\n\nnext\n", long_line.substr(1) + "\n\nnext\n"},
        {"no final newline", "a\n\n\nb", "a\n\nb"},
    };
    TempDir dir;
    use_work_dir(dir.path);
    for (const Case &c : cases) {
        write_file(work_files.converted_path, c.in);
        squeeze_blank_lines();
        EXPECT_EQ(read_file(work_files.converted_path), c.out) << c.name;
        EXPECT_FALSE(file_exists(work_files.temp_path)) << c.name << ": scratch file left";
    }
}

// Runs first (the DeathTest suffix), before any harness thread exists.
TEST(ReplaceWorkFileDeathTest, FailuresDieWithTheCallName)
{
    TempDir dir;
    use_work_dir(dir.path);
    // No working copy to squeeze.
    EXPECT_EXIT(squeeze_blank_lines(), testing::ExitedWithCode(1), "^fopen\\(\\): No such file");
    // No scratch file to put in its place.
    write_file(work_files.converted_path, "text\n");
    EXPECT_EXIT(replace_work_file(), testing::ExitedWithCode(1), "^link\\(\\): No such file");
    // Nothing to remove.
    unlink(work_files.converted_path);
    EXPECT_EXIT(replace_work_file(), testing::ExitedWithCode(1), "^unlink\\(\\): No such file");
}


// End to end: the program under a terminal, with a stub filter that records
// its arguments and writes nothing, and a stand-in `fmt` first on PATH that
// records what it was given before running the real one.

std::string sh_quoted(const std::string &text)
{
    return shell_quote(text.c_str());
}

std::vector<std::string> split_nul(const std::string &record)
{
    std::vector<std::string> parts;
    size_t start = 0, end;
    while ((end = record.find('\0', start)) != std::string::npos) {
        parts.push_back(record.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Writes its arguments NUL-separated, whole or not at all (the test polls for it).
std::string record_args(const std::string &record)
{
    return "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > " + sh_quoted(record + ".part") + "\n" +
           "mv " + sh_quoted(record + ".part") + " " + sh_quoted(record) + "\n";
}

// A temporary stage: home, stub filter, stand-in fmt and their records.
struct Stage : Sandbox {
    std::string filter_args = dir.path + "/filter-args";
    std::string fmt_args = dir.path + "/fmt-args";
    std::string fmt_input = dir.path + "/fmt-input";
    std::string bin = dir.path + "/bin";
    std::string filter = bin + "/stub-filter";
    std::string files = dir.path + "/files";

    explicit Stage(const std::string &home_name = "home", int filter_sleep = 0, int fmt_sleep = 0)
        : Sandbox(home_name)
    {
        mkdir(bin.c_str(), 0700);
        mkdir(files.c_str(), 0700);
        // Each stub marks in RECORD.done that it has run to its end.
        write_script(filter, record_args(filter_args) + "sleep " + std::to_string(filter_sleep) + "\n" +
                                 ": > " + sh_quoted(filter_args + ".done") + "\n");
        write_script(bin + "/fmt", "cp \"$2\" " + sh_quoted(fmt_input) + "\n" + record_args(fmt_args) +
                                       "sleep " + std::to_string(fmt_sleep) + "\n" + ": > " +
                                       sh_quoted(fmt_args + ".done") + "\n" + "exec " +
                                       sh_quoted(find_program("fmt")) + " \"$@\"\n");
    }

    std::string work_file(const char *name) const { return work_dir_of(home) + "/" + name; }

    Launch launch(const std::vector<std::string> &args) const
    {
        Launch launch = reader_launch(home, args);
        launch.cwd = files;
        const char *path = getenv("PATH");
        launch.env = {{"DRIFTERM_FILTER", filter}, {"PATH", bin + ":" + (path ? path : "/usr/bin:/bin")}};
        return launch;
    }
};

// The runs below give options. Should the program not take them (-v
// fails), every run would only show a screen that never comes up: say so.
void expect_options_taken()
{
    static const RunResult version = [] {
        TempDir home;
        return run_plain(reader_launch(home.path, {"-v"}), 10000);
    }();
    EXPECT_EQ(version.status, 0) << "drifterm -v fails, so the options of these runs are not taken: "
                                 << version.out << version.err;
}

std::vector<std::string> reader_args(const std::string &file, const std::vector<std::string> &options = {})
{
    expect_options_taken();
    std::vector<std::string> args = {"-s", "20"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"-f", file});
    return args;
}

bool wait_screen_up(Term *t)
{
    return term_wait_for(t, [](Term *term) { return term_altscreen(term); }, 10000);
}

bool wait_file(Term *t, const std::string &path)
{
    return term_wait_for(t, [&](Term *) { return file_exists(path); }, 10000);
}

TEST(PrepareEndToEnd, FilterGetsThePathAndADashForPdfNames)
{
    struct Case {
        const char *name;
        bool dash;
    } cases[] = {
        {"report.pdf", true},  {"report.pdfa", true}, {"report.PDF", false},
        {"report.pdf.txt", false}, {"notes", false},
    };
    for (const Case &c : cases) {
        Stage stage;
        write_file(stage.files + "/" + c.name, "hello\n");
        TermPtr t(term_spawn(stage.launch(reader_args(c.name))));
        ASSERT_TRUE(t);
        ASSERT_TRUE(wait_screen_up(t.get())) << c.name << "\n" << term_screen(t.get());
        std::vector<std::string> want = {c.name};
        if (c.dash)
            want.push_back("-");
        EXPECT_EQ(split_nul(read_file(stage.filter_args)), want) << c.name;
        EXPECT_EQ(read_file(stage.work_file("drift_file")), "hello\n") << c.name;
    }
}

TEST(PrepareEndToEnd, PlainCopyReachesFmtUnchanged)
{
    const harness::NamedText cases[] = {
        {"empty", ""},
        {"plain", "first line\n\n\n\nsecond\tline with a tab\r\nno newline at the end"},
        {"long lines", std::string(3000, 'a') + "\n" + std::string(1023, 'b') + "\n\n\nend\n"},
    };
    for (const harness::NamedText &c : cases) {
        Stage stage("home with a blank");
        write_file(stage.files + "/input", c.text);
        TermPtr t(term_spawn(stage.launch(reader_args("input"))));
        ASSERT_TRUE(t);
        ASSERT_TRUE(wait_screen_up(t.get())) << c.name;
        EXPECT_EQ(read_file(stage.fmt_input), c.text) << c.name;
        EXPECT_EQ(split_nul(read_file(stage.fmt_args)),
                  (std::vector<std::string>{"-s", stage.work_file("drift_file")}))
            << c.name;
        if (c.text.empty()) {
            EXPECT_EQ(read_file(stage.work_file("drift_file")), "") << "reflow and squeezing keep it empty";
        }
        EXPECT_FALSE(file_exists(stage.work_file("drift_tmp"))) << c.name;
    }
}

// What the working copy holds once the screen is up (fmt has run too).
TEST(PrepareEndToEnd, RunsOfBlankLinesAreSqueezed)
{
    const std::string long_line(1023, 'x');
    struct Case {
        const char *name;
        std::string text, squeezed;
        bool no_squeeze;
    } cases[] = {
        {"three blank lines", "one\n\n\n\ntwo\n", "one\n\ntwo\n", false},
        {"-n keeps them", "one\n\n\n\ntwo\n", "one\n\n\n\ntwo\n", true},
        {"CR-LF blank line", "one\n\r\n\ntwo\n", "one\n\r\ntwo\n", false},
        {"CR and text after a blank", "one\n\n\rhidden\ntwo\n", "one\n\ntwo\n", false},
        {"1023-byte line", long_line + "\n\nnext\n", long_line + "\nnext\n", false},
    };
    for (const Case &c : cases) {
        Stage stage;
        write_file(stage.files + "/input", c.text);
        TermPtr t(term_spawn(stage.launch(reader_args("input", c.no_squeeze ? std::vector<std::string>{"-n"}
                                                                           : std::vector<std::string>{}))));
        ASSERT_TRUE(t);
        ASSERT_TRUE(wait_screen_up(t.get())) << c.name;
        EXPECT_EQ(read_file(stage.work_file("drift_file")), c.squeezed) << c.name;
    }
}

TEST(PrepareEndToEnd, ThreeBlankLinesShowAsOne)
{
    Stage stage;
    write_file(stage.files + "/input", "one\n\n\n\ntwo\n");
    TermPtr t(term_spawn(stage.launch(reader_args("input"))));
    ASSERT_TRUE(t);
    // The last line written moves up from the bottom text row.
    ASSERT_TRUE(term_wait_for(
        t.get(), [](Term *term) { return term_row(term, 21) == "two"; }, 10000))
        << term_screen(t.get());
    EXPECT_EQ(term_row(t.get(), 20), "");
    EXPECT_EQ(term_row(t.get(), 19), "one");
    EXPECT_EQ(term_row(t.get(), 18), "");
}

TEST(PrepareEndToEnd, AwkwardPathsReachTheFilterAsOneArgument)
{
    const std::string names[] = {
        "with blank.txt",
        "quote's.pdf",
        "double\"quote",
        "dollar $HOME $(touch ran-dollar).pdf",
        "back`touch ran-backquote`quote",
        "back\\slash\\n",
        "new\nline",
        "all ' \" $ ` \\ \n;|&><*?.pdfa",
    };
    for (const std::string &name : names) {
        Stage stage("my home");
        write_file(stage.files + "/" + name, "hello\n");
        TermPtr t(term_spawn(stage.launch(reader_args(name))));
        ASSERT_TRUE(t);
        ASSERT_TRUE(wait_screen_up(t.get())) << name << "\n" << term_stderr(t.get());
        std::vector<std::string> want = {name};
        if (is_pdf_name(name.c_str()))
            want.push_back("-");
        EXPECT_EQ(split_nul(read_file(stage.filter_args)), want) << name;
        EXPECT_EQ(read_file(stage.work_file("drift_file")), "hello\n") << name;
        EXPECT_FALSE(file_exists(stage.files + "/ran-dollar")) << name;
        EXPECT_FALSE(file_exists(stage.files + "/ran-backquote")) << name;
        EXPECT_EQ(term_stderr(t.get()), "") << name;
    }
}

// Built, not installed, and no other filter: the source tree's filter
// still turns a compressed text into its plain text.
TEST(PrepareEndToEnd, AProgramInItsBuildFolderUsesTheSourceTreesFilter)
{
    if (access("/usr/bin/lesspipe.sh", F_OK) == 0 || access(DRIFTERM_FILTER_PATH, F_OK) == 0)
        GTEST_SKIP() << "a system or installed filter comes first here";
    Stage stage;
    std::string text = stage.files + "/notes.txt";
    write_file(text, "inside the gzip file\n");
    ASSERT_EQ(system(("gzip -n " + sh_quoted(text)).c_str()), 0);
    Launch launch = stage.launch({"-s", "20", "-f", text + ".gz"});
    launch.env.erase(launch.env.begin()); // no DRIFTERM_FILTER
    TermPtr t(term_spawn(launch));
    ASSERT_TRUE(t);
    EXPECT_SCREEN_ROW(t.get(), 21, "inside the gzip file", 10000);
    EXPECT_EQ(term_press_until_exit(t.get(), "k", 10000), 0);
    EXPECT_EQ(term_stderr(t.get()), "");
}

TEST(PrepareEndToEnd, ASignalDuringACommandEndsItAndTakesTheCleanupExit)
{
    struct Case {
        const char *name;
        bool in_fmt;      // the slow command is fmt, else the filter
        bool whole_group; // Ctrl-C on the terminal, else a signal to the program alone
        int signal;
    } cases[] = {
        {"Ctrl-C in the filter", false, true, SIGINT},
        {"SIGINT to the program in the filter", false, false, SIGINT},
        {"Ctrl-C in fmt", true, true, SIGINT},
        {"SIGINT to the program in fmt", true, false, SIGINT},
        {"SIGTERM to the program in the filter", false, false, SIGTERM},
        {"SIGHUP to the program in fmt", true, false, SIGHUP},
    };
    std::vector<std::unique_ptr<Stage>> stages;
    std::vector<std::string> ends; // what a stub that ran to its end would leave
    for (const Case &c : cases) {
        stages.push_back(std::make_unique<Stage>("home", c.in_fmt ? 0 : 2, c.in_fmt ? 2 : 0));
        Stage &stage = *stages.back();
        write_file(stage.files + "/input", "text\n");
        TermPtr t(term_spawn(stage.launch(reader_args("input"))));
        ASSERT_TRUE(t);
        const std::string &record = c.in_fmt ? stage.fmt_args : stage.filter_args;
        ASSERT_TRUE(wait_file(t.get(), record)) << c.name;
        ends.push_back(record + ".done");
        if (c.whole_group)
            term_send(t.get(), ctrl_key('c'));
        else
            term_signal(t.get(), c.signal);
        EXPECT_EXIT_STATUS(t.get(), c.signal == SIGINT ? 0 : 128 + c.signal, 10000) << c.name;
        EXPECT_EQ(term_raw(t.get()).find("\033["), std::string::npos) << c.name << ": screen output";
        EXPECT_FALSE(term_altscreen(t.get())) << c.name;
        EXPECT_EQ(list_dir(work_dir_of(stage.home)), std::vector<std::string>{}) << c.name;
    }
    // The stubs sleep 2 s: one that was not ended with its run would then mark its end.
    for (int64_t deadline = term_now_ms() + 2500; term_now_ms() < deadline; usleep(20000))
        for (const std::string &end : ends)
            ASSERT_FALSE(file_exists(end)) << end;
}

// The filter is told which converter to run: the one built beside the
// program, unless the user named one.
TEST(PrepareEndToEnd, TheFilterIsGivenTheConverterOfTheSameBuild)
{
    char real[PATH_MAX];
    ASSERT_NE(realpath(DRIFTERM_CONVERT_BINARY, real), nullptr);
    struct Case {
        const char *name;
        const char *set; // DRIFTERM_CONVERT as the user has it; nullptr: unset
        std::string want;
    } cases[] = {
        {"unset", nullptr, real},
        {"empty", "", real},
        {"the user's own", "/opt/my-converter", "/opt/my-converter"},
    };
    for (const Case &c : cases) {
        Stage stage;
        std::string record = stage.dir.path + "/converter";
        write_script(stage.filter, "printf '%s' \"${DRIFTERM_CONVERT-unset}\" > " + sh_quoted(record) + "\n");
        write_file(stage.files + "/input", "hello\n");
        Launch launch = stage.launch(reader_args("input"));
        if (c.set)
            launch.env.push_back({"DRIFTERM_CONVERT", c.set});
        else
            launch.unset_env.push_back("DRIFTERM_CONVERT");
        TermPtr t(term_spawn(launch));
        ASSERT_TRUE(t);
        ASSERT_TRUE(wait_screen_up(t.get())) << c.name;
        EXPECT_EQ(read_file(record), c.want) << c.name;
    }
}

size_t characters_in(const std::string &utf8)
{
    size_t count = 0;
    for (unsigned char c : utf8)
        count += (c & 0xc0) != 0x80;
    return count;
}

// fmt counts bytes; a row of Cyrillic text must still fill the terminal
// as wide as one of ASCII does, and keep every letter.
TEST(PrepareEndToEnd, ACyrillicParagraphFillsTheRowsInCharacters)
{
    const char *words[] = {"\xd0\xbe\xd0\xbd", "\xd0\xbd\xd0\xb5", "\xd0\xb7\xd0\xbd\xd0\xb0\xd0\xbb",
                           "\xd1\x87\xd1\x82\xd0\xbe", "\xd0\xb4\xd0\xb5\xd0\xbb\xd0\xb0\xd1\x82\xd1\x8c",
                           "\xd0\xb4\xd0\xb0\xd0\xbb\xd1\x8c\xd1\x88\xd0\xb5"};
    std::string paragraph;
    for (int i = 0; i < 60; i++)
        paragraph += std::string(i ? " " : "") + words[i * 7 % 6];
    const std::string last = "\xd0\xba\xd0\xbe\xd0\xbd\xd0\xb5\xd1\x86";
    ReaderRun run(paragraph + "\n\n" + last + "\n", {"-s", "20"}, "text.txt");
    ASSERT_TRUE(run.t);
    ASSERT_TRUE(term_wait_text(run.t.get(), last, 10000)) << term_screen(run.t.get());
    std::string shown;
    size_t widest = 0;
    for (const std::string &row : term_rows_text(run.t.get())) {
        if (row == last)
            break;
        widest = std::max(widest, characters_in(row));
        if (!row.empty())
            shown += (shown.empty() ? "" : " ") + row;
    }
    EXPECT_GE(widest, 65u) << term_screen(run.t.get());
    EXPECT_LE(widest, 75u) << term_screen(run.t.get());
    EXPECT_EQ(shown, paragraph) << term_screen(run.t.get());
}

} // namespace
