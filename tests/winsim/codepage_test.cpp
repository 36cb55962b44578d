// Code-page conversions as Windows documents them. Runs on winsim and, unchanged, on
// Windows (Wine), where the conversions are the system's own.
#include <platform/tvplatform.h>

#include <gtest/gtest.h>

#include "support/wine.h"

#include <string>

namespace {

wstr FromMultiByte(UINT codePage, const std::string &bytes, DWORD flags = 0)
{
    const int units = MultiByteToWideChar(codePage, flags, bytes.data(), int(bytes.size()), NULL, 0);
    wstr wide(size_t(units), 0);
    if (units > 0)
        MultiByteToWideChar(codePage, flags, bytes.data(), int(bytes.size()), &wide[0], units);
    return wide;
}

std::string ToMultiByte(UINT codePage, const wstr &wide)
{
    const int bytes = WideCharToMultiByte(codePage, 0, wide.data(), int(wide.size()), NULL, 0, NULL, NULL);
    std::string narrow(size_t(bytes), '\0');
    if (bytes > 0)
        WideCharToMultiByte(codePage, 0, wide.data(), int(wide.size()), &narrow[0], bytes, NULL, NULL);
    return narrow;
}

TEST(Utf8Conversion, RoundTripsReplacesIllFormedInputAndRejectsBadArguments)
{
    const std::string utf8 = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";
    const wstr wide = FromMultiByte(CP_UTF8, utf8);
    EXPECT_EQ(wide, wstr(W("caf\u00E9 \u20AC \xD83D\xDE00")));
    EXPECT_EQ(ToMultiByte(CP_UTF8, wide), utf8);
    // A length of -1 counts the terminator.
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, NULL, 0), 4);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, W("abc"), -1, NULL, 0, NULL, NULL), 4);
    const std::string stray = "ab\x80"
                              "c";
    EXPECT_EQ(FromMultiByte(CP_UTF8, stray), wstr(W("ab\uFFFDc")));

    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, stray.data(), int(stray.size()), NULL, 0), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_UNICODE_TRANSLATION));

    const WCHAR loneHigh[] = {0xD800, 'x', 0};
    EXPECT_EQ(ToMultiByte(CP_UTF8, loneHigh), "\xEF\xBF\xBDx");
    {
        WCHAR wide[2];
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 0, wide, 2), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 2), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    }
}

TEST(Utf8Conversion, RefusesFlagsAndDefaultsThatUtf8DoesNotTake)
{
    TV_SKIP_UNDER_WINE("Wine ignores these flags and default-character arguments for UTF-8");
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "abc", -1, NULL, 0), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_FLAGS));

    BOOL usedDefault = FALSE;
    char narrow[8];
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, W("abc"), -1, narrow, 8, NULL, &usedDefault), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(AnsiConversion, UsesWindows1252AndReportsTheDefault)
{
    ASSERT_EQ(GetACP(), 1252u);
    EXPECT_EQ(FromMultiByte(CP_ACP, "\x80\xE9\x9F"), wstr(W("\u20AC\u00E9\u0178")));
    EXPECT_EQ(ToMultiByte(CP_ACP, W("\u20AC\u00E9")), "\x80\xE9");
    // Characters outside the page become the default, and the caller is told.
    BOOL usedDefault = FALSE;
    char narrow[8] = {};
    const int written = WideCharToMultiByte(CP_ACP, 0, W("a\u4E2D"), 2, narrow, 8, NULL, &usedDefault);
    EXPECT_EQ(written, 2);
    EXPECT_EQ(narrow[0], 'a');
    EXPECT_EQ(narrow[1], '?');
    EXPECT_TRUE(usedDefault);
}

} // namespace
