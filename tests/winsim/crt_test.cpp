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

TEST(CaseInsensitiveCompare, FoldsAsciiLettersOnlyAndStopsAfterTheCount)
{
    EXPECT_EQ(_stricmp("Tolvane Backup", "tOLVANE bACKUP"), 0);
    EXPECT_EQ(_wcsicmp(W("System Writer"), W("SYSTEM WRITER")), 0);
    EXPECT_EQ(Sign(_stricmp("abc", "ABD")), -1);
    EXPECT_EQ(Sign(_wcsicmp(W("abd"), W("ABC"))), 1);
    EXPECT_EQ(Sign(_stricmp("ab", "abc")), -1);
    // Letters fold to lower case, so '_' (0x5F) sorts before 'b' but after 'B'.
    EXPECT_EQ(Sign(_stricmp("a_", "aB")), -1);
    EXPECT_EQ(Sign(_wcsicmp(W("a_"), W("aB"))), -1);
    EXPECT_NE(_wcsicmp(W("\u00E9"), W("\u00C9")), 0);

    EXPECT_EQ(_strnicmp("VOLUME{1}", "volume{2}", 7), 0);
    EXPECT_NE(_strnicmp("VOLUME{1}", "volume{2}", 8), 0);
    EXPECT_EQ(_wcsnicmp(W("C:\\Windows"), W("c:\\WINDOWS\\System32"), 10), 0);
    EXPECT_NE(_wcsnicmp(W("C:\\Windows"), W("c:\\WINDOWS\\System32"), 11), 0);
    EXPECT_EQ(_wcsnicmp(W("abc"), W("xyz"), 0), 0);
}

// strncpy_s and strncat_s share their rules: a copy that does not fit fails with ERANGE
// and clears the buffer unless _TRUNCATE was asked for.
TEST(SafeCopyAndAppend, CopyOrCutAsDocumented)
{
    const struct {
        const char *name;
        bool append;
        const char *before;
        size_t size;
        const char *source;
        size_t count;
        errno_t result;
        const char *after;
    } cases[] = {
        {"copy up to the count", false, "XXXXXXX", 8, "abcdef", 3, 0, "abc"},
        {"copy less than a large count", false, "XXXXXXX", 8, "1234567", 100, 0, "1234567"},
        {"copy that does not fit", false, "keep", 5, "a long string", 5, ERANGE, ""},
        {"copy cut on request", false, "keep", 5, "a long string", _TRUNCATE, STRUNCATE, "a lo"},
        {"copy that fits exactly", false, "keep", 5, "abcd", _TRUNCATE, 0, "abcd"},
        {"append up to the count", true, "ab", 10, "cdefgh", 3, 0, "abcde"},
        {"append less than a large count", true, "abcde", 10, "xy", 100, 0, "abcdexy"},
        {"append without room for the terminator", true, "12", 5, "34567", 3, ERANGE, ""},
        {"append cut on request", true, "12", 5, "34567", _TRUNCATE, STRUNCATE, "1234"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        char dst[16];
        strcpy(dst, c.before);
        errno = 0;
        EXPECT_EQ(c.append ? strncat_s(dst, c.size, c.source, c.count) : strncpy_s(dst, c.size, c.source, c.count),
                  c.result);
        EXPECT_STREQ(dst, c.after);
        if (c.result == ERANGE && !(tvtest::UnderWine() && !c.append)) {  // Wine's strncpy_s leaves errno
            EXPECT_EQ(errno, ERANGE);
        }
    }
}

TEST(SafeCopyAndAppend, AppendThatFitsExactlyReportsNoTruncation)
{
    TV_SKIP_UNDER_WINE("Wine's msvcrt answers STRUNCATE although nothing was cut");
    char exact[5] = "12";
    EXPECT_EQ(strncat_s(exact, sizeof exact, "34", _TRUNCATE), 0);
    EXPECT_STREQ(exact, "1234");
}

TEST(SafeCopyAndAppend, MissingAndUnterminatedBuffersAreEinval)
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

    memcpy(dst, "ab", 3);
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

TEST(Strtoi64AndWcsdup, ParseClampReportWhereTheyStoppedAndCopy)
{
    const struct {
        const char *text;
        int base;
        long long value;
        size_t stop;  // offset of the end pointer
        int error;
    } cases[] = {
        {"  -9000000000xyz", 10, -9000000000LL, 13, 0},
        {"0x7fffffffffffffff", 16, LLONG_MAX, 18, 0},
        {"0x10", 0, 16, 4, 0},
        {"017", 0, 15, 3, 0},
        {"z", 36, 35, 1, 0},
        {"99999999999999999999", 10, LLONG_MAX, 20, ERANGE},
        {"-99999999999999999999", 10, LLONG_MIN, 21, ERANGE},
        {"  none", 10, 0, 0, 0},  // no digits: the end pointer is the text
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        char *end = NULL;
        errno = 0;
        EXPECT_EQ(_strtoi64(c.text, &end, c.base), c.value);
        EXPECT_EQ(end, c.text + c.stop);
        if (c.error != 0) {
            EXPECT_EQ(errno, c.error);
        }
    }
    const WCHAR *original = W("C:\\Program Files\\Tolvane");
    WCHAR *copy = _wcsdup(original);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, original);
    EXPECT_EQ(wstr(copy), wstr(original));
    free(copy);
}

} // namespace
