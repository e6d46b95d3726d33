// End-to-end checks of the bundled input filter, run directly (no shell in
// between) on files each test writes into its own temporary directory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <list>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "helpers.h"

namespace {

const char *const filter_path = DRIFTERM_SOURCE_DIR "/filter/lesspipe.sh";
const char *const converter_path = DRIFTERM_CONVERT_BINARY;
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

// Runs argv in cwd with stdin/stdout/stderr on the given files, TMPDIR set
// and the built converter as DRIFTERM_CONVERT; returns the exit status, or
// -1 when it did not exit normally or within 10 s (its whole process group
// is then killed: a filter that blocks fails rather than holds the test).
int run_program(const std::vector<std::string> &argv, const std::string &cwd,
                const std::string &in, const std::string &out,
                const std::string &err, const std::string &tmpdir)
{
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        setpgid(0, 0);
        int in_fd = open(in.c_str(), O_RDONLY);
        int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0 || chdir(cwd.c_str()) != 0)
            _exit(126);
        dup2(in_fd, 0);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        setenv("TMPDIR", tmpdir.c_str(), 1);
        setenv("DRIFTERM_CONVERT", converter_path, 1);
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    setpgid(pid, pid); // either side may come first
    int status = 0;
    for (int waited_ms = 0;; waited_ms += 10) {
        pid_t got = waitpid(pid, &status, WNOHANG);
        if (got == pid)
            break;
        if (got < 0 || waited_ms >= 10000) {
            ADD_FAILURE() << argv[0] << " " << (argv.size() > 1 ? argv.back() : "") << " did not end";
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        usleep(10000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    {"pdf_by_content", "paper", Source::pdf, nullptr, false, {"pdftotext"}, {sentence}},
    {"pdf_name_with_dash_argument", "report.pdf", Source::pdf, nullptr, true, {"pdftotext"}, {sentence}},
    {"gzip_text", "notes.txt.gz", Source::text, "gzip", false, {}, {plain_text}},
    {"bzip2_text", "notes.txt.bz2", Source::text, "bzip2", false, {}, {plain_text}},
    {"xz_text", "notes.txt.xz", Source::text, "xz", false, {}, {plain_text}},
    {"zstd_text", "notes.txt.zst", Source::text, "zstd", false, {}, {plain_text}},
    {"gzip_pdf", "paper.pdf.gz", Source::pdf, "gzip", false, {"pdftotext"}, {sentence}},
    {"manual_page", "frob.1", Source::man_page, nullptr, false, {"man"}, {"NAME", man_name_line}},
    {"gzip_manual_page", "frob.1.gz", Source::man_page, "gzip", false, {"man"}, {"NAME", man_name_line}},
    {"html", "page.html", Source::html, nullptr, false, {}, {"Heading\n", "Hello & welcome"}},
    {"gzip_html", "page.html.gz", Source::html, "gzip", false, {}, {"Heading\n", "Hello & welcome"}},
    {"plain_text", "notes.txt", Source::text, nullptr, false, {}, {}},
    {"plain_text_with_manual_name", "notes.1", Source::text, nullptr, false, {}, {}},
    {"text_named_like_a_word_file", "notes.doc", Source::text, nullptr, false, {}, {}},
    {"text_named_like_a_kindle_book", "notes.mobi", Source::text, nullptr, false, {}, {}},
    {"random_bytes", "blob.bin", Source::random, nullptr, false, {}, {"no text in blob.bin ("}},
    {"broken_pdf", "broken.pdf", Source::broken_pdf, nullptr, true, {}, {"no text in broken.pdf (PDF)\n"}},
    {"empty_file", "empty.txt", Source::empty, nullptr, false, {}, {}},
    {"corrupt_gzip", "corrupt.gz", Source::corrupt_gzip, nullptr, false, {}, {"corrupt.gz could not be read (gzip): it is damaged\n"}},
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
    {"html_url_like", "http:x.html", Source::html, nullptr, false, {}, {"Hello & welcome"}},
};

INSTANTIATE_TEST_SUITE_P(Paths, FilterPathTest, ::testing::ValuesIn(path_cases), case_label);


// Documents as people have them: other encodings and line ends, books and
// office files (zips written here with `zip`), hostile ones, and a PDF
// whose rows must come out as one line per paragraph. Each row's texts must
// appear in order; a row without any must make the filter print nothing.
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
    const char *hidden = nullptr;      // tools left out of PATH, blank-separated
    const char *locale = "C.UTF-8";    // LC_ALL of the run
};

// `utf8` in `charset`, by iconv(3); a test of encodings must not depend on
// the converter it checks.
std::string in_charset(const char *charset, const std::string &utf8)
{
    iconv_t cd = iconv_open(charset, "UTF-8");
    if (cd == (iconv_t)-1) {
        ADD_FAILURE() << "iconv cannot write " << charset;
        return "";
    }
    std::string out(utf8.size() * 4 + 16, '\0');
    char *in = const_cast<char *>(utf8.data()), *to = out.data();
    size_t in_left = utf8.size(), out_left = out.size();
    iconv(cd, &in, &in_left, &to, &out_left);
    iconv(cd, nullptr, nullptr, &to, &out_left); // UTF-7 ends its last run here
    iconv_close(cd);
    out.resize(out.size() - out_left);
    return out;
}

std::string utf16le_with_bom(const std::u16string &text)
{
    std::string bytes = "\xff\xfe";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xff));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

// An XML file written in UTF-8 and declared so, in `charset` instead:
// UTF-16 with its byte-order mark, UTF-7 after a declaration in ASCII,
// where a grep for "<!ENTITY" finds nothing.
std::string xml_in(const std::string &charset, const std::string &xml)
{
    const std::string declared = "encoding=\"UTF-8\"";
    size_t at = xml.find(declared);
    if (charset == "UTF-8" || at == std::string::npos)
        return xml;
    std::string renamed = xml.substr(0, at) + "encoding=\"" + (charset == "UTF-7" ? "UTF-7" : "UTF-16") + "\"" +
                          xml.substr(at + declared.size());
    if (charset == "UTF-7") {
        size_t end = renamed.find("?>") + 2;
        return renamed.substr(0, end) + in_charset("UTF-7", renamed.substr(end));
    }
    return (charset == "UTF-16LE" ? "\xff\xfe" : "\xfe\xff") + in_charset(charset.c_str(), renamed);
}

std::string xhtml_chapter(const std::string &title)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>" + title + "</title></head>"
           "<body><h1>" + title + " chapter</h1><p>Text of the " + title + " chapter.</p></body></html>\n";
}

