// Rendering of messages: tagged arguments into the conversions of a format.
#include <liblocal/local.h>

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>

namespace {

struct MessageFree {
    void operator()(vo_msg *message) const { msg_free(message); }
};
using MessagePtr = std::unique_ptr<vo_msg, MessageFree>;

// The text msg_create renders; the handle is checked and freed here.
template <typename... Args>
std::string Rendered(const char *format, Args... args)
{
    MessagePtr message(msg_create(1, 53000, format, args...));
    EXPECT_NE(message, nullptr);
    return message ? msg_text(message.get()) : std::string();
}

TEST(MessageRendering, TagsConversionsAndTexts)
{
    MessagePtr message(msg_create(113657, 53000, "%s|%s|%s|%s|%s|%s", VO_ARG_TEXT, "plain", VO_ARG_INT,
                                  inttostr(-5), VO_ARG_ULONG, ulongtostr(7UL), VO_ARG_PATH, "C:\\dir\\file.txt",
                                  VO_ARG_ERRTEXT, "Access is denied.\r\n", VO_ARG_NAME, "System Writer"));
    ASSERT_NE(message, nullptr);
    EXPECT_STREQ(msg_text(message.get()), "plain|-5|7|C:\\dir\\file.txt|Access is denied.|System Writer");
    EXPECT_EQ(msg_number(message.get()), 113657);
    EXPECT_EQ(msg_code(message.get()), 53000);
    EXPECT_EQ(Rendered("[%s]", VO_ARG_ERRTEXT, "Unspecified error \r\n"), "[Unspecified error]");
    EXPECT_EQ(Rendered("[%s]", VO_ARG_TEXT, "kept\r\n"), "[kept\r\n]");
    EXPECT_EQ(Rendered("[%s]", VO_ARG_NAME, " padded "), "[ padded ]");
    EXPECT_EQ(Rendered("100%% of %s", VO_ARG_NAME, "C:\\"), "100% of C:\\");
    EXPECT_EQ(Rendered("%k then %s", VO_ARG_TEXT, "text"), "%k then text");
    EXPECT_EQ(Rendered("ends with %"), "ends with %");
    EXPECT_EQ(Rendered("no conversions at all\n"), "no conversions at all\n");
    EXPECT_EQ(Rendered("[%*d]", VO_ARG_INT, inttostr(5), VO_ARG_INT, inttostr(42)), "[   42]");
    EXPECT_EQ(Rendered("[%*s]", VO_ARG_INT, inttostr(-4), VO_ARG_TEXT, "ab"), "[ab  ]");
    EXPECT_EQ(Rendered("[%.*s]", VO_ARG_INT, inttostr(2), VO_ARG_TEXT, "abcdef"), "[ab]");
    EXPECT_EQ(Rendered("[%-6s]", VO_ARG_TEXT, "ab"), "[ab    ]");
    EXPECT_EQ(Rendered("[%6s]", VO_ARG_TEXT, "ab"), "[    ab]");
    EXPECT_EQ(Rendered("[%.3s]", VO_ARG_TEXT, "abcdef"), "[abc]");
    // "\xC3\xA9" is one character of two bytes: a precision of 2 cuts before it.
    EXPECT_EQ(Rendered("[%.2s]", VO_ARG_TEXT, "a\xC3\xA9z"), "[a]");
    EXPECT_EQ(Rendered("[%.3s]", VO_ARG_TEXT, "a\xC3\xA9z"), "[a\xC3\xA9]");
    EXPECT_EQ(Rendered("a%nb%s", VO_ARG_TEXT, "ignored", VO_ARG_TEXT, "c"), "abc");
    {
        EXPECT_EQ(Rendered("%s and %d and %x", VO_ARG_TEXT, static_cast<const char *>(nullptr), VO_ARG_INT,
                           static_cast<const char *>(nullptr), VO_ARG_INT, static_cast<const char *>(nullptr)),
                  "(null) and (null) and (null)");
        const char *noFormat = nullptr;
        MessagePtr message(msg_create(5, 55000, noFormat));
        ASSERT_NE(message, nullptr) << "a NULL handle would read as success";
        EXPECT_STREQ(msg_text(message.get()), "(null)");
        EXPECT_EQ(msg_number(message.get()), 5);
        const char *name = "Sauvegarde \xC3\xA0 chaud \xE2\x80\x94 \xD0\x94\xD0\xB8\xD1\x81\xD0\xBA \xF0\x9F\x98\x80";
        EXPECT_EQ(Rendered("Writer '%s' failed.\n", VO_ARG_NAME, name), std::string("Writer '") + name + "' failed.\n");
        const std::string path(20000, 'p');
        EXPECT_EQ(Rendered("<%s>", VO_ARG_PATH, path.c_str()), "<" + path + ">");
    }
}

TEST(MessageRendering, NumericConversionsParseTheTextWithWindowsSizes)
{
    EXPECT_EQ(Rendered("error=0x%x", VO_ARG_INT, inttostr(-2147467259)), "error=0x80004005");
    EXPECT_EQ(Rendered("%X", VO_ARG_INT, inttostr(-2147467259)), "80004005");
    EXPECT_EQ(Rendered("%d", VO_ARG_INT, inttostr(INT_MIN)), "-2147483648");
    EXPECT_EQ(Rendered("%u", VO_ARG_INT, inttostr(-1)), "4294967295");
    EXPECT_EQ(Rendered("%d", VO_ARG_ULONG, ulongtostr(4294967295UL)), "-1");
    // 'l' is 32 bits as on Windows, whatever long is on this platform.
    EXPECT_EQ(Rendered("%lx %ld %lu", VO_ARG_INT, "-1", VO_ARG_TEXT, "4294967296", VO_ARG_TEXT, "-2"),
              "ffffffff 0 4294967294");
    EXPECT_EQ(Rendered("%llx", VO_ARG_INT, "-1"), "ffffffffffffffff");
    EXPECT_EQ(Rendered("%llu", VO_ARG_TEXT, "18446744073709551615"), "18446744073709551615");
    EXPECT_EQ(Rendered("%lld", VO_ARG_TEXT, "-9223372036854775808"), "-9223372036854775808");
    EXPECT_EQ(Rendered("%I64d|%zu", VO_ARG_TEXT, "8589934592", VO_ARG_TEXT, "8589934593"), "8589934592|8589934593");
    EXPECT_EQ(Rendered("%hd|%hhu", VO_ARG_TEXT, "70000", VO_ARG_TEXT, "257"), "4464|1");
    EXPECT_EQ(Rendered("%o", VO_ARG_TEXT, "8"), "10");
    EXPECT_EQ(Rendered("[%05d]", VO_ARG_INT, inttostr(42)), "[00042]");
    EXPECT_EQ(Rendered("[%-5d]", VO_ARG_INT, inttostr(42)), "[42   ]");
    EXPECT_EQ(Rendered("[%#x]", VO_ARG_INT, inttostr(31)), "[0x1f]");
    EXPECT_EQ(Rendered("[%+d]", VO_ARG_INT, inttostr(3)), "[+3]");
    EXPECT_EQ(Rendered("[%.3d]", VO_ARG_INT, inttostr(7)), "[007]");
    EXPECT_EQ(Rendered("[%08.3f]", VO_ARG_TEXT, "3.14159"), "[0003.142]");
    EXPECT_EQ(Rendered("%d", VO_ARG_TEXT, "0x10"), "16");
    EXPECT_EQ(Rendered("%x", VO_ARG_TEXT, " 0X8007000E "), "8007000e");
    EXPECT_EQ(Rendered("%d", VO_ARG_TEXT, "+12"), "12");
    EXPECT_EQ(Rendered("code %d", VO_ARG_TEXT, "unknown"), "code unknown");
    EXPECT_EQ(Rendered("[%5x]", VO_ARG_TEXT, "ab g"), "[ ab g]");
    EXPECT_EQ(Rendered("%d", VO_ARG_TEXT, "12abc"), "12abc");
    EXPECT_EQ(Rendered("%d", VO_ARG_TEXT, ""), "");
    EXPECT_EQ(Rendered("%u", VO_ARG_TEXT, "99999999999999999999"), "99999999999999999999");
    EXPECT_EQ(Rendered("%.1f", VO_ARG_TEXT, "n/a"), "n/a");
    EXPECT_EQ(Rendered("%.2f %s", VO_ARG_TEXT, "1536.4567", VO_ARG_TEXT, "KBytes"), "1536.46 KBytes");
    EXPECT_EQ(Rendered("%e", VO_ARG_TEXT, "1500"), "1.500000e+03");
    EXPECT_EQ(Rendered("%c%c", VO_ARG_INT, inttostr(65), VO_ARG_TEXT, "xyz"), "Ax");
    EXPECT_EQ(Rendered("%c|%c", VO_ARG_TEXT, "\xC3\xA9t\xC3\xA9", VO_ARG_TEXT, "233"), "\xC3\xA9|\xC3\xA9");
}

TEST(MessageHandles, NullIsHarmlessEachCreateGivesItsOwnAndNumberTextsLastSixteen)
{
    msg_free(nullptr);
    EXPECT_STREQ(msg_text(nullptr), "");
    EXPECT_EQ(msg_number(nullptr), 0);
    EXPECT_EQ(msg_code(nullptr), 0);
    EXPECT_EQ(msg_print_handle(nullptr, VO_SEV_ERROR), -1);
    MessagePtr first(msg_create(1, 53000, "%s", VO_ARG_TEXT, "one"));
    MessagePtr second(msg_create(2, 55000, "%s", VO_ARG_TEXT, "two"));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first.get(), second.get());
    EXPECT_STREQ(msg_text(first.get()), "one");
    EXPECT_STREQ(msg_text(second.get()), "two");
    EXPECT_EQ(msg_code(second.get()), 55000);
    const char *texts[TV_NUMBER_TEXT_SLOTS];
    for (int i = 0; i < TV_NUMBER_TEXT_SLOTS; ++i)
        texts[i] = inttostr(-i * 1000);
    for (int i = 0; i < TV_NUMBER_TEXT_SLOTS; ++i)
        EXPECT_EQ(std::string(texts[i]), std::to_string(-i * 1000));
    EXPECT_STREQ(ulongtostr(4294967295UL), "4294967295");
}

} // namespace
