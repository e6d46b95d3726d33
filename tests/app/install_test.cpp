// What surrounds the program: the manual page and the README against the
// usage text, the bash completion, what scripts/deps asks for, an installed
// copy finding its own filter, and the Debian package.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "helpers.h"
#include "prepare/prepare.h"

namespace {

const std::string source_dir = DRIFTERM_SOURCE_DIR;
const std::string build_dir = DRIFTERM_BUILD_DIR;
const std::string manual_page = source_dir + "/doc/drifterm.1";

// Runs a shell command line with no terminal; stdout and stderr come back.
RunResult run_shell(const std::string &script, int timeout_ms, const std::string &cwd = "")
{
    Launch launch;
    launch.program = "/bin/sh";
    launch.args = {"-c", script};
    launch.cwd = cwd;
    return run_plain(launch, timeout_ms);
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string key_name(std::string key)
{
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return key == "spacebar" ? "space" : key;
}

struct Listed {
    std::set<std::string> options, keys;
};

// The usage text: "-f <filename>   File..." and "'q' to quit." lines.
Listed listed_in_usage(const std::string &usage)
{
    Listed got;
    for (const std::string &line : lines_of(usage)) {
        if (line.size() > 2 && line[0] == '-' && std::islower(static_cast<unsigned char>(line[1])))
            got.options.insert(line.substr(1, 1));
        if (line.size() > 2 && line[0] == '\'') {
            size_t end = line.find('\'', 1);
            if (end != std::string::npos)
                got.keys.insert(key_name(line.substr(1, end - 1)));
        }
    }
    return got;
}

// The manual page source: the tag line after each .TP of OPTIONS and KEYS.
Listed listed_in_manual(const std::string &source, std::set<std::string> *synopsis)
{
    Listed got;
    std::string section;
    bool tag_next = false;
    for (const std::string &line : lines_of(source)) {
        if (line.rfind(".SH ", 0) == 0) {
            section = line.substr(4);
            continue;
        }
        if (section == "SYNOPSIS") {
            for (size_t at = line.find("\\-"); at != std::string::npos; at = line.find("\\-", at + 2))
                for (size_t i = at + 2; i < line.size() && std::islower(static_cast<unsigned char>(line[i])); ++i)
                    synopsis->insert(line.substr(i, 1));
        }
        if (line == ".TP") {
            tag_next = true;
            continue;
        }
        if (!tag_next)
            continue;
        tag_next = false;
        if (section == "OPTIONS" && (line.rfind(".B \\-", 0) == 0 || line.rfind(".BI \\-", 0) == 0))
            got.options.insert(line.substr(line.find("\\-") + 2, 1));
        if (section == "KEYS" && line.rfind(".B ", 0) == 0)
            got.keys.insert(key_name(line.substr(3)));
    }
    return got;
}

// The README: first cells of the rows of the tables under "## Options"
// (inside "## Usage") and "## Keys".
Listed listed_in_readme(const std::string &readme)
{
    Listed got;
    std::string section;
    for (const std::string &line : lines_of(readme)) {
        if (line.rfind("## ", 0) == 0) {
            section = line.substr(3);
            continue;
        }
        if (line.rfind("| `", 0) != 0)
            continue;
        std::string cell = line.substr(3, line.find('`', 3) - 3);
        if (section == "Usage" && cell.size() >= 2 && cell[0] == '-')
            got.options.insert(cell.substr(1, 1));
        if (section == "Keys")
            got.keys.insert(key_name(cell));
    }
    return got;
}

TEST(Documentation, ListsTheOptionsAndKeysOfTheUsageText)
{
    TempDir home;
    RunResult usage = run_plain(reader_launch(home.path, {"-h"}), 10000);
    ASSERT_EQ(usage.status, 0) << usage.err;
    Listed want = listed_in_usage(usage.out);
    ASSERT_EQ(want.options.size(), 15u) << usage.out;
    ASSERT_EQ(want.keys.size(), 12u) << usage.out;

    std::set<std::string> synopsis;
    Listed manual = listed_in_manual(read_file(manual_page), &synopsis);
    EXPECT_EQ(manual.options, want.options) << "OPTIONS of doc/drifterm.1";
    EXPECT_EQ(manual.keys, want.keys) << "KEYS of doc/drifterm.1";
    EXPECT_EQ(synopsis, want.options) << "SYNOPSIS of doc/drifterm.1";

    Listed readme = listed_in_readme(read_file(source_dir + "/README.md"));
    EXPECT_EQ(readme.options, want.options) << "options table of README.md";
    EXPECT_EQ(readme.keys, want.keys) << "keys table of README.md";
}

TEST(Documentation, ManualPageLintsClean)
{
    struct Linter {
        const char *tool, *command;
    };
    for (const Linter &l : {Linter{"groff", "groff -ww -z -man "},
                            Linter{"mandoc", "mandoc -T lint -W warning "}}) {
        SCOPED_TRACE(l.tool);
        ASSERT_NE(find_program(l.tool), "") << l.tool << " is installed by scripts/deps";
        RunResult r = run_shell(l.command + shell_quote(manual_page.c_str()), 20000);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out + r.err, "");
    }
    // And it renders as a page a reader would see.
    RunResult page = run_shell("MANWIDTH=80 man -l " + shell_quote(manual_page.c_str()) + " | col -bx", 20000);
    EXPECT_NE(page.out.find("EXIT STATUS"), std::string::npos) << page.out << page.err;
}

// ---- bash completion ----

const std::vector<std::string> all_colors = {"red",     "bgred",    "green",   "bggreen",
                                             "blue",    "bgblue",   "yellow",  "bgyellow",
                                             "magenta", "bgmagenta", "bgwhite", "bgblack"};
const std::vector<std::string> all_options = {"-f", "-s", "-p", "-w", "-l", "-u", "-c", "-n",
                                              "-a", "-v", "-h", "-x", "-b", "-m", "-t"};

// Sources the completion file in a bare bash and completes the last word.
std::vector<std::string> complete_words(const std::vector<std::string> &words, const std::string &cwd)
{
    Launch launch;
    launch.program = "/bin/bash";
    launch.cwd = cwd;
    launch.args = {"--norc", "-c",
                 "source \"$0\" && COMP_WORDS=(drifterm \"$@\") && COMP_CWORD=$# && _drifterm && "
                 "printf '%s\\n' \"${COMPREPLY[@]}\"",
                 source_dir + "/scripts/drifterm-completion.bash"};
    launch.args.insert(launch.args.end(), words.begin(), words.end());
    RunResult r = run_plain(launch, 10000);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<std::string> got;
    for (const std::string &line : lines_of(r.out))
        if (!line.empty())
            got.push_back(line);
    std::sort(got.begin(), got.end());
    return got;
}

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<std::string> beginning_with(const std::vector<std::string> &v, const std::string &prefix)
{
    std::vector<std::string> out;
    for (const std::string &s : v)
        if (s.rfind(prefix, 0) == 0)
            out.push_back(s);
    return sorted(out);
}

TEST(Completion, OffersWhatEachPositionTakes)
{
    TempDir dir;
    write_file(dir.path + "/notes.txt", "a\n");
    write_file(dir.path + "/novel.pdf", "b\n");
    write_file(dir.path + "/other.txt", "c\n");

    struct Case {
        const char *name;
        std::vector<std::string> words;   // after "drifterm"; the last is being completed
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"colours after -c", {"-c", ""}, sorted(all_colors)},
        {"colours by their beginning", {"-c", "bg"}, beginning_with(all_colors, "bg")},
        {"colours after a group ending in c", {"-nc", ""}, sorted(all_colors)},
        {"colours after other options", {"-s", "200", "-c", "b"}, beginning_with(all_colors, "b")},
        {"colour written onto -c", {"-cmag"}, {"-cmagenta"}},
        {"options after -", {"-"}, sorted(all_options)},
        {"options after a value", {"-s", "200", "-"}, sorted(all_options)},
        {"a finished group", {"-nab"}, {"-nab"}},
        {"files after -f", {"-f", "no"}, {"notes.txt", "novel.pdf"}},
        {"files as leading arguments", {"ot"}, {"other.txt"}},
        {"no options once a file is named", {"notes.txt", "-"}, {}},
        {"-w takes the next word as its value", {"-w", "-"}, {}},
        {"nothing to offer for a pace", {"-s", ""}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(complete_words(c.words, dir.path), c.want);
    }

    // Terminal devices after -t: /dev/tty always exists.
    std::vector<std::string> ttys = complete_words({"-t", "/dev/tt"}, dir.path);
    EXPECT_NE(std::find(ttys.begin(), ttys.end(), "/dev/tty"), ttys.end());
    for (const std::string &t : ttys)
        EXPECT_EQ(t.rfind("/dev/tty", 0), 0u) << t;
}

// ---- what the make targets ask scripts/deps for ----

// Every command scripts/deps looks for, as a stub on a PATH of its own;
// the tools it runs itself are the real ones.
const char *const looked_for[] = {"c++",  "cmake", "pkg-config", "file", "pdftotext", "gzip",
                                  "bzip2", "xz",  "zstd", "man", "mandoc", "groff", "col", "fmt",
                                  "antiword", "catdoc", "gs", "zip", "djvm", "dpkg-shlibdeps",
                                  "lintian", "clang++"};
const char *const its_tools[] = {"grep", "sed", "sort", "tr", "head", "ls"};

const std::string optional_warning =
    "scripts/deps: warning: optional, not installed (such files get a line naming it): "
    "ghostscript (gs)\n";

// The script tells root from other users by `id -u` alone, so a stub id
// stands for the user; dpkg-query knows every package but those in ABSENT,
// and apt-get only notes how it was called.
TEST(Deps, EachTargetAsksOnlyForWhatItNeeds)
{
    struct Case {
        const char *name, *set;
        int uid;
        std::vector<std::string> absent; // commands, and packages that dpkg-query lacks
        int status;
        std::string err, apt_calls;
    };
    const Case cases[] = {
        {"a missing optional converter warns, make goes on", "build", 1000, {"gs"}, 0,
         optional_warning, ""},
        {"make run goes on too", "run", 1000, {"gs"}, 0, optional_warning, ""},
        {"everything there: nothing to say", "run", 1000, {}, 0, "", ""},
        {"either man or mandoc will do", "run", 1000, {"man"}, 0, "", ""},
        {"building needs no converter", "build", 1000, {"pdftotext", "antiword"}, 0, "", ""},
        {"running needs the required ones, not the optional one", "run", 1000,
         {"pdftotext", "antiword", "gs"}, 1,
         optional_warning + "scripts/deps: missing packages: antiword poppler-utils\n"
                            "Run as root:  apt-get update && apt-get install -y --no-install-recommends antiword "
                            "poppler-utils\n",
         ""},
        {"building needs the converter's libraries", "build", 1000, {"libchm-dev"}, 1,
         "scripts/deps: missing packages: libchm-dev\n"
         "Run as root:  apt-get update && apt-get install -y --no-install-recommends libchm-dev\n",
         ""},
        // "ls" fails: apt has no package lists to name clang's version from.
        {"no package lists yet: the test line names clang's runtime too", "test", 1000, {"clang++", "ls"}, 1,
         "scripts/deps: missing packages: clang libclang-rt-dev\n"
         "Run as root:  apt-get update && apt-get install -y --no-install-recommends clang libclang-rt-dev\n",
         ""},
        {"root installs what is required, never the optional one", "run", 0,
         {"pdftotext", "gs"}, 0, optional_warning,
         "update\ninstall -y --no-install-recommends poppler-utils\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::string bin = dir.path + "/bin", apt_log = dir.path + "/apt-get.log";
        ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
        std::string absent = " ";
        for (const std::string &what : c.absent)
            absent += what + " ";
        for (const char *command : looked_for)
            if (absent.find(std::string(" ") + command + " ") == std::string::npos)
                write_script(bin + "/" + command, "exit 0\n");
        for (const char *tool : its_tools)
            if (absent.find(std::string(" ") + tool + " ") != std::string::npos)
                write_script(bin + "/" + tool, "exit 2\n");
            else
                ASSERT_EQ(symlink(find_program(tool).c_str(), (bin + "/" + tool).c_str()), 0) << tool;
        write_script(bin + "/id", "echo \"$STUB_UID\"\n");
        write_script(bin + "/dpkg-query", "for p; do :; done\n"
                                          "case \"$ABSENT\" in *\" $p \"*) exit 1 ;; esac\n"
                                          "printf 'install ok installed'\n");
        write_script(bin + "/apt-get", "echo \"$*\" >> \"$APT_LOG\"\n");
        write_script(bin + "/apt-cache", "exit 1\n");

        Launch launch;
        launch.program = "/bin/sh";
        launch.args = {source_dir + "/scripts/deps", c.set};
        launch.env = {{"PATH", bin}, {"STUB_UID", std::to_string(c.uid)}, {"ABSENT", absent},
                      {"APT_LOG", apt_log}};
        RunResult r = run_plain(launch, 10000);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(read_file(apt_log), c.apt_calls);
    }
}

// ---- installing ----

// A gzip'd text, a PDF and an HTML page, each shown as text by the
// installed filter; the page by the converter installed beside it.
struct Document {
    const char *name, *file_name, *converter; // converter: a program on PATH, or nullptr for ours
    std::string (*make)(const std::string &sentence);
};

// The sentence only once its markup is gone: the page as it is would not show it.
std::string html_of(const std::string &sentence)
{
    size_t cut = sentence.find(" html ");
    return "<html><body><p>" + sentence.substr(0, cut) + " <b>html</b> " + sentence.substr(cut + 6) +
           "</p></body></html>\n";
}

std::string gzip_of(const std::string &text)
{
    Launch launch;
    launch.program = "/bin/sh";
    launch.args = {"-c", "gzip -c"};
    launch.stdin_data = text + "\n";
    return run_plain(launch, 10000).out;
}

// What `make install` and the package put under the prefix; null where one
// of them has no such file. Debian's packages keep manual pages compressed
// and carry a copyright file and a changelog.
struct InstalledFile {
    const char *by_install, *in_package;
};
const InstalledFile installed_files[] = {
    {"bin/drifterm", "bin/drifterm"},
    {"libexec/drifterm/lesspipe.sh", "libexec/drifterm/lesspipe.sh"},
    {"libexec/drifterm/drifterm-convert", "libexec/drifterm/drifterm-convert"},
    {"share/man/man1/drifterm.1", "share/man/man1/drifterm.1.gz"},
    {"share/bash-completion/completions/drifterm", "share/bash-completion/completions/drifterm"},
    {nullptr, "share/doc/drifterm/copyright"},
    {nullptr, "share/doc/drifterm/changelog.Debian.gz"},
};

// A build configured for a scratch prefix, installed there, and run from
// there without DRIFTERM_FILTER: the converted text shows only when the
// binary finds the filter it was installed with. The build is kept next to
// this build tree, so later runs only recompile what changed.
TEST(Install, InstalledProgramFindsItsOwnFilter)
{
    if (file_exists("/usr/bin/lesspipe.sh"))
        GTEST_SKIP() << "/usr/bin/lesspipe.sh exists and would be run in place of the installed filter";

    std::string base = build_dir + "/install-check";
    std::string tree = base + "/build", prefix = base + "/prefix";
    // Inside the build tree, which need not be under /tmp (remove_tree's rule).
    ASSERT_EQ(run_shell("rm -rf " + shell_quote(prefix.c_str()), 20000).status, 0);
    RunResult configure = run_shell(
        shell_quote(DRIFTERM_CMAKE) + " -S " + shell_quote(source_dir.c_str()) + " -B " + shell_quote(tree.c_str()) +
            " -DCMAKE_INSTALL_PREFIX=" + shell_quote(prefix.c_str()) + " -DCMAKE_CXX_COMPILER=" +
            shell_quote(DRIFTERM_CXX_COMPILER) + " -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=OFF",
        60000);
    ASSERT_EQ(configure.status, 0) << configure.out << configure.err;
    // A bound, not a measure: the first build is cold and shares two cores with the other tests.
    RunResult build =
        run_shell(shell_quote(DRIFTERM_CMAKE) + " --build " + shell_quote(tree.c_str()) + " -j 2", 600000);
    ASSERT_EQ(build.status, 0) << build.out << build.err;
    RunResult install = run_shell(shell_quote(DRIFTERM_CMAKE) + " --install " + shell_quote(tree.c_str()), 20000);
    ASSERT_EQ(install.status, 0) << install.out << install.err;
    for (const InstalledFile &f : installed_files) {
        if (f.by_install) {
            EXPECT_TRUE(file_exists(prefix + "/" + f.by_install)) << f.by_install;
        }
    }

    const Document documents[] = {
        {"gzip", "notes.txt.gz", "gzip", gzip_of},
        {"pdf", "paper.pdf", "pdftotext", make_pdf},
        {"html", "page.html", nullptr, html_of},
    };
    for (const Document &d : documents) {
        SCOPED_TRACE(d.name);
        if (d.converter && find_program(d.converter).empty()) {
            ADD_FAILURE() << d.converter << " is installed by scripts/deps";
            continue;
        }
        std::string sentence = std::string("The installed filter turned this ") + d.name +
                               " into text.";
        TempDir home;
        write_file(home.path + "/" + d.file_name, d.make(sentence));
        Launch launch;
        launch.program = prefix + "/bin/drifterm";
        launch.home = home.path;
        launch.cwd = home.path;
        launch.unset_env = {"DRIFTERM_FILTER", "DRIFTERM_CONVERT"};
        launch.args = {"-s", "20", "-f", d.file_name};
        TermPtr t(term_spawn(launch));
        ASSERT_TRUE(t);
        EXPECT_SCREEN_TEXT(t.get(), sentence, 15000);
        term_send(t.get(), "q");
        EXPECT_EXIT_STATUS(t.get(), 0, 5000);
    }

    // `make uninstall` takes away what `make install` recorded.
    write_file(tree + "/installed_files.txt", read_file(tree + "/install_manifest.txt") + "\n");
    RunResult uninstall = run_shell("make -s -C " + shell_quote(source_dir.c_str()) + " uninstall BUILD_DIR=" +
                                        shell_quote(tree.c_str()),
                                    20000);
    EXPECT_EQ(uninstall.status, 0) << uninstall.out << uninstall.err;
    for (const InstalledFile &f : installed_files) {
        if (f.by_install) {
            EXPECT_FALSE(file_exists(prefix + "/" + f.by_install)) << f.by_install;
        }
    }
    EXPECT_FALSE(file_exists(prefix + "/libexec/drifterm"));
}

// ---- the Debian package ----

// Packed from this build tree for /usr, as `make package` packs its own.
TEST(Package, DebianPackageRunsFromItsFilesAndPassesLintian)
{
    TempDir scratch;
    RunResult pack = run_shell(shell_quote(DRIFTERM_CPACK) + " --config " +
                                   shell_quote((build_dir + "/CPackConfig.cmake").c_str()) + " -B " +
                                   shell_quote((scratch.path + "/out").c_str()) +
                                   " -D CPACK_PACKAGING_INSTALL_PREFIX=/usr",
                               100000);
    ASSERT_EQ(pack.status, 0) << pack.out << pack.err;
    std::string deb;
    for (const std::string &name : list_dir(scratch.path + "/out"))
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".deb") == 0)
            deb = scratch.path + "/out/" + name;
    ASSERT_FALSE(deb.empty()) << pack.out;

