// End-to-end checks of the bundled input filter, run directly (no shell in
// between) on files each test writes into its own temporary directory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <ostream>
#include <random>
#include <set>
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


// Documents as people have them: other encodings and line ends, books and
// office files (zips written here with `zip`), and a PDF whose rows must
// come out as one line per paragraph. Each row's texts must appear in
// order; a row without any must make the filter print nothing.
struct Member {
    std::string name, data;
};

struct Document {
    const char *label;
    const char *file_name;
    std::string bytes;           // the file, unless it is a zip of `members`
    std::vector<Member> members; // stored in this order
    const char *compressor;      // then compressed, or nullptr
    std::vector<const char *> needs;
    std::vector<std::string> expect;
    std::vector<std::string> absent;
    const char *hidden = nullptr; // a tool left out of PATH
};

std::string utf16le_with_bom(const std::u16string &text)
{
    std::string bytes = "\xff\xfe";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xff));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::string xhtml_chapter(const std::string &title)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>" + title + "</title></head>"
           "<body><h1>" + title + " chapter</h1><p>Text of the " + title + " chapter.</p></body></html>\n";
}

// The spine lists chapter two (its href percent-encoded) first, then one
// marked linear="no", one the zip lacks, chapter one, and one reached
// through ".." with a fragment.
const std::vector<Member> epub_members = {
    {"mimetype", "application/epub+zip"},
    {"META-INF/container.xml",
     R"(<?xml version="1.0"?><container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container">)"
     R"(<rootfiles><rootfile full-path="OEBPS/content.opf" media-type="application/oebps-package+xml"/>)"
     R"(</rootfiles></container>)"},
    {"OEBPS/content.opf",
     R"(<?xml version="1.0"?><package xmlns="http://www.idpf.org/2007/opf" version="3.0"><manifest>)"
     R"(<item id="one" href="text/one.xhtml" media-type="application/xhtml+xml"/>)"
     R"(<item id="two" href="text/chapter%20two.xhtml" media-type="application/xhtml+xml"/>)"
     R"(<item id="notes" href="text/notes.xhtml" media-type="application/xhtml+xml"/>)"
     R"(<item id="gone" href="text/gone.xhtml" media-type="application/xhtml+xml"/>)"
     R"(<item id="three" href="../OEBPS/text/three.xhtml#top" media-type="application/xhtml+xml"/>)"
     R"(</manifest><spine><itemref idref="two"/><itemref idref="notes" linear="no"/>)"
     R"(<itemref idref="gone"/><itemref idref="one"/><itemref idref="three"/></spine></package>)"},
    {"OEBPS/text/one.xhtml", xhtml_chapter("First")},
    {"OEBPS/text/chapter two.xhtml", xhtml_chapter("Second")},
    {"OEBPS/text/notes.xhtml", xhtml_chapter("Notes")},
    {"OEBPS/text/three.xhtml", xhtml_chapter("Third")},
};
const std::vector<std::string> epub_text = {"Second chapter", "Text of the Second chapter.", "First chapter",
                                            "Third chapter"};
const std::vector<std::string> epub_absent = {"Notes", "<?xml", "<p>"};
const std::vector<const char *> epub_tools = {"zip", "unzip", "xsltproc", "html2text"};

