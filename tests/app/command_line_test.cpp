// The command line: digit test and number reading, the options stored by a
// parse, and end to end the usage text, the version line, the scanning
// rules and the failures, with and without a screen.
#include <unistd.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/records.h"
#include "app/startup.h"
#include "helpers.h"

namespace {

const char *const usage_body =
    "-f <filename>   File to scroll.\n"
    "-s <n>          Scroll at <n> milliseconds. Default: 1000 (1 sec).\n"
    "-p <n>          Start text on row <n> (1 to LINES-2).\n"
    "-w <string>     Highlight all lines that <string> appears on.\n"
    "-l              Display in all lower case characters.\n"
    "-u              Display in all upper case characters.\n"
    "-c <color>      red, bgred, green, bggreen, blue, bgblue, yellow,"
    "                               bgyellow, magenta, bgmagenta, bgwhite.\n"
    "-n              Don't take out extra blank lines. Display as is.\n"
    "-a              Automatically pause on highlight word from -w.\n"
    "-v              Display program version number.\n"
    "-h              Help (This message).\n"
    "-x              Don't show status bar.\n"
    "-b              Allow beeping on important events.\n"
    "-m              Scroll a character at a time mode.\n"
    "-t <ttyname>    Name of tty your running drifterm from while piped\n"
    "\tWhile drifterm is running you can use the option keys:\n"
    "'q' to quit.\n"
    "'p' to pause.\n"
    "'spacebar' to scroll superfast (hit again to turn off).\n"
    "'c' to clear the current screen.\n"
    "'n' to turn off the status bar.\n"
    "'v' to turn the status bar back on.\n"
    "'f' to speed scrolling up in 25 percent increments.\n"
    "'s' to slow scrolling speed down in 25 percent increments.\n"
    "'o' to go back to original speed.\n"
    "'a' to toggle Auto-Pausing on/off.\n"
    "'e' open file in your editor. Uses $VISUAL, $EDITOR or /bin/vi.\n"
    "'i' to view detailed file/program/etc information.\n";

const char *const version_line = "drifterm 2.0  By Vornhallow\n";
const char *const enter_screen = "\033[?1049h"; // xterm's alternate screen

std::string usage_text(const std::string &program)
{
    return "Usage: " + program + " [OPTIONS]\n" + usage_body;
}

// Files named by the cases; their first lines tell which one is shown.
struct Fixture : Sandbox {
    std::string file = put("first.txt", "alpha one\n");
    std::string file2 = put("second.txt", "beta one\n");
    std::string missing = dir.path + "/missing.txt";

    // FILE, FILE2 and MISSING stand for the fixture's paths.
    std::vector<std::string> expand(const std::vector<std::string> &args) const
    {
        std::vector<std::string> out;
        for (const std::string &arg : args)
            out.push_back(arg == "FILE" ? file : arg == "FILE2" ? file2 : arg == "MISSING" ? missing : arg);
        return out;
    }

