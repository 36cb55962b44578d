// The C runtime extras as the Microsoft CRT documents them. Runs on winsim and, unchanged,
// on Windows (Wine), where they are the CRT's own.
#include <platform/tvplatform.h>

#include <gtest/gtest.h>

#include "support/wine.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

int Sign(int value) { return value < 0 ? -1 : (value > 0 ? 1 : 0); }

TEST(CaseInsensitiveCompare, FoldsAsciiLettersOnly)
{
    EXPECT_EQ(_stricmp("Tolvane Backup", "tOLVANE bACKUP"), 0);
    EXPECT_EQ(_wcsicmp(W("System Writer"), W("SYSTEM WRITER")), 0);
    EXPECT_EQ(Sign(_stricmp("abc", "ABD")), -1);
    EXPECT_EQ(Sign(_wcsicmp(W("abd"), W("ABC"))), 1);
    EXPECT_EQ(Sign(_stricmp("ab", "abc")), -1);
    // Letters fold to lower case, so '_' (0x5F) sorts before 'b' but after 'B'.
    EXPECT_EQ(Sign(_stricmp("a_", "aB")), -1);
    EXPECT_EQ(Sign(_wcsicmp(W("a_"), W("aB"))), -1);
}

TEST(CaseInsensitiveCompare, LeavesNonAsciiLettersAlone)
{
    const WCHAR lower[] = {0x00E9, 0};  // e acute
    const WCHAR upper[] = {0x00C9, 0};
    EXPECT_NE(_wcsicmp(lower, upper), 0);
}

TEST(CaseInsensitiveCompare, StopsAfterTheCount)
{
    EXPECT_EQ(_strnicmp("VOLUME{1}", "volume{2}", 7), 0);
    EXPECT_NE(_strnicmp("VOLUME{1}", "volume{2}", 8), 0);
    EXPECT_EQ(_wcsnicmp(W("C:\\Windows"), W("c:\\WINDOWS\\System32"), 10), 0);
    EXPECT_NE(_wcsnicmp(W("C:\\Windows"), W("c:\\WINDOWS\\System32"), 11), 0);
    EXPECT_EQ(_wcsnicmp(W("abc"), W("xyz"), 0), 0);
}

TEST(StrncpyS, CopiesUpToTheCountAndTerminates)
{
    char dst[8];
    memset(dst, 'X', sizeof dst);
    EXPECT_EQ(strncpy_s(dst, sizeof dst, "abcdef", 3), 0);
    EXPECT_STREQ(dst, "abc");
    EXPECT_EQ(strncpy_s(dst, sizeof dst, "1234567", 100), 0);
    EXPECT_STREQ(dst, "1234567");
}

TEST(StrncpyS, FailsWithErangeAndClearsWhenTheTextDoesNotFit)
{
    char dst[5] = "keep";
    EXPECT_EQ(strncpy_s(dst, sizeof dst, "a long string", 5), ERANGE);
    EXPECT_EQ(dst[0], '\0');
}

TEST(StrncpyS, StoresErangeInErrno)
{
    TV_SKIP_UNDER_WINE("Wine's msvcrt returns ERANGE without setting errno");
    char dst[5] = "keep";
    errno = 0;
    EXPECT_EQ(strncpy_s(dst, sizeof dst, "a long string", 5), ERANGE);
    EXPECT_EQ(errno, ERANGE);
}

TEST(StrncpyS, TruncatesOnlyWhenAskedTo)
{
    char dst[5];
    EXPECT_EQ(strncpy_s(dst, sizeof dst, "a long string", _TRUNCATE), STRUNCATE);
    EXPECT_STREQ(dst, "a lo");
    EXPECT_EQ(strncpy_s(dst, sizeof dst, "abcd", _TRUNCATE), 0);  // fits exactly
    EXPECT_STREQ(dst, "abcd");
}

TEST(StrncpyS, RejectsMissingBuffersWithEinval)
{
    char dst[4] = "xyz";
    errno = 0;
    EXPECT_EQ(strncpy_s(NULL, 4, "a", 1), EINVAL);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(strncpy_s(dst, 0, "a", 1), EINVAL);
    EXPECT_STREQ(dst, "xyz");  // a zero size leaves the buffer alone
    EXPECT_EQ(strncpy_s(dst, sizeof dst, NULL, 1), EINVAL);
    EXPECT_EQ(dst[0], '\0');
    // Copying nothing is allowed, with or without a source.
    memcpy(dst, "xyz", 4);
    EXPECT_EQ(strncpy_s(dst, sizeof dst, NULL, 0), 0);
    EXPECT_EQ(dst[0], '\0');
}