const Document documents[] = {
    {"utf16_with_bom", "u16.txt", utf16le_with_bom(u"caf\u00e9 \u201cq\u201d\r\nnext\r\n"), {}, nullptr,
     {"iconv"}, {"caf\xc3\xa9 \xe2\x80\x9cq\xe2\x80\x9d\nnext\n"}, {"\r", "\xef\xbb\xbf"}},
    {"latin1", "latin1.txt", "caf\xe9 na\xefve\n", {}, nullptr, {"iconv"}, {"caf\xc3\xa9 na\xc3\xafve\n"}, {}},
    {"cp1252", "cp1252.txt", "\x93quoted\x94 \x80 5 \x81\n", {}, nullptr, {"iconv"},
     {"\xe2\x80\x9cquoted\xe2\x80\x9d \xe2\x82\xac 5 \xef\xbf\xbd\n"}, {}},
    {"utf8_bom", "bom.txt", "\xef\xbb\xbf" "bom text\n", {}, nullptr, {}, {"bom text\n"}, {"\xef\xbb\xbf"}},
    {"crlf", "crlf.txt", "one\r\ntwo\r\n", {}, nullptr, {}, {"one\ntwo\n"}, {"\r"}},
    {"lone_cr", "cr.txt", "one\rtwo\r", {}, nullptr, {}, {"one\ntwo\n"}, {"\r"}},
    {"plain_utf8", "plain.txt", "h\xc3\xa9llo w\xc3\xb6rld\n", {}, nullptr, {}, {}, {}},
    {"markdown", "notes.md", "# Title\n\nSome *markdown* text.\n", {}, nullptr, {}, {}, {}},
    {"epub", "book.epub", "", epub_members, nullptr, epub_tools, epub_text, epub_absent},
    {"epub_gzip", "book.epub.gz", "", epub_members, "gzip", epub_tools, epub_text, epub_absent},
    {"docx", "letter.docx", "",
     {{"[Content_Types].xml",
       R"(<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
       R"(<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-)"
       R"(officedocument.wordprocessingml.document.main+xml"/></Types>)"},
      {"word/document.xml",
       R"(<?xml version="1.0"?><w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">)"
       R"(<w:body><w:p><w:r><w:t>Runs </w:t></w:r><w:r><w:rPr><w:b/></w:rPr><w:t>join</w:t></w:r>)"
       R"(<w:r><w:t xml:space="preserve"> into one line.</w:t></w:r></w:p>)"
       R"(<w:p><w:r><w:t>Next paragraph.</w:t></w:r></w:p></w:body></w:document>)"}},
     nullptr, {"zip", "unzip", "xsltproc"}, {"Runs join into one line.\n", "Next paragraph."}, {"<w:"}},
    {"odt", "letter.odt", "",
     {{"mimetype", "application/vnd.oasis.opendocument.text"},
      {"content.xml",
       R"(<?xml version="1.0"?><office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:)"
       R"(office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"><office:body><office:text>)"
       R"(<text:h>The heading</text:h><text:p>Three<text:s text:c="3"/>spaces and<text:s/>one.</text:p>)"
       R"(</office:text></office:body></office:document-content>)"}},
     nullptr, {"zip", "unzip", "xsltproc"}, {"The heading\n", "Three   spaces and one.\n"}, {"<text:"}},
    {"rtf", "letter.rtf",
     R"({\rtf1\ansi\ansicpg1252{\fonttbl{\f0 Times;}}\f0 Caf\'e9 cr\'e8me \u8364? and \u8220?quotes\u8221?.\par})",
     {}, nullptr, {"unrtf", "html2text"},
     {"Caf\xc3\xa9 cr\xc3\xa8me \xe2\x82\xac and \xe2\x80\x9cquotes\xe2\x80\x9d."}, {"\\", "###"}},
    {"fictionbook", "novel.fb2",
     R"(<?xml version="1.0" encoding="UTF-8"?><FictionBook xmlns="http://www.gribuser.ru/xml/fictionbook/2.0">)"
     R"(<description><title-info><book-title>Hidden title</book-title></title-info></description>)"
     R"(<body><section><title><p>Chapter 1</p></title><p>First <emphasis>paragraph</emphasis> of the)"
     "\n"
     R"( book.</p></section></body><binary id="i" content-type="image/png">iVBORw0KGgo=</binary></FictionBook>)",
     {}, nullptr, {"xsltproc"}, {"Chapter 1\n", "First paragraph of the book.\n"}, {"Hidden", "iVBOR", "<p>"}},
    // pdftotext itself joins a row ending in a hyphen to the next (dropping
    // the hyphen); the rest of the paragraph's rows are joined here.
    {"pdf_paragraph", "rows.pdf",
     make_pdf("The reader watches the words drift by, row after) Tj 0 -22 Td ("
              "row, at a steady pace that never hurries or wa-) Tj 0 -22 Td ("
              "vers, while the lines keep coming up the screen) Tj 0 -22 Td ("
              "to the end.) Tj 0 -22 Td (A new paragraph starts here on its own row."),
     {}, nullptr, {"pdftotext"},
     {"The reader watches the words drift by, row after row, at a steady pace that never hurries or wavers, "
      "while the lines keep coming up the screen to the end.\n",
      "\nA new paragraph starts here on its own row.\n"},
     {}},
    {"manual_page_without_man_db", "frob.1", man_source, {}, nullptr, {"mandoc"}, {"NAME\n", man_name_line}, {"\b"},
     "man"},
    {"converter_missing", "page.html", html_source, {}, nullptr, {}, {}, {}, "html2text"},
};