    Launch launch(const std::vector<std::string> &args) const { return reader_launch(home, expand(args)); }
};

// ---- pure helpers ----

TEST(CommandLine, DigitTest)
{
    struct Case {
        const char *text;
        bool digits;
    } cases[] = {
        {"", true},        {"0", true},   {"0123456789", true}, {"12a", false},
        {"-5", false},     {"+5", false}, {" 5", false},        {"5 ", false},
        {"\xb2", false},   {"1\xd9\xa3", false}, // bytes of 128 and more are never digits
        {"/", false},      {":", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(is_all_digits(c.text), c.digits) << '"' << c.text << '"';
}

TEST(CommandLine, NumberFromValue)
{
    struct Case {
        const char *value;
        size_t max_digits;
        uint32_t number;
    } cases[] = {
        {"", 3, 0},
        {"000", 3, 0},
        {"999", 3, 999},
        {"1234", 3, 123},
        {"4294967295", 20, 4294967295u},
        {"4294967296", 20, 0}, // two to the 32 wraps
        {"4294967297", 20, 1},
        {"9223372036854775807", 20, 0xffffffffu},
        {"99999999999999999999", 20, 0xffffffffu}, // saturated at the largest 64-bit value
        {"123456789012345678901", 20, 0xffffffffu},
        {"00000000000000000001234", 20, 1}, // only the first 20 characters count
    };
    for (const Case &c : cases)
        EXPECT_EQ(number_from_value(c.value, c.max_digits), c.number) << c.value;
}

// ---- what a parse stores ----

bool same_text(const char *a, const char *b)
{
    return (!a && !b) || (a && b && strcmp(a, b) == 0);
}

void parse_args(const std::vector<std::string> &args)
{
    options = Options{};
    reader = ReaderState{};
    optind = 0; // glibc: start a fresh scan, as at program start
    std::vector<std::string> storage = {"drifterm"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    parse_options(static_cast<int>(storage.size()), argv.data());
}

TEST(CommandLine, StoredOptions)
{
    Fixture fx;
    struct Case {
        std::vector<std::string> args;
        std::function<void(Options &)> expect;
    } cases[] = {
        {{"-s", "2000", "-s", "300"}, [](Options &o) { o.speed_ms = 300; }},
        {{"-s200"}, [](Options &o) { o.speed_ms = 200; }},
        {{"-s", ""}, [](Options &o) { o.speed_ms = 0; }},
        {{"-s", "4294967296"}, [](Options &o) { o.speed_ms = 0; }},
        {{"-p", "1234"}, [](Options &o) { o.start_row = 123; }},
        {{"-p", "000"}, [](Options &o) { o.start_row = 0; }},
        {{"-l", "-u"}, [](Options &o) { o.case_enabled = 1, o.case_kind = 1; }},
        {{"-u", "-l"}, [](Options &o) { o.case_enabled = 1, o.case_kind = 2; }},
        {{"-lu"}, [](Options &o) { o.case_enabled = 1, o.case_kind = 1; }},
        {{"-nab"}, [](Options &o) { o.no_squeeze = 1, o.auto_pause = 1, o.beep_on_events = 1; }},
        {{"-xs20", "-m"}, [](Options &o) { o.status_bar = 0, o.speed_ms = 20, o.char_mode = 1; }},
        {{"-xs", "20"}, [](Options &o) { o.status_bar = 0, o.speed_ms = 20; }},
        {{"-w", "", "-c", "bgred", "-t", "/dev/pts/9"},
         [](Options &o) { o.highlight_word = "", o.color_name = "bgred", o.color_given = 1, o.tty_name = "/dev/pts/9"; }},
        {{"-w", "-c", "-cred"}, [](Options &o) { o.highlight_word = "-c", o.color_name = "red", o.color_given = 1; }},
        {{"FILE", "-s", "200"}, [&](Options &o) { o.piped = 0, o.file_path = fx.file.c_str(); }},
        {{"FILE", "FILE2"}, [&](Options &o) { o.piped = 0, o.file_path = fx.file2.c_str(); }},
        {{"-s", "200", "FILE"}, [](Options &o) { o.speed_ms = 200; }},
        {{"-s", "200", "-f", "FILE"}, [&](Options &o) { o.speed_ms = 200, o.piped = 0, o.file_path = fx.file.c_str(); }},
        {{"-f", "FILE", "FILE2"}, [&](Options &o) { o.piped = 0, o.file_path = fx.file.c_str(); }},
        {{"--", "FILE"}, [](Options &) {}},
        {{"-"}, [](Options &) {}},
        {{"-n", "-", "-x"}, [](Options &o) { o.no_squeeze = 1; }},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = fx.expand(c.args);
        parse_args(args);
        Options want;
        c.expect(want);
        std::string where = ::testing::PrintToString(c.args);
        EXPECT_TRUE(same_text(options.file_path, want.file_path)) << where;
        EXPECT_TRUE(same_text(options.tty_name, want.tty_name)) << where;
        EXPECT_TRUE(same_text(options.highlight_word, want.highlight_word)) << where;
        EXPECT_TRUE(same_text(options.color_name, want.color_name)) << where;
        EXPECT_EQ(options.piped, want.piped) << where;
        EXPECT_EQ(options.speed_ms, want.speed_ms) << where;
        EXPECT_EQ(options.color_given, want.color_given) << where;
        EXPECT_EQ(options.start_row, want.start_row) << where;
        EXPECT_EQ(options.no_squeeze, want.no_squeeze) << where;
        EXPECT_EQ(options.case_enabled, want.case_enabled) << where;
        EXPECT_EQ(options.case_kind, want.case_kind) << where;
        EXPECT_EQ(options.char_mode, want.char_mode) << where;
        EXPECT_EQ(options.status_bar, want.status_bar) << where;
        EXPECT_EQ(options.auto_pause, want.auto_pause) << where;
        EXPECT_EQ(options.beep_on_events, want.beep_on_events) << where;
        EXPECT_EQ(options.file_path != nullptr, reader.source_file != nullptr) << where;
    }
}

// ---- end to end, ending before any screen ----

// hint: "Bad address" and the line that says to name the file with -f.
enum class Err { none, diagnostic, fopen, any, hint };

TEST(CommandLine, EndsBeforeTheScreen)
{
    Fixture fx;
    const std::string usage = usage_text(DRIFTERM_BINARY);
    const std::string long_name = fx.dir.path + "/" + std::string(1024 - fx.dir.path.size() - 1, 'n');
    const std::string too_long_name = long_name + "n";
    ASSERT_EQ(long_name.size(), 1024u);
    struct Case {
        std::vector<std::string> args;
        std::string out;
        Err err;
        int status;
    } cases[] = {
        {{}, usage, Err::none, 0},
        {{"-h"}, usage, Err::none, 0},
        {{"-s", "20", "-h", "-v"}, usage, Err::none, 0},
        {{"-q"}, usage, Err::diagnostic, 0},
        {{"-s"}, usage, Err::diagnostic, 0},
        {{"-n", "-f"}, usage, Err::diagnostic, 0},
        {{"-s", "-5"}, usage, Err::none, 0},
        {{"-s", "+5"}, usage, Err::none, 0},
        {{"-p", "1x"}, usage, Err::none, 0},
        // The long forms, as the first argument only.
        {{"--help"}, usage, Err::none, 0},
        {{"--version"}, version_line, Err::none, 0},
        {{"--version", "-h"}, version_line, Err::none, 0},
        {{"-s", "20", "--help"}, usage, Err::diagnostic, 0},
        {{"--helpx"}, usage, Err::diagnostic, 0},
        {{"-v"}, version_line, Err::none, 0},
        {{"-nv"}, version_line, Err::none, 0},
        {{"-v", "-f", "MISSING"}, version_line, Err::none, 0},
        {{"-w", std::string(1024, 'w'), "-c", "x", "-t", "y", "-v"}, version_line, Err::none, 0},
        {{"-w", std::string(1025, 'w'), "-v"}, usage, Err::none, 0},
        {{"-f", "MISSING", "-v"}, "", Err::fopen, 1},
        {{""}, "", Err::fopen, 1},
        {{"FILE", "MISSING"}, "", Err::fopen, 1},
        {{long_name}, "", Err::fopen, 1},
        {{"-f", long_name}, "", Err::fopen, 1},
        {{too_long_name}, usage, Err::none, 0},
        {{"-f", too_long_name}, usage, Err::none, 0},
        // No file named: piped mode, which fails without input or -t.
        {{"-s", "200", "FILE"}, "", Err::hint, 1},
        {{"--", "FILE"}, "", Err::hint, 1},
        {{"-"}, "", Err::any, 1},
    };
    for (const Case &c : cases) {
        RunResult r = run_plain(fx.launch(c.args), 10000);
        std::string where = ::testing::PrintToString(fx.expand(c.args)).substr(0, 200);
        EXPECT_EQ(r.status, c.status) << where;
        EXPECT_EQ(r.out, c.out) << where;
        switch (c.err) {
        case Err::none:
            EXPECT_EQ(r.err, "") << where;
            break;
        case Err::diagnostic:
        case Err::any:
            EXPECT_NE(r.err, "") << where;
            break;
        case Err::fopen:
            EXPECT_EQ(r.err.rfind("fopen(): ", 0), 0u) << where << "\n" << r.err;
            break;
        case Err::hint:
            EXPECT_EQ(r.err, std::string("Bad address\n") + DRIFTERM_BINARY + ": '" + fx.file +
                                 "' after the options is not read; name the file with -f FILE\n")
                << where;
            break;
        }
    }
}

TEST(CommandLine, UsageNamesTheProgramAsInvoked)
{
    Fixture fx;
    Launch s = fx.launch({"-h"});
    s.argv0 = "./some/where/drifterm";
    RunResult r = run_plain(s, 10000);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, usage_text("./some/where/drifterm"));
}

// ---- end to end, with the screen started ----

std::string without_carriage_returns(std::string text)
{
    std::string out;
    for (char ch : text)
        if (ch != '\r')
            out += ch;
    return out;
}

TEST(CommandLine, ShowsTheNamedFile)
{
    // A one-line file ends one row above the row its line entered on, and
    // stays there until a key.
    struct Case {
        std::vector<std::string> args;
        int start_row;
        std::string text;
    } cases[] = {
        {{"FILE", "FILE2"}, 22, "beta one"},
        {{"FILE", "-s", "200"}, 22, "alpha one"},
        {{"FILE", "-s", "0"}, 22, "alpha one"}, // a pace of 0 would have brought the usage text
        {{"FILE", "-f", "FILE2"}, 22, "alpha one"},
        {{"-s", "200", "-f", "FILE"}, 22, "alpha one"},
        {{"-s", "20", "-f", "FILE", "FILE2"}, 22, "alpha one"},
        {{"-s", "20", "-f", "FILE2", "-f", "FILE"}, 22, "alpha one"},
        {{"-s", "20", "-p", "1", "-f", "FILE"}, 1, "alpha one"},
        {{"-s", "20", "-p", "22", "-f", "FILE"}, 22, "alpha one"},
        {{"-s", "20", "-p", "12", "-f", "FILE"}, 12, "alpha one"},
        {{"-xp12", "-s20", "-f", "FILE"}, 12, "alpha one"},
        {{"-p012", "-s", "20", "-f", "FILE"}, 12, "alpha one"},
    };
    // All at once: the cases at the default pace each take a second.
    std::vector<std::unique_ptr<Fixture>> fixtures;
    std::vector<TermPtr> terms;
    for (const Case &c : cases) {
        fixtures.push_back(std::make_unique<Fixture>());
        terms.emplace_back(term_spawn(fixtures.back()->launch(c.args)));
        ASSERT_TRUE(terms.back());
    }
    for (size_t i = 0; i < std::size(cases); i++) {
        const Case &c = cases[i];
        Term *t = terms[i].get();
        SCOPED_TRACE(::testing::PrintToString(c.args));
        EXPECT_SCREEN_ROW(t, c.start_row - 1, c.text, 10000);
        std::vector<std::string> rows = term_rows_text(t);
        for (int row = 0; row < static_cast<int>(rows.size()); row++)
            if (row != c.start_row - 1) {
                EXPECT_EQ(rows[row].find(c.text), std::string::npos) << "row " << row;
            }
        std::string raw = term_raw(t);
        EXPECT_NE(raw.find(enter_screen), std::string::npos);
        EXPECT_EQ(raw.find("Usage:"), std::string::npos);
        EXPECT_EQ(term_stderr(t), "");
    }
}

TEST(CommandLine, UsageAfterTheScreen)
{
    const std::vector<std::vector<std::string>> cases = {
        {"-s", "0", "-f", "FILE"},
        {"-s", "", "-f", "FILE"},
        {"-s", "4294967296", "-f", "FILE"},
        {"-p", "1234", "-s", "20", "-f", "FILE"}, // row 123
        {"-p", "23", "-s", "20", "-f", "FILE"},
    };
    for (const std::vector<std::string> &args : cases) {
        Fixture fx;
        SCOPED_TRACE(::testing::PrintToString(args));
        TermPtr t(term_spawn(fx.launch(args)));
        ASSERT_TRUE(t);
        ASSERT_EXIT_STATUS(t.get(), 0, 10000);
        std::string raw = term_raw(t.get());
        size_t loading = raw.find("Loading..");
        size_t screen = raw.find(enter_screen);
        size_t usage = raw.find("Usage: ");
        ASSERT_NE(loading, std::string::npos);
        ASSERT_NE(screen, std::string::npos);
        ASSERT_NE(usage, std::string::npos);
        EXPECT_LT(loading, screen);
        EXPECT_LT(screen, usage);
        EXPECT_EQ(without_carriage_returns(raw.substr(usage)), usage_text(DRIFTERM_BINARY));
        EXPECT_EQ(term_stderr(t.get()), "");
        EXPECT_TRUE(file_exists(work_dir_of(fx.home) + "/drift_file"));
    }
}

} // namespace
