// Reflow of text holding non-ASCII characters. fmt counts bytes, so a row
// of Cyrillic or Greek text (two bytes a letter) would come out half as
// wide as the terminal. fmt is given instead a copy in which each non-ASCII
// character is one placeholder byte (two for a character of double width);
// since fmt -s breaks only at white space and keeps every other byte in
// order, the k-th placeholder of its output stands for the k-th such
// character of the original, which is put back in its place.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/exits.h"
#include "app/records.h"
#include "app/signals.h"
#include "prepare/prepare.h"

namespace {

const unsigned char placeholder = 0x80;

// A file read through a buffer that can hold a whole character ahead.
struct ByteSource {
    FILE *file;
    std::vector<unsigned char> buf = std::vector<unsigned char>(1 << 16);
    size_t at = 0, len = 0;
    bool ended = false;
};

// Bytes available from the current one on, at least `want` unless the file
// ends first.
size_t source_fill(ByteSource *s, size_t want)
{
    if (s->len - s->at >= want || s->ended)
        return s->len - s->at;
    memmove(s->buf.data(), s->buf.data() + s->at, s->len - s->at);
    s->len -= s->at;
    s->at = 0;
    while (s->len < want && !s->ended) {
        size_t got = fread(s->buf.data() + s->len, 1, s->buf.size() - s->len, s->file);
        s->len += got;
        s->ended = got == 0;
    }
    // A large file would hold an interrupt off until the end.
    if (interrupt_pending)
        act_on_signals();
    return s->len - s->at;
}

const unsigned char *source_bytes(const ByteSource *s)
{
    return s->buf.data() + s->at;
}

// What fmt takes for white space: it may add, drop or change only these.
inline bool is_fmt_space(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Written through a buffer of its own, a byte at a time.
struct ByteSink {
    FILE *file;
    unsigned char stage[1 << 16];
    size_t staged = 0;
};

void sink_flush(ByteSink *sink)
{
    fwrite(sink->stage, 1, sink->staged, sink->file);
    sink->staged = 0;
}

inline void sink_byte(ByteSink *sink, unsigned char c)
{
    if (sink->staged == sizeof sink->stage)
        sink_flush(sink);
    sink->stage[sink->staged++] = c;
}

// The one sink, too large for the stack, made empty and pointed at `out`;
// the encoder and the decoder never run at once.
ByteSink *sink_to(FILE *out)
{
    static ByteSink sink;
    sink.file = out;
    sink.staged = 0;
    return &sink;
}

// The placeholders of the character at `p`, which is not ASCII, and its
// length in bytes.
size_t placeholders_of(const unsigned char *p, size_t avail, size_t *len)
{
    // Most text beyond ASCII is in two-byte letters, none of them wide.
    if (p[0] >= 0xc2 && p[0] <= 0xdf && avail >= 2 && (p[1] & 0xc0) == 0x80) {
        *len = 2;
        return 1;
    }
    uint32_t code_point = 0;
    *len = utf8_char_length(p, avail, &code_point);
    return *len > 1 && char_columns(code_point) == 2 ? 2 : 1;
}

// Holds an open stream, so that every way out of the reflow closes it.
struct OpenFile {
    FILE *file = nullptr;
    ~OpenFile()
    {
        if (file)
            fclose(file);
    }
};

FILE *open_or_die(const char *path, const char *mode)
{
    if (strcmp(mode, "w") == 0)
        return work_file_create(path);
    FILE *file = work_file_open(path, mode);
    if (!file)
        die("fopen()");
    return file;
}

// The bytes of `in` from its start, NULs and all, into `out`.
void copy_whole(FILE *in, FILE *out)
{
    rewind(in);
    char chunk[1 << 16];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, in)) > 0)
        fwrite(chunk, 1, got, out);
}

} // namespace

