// Editor choice at start-up and the editor run of key e.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <curses.h>

#include "app/exits.h"
#include "app/records.h"
#include "app/signals.h"
#include "app/work_lock.h"
#include "control/control.h"

void choose_editor()
{
    // EDITOR counts only when VISUAL is not set at all; the test is for
    // existence alone, so a bare name is looked for in the current directory.
    const char *candidate = getenv("VISUAL");
    if (!candidate)
        candidate = getenv("EDITOR");
    if (candidate && access(candidate, F_OK) == 0) {
        reader.editor = candidate; // the environment's own string
        return;
    }
    reader.editor = access("/bin/vi", F_OK) == 0 ? "/bin/vi" : "None";
}

const char *editor_program_name(const char *editor)
{
    const char *slash = strrchr(editor, '/');
    return slash ? slash + 1 : editor;
}

// The reader's dispositions of the keyboard signals while the editor runs.
struct EditorSignals {
    struct sigaction interrupt;
    struct sigaction quit;
};

static void set_disposition(int signal, void (*handler)(int), struct sigaction *saved)
{
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = handler;
    sigaction(signal, &action, saved);
}

// Ctrl-C and Ctrl-\ typed in the editor reach the whole process group; the
// reader must not tear the screen down under the editor (as system() does).
static void editor_signals_ignore(EditorSignals *saved)
{
    set_disposition(SIGINT, SIG_IGN, &saved->interrupt);
    set_disposition(SIGQUIT, SIG_IGN, &saved->quit);
}

static void editor_signals_restore(const EditorSignals *saved)
{
    sigaction(SIGINT, &saved->interrupt, nullptr);
    sigaction(SIGQUIT, &saved->quit, nullptr);
}

// The editor could not be started: the child reports it and removes the
// work files, then leaves by _exit. exit() would also close the streams it
// shares with the reader, and closing a stream that has read ahead moves
// the shared file offset back, so the reader would show lines again.
[[noreturn]] static void editor_exec_failed()
{
    report_on_screen("execlp()");
    remove_own_work_files();
    _exit(0);
}

[[noreturn]] static void editor_exec(const char *name, const char *line_arg, const char *file_arg,
                                     const sigset_t *saved_mask)
{
    // Ignored signals would stay ignored across exec.
    child_signals_default(saved_mask);
    // In piped mode standard input is the spent pipe: the editor needs the
    // terminal the reader is drawing on.
    if (reader.tty_stream) {
        dup2(fileno(reader.tty_stream), STDIN_FILENO);
        dup2(fileno(reader.tty_stream), STDOUT_FILENO);
    }
    execlp(reader.editor, name, line_arg, file_arg, (char *)nullptr);
    editor_exec_failed();
}

// Waits for the editor. A resize, hangup or kill interrupts the wait (the
// handlers do not restart calls); each is acted on once the editor has
// ended and given the screen back.
static void editor_wait(pid_t editor_pid)
{
    int status; // an editor's failure is its own business
    for (;;) {
        pid_t ended = wait(&status);
        if (ended == editor_pid)
            return;
        if (ended >= 0)
            exit(1); // not ours: leave screen and work files as they are
        if (errno == EINTR && (resize_pending || interrupt_pending))
            continue;
        die_on_screen("wait()");
    }
}

bool editor_chosen()
{
    return reader.editor && strncmp(reader.editor, "None", 4) != 0;
}

void launch_editor(uint64_t line_no)
{
    if (!editor_chosen())
        return;
    const char *name = editor_program_name(reader.editor);
    char line_arg[1024];
    snprintf(line_arg, sizeof line_arg, "+%ld", (long)line_no);
    // A file named like an option ("-rf") would be taken for one.
    std::string file_arg = options.file_path[0] == '-' ? std::string("./") + options.file_path
                                                       : std::string(options.file_path);

    def_prog_mode();
    fflush(nullptr); // a failing child must not write our buffered output again
    EditorSignals saved;
    editor_signals_ignore(&saved);
    // Held across fork so that the child never runs our handlers, whose
    // wake-up pipe it shares.
    sigset_t saved_mask;
    child_signals_block(&saved_mask);
    pid_t editor_pid = fork();
    if (editor_pid == 0)
        editor_exec(name, line_arg, file_arg.c_str(), &saved_mask);
    int fork_errno = errno;
    sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
    if (editor_pid < 0) {
        errno = fork_errno;
        die_on_screen("fork()");
    }
    editor_wait(editor_pid);
    editor_signals_restore(&saved);
    // A full-screen editor leaves the alternate screen, shows the cursor and
    // resets the keypad as it ends; with curses ended here, the refresh
    // below sets all of that up again instead of drawing on the shell's screen.
    endwin();

    wclear(stdscr);
    wrefresh(stdscr);
    reset_prog_mode();
    wrefresh(stdscr);
    // A resize during the editor rebuilds the windows now; an interrupt
    // that came before the launch still ends the program.
    act_on_signals();
}
