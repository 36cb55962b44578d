// The counted wide formatter as tv_str::format relies on it: Microsoft's rules for the
// terminator and for output that does not fit. On Windows (Wine) this is the C runtime's
// own _snwprintf; on Linux, winsim's.
#include <platform/tvplatform.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>

namespace {

const WCHAR kUntouched = 0x1234;

struct Buffer {
    Buffer()
    {
        for (WCHAR &unit : units)
            unit = kUntouched;
    }
    WCHAR units[8];
};

} // namespace

TEST(WideFormatting, TerminatedOnlyWhenShortCutAtTheCountAnsweringMinusOne)
{
    Buffer b;
    EXPECT_EQ(_snwprintf(b.units, 8, W("%ls"), W("ab")), 2);
    EXPECT_EQ(b.units[0], W('a'));
    EXPECT_EQ(b.units[2], 0);
    EXPECT_EQ(b.units[3], kUntouched);
    {
        Buffer b;
        EXPECT_EQ(_snwprintf(b.units, 4, W("%ls"), W("abcd")), 4);
        EXPECT_EQ(b.units[3], W('d'));
        EXPECT_EQ(b.units[4], kUntouched);
    }
    {
        Buffer b;
        EXPECT_EQ(_snwprintf(b.units, 4, W("%ls%d"), W("abc"), 42), -1);
        EXPECT_EQ(b.units[0], W('a'));
        EXPECT_EQ(b.units[3], W('4'));
        EXPECT_EQ(b.units[4], kUntouched);
    }
    {
        Buffer b;
        EXPECT_EQ(_snwprintf(b.units, 0, W("x")), -1);
        EXPECT_EQ(b.units[0], kUntouched);
    }
}
