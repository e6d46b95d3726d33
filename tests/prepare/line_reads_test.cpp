// The block-wise copy and squeeze write exactly what the plain loops of
// 1023-byte fgets reads, each written back with fputs, write.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "helpers.h"
#include "line_reads_model.h"
#include "prepare/prepare.h"

namespace {

std::string through(void (*transfer)(FILE *, FILE *), const std::string &text)
{
    FILE *in = stream_of(text);
    FILE *out = tmpfile();
    transfer(in, out);
    std::string result = contents_from_start(out);
    fclose(in);
    fclose(out);
    return result;
}

void expect_same_as_plain_loops(const std::string &text, const std::string &label)
{
    EXPECT_EQ(through(copy_line_reads, text), line_reads_model(text, false)) << "copy: " << label;
    EXPECT_EQ(through(squeeze_line_reads, text), line_reads_model(text, true)) << "squeeze: " << label;
}

const std::string nul(1, '\0');

TEST(LineReads, TrickyInputsMatchThePlainLoops)
{
    const size_t block = 1 << 16; // the block size of the fast path
    const harness::NamedText cases[] = {
        {"empty", ""},
        {"no final newline", "one\ntwo"},
        {"blank runs", "a\n\n\n\nb\n\n"},
        {"CR LF blanks", "a\r\n\r\n\r\nb\n"},
        {"CR then text is blank", "a\n\n\rtext\nb\n"},
        {"1022 + newline", repeat("x", 1022) + "\n\nz\n"},
        {"1023 + newline: the newline is a blank read", repeat("x", 1023) + "\n\nz\n"},
        {"1024 + newline", repeat("x", 1024) + "\n\n"},
        {"2046 + newline", repeat("x", 2046) + "\n\n\n"},
        {"NUL cuts the rest of its read", "ab" + nul + "cd\nef\n"},
        {"NUL first in a read", nul + "abc\n\n\n"},
        {"NUL in a long line cuts to the 1023 boundary", "a" + nul + repeat("y", 1500) + "\n"},
        {"NUL just before the boundary", repeat("x", 1022) + nul + "after\n"},
        {"NUL just after the boundary", repeat("x", 1023) + nul + "after\n"},
        {"NUL only", nul + nul + nul},
        {"CR alone lines", "\r\r\n\r\n\rq\n"},
        {"line across the block end", repeat("w", block - 10) + "\n" + repeat("v", 3000) + "\n"},
        {"NUL across the block end", repeat("w", block - 1) + nul + "tail\n\n\n"},
        {"blank run across the block end", repeat("w", block - 3) + "\n\n\n\n\nx\n"},
        {"read boundary at the block end", repeat("u", 1023 * 64) + nul + repeat("t", 2000) + "\n"},
    };
    for (const harness::NamedText &c : cases)
        expect_same_as_plain_loops(c.text, c.name);
}

TEST(LineReads, RandomTextsMatchThePlainLoops)
{
    for (unsigned seed = 1; seed <= 12; seed++)
        expect_same_as_plain_loops(random_text(seed, 300000), "seed " + std::to_string(seed));
}

}  // namespace