size_t utf8_char_length(const unsigned char *p, size_t avail, uint32_t *code_point)
{
    unsigned char c = p[0];
    size_t len;
    unsigned char low = 0x80, high = 0xbf; // the range of the second byte
    if (c < 0x80) {
        *code_point = c;
        return 1;
    } else if (c >= 0xc2 && c <= 0xdf) {
        len = 2;
    } else if (c >= 0xe0 && c <= 0xef) {
        len = 3;
        low = c == 0xe0 ? 0xa0 : 0x80;   // no overlong forms
        high = c == 0xed ? 0x9f : 0xbf;  // no surrogates
    } else if (c >= 0xf0 && c <= 0xf4) {
        len = 4;
        low = c == 0xf0 ? 0x90 : 0x80;
        high = c == 0xf4 ? 0x8f : 0xbf;  // nothing past U+10FFFF
    } else {
        *code_point = c;
        return 1; // a continuation byte or one that starts nothing
    }
    if (avail < len || p[1] < low || p[1] > high) {
        *code_point = c;
        return 1;
    }
    uint32_t value = c & (0x7f >> len);
    for (size_t i = 1; i < len; i++) {
        if ((p[i] & 0xc0) != 0x80) {
            *code_point = c;
            return 1;
        }
        value = value << 6 | (p[i] & 0x3f);
    }
    *code_point = value;
    return len;
}

int char_columns(uint32_t code_point)
{
    // East Asian wide and fullwidth ranges.
    static const uint32_t wide[][2] = {
        {0x1100, 0x115f},   {0x231a, 0x231b},   {0x2329, 0x232a},   {0x23e9, 0x23ec},
        {0x23f0, 0x23f0},   {0x23f3, 0x23f3},   {0x25fd, 0x25fe},   {0x2614, 0x2615},
        {0x2648, 0x2653},   {0x267f, 0x267f},   {0x2693, 0x2693},   {0x26a1, 0x26a1},
        {0x26aa, 0x26ab},   {0x26bd, 0x26be},   {0x26c4, 0x26c5},   {0x26ce, 0x26ce},
        {0x26d4, 0x26d4},   {0x26ea, 0x26ea},   {0x26f2, 0x26f3},   {0x26f5, 0x26f5},
        {0x26fa, 0x26fa},   {0x26fd, 0x26fd},   {0x2705, 0x2705},   {0x270a, 0x270b},
        {0x2728, 0x2728},   {0x274c, 0x274c},   {0x274e, 0x274e},   {0x2753, 0x2755},
        {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27b0, 0x27b0},   {0x27bf, 0x27bf},
        {0x2b1b, 0x2b1c},   {0x2b50, 0x2b50},   {0x2b55, 0x2b55},   {0x2e80, 0x303e},
        {0x3041, 0x33ff},   {0x3400, 0x4dbf},   {0x4e00, 0x9fff},   {0xa000, 0xa4cf},
        {0xa960, 0xa97f},   {0xac00, 0xd7a3},   {0xf900, 0xfaff},   {0xfe10, 0xfe19},
        {0xfe30, 0xfe6f},   {0xff00, 0xff60},   {0xffe0, 0xffe6},   {0x16fe0, 0x16fe4},
        {0x17000, 0x18cff}, {0x1b000, 0x1b2ff}, {0x1f004, 0x1f004}, {0x1f0cf, 0x1f0cf},
        {0x1f18e, 0x1f18e}, {0x1f191, 0x1f19a}, {0x1f200, 0x1f251}, {0x1f300, 0x1f64f},
        {0x1f680, 0x1f6ff}, {0x1f7e0, 0x1f7eb}, {0x1f90c, 0x1f9ff}, {0x1fa70, 0x1faff},
        {0x20000, 0x2fffd}, {0x30000, 0x3fffd},
    };
    size_t lo = 0, hi = sizeof wide / sizeof wide[0];
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (code_point < wide[mid][0])
            hi = mid;
        else if (code_point > wide[mid][1])
            lo = mid + 1;
        else
            return 2;
    }
    return 1;
}

bool holds_non_ascii(int fd)
{
    static uint64_t words[(1 << 16) / sizeof(uint64_t)];
    const uint64_t high_bits = 0x8080808080808080u;
    ssize_t len;
    while ((len = read(fd, words, sizeof words)) > 0) {
        size_t whole = (size_t)len / sizeof(uint64_t);
        uint64_t seen = 0;
        for (size_t i = 0; i < whole; i++)
            seen |= words[i];
        const unsigned char *tail = reinterpret_cast<const unsigned char *>(words) + whole * sizeof(uint64_t);
        for (size_t i = 0; i < (size_t)len % sizeof(uint64_t); i++)
            seen |= tail[i];
        if (seen & high_bits)
            return true;
    }
    return false;
}

