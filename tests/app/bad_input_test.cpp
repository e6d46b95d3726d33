// Bad input, end to end: each row a file, name, environment, option or
// terminal size the user may throw at the program, with the outcome it must
// have (a clear message and a set status, or a normal run), and the work
// files that may stay. The row names are the rows of doc/robustness.md.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "helpers.h"

namespace {

// How the run is made to end once its screen state has been seen: q, a
// SIGINT, Ctrl-C typed on the terminal, a SIGTERM or a SIGHUP.
enum class Finish { none, key, interrupt, ctrl_c, terminate, hangup };

// One run and what it must give.
struct Trial {
    TempDir base;
    std::string home = base.path + "/home";
    Launch launch;
    bool plain = false;        // no terminal: the run ends before any screen
    bool unprivileged = false; // run as nobody (root reads everything)
    int status = 0;
    std::string err;           // exact standard error; for screen runs a part of it
    std::string out;           // part of standard output (plain) or of the screen
    int row = -1;              // screen runs: the row that must contain `out`; -1 any
    std::string before;        // screen runs: text to wait for, then send `keys`
    std::string keys;
    Finish finish = Finish::key;
    std::string work_dir;      // where the work files are looked for
    std::vector<std::string> left; // work files that stay
    std::vector<std::string> during; // screen runs: what the work directory holds meanwhile
    std::string missing;       // a tool the row needs that is not installed: skipped
    std::string skip;          // why the row cannot be run here: skipped
    std::vector<std::pair<std::string, std::string>> kept; // files and what they hold afterwards
    std::string tmpdir;        // the run's TMPDIR, empty afterwards
    std::string pids;          // file where stubs note their pids; none may live on
    std::string ready;         // screen runs: the stub writes its pid here when the moment has come
    bool ready_stopped = false; // ... and the moment is when that process has stopped

    Trial()
    {
        mkdir(home.c_str(), 0700);
        launch = reader_launch(home, {});
        work_dir = work_dir_of(home);
    }

    std::string file(const std::string &name, const std::string &bytes)
    {
        std::string path = base.path + "/" + name;
        write_file(path, bytes);
        return path;
    }

    void reader(std::vector<std::string> options, const std::string &path)
    {
        launch.args = std::move(options);
        launch.args.insert(launch.args.end(), {"-f", path});
    }

    // Without a HOME to use, the work files go to the current directory,
    // beside the text, which shows `line`.
    void works_in_current_dir(const std::string &line)
    {
        launch.cwd = base.path;
        work_dir = base.path;
        reader({"-s", "20"}, file("text.txt", line + "\n"));
        out = line, row = 21;
        during = {"drift_file", "home", "text.txt"};
        left = {"home", "text.txt"};
    }

    // False (and the row skipped) when one of `tools` is not installed.
    bool require(const std::vector<std::string> &tools)
    {
        for (const std::string &tool : tools)
            if (find_program(tool).empty() && missing.empty())
                missing = tool;
        return missing.empty();
    }

    // Runs `script` with sh in the row's directory, to make its documents.
    void shell(const std::string &script)
    {
        Launch sh;
        sh.program = "/bin/sh";
        sh.args = {"-c", script};
        sh.cwd = base.path;
        RunResult made = run_plain(sh, 60000);
        EXPECT_EQ(made.status, 0) << script << ": " << made.err;
    }

