// The converter's parts on samples made here: kind detection, character
// sets, the writer, and one table per reader.
#include <gtest/gtest.h>

#include "convert/convert.h"

namespace {

TEST(ConvertTable, EveryReadableKindHasOneRow)
{
    for (const Format &f : formats())
        EXPECT_EQ(format_for(f.kind), &f) << f.name;
}

} // namespace