TEST(StrncatS, AppendsUpToTheCount)
{
    char dst[10] = "ab";
    EXPECT_EQ(strncat_s(dst, sizeof dst, "cdefgh", 3), 0);
    EXPECT_STREQ(dst, "abcde");
    EXPECT_EQ(strncat_s(dst, sizeof dst, "xy", 100), 0);
    EXPECT_STREQ(dst, "abcdexy");
}

TEST(StrncatS, FailsWithErangeWhenNoRoomIsLeftForTheTerminator)
{
    char dst[5] = "12";
    EXPECT_EQ(strncat_s(dst, sizeof dst, "34567", 3), ERANGE);
    EXPECT_EQ(dst[0], '\0');
}

TEST(StrncatS, StoresErangeInErrno)
{
    char dst[5] = "12";
    errno = 0;
    EXPECT_EQ(strncat_s(dst, sizeof dst, "34567", 3), ERANGE);
    EXPECT_EQ(errno, ERANGE);
}

TEST(StrncatS, TruncatesOnlyWhenAskedTo)
{
    char dst[5] = "12";
    EXPECT_EQ(strncat_s(dst, sizeof dst, "34567", _TRUNCATE), STRUNCATE);
    EXPECT_STREQ(dst, "1234");
}

TEST(StrncatS, ReportsNoTruncationWhenTheTextFitsExactly)
{
    TV_SKIP_UNDER_WINE("Wine's msvcrt answers STRUNCATE although nothing was cut");
    char exact[5] = "12";
    EXPECT_EQ(strncat_s(exact, sizeof exact, "34", _TRUNCATE), 0);
    EXPECT_STREQ(exact, "1234");
}

TEST(StrncatS, RejectsMissingAndUnterminatedBuffersWithEinval)
{
    char dst[4] = "ab";
    EXPECT_EQ(strncat_s(NULL, 4, "a", 1), EINVAL);
    EXPECT_EQ(strncat_s(dst, 0, "a", 1), EINVAL);
    EXPECT_STREQ(dst, "ab");
    EXPECT_EQ(strncat_s(dst, sizeof dst, NULL, 1), EINVAL);
    EXPECT_EQ(dst[0], '\0');
    char unterminated[3] = {'a', 'b', 'c'};
    errno = 0;
    EXPECT_EQ(strncat_s(unterminated, sizeof unterminated, "d", 1), EINVAL);
    EXPECT_EQ(errno, EINVAL);
}

TEST(Wcsdup, MakesAMallocedCopy)
{
    const WCHAR *original = W("C:\\Program Files\\Tolvane");
    WCHAR *copy = _wcsdup(original);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, original);
    EXPECT_EQ(wstr(copy), wstr(original));
    free(copy);
}

TEST(Strtoi64, ParsesSixtyFourBitValuesInAnyBase)
{
    char *end = NULL;
    EXPECT_EQ(_strtoi64("  -9000000000xyz", &end, 10), -9000000000LL);
    EXPECT_STREQ(end, "xyz");
    EXPECT_EQ(_strtoi64("0x7fffffffffffffff", NULL, 16), LLONG_MAX);
    EXPECT_EQ(_strtoi64("0x10", NULL, 0), 16);
    EXPECT_EQ(_strtoi64("017", NULL, 0), 15);
    EXPECT_EQ(_strtoi64("z", NULL, 36), 35);
}

TEST(Strtoi64, ClampsOnOverflowWithErange)
{
    errno = 0;
    EXPECT_EQ(_strtoi64("99999999999999999999", NULL, 10), LLONG_MAX);
    EXPECT_EQ(errno, ERANGE);
    errno = 0;
    EXPECT_EQ(_strtoi64("-99999999999999999999", NULL, 10), LLONG_MIN);
    EXPECT_EQ(errno, ERANGE);
}

TEST(Strtoi64, ReportsNoDigitsThroughTheEndPointer)
{
    const char *text = "  none";
    char *end = NULL;
    EXPECT_EQ(_strtoi64(text, &end, 10), 0);
    EXPECT_EQ(end, text);
}

} // namespace
