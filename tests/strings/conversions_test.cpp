// from_utf8, to_utf8, guid2str and str2guid. The GUID conversions go through the
// platform's StringFromGUID2 and CLSIDFromString (Wine's own on Windows).
#include "strings/strings_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// {6B29FC40-CA47-1067-B31D-00DD010662DA}
const GUID kSample = {0x6B29FC40, 0xCA47, 0x1067, {0xB3, 0x1D, 0x00, 0xDD, 0x01, 0x06, 0x62, 0xDA}};
const WCHAR kSampleText[] = W("6B29FC40-CA47-1067-B31D-00DD010662DA");

bool SameGuid(const GUID &a, const GUID &b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

} // namespace

TEST(Utf8Conversions, EachUnitIsEncodedOnItsOwnAndDecodedBack)
{
    EXPECT_EQ(from_utf8(std::string()), wstr());
    EXPECT_EQ(to_utf8(wstr()), std::string());
    EXPECT_EQ(to_utf8(wstr(W("A\u00E9"))), "A\xC3\xA9");
    EXPECT_EQ(to_utf8(wstr(W("\u20AC"))), "\xE2\x82\xAC");
    EXPECT_EQ(to_utf8(wstr(W("\u07FF\u0800\uFFFF"))), "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
    // Surrogates are not paired: each becomes three bytes.
    EXPECT_EQ(to_utf8(wstr(1, WCHAR(0xD800))), "\xED\xA0\x80");
    EXPECT_EQ(to_utf8(wstr(W("\xD83D\xDE00"))), "\xED\xA0\xBD\xED\xB8\x80");
    EXPECT_EQ(to_utf8(wstr(1, WCHAR(0))), std::string(1, '\0'));
    EXPECT_EQ(from_utf8("A\xC3\xA9\xE2\x82\xAC"), wstr(W("A\u00E9\u20AC")));
    // Overlong forms and encoded surrogates are taken for their value.
    EXPECT_EQ(from_utf8("\xC0\xAF"), wstr(W("/")));
    EXPECT_EQ(from_utf8("\xED\xA0\x80"), wstr(1, WCHAR(0xD800)));
    // Round trip of every unit, surrogates included.
    wstr all;
    for (unsigned int unit = 1; unit <= 0xFFFF; ++unit)
        all.push_back(WCHAR(unit));
    EXPECT_EQ(from_utf8(to_utf8(all)), all);
}

TEST(Utf8Conversions, BeyondSixteenBitsIsOneReplacementUnitAndAnyErrorEmptiesTheResult)
{
    EXPECT_EQ(from_utf8("a\xF0\x9F\x98\x80" "b"), wstr(W("a\uFFFDb")));
    EXPECT_EQ(from_utf8("\xF4\x8F\xBF\xBF"), wstr(W("\uFFFD")));
    const char *const illFormed[] = {
        "abc\x80",          // stray continuation byte after letters
        "\xBF" "abc",       // continuation byte in lead position
        "ab\xC3" "c",       // following byte outside 80-BF
        "ab\xE2\x82",       // cut short by the end
        "\xF4\x90\x80\x80", // above U+10FFFF
        "\xF8\x88\x80\x80\x80",
        "\xFF",
    };
    for (const char *bytes : illFormed)
        EXPECT_EQ(from_utf8(bytes), wstr()) << "input " << bytes;
    // An embedded zero is a character like any other.
    EXPECT_EQ(from_utf8(std::string("a\0b", 3)), wstr(W("a\0b"), 3));
}

TEST(GuidConversions, FormatsInUpperCaseParsesEitherCaseAndRoundTrips)
{
    EXPECT_EQ(guid2str(GUID_NULL), wstr(W("00000000-0000-0000-0000-000000000000")));
    EXPECT_EQ(guid2str(kSample), wstr(kSampleText));
    EXPECT_EQ(guid2str(kSample).size(), 36u);
    GUID guid = kSample;
    for (int i = 0; i < 16; ++i) {
        reinterpret_cast<unsigned char *>(&guid)[i] = static_cast<unsigned char>(i * 17 + 3);
        bool failed = true;
        EXPECT_TRUE(SameGuid(str2guid(guid2str(guid), &failed), guid));
        EXPECT_FALSE(failed);
    }
    const wstr plain = kSampleText;
    wstr lower = plain;
    for (WCHAR &unit : lower) {
        if (unit >= W('A') && unit <= W('F'))
            unit = WCHAR(unit - W('A') + W('a'));
    }
    for (const wstr &text : {plain, lower, W("{") + plain + W("}"), W("{") + lower + W("}")}) {
        bool failed = true;
        EXPECT_TRUE(SameGuid(str2guid(text, &failed), kSample)) << tvtest::Utf8(tv_str(text.c_str()));
        EXPECT_FALSE(failed);
    }
    EXPECT_TRUE(SameGuid(str2guid(plain, NULL), kSample));
}

TEST(GuidConversions, BadTextGivesGuidNullAndRaisesTheFlag)
{
    const wstr plain = kSampleText;
    const wstr bad[] = {
        wstr(),
        plain + W("0"),                    // 37 characters
        W("x") + plain + W("y"),           // 38 without a brace at either end
        W("{") + plain,                    // 37
        W("{") + plain.substr(0, 35) + W("G}"),  // not hexadecimal
        W("{") + plain.substr(0, 8) + W("+") + plain.substr(9) + W("}"),
        wstr(36, W('-')),
    };
    for (const wstr &text : bad) {
        bool failed = false;
        EXPECT_TRUE(SameGuid(str2guid(text, &failed), GUID_NULL)) << text.size();
        EXPECT_TRUE(failed) << text.size();
        EXPECT_TRUE(SameGuid(str2guid(text, NULL), GUID_NULL));
    }
}
