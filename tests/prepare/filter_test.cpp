// End-to-end checks of the bundled input filter, run directly (no shell in
// between) on files each test writes into its own temporary directory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "helpers.h"

namespace {

const char *const filter_path = DRIFTERM_SOURCE_DIR "/filter/lesspipe.sh";
const char *const sentence = "Drifting text keeps its pace.";
const char *const plain_text = "plain line one\nplain line two\n";
const char *const man_source =
    ".TH FROB 1 \"2024\" \"drifterm tests\"\n"
    ".SH NAME\n"
    "frob \\- frobnicate the bar\n"
    ".SH DESCRIPTION\n"
    "\\fBfrob\\fR turns \\fIbars\\fR into text.\n";
const char *const man_name_line = "frob - frobnicate the bar";
const char *const html_source =
    "<html><head><title>T</title></head><body>\n"
    "<h1>Heading</h1><p>Hello &amp; welcome</p>\n"
    "</body></html>\n";

// Runs argv in cwd with stdin/stdout/stderr on the given files and TMPDIR
// set; returns the exit status, or -1 when it did not exit normally.
int run_program(const std::vector<std::string> &argv, const std::string &cwd,
                const std::string &in, const std::string &out,
                const std::string &err, const std::string &tmpdir)
{
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        int in_fd = open(in.c_str(), O_RDONLY);
        int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0 || chdir(cwd.c_str()) != 0)
            _exit(126);
        dup2(in_fd, 0);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        setenv("TMPDIR", tmpdir.c_str(), 1);
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::string random_bytes(size_t count)
{
    std::mt19937 gen(20240601u);
    std::string data;
    for (size_t i = 0; i < count; ++i)
        data.push_back(static_cast<char>(gen() & 0xff));
    return data;
}

enum class Source { pdf, broken_pdf, text, man_page, html, random, empty, corrupt_gzip, none };

std::string source_bytes(Source source)
{
    switch (source) {
    case Source::pdf: return make_pdf(sentence);
    case Source::broken_pdf: return "%PDF-1.4\n" + random_bytes(300);
    case Source::text: return plain_text;
    case Source::man_page: return man_source;
    case Source::html: return html_source;
    case Source::random: return random_bytes(4096);
    case Source::corrupt_gzip: return std::string("\x1f\x8b\x08\x00", 4) + random_bytes(200);
    case Source::empty:
    case Source::none: break;
    }
    return "";
}

struct FilterCase {
    const char *label;
    const char *file_name;
    Source source;
    const char *compressor;  // nullptr: written as is
    bool pdf_argument;       // the extra "-" drifterm adds for PDF names
    std::vector<const char *> needs;
    std::vector<const char *> expect;  // empty: the filter must write nothing
};

// Keeps gtest from dumping the case as raw bytes in failure reports.
void PrintTo(const FilterCase &c, std::ostream *os)
{
    *os << c.label;
}

std::vector<std::string> compressor_command(const std::string &tool)
{
    if (tool == "zstd")
        return {"zstd", "-qc"};
    return {tool, "-c"};
}

class FilterTest : public ::testing::TestWithParam<FilterCase> {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/drifterm-filter-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        work_ = root_ + "/work";
        tmp_ = root_ + "/tmp";
        ASSERT_EQ(mkdir(work_.c_str(), 0700), 0);
        ASSERT_EQ(mkdir(tmp_.c_str(), 0700), 0);
    }

    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

    void skip_unless_installed(const std::vector<const char *> &tools)
    {
        for (const char *tool : tools)
            if (find_program(tool).empty())
                GTEST_SKIP() << tool << " is not installed";
    }

    // Writes the case's input under `name` in the work directory.
    void write_input(const FilterCase &c, const std::string &name)
    {
        if (c.source == Source::none)
            return;
        std::string target = work_ + "/" + name;
        if (c.compressor == nullptr) {
            write_file(target, source_bytes(c.source));
            return;
        }
        std::string plain = root_ + "/uncompressed";
        write_file(plain, source_bytes(c.source));
        ASSERT_EQ(run_program(compressor_command(c.compressor), root_, plain, target,
                              root_ + "/compress.err", tmp_),
                  0);
    }

    // Runs the filter on `name`, relative to the work directory, and checks
    // what every run must honour: status 0, silence on stderr, no temp files.
    std::string run_filter(const std::string &name, bool pdf_argument)
    {
        std::vector<std::string> argv = {filter_path, name};
        if (pdf_argument)
            argv.push_back("-");
        std::string out = root_ + "/filter.out";
        std::string err = root_ + "/filter.err";
        EXPECT_EQ(run_program(argv, work_, "/dev/null", out, err, tmp_), 0);
        EXPECT_EQ(read_file(err), "");
        std::error_code ec;
        EXPECT_TRUE(std::filesystem::is_empty(tmp_, ec)) << "temp files left in TMPDIR";
        return read_file(out);
    }

