// Bounded string functions, comparisons, printf into buffers, conversions, allocation.
#include <liblocal/local.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace {

using Answer = std::pair<long long, std::string>;

// What a bounded copy into a buffer of the size answers, and the text it leaves there.
Answer Copied(const char *text, size_t size)
{
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    const size_t length = vo_strlcpy(buffer, text, size);
    return {(long long)length, std::string(buffer, strnlen(buffer, sizeof buffer))};
}

TEST(BoundedCopy, CopiesAndAppendsWhatFitsInWholeCharacters)
{
    // "a" + U+00E9 (2 bytes) + U+20AC (3 bytes): only whole characters are copied.
    const char *text = "a\xC3\xA9\xE2\x82\xAC";
    const struct {
        const char *text;
        size_t size;
        Answer answer;
    } kCopies[] = {{"abc", 8, {3, "abc"}},      {"abcdefghij", 8, {10, "abcdefg"}}, {"12345678", 8, {8, "1234567"}},
                   {nullptr, 4, {0, ""}},       {"", 1, {0, ""}},                   {text, 3, {6, "a"}},
                   {text, 4, {6, "a\xC3\xA9"}}, {text, 1, {6, ""}}};
    for (const auto &c : kCopies)
        EXPECT_EQ(Copied(c.text, c.size), c.answer) << (c.text ? c.text : "NULL") << " into " << c.size;
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(vo_strlcpy(small, "abc", 0), 3u);
    EXPECT_EQ(small[0], 'x');
    EXPECT_EQ(vo_strlcpy(nullptr, "abc", 4), 3u);
    {
        char buffer[10] = "C:";
        EXPECT_EQ(vo_strlcat(buffer, "\\dir", sizeof buffer), 6u);
        EXPECT_STREQ(buffer, "C:\\dir");
        EXPECT_EQ(vo_strlcat(buffer, "\\longer", sizeof buffer), 13u);
        EXPECT_STREQ(buffer, "C:\\dir\\lo");
        EXPECT_EQ(vo_strlcat(buffer, nullptr, sizeof buffer), 9u);
        EXPECT_STREQ(buffer, "C:\\dir\\lo");
        char full[4] = {'a', 'b', 'c', 'd'};
        EXPECT_EQ(vo_strlcat(full, "xy", sizeof full), 6u);
        EXPECT_EQ(std::memcmp(full, "abcd", 4), 0);
        EXPECT_EQ(vo_strlcat(nullptr, "xy", 5), 7u);
        char room[4] = "ab";
        EXPECT_EQ(vo_strlcat(room, "xy", 0), 2u);
        EXPECT_STREQ(room, "ab");
        EXPECT_EQ(vo_strlcat(room, "\xC3\xA9", sizeof room), 4u);
        EXPECT_STREQ(room, "ab") << "the two-byte character does not fit in the one byte left";
    }
    {
        WCHAR buffer[6];
        EXPECT_EQ(vo_wcslcpy(buffer, W("abc"), 6), 3u);
        EXPECT_EQ(wstr(buffer), W("abc"));
        EXPECT_EQ(vo_wcslcat(buffer, W("defgh"), 6), 8u);
        EXPECT_EQ(wstr(buffer), W("abcde"));

        const WCHAR pair[] = {'x', 0xD83D, 0xDE00, 'y', 0};
        EXPECT_EQ(vo_wcslcpy(buffer, pair, 3), 4u);
        EXPECT_EQ(wstr(buffer), W("x")) << "half of a surrogate pair is never copied";
        EXPECT_EQ(vo_wcslcpy(buffer, pair, 4), 4u);
        EXPECT_EQ(wstr(buffer), wstr(pair, 3));
        WCHAR small[4] = {'q', 'q', 'q', 'q'};
        EXPECT_EQ(vo_wcslcpy(small, W("abc"), 0), 3u);
        EXPECT_EQ(small[0], WCHAR('q'));
        EXPECT_EQ(vo_wcslcpy(nullptr, W("abc"), 4), 3u);
        EXPECT_EQ(vo_wcslcat(small, W("ab"), 4), 6u) << "no terminator within the size";
        EXPECT_EQ(small[3], WCHAR('q'));
        EXPECT_EQ(vo_wcslcpy(small, nullptr, 4), 0u);
        EXPECT_EQ(small[0], WCHAR(0));
        EXPECT_EQ(vo_wcslcat(small, nullptr, 4), 0u);
    }
}