// The spine lists chapter two (its href percent-encoded) first, then one
// marked linear="no" (shown after the rest), one the zip lacks, chapter
// one, and one reached through ".." with a fragment.
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
                                            "Third chapter", "Notes chapter"};
const std::vector<std::string> epub_absent = {"<?xml", "<p>"};

// A book of the chapters given (names under OEBPS/), in this spine order.
std::vector<Member> epub_of(const std::vector<Member> &chapters)
{
    std::string manifest, spine;
    std::vector<Member> members = {
        {"mimetype", "application/epub+zip"},
        {"META-INF/container.xml", epub_members[1].data},
    };
    for (size_t i = 0; i < chapters.size(); i++) {
        std::string id = "c" + std::to_string(i);
        manifest += "<item id=\"" + id + "\" href=\"" + chapters[i].name + "\" media-type=\"application/xhtml+xml\"/>";
        spine += "<itemref idref=\"" + id + "\"/>";
    }
    members.push_back({"OEBPS/content.opf",
                       R"(<?xml version="1.0"?><package xmlns="http://www.idpf.org/2007/opf" version="3.0">)"
                       "<manifest>" + manifest + "</manifest><spine>" + spine + "</spine></package>"});
    for (const Member &chapter : chapters)
        members.push_back({"OEBPS/" + chapter.name, chapter.data});
    return members;
}

const char *const word_ns = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";