    void expect_output(const FilterCase &c, const std::string &output)
    {
        if (c.expect.empty()) {
            EXPECT_EQ(output, "");
            return;
        }
        for (const char *text : c.expect)
            EXPECT_NE(output.find(text), std::string::npos)
                << "missing \"" << text << "\" in:\n" << output;
        EXPECT_EQ(output.find('\b'), std::string::npos) << "overstrike in output";
        EXPECT_EQ(output.find('\x1b'), std::string::npos) << "escape in output";
    }

    // The whole case, unless a tool it needs is missing: its input, the
    // filter's output, and no name run as a command.
    void check_case(const FilterCase &c)
    {
        skip_unless_installed(c.needs);
        if (c.compressor != nullptr)
            skip_unless_installed({c.compressor});
        if (IsSkipped())
            return;
        write_input(c, c.file_name);
        expect_output(c, run_filter(c.file_name, c.pdf_argument));
        EXPECT_FALSE(std::filesystem::exists(work_ + "/PWNED")) << "name ran as a command";
    }

    std::string root_, work_, tmp_;
};

TEST_P(FilterTest, ConvertsKnownFormatsAndPassesOnTheRest)
{
    check_case(GetParam());
}

const FilterCase format_cases[] = {
    {"pdf_by_content", "paper", Source::pdf, nullptr, false, {"file", "pdftotext"}, {sentence}},
    {"pdf_name_with_dash_argument", "report.pdf", Source::pdf, nullptr, true, {"pdftotext"}, {sentence}},
    {"gzip_text", "notes.txt.gz", Source::text, "gzip", false, {}, {plain_text}},
    {"bzip2_text", "notes.txt.bz2", Source::text, "bzip2", false, {}, {plain_text}},
    {"xz_text", "notes.txt.xz", Source::text, "xz", false, {}, {plain_text}},
    {"zstd_text", "notes.txt.zst", Source::text, "zstd", false, {}, {plain_text}},
    {"gzip_pdf", "paper.pdf.gz", Source::pdf, "gzip", false, {"pdftotext"}, {sentence}},
    {"manual_page", "frob.1", Source::man_page, nullptr, false, {"man"}, {"NAME", man_name_line}},
    {"gzip_manual_page", "frob.1.gz", Source::man_page, "gzip", false, {"man"}, {"NAME", man_name_line}},
    {"html", "page.html", Source::html, nullptr, false, {"html2text"}, {"Hello & welcome"}},
    {"gzip_html", "page.html.gz", Source::html, "gzip", false, {"html2text"}, {"Hello & welcome"}},
    {"plain_text", "notes.txt", Source::text, nullptr, false, {}, {}},
    {"plain_text_with_manual_name", "notes.1", Source::text, nullptr, false, {}, {}},
    {"random_bytes", "blob.bin", Source::random, nullptr, false, {}, {}},
    {"broken_pdf", "broken.pdf", Source::broken_pdf, nullptr, true, {}, {}},
    {"empty_file", "empty.txt", Source::empty, nullptr, false, {}, {}},
    {"corrupt_gzip", "corrupt.gz", Source::corrupt_gzip, nullptr, false, {}, {}},
    {"missing_file", "missing.pdf", Source::none, nullptr, true, {}, {}},
};

std::string case_label(const ::testing::TestParamInfo<FilterCase> &info)
{
    return info.param.label;
}

INSTANTIATE_TEST_SUITE_P(Formats, FilterTest, ::testing::ValuesIn(format_cases), case_label);

// Hostile names, given relative to the working directory: every one must
// reach the converter intact and none may be run as shell code.
class FilterPathTest : public FilterTest {};

TEST_P(FilterPathTest, HandlesHostileNames)
{
    check_case(GetParam());
}

const FilterCase path_cases[] = {
    {"blank", "two words.gz", Source::text, "gzip", false, {}, {plain_text}},
    {"single_quote", "it's.gz", Source::text, "gzip", false, {}, {plain_text}},
    {"double_quote", "say \"hi\".gz", Source::text, "gzip", false, {}, {plain_text}},
    {"dollar", "cost $HOME.gz", Source::text, "gzip", false, {}, {plain_text}},
    {"backquote", "tick `touch PWNED`.gz", Source::text, "gzip", false, {}, {plain_text}},
    {"backslash", "back\\slash.gz", Source::text, "gzip", false, {}, {plain_text}},
    {"newline", "line\nbreak.gz", Source::text, "gzip", false, {}, {plain_text}},
    {"leading_dash", "-rf.gz", Source::text, "gzip", false, {}, {plain_text}},
    {"command_substitution", "$(touch PWNED).gz", Source::text, "gzip", false, {}, {plain_text}},
    {"pdf_leading_dash", "-o $(touch PWNED).pdf", Source::pdf, nullptr, true, {"pdftotext"}, {sentence}},
    {"manual_page_leading_dash", "-x 'q' `touch PWNED`.1", Source::man_page, nullptr, false, {"man"},
     {"NAME", man_name_line}},
    {"html_url_like", "http:x.html", Source::html, nullptr, false, {"html2text"}, {"Hello & welcome"}},
};

INSTANTIATE_TEST_SUITE_P(Paths, FilterPathTest, ::testing::ValuesIn(path_cases), case_label);

}  // namespace