// Runs `step` over the bytes of `s` from each place where `whole` bytes are
// left, or fewer at the end, refilling as it goes: `step` is given the
// place and what is left from it, and says how many bytes it took, 0 to
// stop. False when a step stopped.
template <typename Step>
static bool source_each(ByteSource *s, size_t whole, Step step)
{
    size_t avail;
    while ((avail = source_fill(s, whole)) > 0) {
        const unsigned char *p = source_bytes(s), *end = p + avail;
        const unsigned char *stop = s->ended ? end : end - (whole - 1);
        while (p < stop) {
            size_t took = step(p, (size_t)(end - p));
            if (took == 0)
                return false;
            p += took;
        }
        s->at = (size_t)(p - s->buf.data());
    }
    return true;
}

void encode_for_fmt(FILE *in, FILE *out)
{
    ByteSource source{in};
    ByteSink *sink = sink_to(out);
    // A character is whole while 4 bytes are left, or at the end.
    source_each(&source, 4, [sink](const unsigned char *p, size_t left) -> size_t {
        if (*p < 0x80) {
            sink_byte(sink, *p);
            return 1;
        }
        size_t len;
        if (placeholders_of(p, left, &len) == 2)
            sink_byte(sink, placeholder);
        sink_byte(sink, placeholder);
        return len;
    });
    sink_flush(sink);
}

// Passes the white space of `s` by, refilling as it goes; the bytes left
// from the next one on (0 at the end).
static size_t source_skip_space(ByteSource *s)
{
    for (;;) {
        size_t left = s->len - s->at;
        if (left < 4 && !s->ended)
            left = source_fill(s, 4);
        if (left == 0 || !is_fmt_space(s->buf[s->at]))
            return left;
        s->at++;
    }
}

bool decode_from_fmt(FILE *reflowed, FILE *original, FILE *out)
{
    ByteSource from_fmt{reflowed}, from_original{original};
    ByteSink *sink = sink_to(out);
    // A placeholder pair is whole while 2 bytes are left, or at the end.
    bool same = source_each(&from_fmt, 2, [&](const unsigned char *f, size_t fmt_left) -> size_t {
        if (is_fmt_space(*f)) {
            sink_byte(sink, *f);
            return 1;
        }
        // The original's next byte that is no white space, and its character.
        size_t left = from_original.len - from_original.at;
        if (left < 4 || is_fmt_space(from_original.buf[from_original.at]))
            left = source_skip_space(&from_original);
        if (left == 0)
            return 0;
        const unsigned char *a = source_bytes(&from_original);
        size_t len = 1, count = 1;
        if (a[0] >= 0x80) {
            count = placeholders_of(a, left, &len);
            if (*f != placeholder || (count == 2 && (fmt_left < 2 || f[1] != placeholder)))
                return 0;
        } else if (*f != a[0]) {
            return 0; // fmt changed more than white space
        }
        for (size_t i = 0; i < len; i++)
            sink_byte(sink, a[i]);
        from_original.at += len;
        return count;
    });
    if (!same)
        return false;
    size_t left = source_skip_space(&from_original);
    sink_flush(sink);
    return left == 0 && fflush(out) == 0 && !ferror(out);
}

bool reflow_in_characters(int width)
{
    OpenFile original;
    original.file = work_file_open(work_files.converted_path, "r");
    if (!original.file || !holds_non_ascii(fileno(original.file)))
        return false; // the reflow of bytes, as fmt does it
    // The working copy's name goes to the encoded text; the original stays
    // open, for the characters to put back.
    rewind(original.file);
    {
        OpenFile encoded;
        encoded.file = open_or_die(work_files.temp_path, "w");
        encode_for_fmt(original.file, encoded.file);
    }
    replace_work_file();
    work_file_clear(work_files.temp_path); // fmt's shell makes it exclusively
    run_shell_command(fmt_command(work_files.converted_path, work_files.temp_path, width));

    // fmt's output is read by the stream; its name is free for the result.
    OpenFile reflowed;
    reflowed.file = open_or_die(work_files.temp_path, "r");
    unlink(work_files.temp_path);
    rewind(original.file);
    bool decoded;
    {
        OpenFile result;
        result.file = open_or_die(work_files.temp_path, "w");
        decoded = decode_from_fmt(reflowed.file, original.file, result.file);
    }
    if (!decoded) {
        // This fmt changed more than white space: the original goes back,
        // for fmt to reflow as bytes after all.
        OpenFile copy;
        copy.file = open_or_die(work_files.temp_path, "w");
        copy_whole(original.file, copy.file);
    }
    replace_work_file();
    return decoded;
}