// A DOCX of the body given (w:p elements), and the parts beside it
// ("numbering", "footnotes", "endnotes": word/NAME.xml, linked from the
// document as Word links them).
std::vector<Member> docx_of(const std::string &body, const std::vector<Member> &parts = {})
{
    std::string types = R"(<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/)"
                        R"(content-types"><Override PartName="/word/document.xml" ContentType="application/)"
                        R"(vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>)";
    std::string rels = R"(<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/)"
                       R"(package/2006/relationships">)";
    std::vector<Member> members;
    for (const Member &part : parts) {
        types += "<Override PartName=\"/word/" + part.name + ".xml\" ContentType=\"application/vnd.openxmlformats-"
                 "officedocument.wordprocessingml." + part.name + "+xml\"/>";
        rels += "<Relationship Id=\"r" + part.name + "\" Type=\"http://schemas.openxmlformats.org/officeDocument/"
                "2006/relationships/" + part.name + "\" Target=\"" + part.name + ".xml\"/>";
        members.push_back({"word/" + part.name + ".xml", "<?xml version=\"1.0\"?>" + part.data});
    }
    members.insert(members.begin(), {"[Content_Types].xml", types + "</Types>"});
    members.insert(members.begin() + 1, {"word/_rels/document.xml.rels", rels + "</Relationships>"});
    members.insert(members.begin() + 2,
                   {"word/document.xml", std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<w:document "
                                                     "xmlns:w=\"") + word_ns + "\"><w:body>" + body +
                                             "</w:body></w:document>\n"});
    return members;
}

std::string word_paragraph(const std::string &runs, const std::string &properties = "")
{
    return "<w:p>" + (properties.empty() ? "" : "<w:pPr>" + properties + "</w:pPr>") + runs + "</w:p>";
}

std::string word_run(const std::string &text)
{
    return "<w:r><w:t xml:space=\"preserve\">" + text + "</w:t></w:r>";
}

std::string word_list_item(int num_id, const std::string &text)
{
    return word_paragraph(word_run(text), "<w:numPr><w:ilvl w:val=\"0\"/><w:numId w:val=\"" +
                                              std::to_string(num_id) + "\"/></w:numPr>");
}

// The notes part: Word's two separators, then note 1.
Member word_notes(const std::string &kind, const std::string &text)
{
    std::string open = "<w:" + kind + " w:id=\"", close = "</w:" + kind + ">";
    return {kind + "s", "<w:" + kind + "s xmlns:w=\"" + word_ns + "\">" + open + "-1\" w:type=\"separator\">" +
                            word_paragraph("<w:r><w:separator/></w:r>") + close + open +
                            "0\" w:type=\"continuationSeparator\">" +
                            word_paragraph("<w:r><w:continuationSeparator/></w:r>") + close + open + "1\">" +
                            word_paragraph(word_run(text)) + close + "</w:" + kind + "s>"};
}

const char *const odt_ns = R"(xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" )"
                           R"(xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" )"
                           R"(xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0")";

std::vector<Member> odt_of(const std::string &styles, const std::string &text)
{
    return {{"mimetype", "application/vnd.oasis.opendocument.text"},
            {"content.xml", std::string("<?xml version=\"1.0\"?><office:document-content ") + odt_ns +
                                "><office:automatic-styles>" + styles + "</office:automatic-styles><office:body>"
                                "<office:text>" + text + "</office:text></office:body></office:document-content>"}};
}

// The hostile files: an XML document declaring an external entity on
// `target` and naming it in its text, as an EPUB chapter, the text of a
// DOCX or a FictionBook. Nothing may be read from the target.
const char *const secret = "TOP-SECRET-b7f3";
const std::vector<std::string> entity_absent = {secret, "<!ENTITY", "]>"};
const std::vector<std::string> entity_text = {"Visible words", "end."};

std::string with_entity(const std::string &format, const std::string &target)
{
    std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE ";
    std::string entity = " [<!ENTITY e SYSTEM \"" + target + "\">]>\n";
    std::string text = "Visible words &e; end.";
    if (format == "epub")
        return head + "html" + entity + "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>t</title>"
               "</head><body><p>" + text + "</p></body></html>\n";
    if (format == "docx")
        return head + "w:document" + entity + "<w:document xmlns:w=\"" + word_ns + "\"><w:body>" +
               word_paragraph(word_run(text)) + "</w:body></w:document>\n";
    return head + "FictionBook" + entity + "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\">"
           "<body><section><p>" + text + "</p></section></body></FictionBook>\n";
}

