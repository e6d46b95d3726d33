// The block-wise copy and squeeze write exactly what the plain loops of
// 1023-byte fgets reads, each written back with fputs, write.
#include <cstdio>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "prepare/prepare.h"

namespace {

FILE *stream_of(const std::string &bytes)
{
    FILE *f = tmpfile();
    fwrite(bytes.data(), 1, bytes.size(), f);
    rewind(f);
    return f;
}

std::string contents_of(FILE *f)
{
    fflush(f);
    rewind(f);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    return out;
}

// The plain loops, as the working copy was first made.
void plain_copy(FILE *in, FILE *out)
{
    char line[1024];
    while (fgets(line, sizeof line, in))
        fputs(line, out);
}

void plain_squeeze(FILE *in, FILE *out)
{
    char line[1024];
    int in_blank_run = 0;
    while (fgets(line, sizeof line, in)) {
        bool blank = line[0] == '\r' || line[0] == '\n';
        if (!blank) {
            fputs(line, out);
            in_blank_run = 0;
        } else if (!in_blank_run) {
            fputs(line, out);
            in_blank_run = 1;
        }
    }
}

std::string through(void (*transfer)(FILE *, FILE *), const std::string &text)
{
    FILE *in = stream_of(text);
    FILE *out = tmpfile();
    transfer(in, out);
    std::string result = contents_of(out);
    fclose(in);
    fclose(out);
    return result;
}

void expect_same_as_plain_loops(const std::string &text, const std::string &label)
{
    EXPECT_EQ(through(copy_line_reads, text), through(plain_copy, text)) << "copy: " << label;
    EXPECT_EQ(through(squeeze_line_reads, text), through(plain_squeeze, text)) << "squeeze: " << label;
}

std::string repeat(char c, size_t n)
{
    return std::string(n, c);
}

const std::string nul(1, '\0');

TEST(LineReads, TrickyInputsMatchThePlainLoops)
{
    const size_t block = 1 << 16; // the block size of the fast path
    struct Case {
        std::string label, text;
    } cases[] = {
        {"empty", ""},
        {"no final newline", "one\ntwo"},
        {"blank runs", "a\n\n\n\nb\n\n"},
        {"CR LF blanks", "a\r\n\r\n\r\nb\n"},
        {"CR then text is blank", "a\n\n\rtext\nb\n"},
        {"1022 + newline", repeat('x', 1022) + "\n\nz\n"},
        {"1023 + newline: the newline is a blank read", repeat('x', 1023) + "\n\nz\n"},
        {"1024 + newline", repeat('x', 1024) + "\n\n"},
        {"2046 + newline", repeat('x', 2046) + "\n\n\n"},
        {"NUL cuts the rest of its read", "ab" + nul + "cd\nef\n"},
        {"NUL first in a read", nul + "abc\n\n\n"},
        {"NUL in a long line cuts to the 1023 boundary", "a" + nul + repeat('y', 1500) + "\n"},
        {"NUL just before the boundary", repeat('x', 1022) + nul + "after\n"},
        {"NUL just after the boundary", repeat('x', 1023) + nul + "after\n"},
        {"NUL only", nul + nul + nul},
        {"CR alone lines", "\r\r\n\r\n\rq\n"},
        {"line across the block end", repeat('w', block - 10) + "\n" + repeat('v', 3000) + "\n"},
        {"NUL across the block end", repeat('w', block - 1) + nul + "tail\n\n\n"},
        {"blank run across the block end", repeat('w', block - 3) + "\n\n\n\n\nx\n"},
        {"read boundary at the block end", repeat('u', 1023 * 64) + nul + repeat('t', 2000) + "\n"},
    };
    for (const Case &c : cases)
        expect_same_as_plain_loops(c.text, c.label);
}

TEST(LineReads, RandomTextsMatchThePlainLoops)
{
    for (unsigned seed = 1; seed <= 12; seed++) {
        std::mt19937 rng(seed);
        std::string text;
        while (text.size() < 300000) {
            // Mostly text, with newlines, CRs and NULs, and now and then a long line.
            switch (rng() % 16) {
            case 0: text += '\0'; break;
            case 1: text += '\r'; break;
            case 2: case 3: case 4: text += '\n'; break;
            case 5: text += repeat('L', rng() % 3000); break;
            default: text += repeat((char)('a' + rng() % 26), rng() % 80); break;
            }
        }
        expect_same_as_plain_loops(text, "seed " + std::to_string(seed));
    }
}

}  // namespace
