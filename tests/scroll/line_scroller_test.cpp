// Pure pieces of the line scroller: the start-row test and the two measures.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "helpers.h"
#include "scroll/scroll.h"

namespace {

TEST(LineScroller, StartRowTest)
{
    struct Case {
        uint32_t row;
        int lines;
        bool passes;
    } cases[] = {
        {1, 24, true},  {22, 24, true}, {23, 24, false}, {0, 24, false},
        {123, 24, false}, {1, 3, true}, {2, 3, false},   {0, 2, false},
        {1, 2, false},  {0xFFFFFFFFu, 1, true}, {999, 1, true},  // one row: LINES-2 wraps
    };
    for (const Case &c : cases)
        EXPECT_EQ(row_in_range(c.row, c.lines), c.passes) << "row " << c.row << " of " << c.lines;
}

TEST(LineScroller, CountsReadsOf254BytesAndMeasuresTheSize)
{
    struct Case {
        std::string text;
        int64_t total;
    } cases[] = {
        {"", 0},
        {"a\n", 1},
        {"a\nb\nc", 3},                        // a last line without newline counts
        {std::string(253, 'x') + "\n", 1},     // 254 bytes: one read
        {std::string(254, 'x') + "\n", 2},     // the newline is a read of its own
        {std::string(300, 'x') + "\n", 2},
        {std::string(2000, 'x') + "\n", 8},
        {"\n\n\n", 3},
    };
    for (const Case &c : cases) {
        FILE *f = stream_of(c.text);
        EXPECT_EQ(count_lines(f), c.total) << c.text.size() << " bytes";
        EXPECT_EQ(ftell(f), 0) << "rewound";
        EXPECT_EQ(file_size_of(f), (int64_t)c.text.size());
        EXPECT_EQ(ftell(f), 0) << "back at the start";
        fclose(f);
    }
}

}  // namespace
