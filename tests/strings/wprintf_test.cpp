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
    // What the buffer holds afterwards: '.' a unit left alone, '0' the terminator.
    const struct {
        size_t count;
        const WCHAR *format, *text;
        int result;
        const char *after;
    } cases[] = {
        {8, W("%ls"), W("ab"), 2, "ab0....."},
        {4, W("%ls"), W("abcd"), 4, "abcd...."},
        {4, W("%ls%d"), W("abc"), -1, "abc4...."},
        {0, W("x"), W(""), -1, "........"},
    };
    for (const auto &c : cases) {
        Buffer b;
        EXPECT_EQ(_snwprintf(b.units, c.count, c.format, c.text, 42), c.result) << c.after;
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(b.units[i], WCHAR(c.after[i] == '.' ? kUntouched : c.after[i] == '0' ? 0 : c.after[i]))
                << c.after << " at " << i;
    }
}