TEST(StringComparison, ByteOrderAndCaseFoldingWithNulls)
{
    EXPECT_EQ(vo_strlen(nullptr), 0u);
    EXPECT_EQ(vo_strlen("\xC3\xA9"), 2u);
    EXPECT_EQ(vo_strcmp(nullptr, nullptr), 0);
    EXPECT_LT(vo_strcmp(nullptr, ""), 0);
    EXPECT_GT(vo_strcmp("", nullptr), 0);
    EXPECT_LT(vo_strcmp("abc", "abd"), 0);
    EXPECT_EQ(vo_strcmp("abc", "abc"), 0);
    EXPECT_GT(vo_strcmp("\xC3\xA9", "z"), 0) << "UTF-8 bytes compare unsigned, so by code point";
    EXPECT_NE(vo_strcmp("ABC", "abc"), 0);
    EXPECT_EQ(vo_strcasecmp("System Writer", "SYSTEM WRITER"), 0);
    EXPECT_EQ(vo_strcasecmp("\xC3\x89" "cole", "\xC3\xA9" "COLE"), 0);             // École
    EXPECT_EQ(vo_strcasecmp("\xC5\x81\xC3\xB3" "d\xC5\xBA", "\xC5\x82\xC3\x93" "D\xC5\xB9"), 0); // Łódź
    EXPECT_EQ(vo_strcasecmp("\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x99\xCE\x91", "\xCF\x83\xCE\xBF\xCF\x86\xCE\xB9\xCE\xB1"), 0);
    EXPECT_EQ(vo_strcasecmp("\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0", "\xD0\x9C\xD0\x9E\xD0\xA1\xD0\x9A\xD0\x92\xD0\x90"), 0);
    EXPECT_EQ(vo_strcasecmp("\xD1\x91", "\xD0\x81"), 0); // ё Ё
    EXPECT_LT(vo_strcasecmp("apple", "Banana"), 0);
    EXPECT_GT(vo_strcasecmp("abcd", "ABC"), 0);
    EXPECT_LT(vo_strcasecmp(nullptr, "a"), 0);
    EXPECT_EQ(vo_strcasecmp(nullptr, nullptr), 0);
    EXPECT_NE(vo_strcasecmp("a\xC3\xB7", "a\xC3\x97"), 0) << "division and multiplication signs are not a case pair";
}

TEST(PrintfIntoBuffers, CutsLikeStrlcpyAndFormatsC99Conversions)
{
    char buffer[8];
    auto printed = [&](size_t size, const char *format, auto... args) {
        const int length = vo_snprintf(buffer, size, format, args...);
        return Answer(length, buffer);
    };
    EXPECT_EQ(printed(sizeof buffer, "%s-%d", "abc", 42), Answer(6, "abc-42"));
    EXPECT_EQ(printed(sizeof buffer, " (Error code 0x%x)", 0x80042301u), Answer(24, " (Error"));
    EXPECT_EQ(printed(3, "a%s", "\xC3\xA9"), Answer(3, "a"));
    EXPECT_EQ(vo_snprintf(nullptr, 100, "%lld|%zu", -5LL, size_t(7)), 4) << "a sizing query";
    buffer[0] = 'x';
    EXPECT_EQ(vo_snprintf(buffer, 0, "abc"), 3);
    EXPECT_EQ(buffer[0], 'x');
    const char *noFormat = nullptr;
    EXPECT_EQ(vo_snprintf(buffer, sizeof buffer, noFormat), -1);
    EXPECT_STREQ(buffer, "");
    char formatted[64];
    EXPECT_EQ(vo_sprintf(formatted, "%.2f %s", 1536.0 / 1024.0, "KBytes"), 11);
    EXPECT_STREQ(formatted, "1.50 KBytes");
    EXPECT_EQ(vo_sprintf(formatted, "%llu %zu %hhd", 18446744073709551615ULL, size_t(3), 'a'), 25);
    EXPECT_STREQ(formatted, "18446744073709551615 3 97");
    EXPECT_EQ(vo_sprintf(formatted, noFormat), -1);
    EXPECT_EQ(vo_sprintf(nullptr, "x"), -1);
}

