// Child processes, the one way the converter runs anything it does not
// trust: a program (antiword, gs), a library call in a child of its own
// (libchm), or a pool of workers (poppler's pages). Each child has a
// process group of its own, a time limit and a cap on what it writes, so
// a hostile document that makes one loop, flood or crash takes only the
// child with it. Also the clock, the PATH search and the records that
// children send over their pipes.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/confine.h"
#include "convert/readers.h"

// Milliseconds of a clock that never steps back.
long long clock_ms();
// Writes all of `bytes` on `fd`; false when the reader has gone.
bool write_all(int fd, std::string_view bytes);
// The path of an executable `name` on PATH, or "" when there is none.
std::string program_on_path(const char *name);

// Defined by a fuzz target alone, never by the converter: true while the
// document at hand is to be read in this process, unconfined, where the
// fuzzer sees the readers' coverage. Without it every reader is confined.
extern "C" bool drifterm_fuzz_reads_in_process() __attribute__((weak));
// Whether to read the document at hand in this process (the fuzz target's
// switch above).
bool reading_in_process();

// What a child process wrote, and how it ended.
struct ChildOutput {
    std::string out;        // at most the cap given
    bool succeeded = false; // it ended by itself, with status 0
    bool timed_out = false; // killed at the time limit
    int status = 0;         // how it ended, as waitpid tells
};

// A child's time limit: a hostile file may make a program loop.
constexpr int child_seconds = 10;

// A private directory of its own for a child, holding the document as a
// file when the bytes came without one (Input.path is nullptr).
struct InputFile {
    std::string dir;  // the private directory, removed by input_file_remove
    std::string path; // the document, absolute
};
// False when no directory or file could be made.
bool input_file_make(const Input &in, InputFile &file);
void input_file_remove(InputFile &file);

// Runs the program `argv[0]` (a path) with `argv`, never through a shell,
// in `file.dir`, confined (confine_program): its limits, and where the
// kernel has Landlock, reading only the system, `file.path` and
// `data_paths`, writing only in `file.dir`. Standard input /dev/null,
// standard error discarded, standard output read up to `cap` bytes;
// `extra_env` ("NAME=value") on top of this process's environment. It
// and every process it starts are killed after `seconds`, or once it has
// written `cap` bytes.
void run_program(const std::vector<std::string> &argv, const std::vector<std::string> &extra_env,
                 const InputFile &file, const std::vector<std::string> &data_paths, size_t cap, int seconds,
                 ChildOutput &result);
// Runs `work(fd)` in a child process of its own, which writes on `fd`,
// under the same time limit, handing what it writes to `take` as it
// comes; once `take` returns false the child is killed. Its standard
// error is this process's. The child takes `confinement` (its pipe kept)
// before `work` starts, and ends with status child_not_confined when it
// cannot: no function runs unconfined.
constexpr int child_not_confined = 4;
void run_in_child(const std::function<void(int fd)> &work, const Confinement &confinement,
                  const std::function<bool(std::string_view)> &take, int seconds, ChildOutput &result);

// A pool of workers, each a child that sends records on its own pipe.
struct Worker {
    pid_t pid = -1;
    int fd = -1;
    std::string pending; // bytes of a record not yet whole
};
// Starts `count` workers, the k-th running `work(k, fd)` under
// `confinement`, as run_in_child's do; false when one could not be
// started (those that were are stopped).
bool pool_start(int count, const Confinement &confinement, const std::function<void(int k, int fd)> &work,
                std::vector<Worker> &workers);
enum class PoolEnd { done, timed_out, failed };
// Hands every whole record to `take(k, record)` (false: a record that
// makes no sense) until `done()`, a deadline on clock_ms, or a failure:
// a worker that ended badly, or ended before it was done.
PoolEnd pool_collect(std::vector<Worker> &workers, const std::function<bool(size_t k, std::string_view record)> &take,
                     const std::function<bool()> &done, long long deadline_ms);
// Kills and reaps the workers still running.
void pool_stop(std::vector<Worker> &workers);

// Records: a 32-bit length, then the bytes; values inside in the
// machine's own order (parent and child are one build).
template <typename T> void put_value(std::string &out, T value)
{
    out.append(reinterpret_cast<const char *>(&value), sizeof value);
}
template <typename T> bool take_value(std::string_view &in, T &value)
{
    if (in.size() < sizeof value)
        return false;
    std::memcpy(&value, in.data(), sizeof value);
    in.remove_prefix(sizeof value);
    return true;
}
// A length-prefixed text inside a record.
void put_text(std::string &out, std::string_view text);
bool take_text(std::string_view &in, std::string &text);
// Starts a record at the end of `out`, and closes it with its length.
size_t record_open(std::string &out);
void record_close(std::string &out, size_t start);
// The next whole record at the head of `pending` (its frame dropped);
// false when none is whole yet.
bool record_next(std::string_view &pending, std::string_view &record);
// Appends `chunk` to `pending`, hands each record it makes whole to
// `take` and keeps what is left; false as soon as `take` refuses one.
bool records_take(std::string &pending, std::string_view chunk, const std::function<bool(std::string_view)> &take);

// ---------------------------------------------------------------- confined readers

// What one reader may spend, whatever the file says: the time of its
// child, and (confine.h) its memory and processor time.
constexpr int read_seconds = 5;

// Runs `read` on `in` in a child confined before it sees a byte (confine.h):
// it can open no file but those in `read_only_paths`, start nothing and
// spend no more than its limits. The Document comes back over its pipe.
// A child that crashed, ran out of time or memory, or could not be
// confined leaves the notice "NAME could not be read (TYPE): REASON".
ReadResult read_confined(ReadFunction read, const Input &in, const char *type, Document &doc,
                         const std::vector<std::string> &read_only_paths = {});
