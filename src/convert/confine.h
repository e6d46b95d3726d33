// The confinement of the converter's children. A reader's child is
// confined before a third-party parser sees a byte of the document: code a
// hostile file makes a library run can then read no file, start nothing,
// reach no network and spend no more than its limits. A program that must
// exec (antiword, gs, a decompressor) gets a lighter confinement of its own.
//
// Each step the kernel offers is taken; a step it lacks is skipped and
// confinement_in_force() says so. A step it offers that fails makes the
// call return false: the child then ends with a notice, never unconfined.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A reader's child: no new privileges, limits, a Landlock ruleset with no
// rule but `read_only_paths`, and an allow-list of system calls.
struct Confinement {
    size_t address_space = size_t{512} << 20; // bytes; left alone under AddressSanitizer
    int cpu_seconds = 5;
    int open_files = 16;
    // Descriptors kept beside 0, 1 and 2 (which the caller points at
    // /dev/null or a pipe where a report should go, never at a file: it
    // may write none): the pipe to the parent, the document. Every other
    // one is closed.
    std::vector<int> keep_fds;
    // Files or folders it may still open for reading, where Landlock can
    // hold it to them (library data such as /usr/share/djvu, a document a
    // library opens only by name); without Landlock it opens nothing.
    std::vector<std::string> read_only_paths;
};

// A program run through exec: no new privileges, limits, and where the
// kernel has Landlock, reading only the system's libraries and data, the
// document and `data_paths`, executing only from the system's program
// folders, writing only in `work_dir`. No system-call filter: it must exec.
// It keeps descriptors 0, 1 and 2 only.
struct ProgramConfinement {
    size_t address_space = size_t{512} << 20;
    int cpu_seconds = 10;
    size_t file_size = size_t{64} << 20; // the largest file it may write
    std::string input;                   // the document
    std::string work_dir;                // its private folder
    // Files or folders beyond /usr it reads: for gs /etc/papersize and
    // /var/lib/ghostscript, for catdoc /etc/catdocrc.
    std::vector<std::string> data_paths;
};

// Where confinement stopped: the step that failed (errno tells why).
struct ConfineFailure {
    const char *step = nullptr;
    int error = 0;
};

// Confines the calling process for good; called in a forked child. False,
// with the step that failed in `failure`, when the confinement is not whole.
bool confine_child(const Confinement &confinement, ConfineFailure &failure);
bool confine_program(const ProgramConfinement &confinement, ConfineFailure &failure);

// glibc loads a character set's converter when it is first opened, from
// files a confined child cannot open: this opens, once per process and
// before the first child is forked, those of the sets the readers meet.
// A set beyond them cannot be opened in a confined child.
void open_charset_converters();

// The Landlock ABI this kernel offers, 0 for none.
int landlock_abi();
// True when this kernel and build can filter system calls.
bool seccomp_offered();
// What confines a reader's child here, for --formats: "landlock (ABI 7),
// seccomp, limits", "seccomp, limits" or "limits".
std::string confinement_in_force();