// The row of one hostile file, `charset` its encoding.
Document entity_row(const std::string &format, const std::string &charset, const std::string &target)
{
    static std::list<std::string> labels; // the rows keep pointers into these
    labels.push_back(format + "_entity_" + charset + (target.find("/dev/") == 0 ? "_device" : ""));
    std::string xml = xml_in(charset, with_entity(format, target));
    Document row{labels.back().c_str(), "hostile.fb2", xml, {}, nullptr, {}, entity_text, entity_absent};
    if (format == "epub") {
        row.file_name = "hostile.epub";
        row.members = epub_of({{"chapter.xhtml", xml}});
        row.needs = {"zip"};
    } else if (format == "docx") {
        row.file_name = "hostile.docx";
        row.members = docx_of("");
        row.members[2].data = xml;
        row.needs = {"zip"};
    }
    return row;
}

// A text repeated into a sample a charset guesser can tell, in `charset`.
std::string sample_in(const char *charset, const std::string &sentence)
{
    std::string text;
    for (int i = 0; i < 12; i++)
        text += sentence + "\n";
    return in_charset(charset, text);
}

const char *const japanese = "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xae\xe6\x96\x87\xe7\xab\xa0\xe3\x81\xa7"
                             "\xe3\x81\x99\xe3\x80\x82\xe3\x81\x93\xe3\x82\x8c\xe3\x81\xaf\xe8\xa9\xa6\xe9\xa8\x93"
                             "\xe3\x81\xa7\xe3\x81\x99\xe3\x80\x82";
const char *const chinese = "\xe8\xbf\x99\xe6\x98\xaf\xe4\xb8\x80\xe4\xb8\xaa\xe6\xb5\x8b\xe8\xaf\x95\xe6\x96\x87"
                            "\xe6\x9c\xac\xef\xbc\x8c\xe7\x94\xa8\xe4\xba\x8e\xe6\xa3\x80\xe6\x9f\xa5\xe7\xbc\x96"
                            "\xe7\xa0\x81\xe3\x80\x82";
const char *const russian = "\xd0\xad\xd1\x82\xd0\xbe \xd0\xbf\xd1\x80\xd0\xbe\xd1\x81\xd1\x82\xd0\xbe\xd0\xb9 "
                            "\xd1\x82\xd0\xb5\xd0\xba\xd1\x81\xd1\x82 \xd0\xbd\xd0\xb0 \xd1\x80\xd1\x83\xd1\x81"
                            "\xd1\x81\xd0\xba\xd0\xbe\xd0\xbc \xd1\x8f\xd0\xb7\xd1\x8b\xd0\xba\xd0\xb5.";

