// tv_str::format and format_utf8: the format conventions that must hold on both
// platforms (winsim's formatter on Linux, the Windows C runtime under Wine), the limits of
// the work buffers, and the failure results.
#include "strings/strings_support.h"

#include <gtest/gtest.h>

#include "support/wine.h"

#include <string>

using tvtest::Utf8;
using tvtest::Wide;

TEST(TvStrFormat, PortableSpellingsAndNumbersWithWindowsSizes)
{
    tv_str s;
    ASSERT_EQ(s.format(W("%ls|%hs|%s|%S"), W("wide"), "narrow", W("wide too"), "narrow too"), 0);
    EXPECT_EQ(Wide(s), wstr(W("wide|narrow|wide too|narrow too")));
    ASSERT_EQ(s.format(W("%lc%hc%c%C"), W('w'), 'n', W('x'), 'y'), 0);
    EXPECT_EQ(Wide(s), wstr(W("wnxy")));
    ASSERT_EQ(s.format(W("[%-6ls][%6hs][%.2ls]"), W("ab"), "cd", W("efgh")), 0);
    EXPECT_EQ(Wide(s), wstr(W("[ab    ][    cd][ef]")));
    ASSERT_EQ(s.format(W("%ls"), W("caf\u00E9 \u20AC")), 0);
    EXPECT_EQ(Utf8(s), "caf\xC3\xA9 \xE2\x82\xAC");
    ASSERT_EQ(s.format(W("%ls/%hs"), static_cast<const WCHAR *>(NULL), static_cast<const char *>(NULL)), 0);
    EXPECT_EQ(Wide(s), wstr(W("(null)/(null)")));
    const LONG negative = -1;
    const DWORD all = 0xFFFFFFFFu;
    const size_t big = size_t(1) << 40;
    ASSERT_EQ(s.format(W("%ld %lu %lx %d %u"), negative, all, all, -5, 7u), 0);
    EXPECT_EQ(Wide(s), wstr(W("-1 4294967295 ffffffff -5 7")));
    ASSERT_EQ(s.format(W("%lld %I64d %I64u %Iu %zu"), -5000000000LL, -5000000000LL, 18446744073709551615ULL, big, big), 0);
    EXPECT_EQ(Wide(s), wstr(W("-5000000000 -5000000000 18446744073709551615 1099511627776 1099511627776")));
    ASSERT_EQ(s.format(W("%hd %hu"), 70000, 70000), 0);
    EXPECT_EQ(Wide(s), wstr(W("4464 4464")));
    ASSERT_EQ(s.format(W("[%5d][%-5d][%05d][%+d][% d][%#x][%#o][%X][%.3d]"), 42, 42, 42, 42, 42, 255, 8, 0xABC, 7), 0);
    EXPECT_EQ(Wide(s), wstr(W("[   42][42   ][00042][+42][ 42][0xff][010][ABC][007]")));
    ASSERT_EQ(s.format(W("[%*d][%-*d][%.*ls][%*ls]"), 4, 1, 3, 2, 2, W("abcdef"), -4, W("x")), 0);
    EXPECT_EQ(Wide(s), wstr(W("[   1][2  ][ab][x   ]")));
    ASSERT_EQ(s.format(W("100%%")), 0);
    EXPECT_EQ(Wide(s), wstr(W("100%")));
    ASSERT_EQ(s.format(W("%.2f|%f|%g|%10.3f|%-8.1f|"), 3.14159, 0.5, 0.0001, 2.5, 1.26), 0);
    EXPECT_EQ(Wide(s), wstr(W("3.14|0.500000|0.0001|     2.500|1.3     |")));
    // The Windows runtime writes three exponent digits.
    ASSERT_EQ(s.format(W("%e|%E|%g|%012.2e"), 12345.678, 1e10, 1e20, -1.5), 0);
    EXPECT_EQ(Wide(s), wstr(W("1.234568e+004|1.000000E+010|1e+020|-001.50e+000")));
    ASSERT_EQ(s.format(W("%p"), reinterpret_cast<void *>(static_cast<uintptr_t>(0x12AB))), 0);
    EXPECT_EQ(Wide(s), wstr(W("00000000000012AB")));
}

TEST(TvStrFormat, WorkBufferLimitsAndRefusedFormatsKeepTheText)
{
    tv_str s(W("before"));
    ASSERT_EQ(s.format(W("%65535d"), 1), 0);
    EXPECT_EQ(s.length(), 65535);
    EXPECT_EQ(s.last(), '1');
    EXPECT_EQ(s.first(), ' ');

    tv_str kept(W("before"));
    EXPECT_EQ(kept.format(W("%65536d"), 1), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(Wide(kept), wstr(W("before")));
    EXPECT_STREQ(kept.get_utf8(), "before");
    const wstr huge(70000, W('h'));
    EXPECT_EQ(kept.format(W("%ls"), huge.c_str()), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(Wide(kept), wstr(W("before")));
    s = W("before");
    EXPECT_EQ(s.format(NULL), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(s.format_utf8(NULL), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(Wide(s), wstr(W("before")));
    TV_SKIP_UNDER_WINE("msvcrt prints an unknown conversion letter instead of refusing the format");
    EXPECT_EQ(s.format(W("%k and more")), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(Wide(s), wstr(W("before")));
}

TEST(TvStrFormat, FormatUtf8TakesUtf8ArgumentsIntoAtMost65535Bytes)
{
    tv_str s;
    ASSERT_EQ(s.format_utf8("%s=%d (%5.1f)", "caf\xC3\xA9", -3, 2.26), 0);
    EXPECT_EQ(Wide(s), wstr(W("caf\u00E9=-3 (  2.3)")));
    ASSERT_EQ(s.format_utf8("%s", ""), 0);
    EXPECT_TRUE(s.is_empty());
    // Ill-formed output converts as the platform converts it.
    ASSERT_EQ(s.format_utf8("%s", "a\x80"), 0);
    EXPECT_EQ(Wide(s), wstr(W("a\uFFFD")));
    s = W("before");
    const std::string fits(65535, 'f');
    ASSERT_EQ(s.format_utf8("%s", fits.c_str()), 0);
    EXPECT_EQ(s.bytelength(), 65535);
    const std::string tooLong(65536, 't');
    tv_str kept(W("before"));
    EXPECT_EQ(kept.format_utf8("%s", tooLong.c_str()), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(Wide(kept), wstr(W("before")));
    // Bytes, not characters: 21,846 euro signs are 65,538 bytes.
    std::string euros;
    for (int i = 0; i < 21846; ++i)
        euros += "\xE2\x82\xAC";
    EXPECT_EQ(kept.format_utf8("%s", euros.c_str()), ERROR_INSUFFICIENT_BUFFER);
    euros.resize(euros.size() - 3);
    ASSERT_EQ(kept.format_utf8("%s", euros.c_str()), 0);
    EXPECT_EQ(kept.length(), 21845);
    s = W("a text long enough for a heap mirror");
    ASSERT_EQ(s.format(W("<%ls>"), static_cast<const WCHAR *>(s)), 0);
    EXPECT_EQ(Wide(s), wstr(W("<a text long enough for a heap mirror>")));
    ASSERT_EQ(s.format_utf8("[%s]", s.get_utf8()), 0);
    EXPECT_STREQ(s.get_utf8(), "[<a text long enough for a heap mirror>]");
}