// A directory of links to the commands on PATH that the filter names,
// but `hidden` (linking all of PATH takes seconds on some file systems).
std::string path_without(const std::string &root, const std::string &hidden)
{
    std::string script = read_file(filter_path), word;
    std::set<std::string> named;
    for (char c : script) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.') {
            word += c;
        } else if (!word.empty()) {
            named.insert(word);
            word.clear();
        }
    }
    named.erase(hidden);
    std::string bin = root + "/bin";
    std::filesystem::create_directory(bin);
    const char *path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    for (size_t start = 0, end; start < dirs.size(); start = end + 1) {
        end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        for (const std::string &name : named) {
            std::string tool = dirs.substr(start, end - start) + "/" + name;
            std::error_code ec;
            if (access(tool.c_str(), X_OK) == 0 && !std::filesystem::exists(bin + "/" + name))
                std::filesystem::create_symlink(tool, bin + "/" + name, ec);
        }
    }
    return bin;
}

// Writes the document into `dir` under its name.
void write_document(const Document &d, const std::string &dir, const std::string &tmp)
{
    std::string target = dir + "/" + d.file_name;
    // zip names a new archive *.zip unless its name has a suffix.
    std::string plain = d.compressor != nullptr ? dir + "/uncompressed.bin" : target;
    if (d.members.empty()) {
        write_file(plain, d.bytes);
    } else {
        std::string tree = dir + "/members";
        std::vector<std::string> zip = {"zip", "-q", "-X", "-D", "-0", plain};
        for (const Member &m : d.members) {
            std::filesystem::create_directories(std::filesystem::path(tree + "/" + m.name).parent_path());
            write_file(tree + "/" + m.name, m.data);
            zip.push_back(m.name);
        }
        ASSERT_EQ(run_program(zip, tree, "/dev/null", dir + "/zip.out", dir + "/zip.err", tmp), 0);
    }
    if (d.compressor != nullptr) {
        ASSERT_EQ(run_program(compressor_command(d.compressor), dir, plain, target, dir + "/compress.err", tmp), 0);
    }
}

TEST(FilterDocuments, ReadCleanly)
{
    for (const Document &d : documents) {
        SCOPED_TRACE(d.label);
        bool missing = false;
        for (const char *tool : d.needs)
            missing = missing || find_program(tool).empty();
        if (missing || (d.compressor != nullptr && find_program(d.compressor).empty())) {
            std::cout << "[ SKIPPED  ] " << d.label << ": a tool it needs is not installed\n";
            continue;
        }
        char pattern[] = "/tmp/drifterm-documents.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        std::string root = pattern, tmp = root + "/tmp";
        ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
        ASSERT_NO_FATAL_FAILURE(write_document(d, root, tmp));
        const char *path = std::getenv("PATH");
        std::string search = d.hidden != nullptr ? path_without(root, d.hidden) : (path ? path : "/usr/bin:/bin");
        std::vector<std::string> argv = {"env", "LC_ALL=C.UTF-8", "PATH=" + search, filter_path, d.file_name};
        EXPECT_EQ(run_program(argv, root, "/dev/null", root + "/out", root + "/err", tmp), 0);
        std::string output = read_file(root + "/out");
        EXPECT_EQ(read_file(root + "/err"), "");
        std::error_code ec;
        EXPECT_TRUE(std::filesystem::is_empty(tmp, ec)) << "temp files left in TMPDIR";
        if (d.expect.empty()) {
            EXPECT_EQ(output, "");
        }
        size_t at = 0;
        for (const std::string &text : d.expect) {
            size_t found = output.find(text, at);
            EXPECT_NE(found, std::string::npos) << "missing or out of order: \"" << text << "\" in:\n" << output;
            if (found != std::string::npos)
                at = found + text.size();
        }
        for (const std::string &text : d.absent)
            EXPECT_EQ(output.find(text), std::string::npos) << "\"" << text << "\" in:\n" << output;
        std::filesystem::remove_all(root, ec);
    }
}

}  // namespace