// Every row, with the hostile files aimed at `dir`, where the test keeps
// the secret and the FIFO.
std::vector<Document> document_rows(const std::string &dir)
{
    std::vector<Document> rows = {
        {"utf16_with_bom", "u16.txt", utf16le_with_bom(u"caf\u00e9 \u201cq\u201d\r\nnext\r\n"), {}, nullptr,
         {}, {"caf\xc3\xa9 \xe2\x80\x9cq\xe2\x80\x9d\nnext\n"}, {"\r", "\xef\xbb\xbf"}},
        {"utf16_without_bom", "u16.txt", in_charset("UTF-16LE", "words in a text without a mark\n"), {}, nullptr,
         {}, {"words in a text without a mark\n"}, {std::string(1, '\0')}},
        {"latin1", "latin1.txt", "caf\xe9 na\xefve\n", {}, nullptr, {}, {"caf\xc3\xa9 na\xc3\xafve\n"}, {}},
        {"cp1252", "cp1252.txt", "\x93quoted\x94 \x80 5 \x81\n", {}, nullptr, {},
         {"\xe2\x80\x9cquoted\xe2\x80\x9d \xe2\x82\xac 5 \xef\xbf\xbd\n"}, {}},
        {"shift_jis", "sjis.txt", sample_in("SHIFT_JIS", japanese), {}, nullptr, {}, {japanese}, {}},
        {"gb18030", "gb.txt", sample_in("GB18030", chinese), {}, nullptr, {}, {chinese}, {}},
        {"koi8_r", "koi8.txt", sample_in("KOI8-R", russian), {}, nullptr, {}, {russian}, {}},
        {"utf8_bom", "bom.txt", "\xef\xbb\xbf" "bom text\n", {}, nullptr, {}, {"bom text\n"}, {"\xef\xbb\xbf"}},
        {"crlf", "crlf.txt", "one\r\ntwo\r\n", {}, nullptr, {}, {"one\ntwo\n"}, {"\r"}},
        {"lone_cr", "cr.txt", "one\rtwo\r", {}, nullptr, {}, {"one\ntwo\n"}, {"\r"}},
        {"plain_utf8", "plain.txt", "h\xc3\xa9llo w\xc3\xb6rld\n", {}, nullptr, {}, {}, {}},
        {"utf8_under_c_locale", "cafe.txt", "Caf\xc3\xa9 cr\xc3\xa8me\n", {}, nullptr, {}, {"Cafe creme\n"},
         {"\xc3"}, nullptr, "C"},
        {"markdown", "notes.md", "# Title\n\nSome *markdown* text.\n", {}, nullptr, {}, {}, {}},
        {"html_ordered_list_start", "list.html",
         "<html><body><ol start=\"7\"><li>seventh</li><li>eighth</li></ol></body></html>\n", {}, nullptr, {},
         {"7. seventh\n8. eighth\n"}, {"1."}},
        {"no_break_space_lines", "spaces.html",
         "<html><body><p>one</p><p>&nbsp;</p><p>&nbsp; &nbsp;</p><p>two</p></body></html>\n", {}, nullptr, {},
         {"one\n\ntwo\n"}, {"\xc2\xa0"}},
        {"epub", "book.epub", "", epub_members, nullptr, {"zip"}, epub_text, epub_absent},
        {"epub_gzip", "book.epub.gz", "", epub_members, "gzip", {"zip"}, epub_text, epub_absent},
        {"epub_bracketed_member", "brackets.epub", "",
         epub_of({{"ch[1].xhtml", xhtml_chapter("Bracketed")}, {"ch2.xhtml", xhtml_chapter("Plain")}}), nullptr,
         {"zip"}, {"Text of the Bracketed chapter.", "Text of the Plain chapter."}, {}},
        {"docx", "letter.docx", "",
         docx_of("<w:p><w:r><w:t>Runs </w:t></w:r><w:r><w:rPr><w:b/></w:rPr><w:t>join</w:t></w:r>"
                 "<w:r><w:t xml:space=\"preserve\"> into one line.</w:t></w:r></w:p>" +
                 word_paragraph(word_run("Next paragraph."))),
         nullptr, {"zip"}, {"Runs join into one line.\n", "Next paragraph."}, {"<w:"}},
        {"docx_numbering", "steps.docx", "",
         docx_of(word_list_item(1, "First step") + word_list_item(1, "Second step") +
                     word_list_item(2, "A point"),
                 {{"numbering",
                   std::string("<w:numbering xmlns:w=\"") + word_ns + "\">"
                   "<w:abstractNum w:abstractNumId=\"0\"><w:lvl w:ilvl=\"0\"><w:start w:val=\"1\"/>"
                   "<w:numFmt w:val=\"decimal\"/><w:lvlText w:val=\"%1.\"/></w:lvl></w:abstractNum>"
                   "<w:abstractNum w:abstractNumId=\"1\"><w:lvl w:ilvl=\"0\"><w:numFmt w:val=\"bullet\"/>"
                   "<w:lvlText w:val=\"\xe2\x80\xa2\"/></w:lvl></w:abstractNum>"
                   "<w:num w:numId=\"1\"><w:abstractNumId w:val=\"0\"/></w:num>"
                   "<w:num w:numId=\"2\"><w:abstractNumId w:val=\"1\"/></w:num></w:numbering>"}}),
         nullptr, {"zip"}, {"1. First step\n2. Second step\n", "\xe2\x80\xa2 A point\n"}, {}},
        {"docx_notes", "notes.docx", "",
         docx_of(word_paragraph(word_run("Body text") + "<w:r><w:footnoteReference w:id=\"1\"/></w:r>" +
                                word_run(" goes on") + "<w:r><w:endnoteReference w:id=\"1\"/></w:r>" +
                                word_run(".")),
                 {word_notes("footnote", "A footnote."), word_notes("endnote", "An endnote.")}),
         nullptr, {"zip"}, {"Body text[1] goes on", "[1] A footnote.", "] An endnote."}, {}},
        {"odt", "letter.odt", "",
         odt_of("", "<text:h>The heading</text:h><text:p>Three<text:s text:c=\"3\"/>spaces and<text:s/>one."
                    "</text:p>"),
         nullptr, {"zip"}, {"The heading\n", "Three", "spaces and one.\n"}, {"<text:"}},
        {"odt_lists_and_notes", "lists.odt", "",
         odt_of("<text:list-style style:name=\"L1\"><text:list-level-style-number text:level=\"1\" "
                "style:num-format=\"1\" style:num-suffix=\".\"/></text:list-style>",
                "<text:list text:style-name=\"L1\"><text:list-item><text:p>Alpha</text:p></text:list-item>"
                "<text:list-item><text:p>Beta</text:p></text:list-item></text:list>"
                "<text:p>Said<text:note text:id=\"ftn1\" text:note-class=\"footnote\"><text:note-citation>1"
                "</text:note-citation><text:note-body><text:p>Note body.</text:p></text:note-body></text:note>"
                " here.</text:p>"),
         nullptr, {"zip"}, {"1. Alpha\n2. Beta\n", "Said[1] here.", "[1] Note body."}, {}},
        {"rtf", "letter.rtf",
         R"({\rtf1\ansi\ansicpg1252{\fonttbl{\f0 Times;}}\f0 Caf\'e9 cr\'e8me \u8364? and \u8220?quotes\u8221?.\par})",
         {}, nullptr, {}, {"Caf\xc3\xa9 cr\xc3\xa8me \xe2\x82\xac and \xe2\x80\x9cquotes\xe2\x80\x9d."},
         {"\\", "###"}},
        {"rtf_quotes_and_emoji", "quotes.rtf",
         R"({\rtf1\ansi The \u8220?code\u8221? word \u-10179?\u-8704? here.\par})", {}, nullptr, {},
         {"The \xe2\x80\x9c" "code\xe2\x80\x9d word \xf0\x9f\x98\x80 here."}, {"\xef\xbf\xbd", "?"}},
        {"rtf_table", "table.rtf",
         "{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}\n"
         "\\trowd\\cellx2000\\cellx4000\\pard\\intbl Name\\cell Size\\cell\\row\n"
         "\\trowd\\cellx2000\\cellx4000\\pard\\intbl Apple\\cell Big\\cell\\row\n"
         "\\pard After the table.\\par}",
         {}, nullptr, {}, {"Name | Size\n", "Apple | Big\n", "After the table."}, {"___"}},
        {"fictionbook", "novel.fb2",
         R"(<?xml version="1.0" encoding="UTF-8"?><FictionBook xmlns="http://www.gribuser.ru/xml/fictionbook/2.0">)"
         R"(<description><title-info><book-title>Hidden title</book-title></title-info></description>)"
         R"(<body><section><title><p>Chapter 1</p></title><p>First <emphasis>paragraph</emphasis> of the)"
         "\n"
         R"( book.</p></section></body><binary id="i" content-type="image/png">iVBORw0KGgo=</binary></FictionBook>)",
         {}, nullptr, {}, {"Chapter 1\n", "First paragraph of the book.\n"}, {"Hidden", "iVBOR", "<p>"}},
        // pdftotext itself joins a row ending in a hyphen to the next (dropping
        // the hyphen); the rest of the paragraph's rows are joined here. The
        // converter drops it where the document writes the word whole.
        {"pdf_paragraph", "rows.pdf",
         make_pdf("The reader watches the words drift by, row after) Tj 0 -22 Td ("
                  "row, at a steady pace that never hurries or wa-) Tj 0 -22 Td ("
                  "vers, while the lines keep coming up the screen) Tj 0 -22 Td ("
                  "to the end.) Tj 0 -22 Td (A new paragraph starts here; nothing wavers."),
         {}, nullptr, {"pdftotext"},
         {"The reader watches the words drift by, row after row, at a steady pace that never hurries or wavers, "
          "while the lines keep coming up the screen to the end.\n",
          "\nA new paragraph starts here; nothing wavers.\n"},
         {}},
        {"manual_page_without_man_db", "frob.1", man_source, {}, nullptr, {"mandoc"},
         {"NAME\n", man_name_line}, {"\b"}, "man"},
        // A format whose program is missing says so; a text is shown as it is.
        {"without_man_or_mandoc", "frob.1", man_source, {}, nullptr, {},
         {"frob.1 needs man (Debian package man-db)\n"}, {}, "man mandoc"},
        {"pdf_by_the_converter_without_pdftotext", "book.pdf", make_pdf(sentence), {}, nullptr, {}, {sentence},
         {}, "pdftotext"},
        {"without_pdftotext_or_converter", "book.pdf", make_pdf(sentence), {}, nullptr, {},
         {"book.pdf needs pdftotext (Debian package poppler-utils)\n"}, {sentence}, "pdftotext drifterm-convert"},
        {"without_gzip", "notes.txt.gz", plain_text, {}, "gzip", {},
         {"notes.txt.gz needs gzip (Debian package gzip)\n"}, {}, "gzip"},
        {"without_converter", "report.doc", std::string("\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1\0\0\0\0", 12), {},
         nullptr, {}, {"report.doc needs drifterm-convert (Debian package drifterm)\n"}, {}, "drifterm-convert"},
        {"text_without_converter", "notes.txt", plain_text, {}, nullptr, {}, {}, {}, "drifterm-convert"},
        {"gzip_text_without_converter", "notes.txt.gz", plain_text, {}, "gzip", {}, {plain_text}, {},
         "drifterm-convert"},
    };
    for (const char *format : {"epub", "docx", "fb2"})
        for (const char *charset : {"UTF-8", "UTF-16LE", "UTF-16BE", "UTF-7"})
            rows.push_back(entity_row(format, charset, "file://" + dir + "/secret"));
    // Neither a terminal nor a FIFO without a writer may hold the filter up.
    rows.push_back(entity_row("epub", "UTF-8", "/dev/tty"));
    rows.push_back(entity_row("fb2", "UTF-16LE", dir + "/fifo"));
    rows.back().label = "fb2_entity_on_a_fifo";
    return rows;
}