    RunResult fields = run_shell("dpkg-deb -f " + shell_quote(deb.c_str()) + " Package Depends Recommends", 10000);
    ASSERT_EQ(fields.status, 0) << fields.err;
    EXPECT_NE(fields.out.find("Package: drifterm"), std::string::npos) << fields.out;
    for (const char *library : {"libncursesw6", "libxml2", "libzip", "libuchardet"})
        EXPECT_NE(fields.out.find(library), std::string::npos) << library << " in:\n" << fields.out;
    EXPECT_NE(fields.out.find("Recommends: poppler-utils"), std::string::npos) << fields.out;

    std::string root = scratch.path + "/root";
    RunResult unpack = run_shell("dpkg -x " + shell_quote(deb.c_str()) + " " + shell_quote(root.c_str()), 20000);
    ASSERT_EQ(unpack.status, 0) << unpack.err;
    std::string prefix = root + "/usr";
    for (const InstalledFile &f : installed_files) {
        if (f.in_package) {
            EXPECT_TRUE(file_exists(prefix + "/" + f.in_package)) << f.in_package;
        }
    }

    TempDir home;
    Launch launch;
    launch.program = prefix + "/bin/drifterm";
    launch.home = home.path;
    launch.args = {"-v"};
    RunResult version = run_plain(launch, 10000);
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out, "drifterm 2.0  By Vornhallow\n");

    // Informational tags are allowed; errors and warnings are not.
    ASSERT_NE(find_program("lintian"), "") << "lintian is installed by scripts/deps";
    RunResult lint = run_shell("lintian " + shell_quote(deb.c_str()), 100000);
    for (const std::string &line : lines_of(lint.out))
        EXPECT_TRUE(line.rfind("E: ", 0) != 0 && line.rfind("W: ", 0) != 0) << line;
    EXPECT_EQ(lint.status, 0) << lint.out << lint.err;
}

} // namespace