TEST(Conversions, ConvertCutBetweenCharactersAndRefuseBadInput)
{
    WCHAR buffer[8];
    EXPECT_EQ(vo_utf8s_to_wcs(buffer, "caf\xC3\xA9", 8), 4);
    EXPECT_EQ(wstr(buffer), W("caf\u00E9"));
    // U+1F600 is a surrogate pair: with room for 2 units it cannot follow "a".
    EXPECT_EQ(vo_utf8s_to_wcs(buffer, "a\xF0\x9F\x98\x80", 3), 3);
    EXPECT_EQ(wstr(buffer), W("a"));
    EXPECT_EQ(vo_utf8s_to_wcs(nullptr, "abc", 0), 3) << "a sizing query";
    EXPECT_EQ(vo_utf8s_to_wcs(buffer, "ab\x80z", 8), 4);
    EXPECT_EQ(wstr(buffer), W("ab\uFFFDz"));
    EXPECT_EQ(vo_utf8s_to_wcs(buffer, nullptr, 8), -1);
    EXPECT_EQ(buffer[0], WCHAR(0));
    EXPECT_EQ(vo_utf8s_to_wcs(buffer, "", 8), 0);
    EXPECT_EQ(buffer[0], WCHAR(0));
    char narrow[16];
    EXPECT_EQ(vo_wcs_to_utf8s(narrow, W("caf\u00E9 \u20AC"), sizeof narrow, 0), 9);
    EXPECT_STREQ(narrow, "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(vo_wcs_to_utf8s(narrow, W("a\u20AC"), 3, 0), 4);
    EXPECT_STREQ(narrow, "a");
    EXPECT_EQ(vo_wcs_to_utf8s(nullptr, W("\u20AC"), 0, 0), 3);
    char marked[16] = "marker";
    const WCHAR loneHigh[] = {'a', 0xD800, 'b', 0};
    EXPECT_EQ(vo_wcs_to_utf8s(marked, loneHigh, sizeof marked, 0), 5);
    EXPECT_STREQ(marked, "a\xEF\xBF\xBD" "b");
    std::strcpy(marked, "marker");
    EXPECT_EQ(vo_wcs_to_utf8s(marked, loneHigh, sizeof marked, VO_CONV_STRICT), -1);
    EXPECT_STREQ(marked, "");
    std::strcpy(marked, "marker");
    EXPECT_EQ(vo_wcs_to_utf8s(marked, W("ok"), sizeof marked, 0x40), -1);
    EXPECT_STREQ(marked, "");
    EXPECT_EQ(vo_wcs_to_utf8s(marked, nullptr, sizeof marked, 0), -1);
    EXPECT_EQ(vo_wcs_to_utf8s(marked, W(""), sizeof marked, VO_CONV_STRICT), 0);
    EXPECT_EQ(vo_alloc_wcs_to_utf8s(nullptr), nullptr);
    char *text = vo_alloc_wcs_to_utf8s(W("\u0414\u0438\u0441\u043A C:\\"));
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "\xD0\x94\xD0\xB8\xD1\x81\xD0\xBA C:\\");
    std::free(text);
    char *empty = vo_alloc_wcs_to_utf8s(W(""));
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    std::free(empty);
}

TEST(Allocation, NeverNullAndZeroFilled)
{
    unsigned char *block = static_cast<unsigned char *>(xcalloc(51, 1));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 51; ++i)
        EXPECT_EQ(block[i], 0);
    std::free(block);
    void *none = xcalloc(0, 16);
    EXPECT_NE(none, nullptr);
    std::free(none);
    char *copy = xstrdup("writer");
    EXPECT_STREQ(copy, "writer");
    std::free(copy);
    char *empty = xstrdup(nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    std::free(empty);
    char *grown = static_cast<char *>(xrealloc(xstrdup("abc"), 100));
    EXPECT_STREQ(grown, "abc");
    std::free(grown);
}

TEST(Allocation, RunningOutOfMemoryAborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(xcalloc(SIZE_MAX / 2, 4), "out of memory");
}

} // namespace