// A directory of links to the commands on PATH that the filter names,
// but the blank-separated `hidden` ones (linking all of PATH takes seconds
// on some file systems).
std::string path_without(const std::string &root, const std::string &hidden)
{
    std::string script = read_file(filter_path), word;
    std::set<std::string> named;
    for (char c : script + " " + hidden + " ") {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.') {
            word += c;
        } else if (!word.empty()) {
            named.insert(word);
            word.clear();
        }
    }
    for (char c : hidden + " ") {
        if (c != ' ') {
            word += c;
        } else if (!word.empty()) {
            named.erase(word);
            word.clear();
        }
    }
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
            // zip takes "[" in a name for a pattern unless told otherwise.
            zip.push_back(m.name);
        }
        zip.insert(zip.begin() + 1, "-nw");
        ASSERT_EQ(run_program(zip, tree, "/dev/null", dir + "/zip.out", dir + "/zip.err", tmp), 0)
            << read_file(dir + "/zip.err");
    }
    if (d.compressor != nullptr) {
        ASSERT_EQ(run_program(compressor_command(d.compressor), dir, plain, target, dir + "/compress.err", tmp), 0);
    }
}

bool tools_missing(const Document &d)
{
    bool missing = d.compressor != nullptr && find_program(d.compressor).empty();
    for (const char *tool : d.needs)
        missing = missing || find_program(tool).empty();
    return missing;
}

TEST(FilterDocuments, ReadCleanly)
{
    TempDir hostile;
    write_file(hostile.path + "/secret", std::string(secret) + "\n");
    ASSERT_EQ(mkfifo((hostile.path + "/fifo").c_str(), 0600), 0);
    for (const Document &d : document_rows(hostile.path)) {
        SCOPED_TRACE(d.label);
        if (tools_missing(d)) {
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
        bool no_converter = d.hidden != nullptr && std::string(d.hidden).find("drifterm-convert") != std::string::npos;
        std::vector<std::string> argv = {"env", std::string("LC_ALL=") + d.locale, "PATH=" + search,
                                         "DRIFTERM_CONVERT=" + std::string(no_converter ? "" : converter_path),
                                         filter_path, d.file_name};
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
