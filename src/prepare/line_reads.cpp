// The copy and the squeeze of the working copy, done in large blocks but
// writing exactly what reads of at most 1023 bytes, each written back as a
// C string, write: a read ends after a newline or after 1023 bytes, and
// whatever follows a NUL within a read is lost.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/signals.h"
#include "prepare/prepare.h"

namespace {

const size_t read_max = 1023;  // bytes of one line read (a 1024-byte buffer)
const size_t block_size = 1 << 16;

// Where the copy stands within the current line read, across blocks.
struct ReadState {
    size_t read_len = 0;       // bytes of the current read so far
    bool dropping = false;     // the rest of the current read is not written
    bool in_blank_run = false; // the last read that began was blank (squeeze)
};

// The bytes to write. Adjacent kept pieces of a block make one span; small
// spans are gathered in a staging buffer, so that squeezing, which keeps
// paragraphs of a few hundred bytes, still writes in large blocks.
struct Output {
    FILE *out;
    const char *span = nullptr;
    size_t span_len = 0;
    size_t staged = 0;
    bool failed = false; // a write failed
};

char stage[1 << 16];

// Straight to the descriptor: the spans are already large, and a stream's
// small buffer would only split each of them in two writes.
void output_write(Output *output, const char *data, size_t len)
{
    int fd = fileno(output->out);
    while (len > 0) {
        ssize_t done = write(fd, data, len);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            output->failed = true; // as with fputs, not reported
            return;
        }
        data += done;
        len -= (size_t)done;
    }
}

void output_stage_flush(Output *output)
{
    if (output->staged)
        output_write(output, stage, output->staged);
    output->staged = 0;
}

// Writes the current span; it points into the block, which the next read reuses.
void output_span(Output *output)
{
    if (output->span_len >= sizeof stage / 4) {
        output_stage_flush(output);
        output_write(output, output->span, output->span_len);
    } else if (output->span_len) {
        if (output->staged + output->span_len > sizeof stage)
            output_stage_flush(output);
        memcpy(stage + output->staged, output->span, output->span_len);
        output->staged += output->span_len;
    }
    output->span = nullptr;
    output->span_len = 0;
}

void output_add(Output *output, const char *data, size_t len)
{
    if (len == 0)
        return;
    if (output->span && output->span + output->span_len == data) {
        output->span_len += len;
        return;
    }
    output_span(output);
    output->span = data;
    output->span_len = len;
}

// The last newline of the block, or null. memrchr is a GNU and BSD call.
const char *last_newline_in(const char *data, size_t len)
{
#ifdef DRIFTERM_HAVE_MEMRCHR
    return (const char *)memrchr(data, '\n', len);
#else
    for (size_t i = len; i > 0; i--)
        if (data[i - 1] == '\n')
            return data + i - 1;
    return nullptr;
#endif
}

// A block without NUL while no read is being dropped: the copy writes it
// whole, and only the position within the read has to be carried on.
bool copy_block_whole(ReadState *state, const char *data, size_t len, Output *output)
{
    if (state->dropping || memchr(data, '\0', len))
        return false;
    output_add(output, data, len);
    const char *last_newline = last_newline_in(data, len);
    size_t tail = last_newline ? len - (size_t)(last_newline + 1 - data) : len;
    state->read_len = last_newline ? tail % read_max : (state->read_len + tail) % read_max;
    return true;
}

// Splits the block into the pieces of successive reads and writes what
// the read loop would write of each.
void split_block(ReadState *state, const char *data, size_t len, bool squeeze, Output *output)
{
    // NULs are rare: look for them in a piece only when the block has one.
    bool block_has_nul = memchr(data, '\0', len) != nullptr;
    size_t at = 0;
    while (at < len) {
        const char *piece = data + at;
        if (state->read_len == 0) {
            bool keep = true;
            if (squeeze) {
                // Of a run of blank reads only the first is written.
                bool blank = piece[0] == '\r' || piece[0] == '\n';
                keep = !(blank && state->in_blank_run);
                state->in_blank_run = blank;
            }
            state->dropping = !keep;
        }
        size_t limit = std::min(len - at, read_max - state->read_len);
        const char *newline = (const char *)memchr(piece, '\n', limit);
        size_t piece_len = newline ? (size_t)(newline - piece) + 1 : limit;
        if (!state->dropping) {
            const char *nul = block_has_nul ? (const char *)memchr(piece, '\0', piece_len) : nullptr;
            output_add(output, piece, nul ? (size_t)(nul - piece) : piece_len);
            state->dropping = nul != nullptr;
        }
        state->read_len += piece_len;
        if (newline || state->read_len == read_max)
            state->read_len = 0;
        at += piece_len;
    }
}

char block[block_size];

// Moves one block through the copy or the squeeze.
void transfer_block(ReadState *state, const char *data, size_t len, bool squeeze, Output *output)
{
    if (squeeze || !copy_block_whole(state, data, len, output))
        split_block(state, data, len, squeeze, output);
    output_span(output);
}

void transfer_reads(FILE *in, FILE *out, bool squeeze)
{
    ReadState state;
    Output output{out};
    fflush(out); // anything the stream holds goes before what is written around it
    size_t len;
    while ((len = fread(block, 1, sizeof block, in)) > 0) {
        transfer_block(&state, block, len, squeeze, &output);
        // An endless input (/dev/zero) would hold an interrupt off for ever.
        if (interrupt_pending)
            act_on_signals();
    }
    output_stage_flush(&output);
}

// A file without a name in the directory of `path`, for writing.
FILE *open_unnamed_file_beside(const char *path)
{
#ifdef O_TMPFILE
    char dir[1024];
    snprintf(dir, sizeof dir, "%s", path);
    char *slash = strrchr(dir, '/');
    if (slash)
        slash[slash == dir ? 1 : 0] = '\0';
    else
        snprintf(dir, sizeof dir, ".");
    int fd = open(dir, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    FILE *file = fdopen(fd, "w");
    if (!file)
        close(fd);
    return file;
#else
    (void)path;
    return nullptr;
#endif
}

} // namespace

void copy_line_reads(FILE *in, FILE *out)
{
    transfer_reads(in, out, false);
}

void squeeze_line_reads(FILE *in, FILE *out)
{
    transfer_reads(in, out, true);
}

FILE *squeeze_while_written(const char *path, pid_t writer)
{
    FILE *out = open_unnamed_file_beside(path);
    if (!out) {
        shell_command_ended(writer, true);
        return nullptr;
    }
    ReadState state;
    Output output{out};
    int in = -1;
    for (;;) {
        // Checked before reading, so that once it has ended the reads below
        // reach the true end of the text.
        bool ended = shell_command_ended(writer, false);
        if (in < 0)
            in = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC); // made by the writer's shell
        ssize_t len;
        while (in >= 0 && (len = read(in, block, sizeof block)) > 0)
            transfer_block(&state, block, (size_t)len, true, &output);
        if (ended)
            break;
        // At the end of what is written so far: let the writer get ahead,
        // rather than chase it a few kilobytes at a time.
        poll(nullptr, 0, 2);
    }
    output_stage_flush(&output);
    if (in >= 0)
        close(in);
    if (in < 0 || output.failed) {
        // No text where it was expected, or no room for the squeezed one:
        // squeezing is left to its own step.
        fclose(out);
        return nullptr;
    }
    return out;
}

bool name_unnamed_file(FILE *file, const char *path)
{
    // Linux names a file made with O_TMPFILE through its /proc entry.
    char proc_path[64];
    snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fileno(file));
    return fflush(file) == 0 && linkat(AT_FDCWD, proc_path, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0;
}