    // Documents are read with the bundled filter.
    void read_with_filter(const std::string &name, const std::string &pace = "20")
    {
        launch.env = {{"DRIFTERM_FILTER", DRIFTERM_SOURCE_DIR "/filter/lesspipe.sh"}};
        reader({"-s", pace}, base.path + "/" + name);
    }
};

// A link planted under the work name drift_tmp in `dir`, pointing at a
// file of the user's that must stay as it is.
void plant_link(Trial &r, const std::string &dir)
{
    std::string victim = r.file("victim.txt", "precious\n");
    EXPECT_EQ(symlink(victim.c_str(), (dir + "/drift_tmp").c_str()), 0);
    r.kept.push_back({victim, "precious\n"});
}

// A work directory made with `mode` and `owner`, with a link planted in it:
// refused before anything is written.
void planted_work_dir(Trial &r, mode_t mode, uid_t owner, const std::string &problem)
{
    mkdir(r.work_dir.c_str(), 0700);
    chmod(r.work_dir.c_str(), mode);
    if (owner != getuid() && chown(r.work_dir.c_str(), owner, (gid_t)-1) != 0)
        r.skip = "only root can give the work directory to another user";
    plant_link(r, r.work_dir);
    r.reader({"-s", "20"}, r.file("text.txt", "x\n"));
    r.plain = true, r.status = 1, r.err = r.work_dir + "/: " + problem + "\n";
    r.left = {"drift_tmp"};
}

// A filter that makes a folder in TMPDIR, as the bundled one does, and runs
// a converter that SIGTERM does not end: it ignores it, or it also ignores
// hangups and has stopped itself (SIGTTIN), under a filter with the bundled
// one's traps. `how` ends the run while the converter runs.
void stubborn_converter(Trial &r, bool stops, Finish how)
{
    r.tmpdir = r.base.path + "/tmp";
    mkdir(r.tmpdir.c_str(), 0700);
    r.pids = r.base.path + "/pids";
    r.ready = r.base.path + "/ready";
    r.ready_stopped = stops;
    std::string filter = r.base.path + "/filter", converter = r.base.path + "/converter";
    std::string note = "echo $$ >> '" + r.pids + "'\n";
    std::string say_ready = "echo $$ > '" + r.ready + ".part' && mv '" + r.ready + ".part' '" + r.ready + "'\n";
    write_script(filter, note + "tmp=$(mktemp -d \"$TMPDIR/drifterm-filter.XXXXXX\") || exit 0\n" +
                             (stops ? "trap 'rm -rf -- \"$tmp\"' EXIT\ntrap 'exit 129' HUP\n"
                                      "trap 'exit 130' INT\ntrap 'exit 143' TERM\n"
                                    : "") +
                             "'" + converter + "' \"$tmp\"\ncat -- \"$1\"\n");
    if (stops)
        write_script(converter, "trap '' HUP TERM\n" + note + say_ready + "kill -TTIN $$\nexec sleep 60\n");
    else
        write_script(converter, "trap '' TERM\n" + note + "sleep 60 &\necho $! >> '" + r.pids + "'\n" +
                                    say_ready + "wait\n");
    r.launch.env = {{"DRIFTERM_FILTER", filter}, {"TMPDIR", r.tmpdir}};
    r.reader({"-s", "20"}, r.file("text.txt", "x\n"));
    r.out = "Loading..", r.finish = how;
    r.status = how == Finish::terminate ? 128 + SIGTERM : how == Finish::hangup ? 128 + SIGHUP : 0;
}

// A FIFO named with -f whose writer has filled more than a pipe holds,
// so the copy is under way, and then keeps it open: `how` ends the run.
void endless_fifo(Trial &r, Finish how)
{
    std::string fifo = r.base.path + "/fifo";
    mkfifo(fifo.c_str(), 0600);
    r.ready = r.base.path + "/ready";
    r.launch.program = "/bin/sh";
    r.launch.args = {"-c",
                     "{ head -c 100000 /dev/zero | tr '\\0' x; echo 1 > \"$2\"; exec sleep 30; } > \"$0\" &"
                     " exec \"$1\" -s 20 -f \"$0\"",
                     fifo, DRIFTERM_BINARY, r.ready};
    r.out = "Loading..", r.finish = how;
    r.status = how == Finish::terminate ? 128 + SIGTERM : 0;
}

std::string first_block_device()
{
    for (const std::string &name : list_dir("/dev")) {
        struct stat status;
        if (stat(("/dev/" + name).c_str(), &status) == 0 && S_ISBLK(status.st_mode))
            return "/dev/" + name;
    }
    return "";
}

struct BadInput {
    const char *name;
    std::function<void(Trial &)> setup;
};

const std::vector<std::string> book_tools = {"zip", "zipnote"};

// book.epub, whose spine lists `first` and then a chapter that reads "the
// rest of the book"; other members are added to it afterwards.
void make_epub(Trial &r, const std::string &first)
{
    mkdir((r.base.path + "/META-INF").c_str(), 0700);
    r.file("mimetype", "application/epub+zip");
    r.file("META-INF/container.xml",
           "<?xml version=\"1.0\"?><container xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">"
           "<rootfiles><rootfile full-path=\"content.opf\"/></rootfiles></container>");
    r.file("content.opf",
           "<?xml version=\"1.0\"?><package xmlns=\"http://www.idpf.org/2007/opf\"><manifest>"
           "<item id=\"a\" href=\"" + first + "\" media-type=\"application/xhtml+xml\"/>"
           "<item id=\"b\" href=\"rest.xhtml\" media-type=\"application/xhtml+xml\"/>"
           "</manifest><spine><itemref idref=\"a\"/><itemref idref=\"b\"/></spine></package>");
    r.file("rest.xhtml", "<html><body><p>the rest of the book</p></body></html>");
    r.shell("zip -q -X -0 book.epub mimetype && zip -q -X book.epub META-INF/container.xml content.opf rest.xhtml");
}

const char *const entity_bomb =
    "<?xml version=\"1.0\"?>\n"
    "<!DOCTYPE FictionBook [\n"
    " <!ENTITY lol \"lol\">\n"
    " <!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
    " <!ENTITY lol2 \"&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;\">\n"
    " <!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">\n"
    " <!ENTITY lol4 \"&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;\">\n"
    " <!ENTITY lol5 \"&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;\">\n"
    " <!ENTITY lol6 \"&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;\">\n"
    " <!ENTITY lol7 \"&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;\">\n"
    " <!ENTITY lol8 \"&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;\">\n"
    " <!ENTITY lol9 \"&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;\">\n"
    "]>\n"
    "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\">\n"
    "<body><p>&lol9;</p><p>after the bomb</p></body>\n"
    "</FictionBook>\n";

const char *const fopen_missing = "fopen(): No such file or directory\n";
// The last line of the usage text: the first ones scroll off a small screen.
const char *const usage_end = "'i' to view detailed file/program/etc information.";

const BadInput bad_inputs[] = {
    {"missing file", [](Trial &r) {
         r.reader({"-s", "20"}, r.base.path + "/missing.txt");
         r.plain = true, r.status = 1, r.err = fopen_missing;
     }},
    {"directory as the file", [](Trial &r) {
         r.reader({"-s", "20"}, r.base.path + "/");
         r.plain = true, r.status = 1, r.err = r.base.path + "/: Is a directory\n";
     }},
    {"directory as a leading file argument", [](Trial &r) {
         r.launch.args = {r.base.path};
         r.plain = true, r.status = 1, r.err = r.base.path + ": Is a directory\n";
     }},
    {"unreadable file", [](Trial &r) {
         std::string path = r.file("secret.txt", "hidden\n");
         chmod(path.c_str(), 0);
         r.reader({"-s", "20"}, path);
         r.unprivileged = true, r.plain = true, r.status = 1;
         r.err = "fopen(): Permission denied\n";
     }},
    {"endless device (/dev/zero)", [](Trial &r) {
         r.reader({"-s", "20"}, "/dev/zero");
         r.plain = true, r.status = 1, r.err = "/dev/zero: not a regular file\n";
     }},
    {"block device", [](Trial &r) {
         std::string device = first_block_device();
         if (device.empty())
             r.skip = "no block device in /dev";
         r.launch.args = {device};
         r.plain = true, r.status = 1, r.err = device + ": not a regular file\n";
     }},
    {"FIFO with no writer, interrupted", [](Trial &r) {
         std::string fifo = r.base.path + "/fifo";
         mkfifo(fifo.c_str(), 0600);
         r.reader({"-s", "20"}, fifo);
         r.out = "", r.finish = Finish::interrupt; // the open waits for a writer
     }},
    {"FIFO with a writer", [](Trial &r) {
         std::string fifo = r.base.path + "/fifo";
         mkfifo(fifo.c_str(), 0600);
         r.launch.program = "/bin/sh";
         r.launch.args = {"-c", "printf 'through a fifo\\n' > \"$0\" & exec \"$1\" -s 20 -f \"$0\"",
                        fifo, DRIFTERM_BINARY};
         r.out = "through a fifo", r.row = 21;
     }},
    {"FIFO whose writer goes on, Ctrl-C", [](Trial &r) { endless_fifo(r, Finish::ctrl_c); }},
    {"FIFO whose writer goes on, SIGTERM", [](Trial &r) { endless_fifo(r, Finish::terminate); }},
    {"binary file with NUL bytes", [](Trial &r) {
         // Each read is written up to its first NUL: "abc" then "ghi".
         std::string bytes("abc\0def\nghi\n\x01\x02\x7f\n", 16);
         r.reader({"-s", "20"}, r.file("binary.bin", bytes));
         r.out = "abcghi", r.row = 20;
     }},
    {"20 MB file that is one line", [](Trial &r) {
         r.reader({"-s", "1"}, r.file("one_line.txt", std::string(20000000, 'x')));
         // Shown in pieces of 1023 bytes, counted in reads of 254.
         r.out = "/78741 -", r.row = 23, r.finish = Finish::interrupt;
     }},
    {"file of only blank lines", [](Trial &r) {
         r.reader({"-s", "20"}, r.file("blank.txt", repeat("\n", 500)));
         r.out = "1/1 - 100%", r.row = 23;
     }},
    {"file of only blank lines, kept with -n", [](Trial &r) {
         r.reader({"-s", "1", "-n"}, r.file("blank.txt", repeat("\n", 500)));
         r.out = "500/500 - 100%", r.row = 23;
     }},
    {"empty file", [](Trial &r) {
         r.reader({"-s", "20"}, r.file("empty.txt", ""));
         r.out = "0/0 - 0%", r.row = 23;
     }},
    {"invalid UTF-8", [](Trial &r) {
         r.reader({"-s", "20"}, r.file("bad.txt", "caf\xe9 \xff\xfe\xc3 end of line\nlast\n"));
         r.out = " end of line", r.row = 20;
     }},
    {"name with blanks, quotes, $, backquotes, backslashes and a newline", [](Trial &r) {
         // The filter must get the name as it is: it says so before the text.
         std::string filter = r.base.path + "/filter";
         write_script(filter, "[ -f \"$1\" ] && echo \"filter had it\" && cat -- \"$1\"\n");
         r.launch.env = {{"DRIFTERM_FILTER", filter}};
         r.reader({"-s", "20"}, r.file("a b 'c' \"d\" $HOME `id` \\e\nf.txt", "inside\n"));
         r.out = "filter had it", r.row = 20;
     }},
    {"short name with a newline and a tab", [](Trial &r) {
         r.reader({"-s", "20"}, r.file("a\nb\tc", "short\n"));
         r.out = "1/1 - 100%  Page: 1 - a?b?c ", r.row = 23;
         r.during = {"drift_file"};
     }},
    {"name with a leading dash", [](Trial &r) {
         r.reader({"-s", "20"}, r.file("-n", "dash named\n"));
         r.launch.args.back() = "-n"; // relative, as typed
         r.launch.cwd = r.base.path;
         r.out = "dash named", r.row = 21;
     }},
    {"HOME unset", [](Trial &r) {
         r.launch.unset_home = true;
         r.works_in_current_dir("no home");
     }},
    {"HOME empty", [](Trial &r) {
         // Taken as unset: the work files go to the current directory, not "/".
         r.launch.env.push_back({"HOME", ""});
         r.works_in_current_dir("empty home");
     }},
    {"HOME with blanks", [](Trial &r) {
         r.launch.home = r.base.path + "/my home dir";
         mkdir(r.launch.home.c_str(), 0700);
         r.work_dir = work_dir_of(r.launch.home);
         r.reader({"-s", "20"}, r.file("text.txt", "blank home\n"));
         r.out = "blank home", r.row = 21;
         r.during = {"drift_file"};
     }},
    {"HOME longer than 1024 bytes", [](Trial &r) {
         r.launch.home = "/" + std::string(1100, 'h');
         r.launch.args = {"-v"};
         r.plain = true, r.status = 1, r.err = "HOME: File name too long\n";
     }},
    {"HOME pointing at a missing directory", [](Trial &r) {
         r.launch.home = r.base.path + "/gone";
         r.work_dir = r.launch.home;
         r.reader({"-s", "20"}, r.file("text.txt", "x\n"));
         r.plain = true, r.status = 1;
         r.err = r.launch.home + "/.drifterm/: No such file or directory\n";
     }},
    {"HOME pointing at a read-only directory", [](Trial &r) {
         chmod(r.home.c_str(), 0555);
         r.reader({"-s", "20"}, r.file("text.txt", "x\n"));
         r.unprivileged = true, r.plain = true, r.status = 1;
         r.err = r.home + "/.drifterm/: Permission denied\n";
     }},
    {"HOME unset, a link planted as drift_tmp", [](Trial &r) {
         r.launch.unset_home = true;
         r.launch.cwd = r.work_dir = r.base.path;
         plant_link(r, r.base.path);
         r.reader({"-s", "20"}, r.file("text.txt", "x\n"));
         r.plain = true, r.status = 1, r.err = "drift_tmp: is a symbolic link, not a work file\n";
         r.left = {"drift_tmp", "home", "text.txt", "victim.txt"};
     }},
    {"HOME unset in a directory anyone may write", [](Trial &r) {
         std::string shared = r.base.path + "/shared";
         mkdir(shared.c_str(), 0700);
         chmod(shared.c_str(), 01777);
         r.launch.unset_home = true;
         r.launch.cwd = r.work_dir = shared;
         r.reader({"-s", "20"}, r.file("text.txt", "x\n"));
         r.plain = true, r.status = 1;
         r.err = shared + ": is writable by others (HOME is not set, so the work files would be made here)\n";
     }},
    {"work directory a link to another folder", [](Trial &r) {
         std::string elsewhere = r.base.path + "/elsewhere";
         mkdir(elsewhere.c_str(), 0700);
         r.kept = {{elsewhere + "/drift_file", "precious\n"}};
         write_file(r.kept[0].first, r.kept[0].second);
         symlink(elsewhere.c_str(), r.work_dir.c_str());
         r.reader({"-s", "20"}, r.file("text.txt", "x\n"));
         r.plain = true, r.status = 1, r.err = r.work_dir + "/: is a symbolic link, not a directory\n";
         r.left = {"drift_file"};
     }},
    {"work directory owned by another user, a link planted in it", [](Trial &r) {
         planted_work_dir(r, 0700, 65534, "is owned by another user");
     }},
    {"work directory open to its group (0770), a link planted in it", [](Trial &r) {
         planted_work_dir(r, 0770, getuid(), "is writable by group or others");
     }},
    {"work directory open to all (0777), a link planted in it", [](Trial &r) {
         planted_work_dir(r, 0777, getuid(), "is writable by group or others");
     }},
    {"drift_tmp replaced by a link while the filter runs", [](Trial &r) {
         std::string victim = r.file("victim.txt", "");
         r.kept = {{victim, ""}};
         std::string filter = r.base.path + "/filter";
         write_script(filter, "cd \"$HOME/.drifterm\" && rm -f drift_tmp && ln -s '" + victim + "' drift_tmp\n");
         r.launch.env = {{"DRIFTERM_FILTER", filter}};
         r.reader({"-s", "20"}, r.file("text.txt", "x\n"));
         r.plain = true, r.status = 1;
         r.err = r.work_dir + "/drift_tmp: is a symbolic link, not a work file\n";
         r.left = {"drift_tmp"};
     }},
    {"converter that ignores SIGTERM, Ctrl-C", [](Trial &r) { stubborn_converter(r, false, Finish::ctrl_c); }},
    {"converter that ignores SIGTERM, SIGTERM", [](Trial &r) { stubborn_converter(r, false, Finish::terminate); }},
    {"converter that ignores SIGTERM, SIGHUP", [](Trial &r) { stubborn_converter(r, false, Finish::hangup); }},
    {"converter that stops itself, Ctrl-C", [](Trial &r) { stubborn_converter(r, true, Finish::ctrl_c); }},
    {"converter that stops itself, SIGTERM", [](Trial &r) { stubborn_converter(r, true, Finish::terminate); }},
    {"converter that stops itself, SIGHUP", [](Trial &r) { stubborn_converter(r, true, Finish::hangup); }},
    {"file named -rf, opened in the editor", [](Trial &r) {
         // The editor must get it as a file, not as options.
         std::string editor = r.base.path + "/editor";
         write_script(editor, "printf '%s\\n' \"$2\" > \"$0.args\"\n");
         r.launch.env.push_back({"VISUAL", editor});
         r.file("-rf", numbered_lines(30));
         r.reader({"-s", "20"}, "-rf");
         r.launch.cwd = r.base.path;
         r.before = "line 1", r.keys = "e";
         r.out = "30/30 - 100%", r.row = 23;
         r.kept = {{editor + ".args", "./-rf\n"}};
     }},
    {"keys from /dev/null, output to a pipe", [](Trial &r) {
         // The closing wait sees the key input at its end and takes the cleanup exit.
         r.reader({"-s", "20"}, r.file("text.txt", "no keys\n"));
         r.plain = true, r.out = "Loading..";
     }},
    {"-t /dev/null", [](Trial &r) {
         r.launch.args = {"-s", "20", "-t", "/dev/null"};
         r.launch.stdin_data = "piped text\n";
         r.plain = true, r.status = 1, r.err = "/dev/null: Inappropriate ioctl for device\n";
     }},
    {"-t naming a regular file", [](Trial &r) {
         std::string path = r.file("not_a_tty", "");
         r.launch.args = {"-s", "20", "-t", path};
         r.launch.stdin_data = "piped text\n";
         r.plain = true, r.status = 1, r.err = path + ": Inappropriate ioctl for device\n";
     }},
    {"-s 0", [](Trial &r) {
         r.reader({"-s", "0"}, r.file("text.txt", "x\n"));
         r.out = usage_end, r.finish = Finish::none;
         r.left = {"drift_file"}; // a usage exit leaves the work files
     }},
    {"-s 1", [](Trial &r) {
         r.reader({"-s", "1"}, r.file("text.txt", repeat("fast line\n", 300)));
         r.out = "300/300 - 100%", r.row = 23;
     }},
    {"-s 4294967295", [](Trial &r) {
         r.reader({"-s", "4294967295"}, r.file("text.txt", "first\nsecond\n"));
         r.out = "first", r.row = 22, r.finish = Finish::interrupt;
     }},
    {"-s 99999999999999999999", [](Trial &r) {
         // Saturated, then cut to 32 bits: the longest pace there is.
         r.reader({"-s", "99999999999999999999"}, r.file("text.txt", "first\nsecond\n"));
         r.out = "first", r.row = 22, r.finish = Finish::interrupt;
     }},
    {"-s 4294967296", [](Trial &r) {
         r.reader({"-s", "4294967296"}, r.file("text.txt", "x\n"));
         r.out = usage_end, r.finish = Finish::none;
         r.left = {"drift_file"};
     }},
    {"-p 1", [](Trial &r) {
         r.reader({"-s", "20", "-p", "1"}, r.file("text.txt", "top row\n"));
         r.out = "top row", r.row = 0;
     }},
    {"-p 22 on 24 rows", [](Trial &r) {
         r.reader({"-s", "20", "-p", "22"}, r.file("text.txt", "last row\n"));
         r.out = "last row", r.row = 21;
     }},
    {"-p 23 on 24 rows", [](Trial &r) {
         r.reader({"-s", "20", "-p", "23"}, r.file("text.txt", "x\n"));
         r.out = usage_end, r.finish = Finish::none;
         r.left = {"drift_file"};
     }},
    {"-p 999", [](Trial &r) {
         r.reader({"-s", "20", "-p", "999"}, r.file("text.txt", "x\n"));
         r.out = usage_end, r.finish = Finish::none;
         r.left = {"drift_file"};
     }},
    {"terminal of 1 row", [](Trial &r) {
         r.launch.rows = 1;
         r.reader({"-s", "20"}, r.file("text.txt", "invisible\n"));
         r.out = "1/1 - 100%", r.row = 0; // only the status bar shows
     }},
    {"terminal of 2 rows", [](Trial &r) {
         r.launch.rows = 2;
         r.reader({"-s", "20"}, r.file("text.txt", "x\n"));
         r.out = usage_end, r.finish = Finish::none;
         r.left = {"drift_file"};
     }},
    {"terminal of 10 columns", [](Trial &r) {
         r.launch.cols = 10;
         r.reader({"-s", "20"}, r.file("text.txt", "narrow\n"));
         r.out = "narrow", r.row = 21;
     }},
    {"terminal of 60 columns", [](Trial &r) {
         // Reflowed at the terminal's width: no word is cut at the edge.
         r.launch.cols = 60;
         r.reader({"-s", "20"}, r.file("text.txt", "one two three four five six seven eight nine ten "
                                                   "eleven twelve thirteen fourteen\n"));
         r.out = "twelve thirteen fourteen", r.row = 21;
     }},
    {"line without blanks wider than the window", [](Trial &r) {
         // Its second row stays above the bar and is not written over by the next line.
         r.reader({"-s", "20"}, r.file("wide.txt", repeat("a", 80) + repeat("b", 20) + "\nnext\n"));
         r.out = repeat("b", 20), r.row = 20;
     }},
    {"terminal of 10 columns, information screen", [](Trial &r) {
         r.launch.cols = 10;
         r.reader({"-s", "20"}, r.file("text.txt", repeat("narrow\n", 2000)));
         r.before = "narrow", r.keys = "i";
         r.out = "Filename:", r.row = 2, r.finish = Finish::interrupt;
     }},
    {"EPUB with a chapter that expands past 64 MiB", [](Trial &r) {
         if (!r.require(book_tools))
             return;
         make_epub(r, "-"); // the member zip reads from standard input
         r.shell("head -c 100000000 /dev/zero | zip -q -X book.epub -");
         r.read_with_filter("book.epub");
         r.out = "the rest of the book";
     }},
    {"EPUB whose member names climb out (../)", [](Trial &r) {
         if (!r.require(book_tools))
             return;
         make_epub(r, "../escaped.xhtml");
         r.file("escaped.xhtml", "<html><body><p>escaped</p></body></html>");
         r.shell("zip -q -X book.epub escaped.xhtml && rm escaped.xhtml &&"
                 " printf '@ escaped.xhtml\\n@=../escaped.xhtml\\n' | zipnote -w book.epub");
         r.read_with_filter("book.epub");
         r.out = "the rest of the book";
     }},
    {"FictionBook with an XML entity bomb", [](Trial &r) {
         r.file("bomb.fb2", entity_bomb);
         r.read_with_filter("bomb.fb2");
         r.out = "after the bomb"; // the entity left unexpanded
     }},
    {"compressed text that expands past 64 MiB", [](Trial &r) {
         if (!r.require({"gzip"}))
             return;
         // 70 MB of 14-byte lines, cut at 64 MiB: 4793490 lines and a piece.
         r.shell("yes 'drifting line' | head -c 70000000 | gzip -1 > big.txt.gz");
         r.read_with_filter("big.txt.gz", "1");
         r.out = "/4793491 -", r.row = 23, r.finish = Finish::interrupt;
     }},
};

// Root reads and writes everything, so such rows drop to nobody; the work
// directory's parent must then be theirs.
bool run_unprivileged(Trial &r)
{
    if (getuid() != 0)
        return true;
    if (access("/usr/bin/setpriv", X_OK) != 0)
        return false;
    chmod(r.base.path.c_str(), 0755);
    chown(r.home.c_str(), 65534, 65534);
    std::vector<std::string> args = {"--reuid=65534", "--regid=65534", "--clear-groups",
                                     r.launch.program};
    args.insert(args.end(), r.launch.args.begin(), r.launch.args.end());
    r.launch.program = "/usr/bin/setpriv";
    r.launch.args = args;
    return true;
}

// False when the row could not be run here.
bool check_plain(Trial &r)
{
    RunResult result = run_plain(r.launch, 10000);
    if (r.unprivileged && result.err.find("setpriv") != std::string::npos) {
        std::cout << "[ SKIPPED  ] cannot change user here: " << result.err;
        return false;
    }
    EXPECT_EQ(result.status, r.status);
    EXPECT_EQ(result.err, r.err);
    EXPECT_NE(result.out.find(r.out), std::string::npos) << result.out;
    return true;
}

// The state letter of process `pid` ('T' stopped, 'Z' a zombie), or 0 when
// there is no such process.
char process_state(int pid)
{
    std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    size_t end = stat.rfind(')'); // the name in parentheses may hold anything
    return end != std::string::npos && end + 2 < stat.size() ? stat[end + 2] : 0;
}

// What the run leaves that the work directory does not show: the files it
// must not have touched, its TMPDIR, the stubs' processes (each killed
// afterwards, so that a failing row leaves none behind).
void check_left_outside(const Trial &r)
{
    for (const auto &[path, bytes] : r.kept)
        EXPECT_EQ(read_file(path), bytes) << path;
    if (!r.tmpdir.empty()) {
        EXPECT_EQ(list_dir(r.tmpdir), std::vector<std::string>{}) << "TMPDIR";
    }
    if (r.pids.empty())
        return;
    std::string pids = read_file(r.pids);
    EXPECT_FALSE(pids.empty());
    for (size_t at = 0; at < pids.size();) {
        size_t end = pids.find('\n', at);
        int pid = atoi(pids.substr(at, end - at).c_str());
        char state = process_state(pid);
        EXPECT_TRUE(state == 0 || state == 'Z' || state == 'X') << "process " << pid << " lives on";
        if (pid > 0 && state != 0)
            kill(pid, SIGKILL);
        at = end == std::string::npos ? pids.size() : end + 1;
    }
}

void check_screen(Trial &r)
{
    TermPtr t(term_spawn(r.launch));
    ASSERT_TRUE(t);
    if (!r.keys.empty()) {
        ASSERT_SCREEN_TEXT(t.get(), r.before, 15000);
        term_send(t.get(), r.keys);
    }
    if (r.out.empty()) {
        // Nothing to see: wait until the program catches interrupts, then a moment.
        ASSERT_TRUE(term_wait_for(t.get(), [](Term *x) { return term_catches_signal(x, SIGINT); }, 5000));
        term_wait_for(t.get(), [](Term *) { return false; }, 300);
    } else if (r.row < 0) {
        ASSERT_SCREEN_TEXT(t.get(), r.out, 15000);
    } else {
        ASSERT_SCREEN_ROW_CONTAINS(t.get(), r.row, r.out, 15000);
    }
    if (!r.ready.empty()) {
        ASSERT_TRUE(term_wait_for(t.get(), [&](Term *) {
            std::string pid = read_file(r.ready);
            return !pid.empty() && (!r.ready_stopped || process_state(atoi(pid.c_str())) == 'T');
        }, 15000)) << r.ready;
    }
    if (!r.during.empty()) {
        EXPECT_EQ(list_dir(r.work_dir), r.during);
    }
    switch (r.finish) {
    case Finish::none: break;
    case Finish::key: term_send(t.get(), "q"); break;
    case Finish::interrupt: term_signal(t.get(), SIGINT); break;
    case Finish::ctrl_c: term_send(t.get(), ctrl_key('c')); break;
    case Finish::terminate: term_signal(t.get(), SIGTERM); break;
    case Finish::hangup: term_signal(t.get(), SIGHUP); break;
    }
    ASSERT_EXIT_STATUS(t.get(), r.status, 5000);
    EXPECT_TRUE(out_of_curses_mode(t.get())) << term_screen(t.get());
    EXPECT_NE(term_stderr(t.get()).find(r.err), std::string::npos) << term_stderr(t.get());
}

TEST(BadInput, EachEndsAsItShould)
{
    for (const BadInput &row : bad_inputs) {
        SCOPED_TRACE(row.name);
        Trial r;
        row.setup(r);
        if (!r.missing.empty()) {
            std::cout << "[ SKIPPED  ] " << row.name << ": " << r.missing << " is not installed\n";
            continue;
        }
        if (!r.skip.empty()) {
            std::cout << "[ SKIPPED  ] " << row.name << ": " << r.skip << "\n";
            continue;
        }
        if (r.unprivileged && !run_unprivileged(r)) {
            std::cout << "[ SKIPPED  ] " << row.name << ": setpriv is needed to drop root\n";
            continue;
        }
        if (r.plain && !check_plain(r))
            continue;
        if (!r.plain)
            check_screen(r);
        EXPECT_EQ(list_dir(r.work_dir), r.left);
        check_left_outside(r);
        chmod(r.home.c_str(), 0700); // so the temporary tree can be removed
    }
}

// The table of doc/robustness.md lists exactly these rows.
TEST(BadInput, TheDocumentListsEveryRow)
{
    std::ifstream doc(std::string(DRIFTERM_SOURCE_DIR) + "/doc/robustness.md");
    ASSERT_TRUE(doc.good());
    std::set<std::string> documented, tested;
    std::string line;
    bool in_table = false;
    while (std::getline(doc, line)) {
        if (line.rfind("## ", 0) == 0)
            in_table = line == "## Bad input";
        // A row: "| `name` | outcome |"; the name is between the first backquotes.
        if (!in_table || line.rfind("| `", 0) != 0)
            continue;
        size_t end = line.find("` |", 3);
        if (end != std::string::npos)
            documented.insert(line.substr(3, end - 3));
    }
    for (const BadInput &row : bad_inputs)
        tested.insert(row.name);
    EXPECT_EQ(documented, tested);
}

}  // namespace
