// The line total counted in large blocks equals the number of 254-byte
// fgets reads, on long lines, NULs, CRs and texts across block ends.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "helpers.h"
#include "scroll/scroll.h"

namespace {

int64_t plain_count(FILE *stream)
{
    char buf[255];
    int64_t count = -1;
    do
        count++;
    while (fgets(buf, sizeof buf, stream));
    rewind(stream);
    return count;
}

void expect_plain_count(const std::string &text, const std::string &label)
{
    FILE *f = stream_of(text);
    int64_t expected = plain_count(f);
    EXPECT_EQ(count_lines(f), expected) << label;
    EXPECT_EQ(fgetc(f), text.empty() ? EOF : (unsigned char)text[0]) << label << ": rewound";
    fclose(f);
}

TEST(CountLines, TrickyInputsMatchThe254ByteReads)
{
    const std::string nul(1, '\0');
    const size_t block = 1 << 16;
    const harness::NamedText cases[] = {
        {"empty", ""},
        {"only a newline", "\n"},
        {"no final newline", "a\nb"},
        {"253 + newline", std::string(253, 'x') + "\n"},
        {"254 + newline", std::string(254, 'x') + "\n"},
        {"254 without newline", std::string(254, 'x')},
        {"255 without newline", std::string(255, 'x')},
        {"508 + newline", std::string(508, 'x') + "\n"},
        {"NULs do not end a read", std::string(300, '\0') + "\n" + nul + nul},
        {"CRs are plain bytes", "\r\r\r\n\r"},
        {"line across the block end", std::string(block + 100, 'y') + "\nz\n"},
        {"newline at the block end", std::string(block - 1, 'y') + "\n" + std::string(254, 'q')},
    };
    for (const harness::NamedText &c : cases)
        expect_plain_count(c.text, c.name);
}

TEST(CountLines, RandomTextsMatchThe254ByteReads)
{
    for (unsigned seed = 1; seed <= 8; seed++)
        expect_plain_count(random_text(seed, 200000), "seed " + std::to_string(seed));
}

TEST(CountLines, CountsFromTheCurrentPosition)
{
    FILE *f = stream_of("skip\none\ntwo\n");
    fseek(f, 5, SEEK_SET);
    EXPECT_EQ(count_lines(f), 2);
    EXPECT_EQ(ftell(f), 0);
    fclose(f);
}

}  // namespace
