// tv_str: the three views, the UTF-8 mirror, sharing, comparisons, paths, searches, edits
// and measures. Runs on winsim and, unchanged, on Windows (Wine), where the UTF-8 and ANSI
// conversions are the system's own.
#include "strings/strings_support.h"

#include <gtest/gtest.h>

#include "support/wine.h"

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using tvtest::MirrorIsInline;
using tvtest::PlatformUtf8;
using tvtest::Utf8;
using tvtest::Wide;

namespace {

// Every change must leave the mirror equal to the platform's UTF-8 of the wide text.
void ExpectMirrorMatches(const tv_str &s)
{
    EXPECT_EQ(Utf8(s), PlatformUtf8(Wide(s))) << "mirror out of step with the wide text";
}

bool SharesBuffer(const tv_str &a, const tv_str &b)
{
    const WCHAR *left = a;
    const WCHAR *right = b;
    return left != NULL && left == right;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Construction and the three views

TEST(TvStrViews, MissingEmptyWideNarrowAndUtf8TextsAndTheirSharedViews)
{
    // Missing and empty texts however made: all empty and equal; only W("") has a wide view.
    const tv_str none, fromNull(static_cast<const WCHAR *>(NULL)), fromEmpty(W("")),
        narrowNull(static_cast<const char *>(NULL)), narrowEmpty("");
    const struct {
        const char *name;
        const tv_str &s;
        bool missing;
    } empties[] = {{"none", none, true},         {"wide NULL", fromNull, true}, {"wide \"\"", fromEmpty, false},
                   {"narrow NULL", narrowNull, true}, {"narrow \"\"", narrowEmpty, true}};
    for (const auto &c : empties) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(!c.s, c.missing);
        EXPECT_EQ(static_cast<const WCHAR *>(c.s) == nullptr, c.missing);
        EXPECT_EQ(static_cast<const char *>(c.s) == nullptr, c.missing);
        EXPECT_EQ(Wide(c.s), wstr());
        EXPECT_STREQ(c.s.get_utf8(), "");
        EXPECT_TRUE(c.s.is_empty() && c.s.isempty());
        EXPECT_EQ(c.s.length() + c.s.bytelength(), 0);
        EXPECT_TRUE(c.s == fromEmpty && c.s == none);
    }
    const tv_str cafe(W("caf\u00E9"));
    EXPECT_EQ(Wide(cafe), wstr(W("caf\u00E9")));
    EXPECT_EQ(Utf8(cafe), "caf\xC3\xA9");
    ASSERT_EQ(GetACP(), 1252u) << "the narrow checks assume the Western ANSI code page";
    EXPECT_STREQ(static_cast<const char *>(cafe), "caf\xE9");
    EXPECT_EQ(cafe.length(), 4);
    EXPECT_EQ(cafe.bytelength(), 5);
    EXPECT_EQ(cafe.length_utf8(), 5);
    const tv_str ansi("caf\xE9 \x80");
    EXPECT_EQ(Wide(ansi), wstr(W("caf\u00E9 \u20AC")));
    EXPECT_EQ(Utf8(ansi), "caf\xC3\xA9 \xE2\x82\xAC");

    const tv_str utf8("caf\xC3\xA9", tv_str::TCS_CP_UTF8);
    EXPECT_EQ(Wide(utf8), wstr(W("caf\u00E9")));
    tv_str replaced(W("old"));
    EXPECT_EQ(&replaced.set_utf8("\xE2\x82\xAC" "5"), &replaced);
    EXPECT_EQ(Wide(replaced), wstr(W("\u20AC5")));
    EXPECT_EQ(Utf8(replaced), "\xE2\x82\xAC" "5");
    replaced.set_utf8(NULL);
    EXPECT_TRUE(replaced.is_empty());
    EXPECT_STREQ(replaced.get_utf8(), "");
    const tv_str abc(W("abc"));
    const char *first = abc;
    const char *again = abc;
    EXPECT_EQ(first, again);
    const tv_str copy(abc);
    EXPECT_EQ(static_cast<const char *>(copy), first);
    tv_str handled(W("abc"));
    _bstr_t &handle = handled;
    EXPECT_EQ(handle.length(), 3u);
    EXPECT_EQ(static_cast<const WCHAR *>(handle), static_cast<const WCHAR *>(handled));
    const tv_str handledCopy(handled);
    const _bstr_t &copied = handledCopy;
    EXPECT_EQ(static_cast<const WCHAR *>(copied), static_cast<const WCHAR *>(handle));
}

// ---------------------------------------------------------------------------------------
// The UTF-8 mirror

TEST(TvStrMirror, InlineUpToFifteenBytesEncodedAsThePlatformDoesAndKeptByCopiesAndMoves)
{
    const tv_str fifteen(W("123456789012345"));
    const tv_str sixteen(W("1234567890123456"));
    EXPECT_TRUE(MirrorIsInline(fifteen));
    EXPECT_FALSE(MirrorIsInline(sixteen));
    // The limit is in bytes: five euro signs are five units but fifteen bytes.
    const tv_str euros(W("\u20AC\u20AC\u20AC\u20AC\u20AC"));
    EXPECT_TRUE(MirrorIsInline(euros));
    const tv_str moreEuros(W("\u20AC\u20AC\u20AC\u20AC\u20AC!"));
    EXPECT_FALSE(MirrorIsInline(moreEuros));
    EXPECT_EQ(moreEuros.bytelength(), 16);
    const tv_str pair(W("\xD83D\xDE00"));
    EXPECT_EQ(Utf8(pair), "\xF0\x9F\x98\x80");
    EXPECT_EQ(pair.length(), 2);
    const WCHAR lone[] = {W('a'), 0xD800, W('b'), 0};
    const tv_str s(lone);
    EXPECT_EQ(s.length(), 3);  // the wide text keeps the unit
    EXPECT_EQ(Utf8(s), "a\xEF\xBF\xBD" "b");
    const wstr shortText = W("123456789012345");
    const wstr longText = W("1234567890123456 and more");
    for (const wstr &source : {shortText, longText}) {
        auto original = std::make_unique<tv_str>(source.c_str());
        tv_str copied(*original);
        tv_str assignedOverShort(W("x"));
        assignedOverShort = *original;
        tv_str assignedOverLong(W("a text long enough for a heap mirror"));
        assignedOverLong = *original;
        original.reset();
        for (const tv_str *s : {&copied, &assignedOverShort, &assignedOverLong}) {
            EXPECT_EQ(Wide(*s), source);
            EXPECT_EQ(Utf8(*s), PlatformUtf8(source));
            EXPECT_EQ(MirrorIsInline(*s), source.size() <= 15);
        }
    }
    tv_str longSource(W("a text long enough for a heap mirror"));
    const char *heapMirror = longSource.get_utf8();
    tv_str moved(std::move(longSource));
    EXPECT_EQ(moved.get_utf8(), heapMirror);
    EXPECT_TRUE(longSource.is_empty());
    EXPECT_STREQ(longSource.get_utf8(), "");

    tv_str shortSource(W("short"));
    tv_str target(W("a text long enough for a heap mirror"));
    target = std::move(shortSource);
    EXPECT_STREQ(target.get_utf8(), "short");
    EXPECT_TRUE(MirrorIsInline(target));
    EXPECT_TRUE(shortSource.is_empty());
}

TEST(TvStrMirror, FollowsTheWideTextThroughEveryChange)
{
    const WCHAR highEnd[] = {W('x'), 0xD83D, 0};
    const WCHAR lowStart[] = {0xDE00, W('y'), 0};
    tv_str s(highEnd);
    s += tv_str(lowStart);  // the seam makes one character
    EXPECT_EQ(Utf8(s), "x\xF0\x9F\x98\x80y");
    ExpectMirrorMatches(s);
    s = tv_str(highEnd) + tv_str(lowStart);
    ExpectMirrorMatches(s);
    s = tv_str(highEnd);
    s += lowStart;
    ExpectMirrorMatches(s);

    s = W("short");
    s += W(" now long enough for the heap");
    ExpectMirrorMatches(s);
    s += W(" caf\u00E9");
    ExpectMirrorMatches(s);
    s.trim(TV_STR_TRIM_BOTH, tv_str(W("sh\u00E9")));
    ExpectMirrorMatches(s);
    s.truncate(4);
    ExpectMirrorMatches(s);
    EXPECT_EQ(s.format(W("%ls-%d"), W("\u20AC"), 7), 0);
    ExpectMirrorMatches(s);
    s.set_trailing_dirsep();
    ExpectMirrorMatches(s);
    s.clear_trailing_dirsep();
    ExpectMirrorMatches(s);
    s = s.concat(tv_str(highEnd), '\\');
    ExpectMirrorMatches(s);
    s = s / tv_str(W("caf\u00E9"));
    ExpectMirrorMatches(s);
}

// ---------------------------------------------------------------------------------------
// Sharing between copies

// UTF-8 is decoded and encoded without the platform when well-formed; the edges of each
// sequence length and the nearest ill-formed forms must still come out as the platform's.
// A mirror on the heap carries its byte count and whether its wide text is free of lone
// surrogates; both must follow the text through copies, moves, edits and joins, and a lone
// surrogate must still become U+FFFD when its text is joined.
TEST(TvStrMirror, LongTextsKeepTheirMeasuresThroughCopiesMovesAndJoins)
{
    const WCHAR lone[] = {W('l'), W('o'), W('n'), W('e'), 0xD83D, W('-'), W('t'), W('e'), W('x'), W('t'), W('-'),
                          W('o'), W('n'), W('-'), W('t'), W('h'), W('e'), W('-'), W('h'), W('e'), W('a'), W('p'), 0};
    const tv_str kTexts[] = {tv_str(W("C:\\Data\\a path long enough for the heap")),
                             tv_str(W("C:\\D\u00E4ten\\\u20AC\u65E5 long enough for the heap\\")), tv_str(lone)};
    for (const tv_str &text : kTexts) {
        tv_str copy(text);
        tv_str assigned;
        assigned = copy;
        tv_str moved(std::move(copy));
        tv_str joined = moved / tv_str(W("file.txt"));
        tv_str joinedAgain = joined.concat(assigned, ';');
        tv_str trimmed(text);
        trimmed.clear_trailing_dirsep();
        tv_str appended(text);
        appended += W("-tail");
        for (const tv_str *s : {&assigned, &moved, &joined, &joinedAgain, &trimmed, &appended, &copy}) {
            SCOPED_TRACE(Utf8(*s));
            ExpectMirrorMatches(*s);
            EXPECT_EQ(size_t(s->bytelength()), std::strlen(s->get_utf8()));
            EXPECT_EQ(s->last(), Utf8(*s).empty() ? '\0' : Utf8(*s).back());
            EXPECT_EQ(Utf8(s->substr(1)), Utf8(*s).empty() ? "" : Utf8(*s).substr(1));
        }
        // Joins are of the UTF-8 texts: a lone surrogate comes out as U+FFFD on both sides.
        EXPECT_EQ(Wide(joined), tvtest::PlatformWide(Utf8(joined)));
        EXPECT_EQ(Wide(joinedAgain), tvtest::PlatformWide(Utf8(joinedAgain)));
    }
}

TEST(TvStrMirror, EdgesOfEachSequenceLengthConvertAsThePlatformDoes)
{
    const char *const bytes[] = {
        "\x7F", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80", "\xEF\xBF\xBF",
        "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "a\xF0\x9F\x98\x80z",
        // ill-formed: overlong, surrogate, past U+10FFFF, bad lead, cut short, bad trail
        "\xC1\xBF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF", "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80",
        "\xF0\x9F\x98", "\xE2\x28\xA1", "\xF0\x9F\x98\x28"};
    for (const char *text : bytes) {
        SCOPED_TRACE(text);
        tv_str s;
        s.set_utf8(text);
        EXPECT_EQ(Wide(s), tvtest::PlatformWide(text));
        ExpectMirrorMatches(s);
    }
    const WCHAR units[][4] = {{0x7F, 0x80, 0}, {0x7FF, 0x800, 0}, {0xD7FF, 0xE000, 0xFFFF, 0}, {0xDBFF, 0xDFFF, 0},
                              {0xD800, 0}, {W('a'), 0xDC00, 0}, {0xDC00, 0xD800, 0}, {0xD800, 0xD800, 0xDC00, 0}};
    for (const WCHAR *text : units) {
        const tv_str s(text);
        EXPECT_EQ(Utf8(s), PlatformUtf8(text));
        EXPECT_EQ(Wide(s), wstr(text));
    }
}

TEST(TvStrSharing, CopiesShareTheBufferUntilOneChangesAndSelfOperationsAreSafe)
{
    const tv_str original(W("C:\\data\\file.txt"));
    tv_str copy(original);
    EXPECT_TRUE(SharesBuffer(original, copy));
    copy += W(".bak");
    EXPECT_FALSE(SharesBuffer(original, copy));
    EXPECT_EQ(Wide(original), wstr(W("C:\\data\\file.txt")));
    EXPECT_EQ(Wide(copy), wstr(W("C:\\data\\file.txt.bak")));
    const tv_str padded(W("  abc\\  "));
    tv_str truncated(padded);
    EXPECT_NE(truncated.truncate(1), 0);
    tv_str trimmed(padded);
    trimmed.trim();
    tv_str formatted(padded);
    EXPECT_EQ(formatted.format(W("%d"), 5), 0);
    tv_str reset(padded);
    reset.set_utf8("x");
    EXPECT_EQ(Wide(padded), wstr(W("  abc\\  ")));
    EXPECT_STREQ(padded.get_utf8(), "  abc\\  ");
    EXPECT_EQ(Wide(truncated), wstr(W("  abc\\ ")));
    EXPECT_EQ(Wide(trimmed), wstr(W("abc\\")));
    tv_str s(W("a text long enough for a heap mirror"));
    const tv_str &alias = s;
    s = alias;
    EXPECT_STREQ(s.get_utf8(), "a text long enough for a heap mirror");
    s += s;
    EXPECT_EQ(s.bytelength(), 72);
    ExpectMirrorMatches(s);
    s.set_utf8(s.get_utf8());
    EXPECT_EQ(s.bytelength(), 72);
    s += static_cast<const WCHAR *>(s);
    EXPECT_EQ(s.length(), 144);
    ExpectMirrorMatches(s);

    tv_str word(W("xxhixx"));
    tv_str set(W("x"));
    word.trim(TV_STR_TRIM_BOTH, set);
    EXPECT_EQ(Wide(word), wstr(W("hi")));
    tv_str xs(W("xxx"));
    xs.trim(TV_STR_TRIM_BOTH, xs);
    EXPECT_TRUE(xs.is_empty());

    tv_str path(W("C:\\dir\\file"));
    tv_str rest;
    path.split(path, rest, true, '\\');
    EXPECT_EQ(Wide(path), wstr(W("C:\\dir")));
    EXPECT_EQ(Wide(rest), wstr(W("file")));
}

TEST(TvStrSharing, CopiesMayBeReleasedOnDifferentThreads)
{
    const tv_str original(W("shared between threads, long enough for the heap"));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&original] {
            for (int i = 0; i < 20000; ++i) {
                tv_str copy(original);
                tv_str another;
                another = copy;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(Wide(original), wstr(W("shared between threads, long enough for the heap")));
    // The buffer's count is back to one: a copy made now is the only other owner, and the
    // buffer is still alive after that copy is gone.
    { const tv_str last(original); }
    EXPECT_STREQ(static_cast<const char *>(original), "shared between threads, long enough for the heap");
}

// ---------------------------------------------------------------------------------------
// Comparisons

TEST(TvStrCompare, OrdinalByCodeUnitWithMissingTextsAsEmpty)
{
    const tv_str none;
    const tv_str null(static_cast<const WCHAR *>(NULL));
    const tv_str empty(W(""));
    EXPECT_TRUE(none == null);
    EXPECT_TRUE(null == empty);
    EXPECT_FALSE(none != empty);
    EXPECT_FALSE(none < empty);
    EXPECT_TRUE(none <= empty && none >= empty);
    EXPECT_TRUE(none < tv_str(W("a")));
    EXPECT_TRUE(tv_str(W("a")) > empty);
    EXPECT_TRUE(tv_str(W("abc")) == tv_str(W("abc")));
    EXPECT_TRUE(tv_str(W("abc")) != tv_str(W("abd")));
    EXPECT_TRUE(tv_str(W("abc")) != tv_str(W("ABC")));
    EXPECT_TRUE(tv_str(W("ab")) < tv_str(W("abc")));
    EXPECT_TRUE(tv_str(W("abc")) > tv_str(W("ab")));
    EXPECT_TRUE(tv_str(W("Z")) < tv_str(W("a")));                // ordinal, not alphabetical
    EXPECT_TRUE(tv_str(W("z")) < tv_str(W("\u00E9")));           // 0x7A < 0xE9
    EXPECT_TRUE(tv_str(W("\uFFFF")) > tv_str(W("\xD83D\xDE00")));  // units, not characters
    EXPECT_TRUE(tv_str(W("b")) >= tv_str(W("abc")));
    EXPECT_TRUE(tv_str(W("abc")) <= tv_str(W("abc")));
    EXPECT_TRUE(tv_str(W("a")) == 'a');
    EXPECT_FALSE(tv_str(W("ab")) == 'a');
    EXPECT_FALSE(tv_str(W("b")) == 'a');
    EXPECT_FALSE(tv_str() == '\0');
    EXPECT_FALSE(tv_str(W("\u00E9")) == '\xC3');
}

// ---------------------------------------------------------------------------------------
// Concatenation and paths

TEST(TvStrPaths, PlusAppendConcatAndSlashJoinTheTexts)
{
    const tv_str a(W("C:"));
    const tv_str b(W("\\dir"));
    EXPECT_EQ(Wide(a + b), wstr(W("C:\\dir")));
    EXPECT_EQ(Wide(tv_str() + b), wstr(W("\\dir")));
    tv_str s(W("caf"));
    s += tv_str(W("\u00E9"));
    s += W("!");
    s += static_cast<const WCHAR *>(NULL);
    EXPECT_EQ(Wide(s), wstr(W("caf\u00E9!")));
    EXPECT_EQ(Utf8(s), "caf\xC3\xA9!");
    const tv_str single(W("a"));
    EXPECT_EQ(Wide(single.concat(tv_str(W("b")), ',')), wstr(W("a,b")));
    EXPECT_EQ(Wide(tv_str(W("a,")).concat(tv_str(W("b")), ',')), wstr(W("a,b")));
    EXPECT_EQ(Wide(single.concat(tv_str(W(",b")), ',')), wstr(W("a,b")));
    EXPECT_EQ(Wide(single.concat(tv_str(W("b")), '\0')), wstr(W("ab")));
    EXPECT_EQ(Wide(tv_str().concat(tv_str(W("b")), ',')), wstr(W("b")));
    EXPECT_EQ(Wide(single.concat(tv_str(), ',')), wstr(W("a")));
    // The join is made on the UTF-8 texts, so a lone surrogate comes back as U+FFFD.
    const WCHAR lone[] = {0xD800, 0};
    EXPECT_EQ(Wide(single.concat(tv_str(lone), ',')), wstr(W("a,\uFFFD")));
    const struct {
        const WCHAR *left;
        const WCHAR *right;
        const WCHAR *joined;
    } cases[] = {
        {W("C:\\dir"), W("file"), W("C:\\dir\\file")},         {W("C:\\dir\\"), W("\\file"), W("C:\\dir\\file")},
        {W("C:\\dir\\"), W("file"), W("C:\\dir\\file")},       {W("C:\\dir"), W("\\file"), W("C:\\dir\\file")},
        {W("\\"), W("x"), W("\\x")},                           {W("a/"), W("b"), W("a/b")},
        {W(""), W("x"), W("x")},                               {W("a"), W(""), W("a")},
        {W("C:\\"), W("\\"), W("C:\\")},                       {W("caf\u00E9"), W("\u20AC"), W("caf\u00E9\\\u20AC")},
        {W("\xD83D\xDE00"), W("\xD83D\xDE01"), W("\xD83D\xDE00\\\xD83D\xDE01")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Wide(tv_str(c.left) / tv_str(c.right)), wstr(c.joined)) << Utf8(tv_str(c.left)) << " / " << Utf8(tv_str(c.right));
}

TEST(TvStrPaths, TrailingSeparatorStripdirDotdotExtensionAndUnc)
{
    // Each text set and cleared once: only '\\' counts, and one at most is added or taken.
    const struct {
        const WCHAR *text;
        bool has;
        const WCHAR *set, *cleared;
    } ends[] = {
        {W("C:\\dir"), false, W("C:\\dir\\"), W("C:\\dir")}, {W("C:\\dir\\"), true, W("C:\\dir\\"), W("C:\\dir")},
        {W("a\\\\"), true, W("a\\\\"), W("a\\")},             {W("a/"), false, W("a/\\"), W("a/")},
        {NULL, false, W("\\"), W("")},                       {W("\\"), true, W("\\"), W("")},
    };
    for (const auto &c : ends) {
        SCOPED_TRACE(Utf8(tv_str(c.text)));
        tv_str set(c.text), cleared(c.text);
        EXPECT_EQ(set.has_trailing_dirsep(), c.has);
        set.set_trailing_dirsep();
        cleared.clear_trailing_dirsep();
        EXPECT_EQ(Wide(set) + W("|") + Wide(cleared), wstr(c.set) + W("|") + c.cleared);
        ExpectMirrorMatches(set);
        ExpectMirrorMatches(cleared);
    }
    EXPECT_EQ(Wide(tv_str(W("C:\\dir\\file")).stripdir()), wstr(W("file")));
    EXPECT_EQ(Wide(tv_str(W("C:\\dir\\")).stripdir()), wstr(W("dir\\")));
    EXPECT_EQ(Wide(tv_str(W("file")).stripdir()), wstr(W("file")));
    EXPECT_EQ(Wide(tv_str(W("\\")).stripdir()), wstr(W("\\")));

    EXPECT_EQ(Wide(tv_str(W("C:\\dir\\file")).get_dotdot()), wstr(W("C:\\dir")));
    EXPECT_EQ(Wide(tv_str(W("\\dir")).get_dotdot()), wstr(W("\\")));
    EXPECT_TRUE(tv_str(W("file")).get_dotdot().is_empty());

    EXPECT_TRUE(tv_str(W("C:\\a.b\\file")).extension().is_empty());
    EXPECT_EQ(Wide(tv_str(W("file.txt")).extension()), wstr(W(".txt")));
    EXPECT_EQ(Wide(tv_str(W("C:\\d\\archive.tar.gz")).extension()), wstr(W(".gz")));
    EXPECT_EQ(Wide(tv_str(W("C:\\d\\.profile")).extension()), wstr(W(".profile")));
    EXPECT_TRUE(tv_str(W("C:\\d\\noext")).extension().is_empty());
    EXPECT_TRUE(tv_str().extension().is_empty());

    EXPECT_EQ(Wide(tv_str(W("C:\\data")).unc_path()), wstr(W("\\\\?\\C:\\data")));
    EXPECT_EQ(Wide(tv_str(W("\\x")).unc_path()), wstr(W("\\\\?\\\\x")));
    EXPECT_TRUE(tv_str().unc_path().is_empty());
}

// ---------------------------------------------------------------------------------------
// Searches

TEST(TvStrSearch, PositionsContainsStartsWithAndEndsWith)
{
    const tv_str banana(W("banana"));
    EXPECT_EQ(banana.find('a', 0), 5);
    EXPECT_EQ(banana.ffind('a', 0), 1);
    EXPECT_EQ(banana.ffind_n('a', 2, 0), 3);
    EXPECT_EQ(banana.ffind_n('a', 3, 0), 5);
    EXPECT_EQ(banana.ffind_n('a', 4, 0), -1);
    EXPECT_EQ(banana.ffind_n('a', 1, 2), 3);
    EXPECT_EQ(banana.rfind('a', 0), 5);
    EXPECT_EQ(banana.rfind('a', 1), 3);
    EXPECT_EQ(banana.rfind('b', 5), 0);
    EXPECT_EQ(banana.ffind('a', 4), 5);
    EXPECT_EQ(banana.find('n', 3), 4);
    EXPECT_EQ(banana.ffind('x', 0), -1);
    // Starts out of range find nothing.
    EXPECT_EQ(banana.ffind('a', -1), -1);
    EXPECT_EQ(banana.ffind('a', 6), -1);
    EXPECT_EQ(banana.ffind('a', INT_MAX), -1);
    EXPECT_EQ(banana.find('a', 6), -1);
    EXPECT_EQ(banana.find('a', INT_MIN), -1);
    EXPECT_EQ(banana.rfind('b', 6), -1);
    EXPECT_EQ(banana.rfind('a', -1), -1);
    EXPECT_EQ(banana.ffind_n('a', 0, 0), -1);
    EXPECT_EQ(banana.ffind_n('a', -3, 0), -1);
    EXPECT_EQ(tv_str().ffind('a', 0), -1);
    EXPECT_EQ(tv_str().rfind('a', 0), -1);
    EXPECT_EQ(tv_str().ffind(WCHAR('a'), 0), -1);
    EXPECT_EQ(banana.ffind(WCHAR('a'), 6), -1);
    const tv_str s(W("b\u00E9b\u00E9"));  // bytes: b C3 A9 b C3 A9
    EXPECT_EQ(s.ffind('b', 1), 3);
    EXPECT_EQ(s.ffind(WCHAR('b'), 1), 2);
    EXPECT_EQ(s.find(WCHAR(0xE9), 0), 3);
    EXPECT_EQ(s.ffind_n(WCHAR(0xE9), 2, 0), 3);
    EXPECT_EQ(s.ffind_n(WCHAR(0xE9), 2, 2), -1);
    const tv_str path(W("C:\\Program Files\\Caf\u00E9"));
    EXPECT_TRUE(path.contains(tv_str(W("Program"))));
    EXPECT_FALSE(path.contains(tv_str(W("program"))));
    EXPECT_TRUE(path.contains(tv_str(W("program")), false));
    EXPECT_TRUE(path.contains(W("FILES"), false));
    EXPECT_FALSE(path.contains(W("CAF\u00C9"), false));  // only ASCII letters fold
    EXPECT_TRUE(path.contains(W("CAF\u00E9"), false));
    EXPECT_TRUE(path.contains(tv_str(W(""))));
    EXPECT_FALSE(path.contains(tv_str()));
    EXPECT_FALSE(path.contains(static_cast<const WCHAR *>(NULL)));
    EXPECT_FALSE(tv_str().contains(W("a")));

    ASSERT_EQ(GetACP(), 1252u);
    EXPECT_TRUE(path.contains("Caf\xE9"));           // the narrow (ANSI) view
    EXPECT_FALSE(path.contains("Caf\xC3\xA9"));
    EXPECT_TRUE(path.contains_utf8("Caf\xC3\xA9"));   // converted from UTF-8
    EXPECT_TRUE(path.contains_utf8("caf\xC3\xA9", false));
    EXPECT_FALSE(path.contains(static_cast<const char *>(NULL)));
    EXPECT_FALSE(path.contains_utf8(NULL));
    const tv_str backup(W("Backup.LOG"));
    EXPECT_TRUE(backup.starts_with(tv_str(W("Back"))));
    EXPECT_TRUE(backup.starts_with(W("")));
    EXPECT_TRUE(backup.starts_with(tv_str(W(""))));
    EXPECT_FALSE(backup.starts_with(W("back")));
    EXPECT_TRUE(backup.starts_with(W("back"), false));
    EXPECT_TRUE(backup.starts_with("BACKUP", false));
    EXPECT_TRUE(backup.starts_with_utf8("Backup."));
    EXPECT_FALSE(backup.starts_with(W("Backup.LOG.old")));
    EXPECT_FALSE(backup.starts_with(static_cast<const WCHAR *>(NULL)));
    EXPECT_FALSE(backup.starts_with(tv_str()));
    EXPECT_FALSE(tv_str().starts_with(W("")));

    EXPECT_TRUE(backup.ends_with(tv_str(W(".LOG"))));
    EXPECT_FALSE(backup.ends_with(W(".log")));
    EXPECT_TRUE(backup.ends_with(W(".log"), false));
    EXPECT_TRUE(backup.ends_with(".log", false));
    EXPECT_TRUE(backup.ends_with_utf8("p.LOG"));
    EXPECT_FALSE(backup.ends_with(W("")));
    EXPECT_FALSE(backup.ends_with(""));
    EXPECT_FALSE(backup.ends_with_utf8(""));
    EXPECT_FALSE(backup.ends_with(W("xBackup.LOG")));
    EXPECT_FALSE(backup.ends_with(static_cast<const char *>(NULL)));
    EXPECT_FALSE(tv_str().ends_with(W("a")));
    EXPECT_TRUE(backup.has_char('.'));
    EXPECT_FALSE(backup.has_char('x'));
    EXPECT_FALSE(backup.has_char('\0'));
}

// ---------------------------------------------------------------------------------------
// Pieces and edits

TEST(TvStrEdits, SubstrSplitReplaceCaseTrimAndTruncate)
{
    const tv_str s(W("hello"));
    EXPECT_EQ(Wide(s.substr(1, 3)), wstr(W("ell")));
    EXPECT_EQ(Wide(s.substr(1)), wstr(W("ello")));
    EXPECT_EQ(Wide(s.substr(1, 0)), wstr(W("ello")));
    EXPECT_EQ(Wide(s.substr(3, 100)), wstr(W("lo")));
    EXPECT_TRUE(s.substr(5).is_empty());
    EXPECT_TRUE(s.substr(size_t(-1)).is_empty());
    EXPECT_TRUE(s.substr(2, size_t(-1)) == tv_str(W("llo")));
    EXPECT_TRUE(tv_str().substr(0).is_empty());
    // Cutting a multi-byte character leaves what the platform makes of the broken bytes.
    EXPECT_EQ(Wide(tv_str(W("\u00E9x")).substr(1)), wstr(W("\uFFFDx")));
    // One pair for every split, in turn: a split must overwrite what the last one left.
    tv_str before;
    tv_str after;
    const struct {
        const WCHAR *text;
        bool fromRight, found;
        char separator;
        const WCHAR *before, *after;
    } splits[] = {
        {W("\\dir"), false, true, '\\', W("\\"), W("dir")},
        {W("abc"), false, false, '\\', W("abc"), W("")},
        {W("a\\b\\c"), false, true, '\\', W("a"), W("b\\c")},
        {W("a\\b\\c"), true, true, '\\', W("a\\b"), W("c")},
        {W("key="), false, true, '=', W("key"), W("")},
    };
    for (const auto &c : splits) {
        SCOPED_TRACE(Utf8(tv_str(c.text)) + (c.fromRight ? " from the right" : ""));
        EXPECT_EQ(tv_str(c.text).split(before, after, c.fromRight, c.separator), c.found);
        EXPECT_EQ(Wide(before) + W("|") + Wide(after), wstr(c.before) + W("|") + c.after);
    }
    EXPECT_EQ(Wide(tv_str(W("a.b.c")).replace(tv_str(W(".")), tv_str(W("::")))), wstr(W("a::b::c")));
    EXPECT_EQ(Wide(tv_str(W("aaaa")).replace(tv_str(W("aa")), tv_str(W("b")))), wstr(W("bb")));
    EXPECT_EQ(Wide(tv_str(W("aaa")).replace(tv_str(W("aa")), tv_str(W("a")))), wstr(W("aa")));
    EXPECT_EQ(Wide(tv_str(W("x\u00E9y")).replace(tv_str(W("\u00E9")), tv_str(W("\u20AC")))), wstr(W("x\u20ACy")));
    EXPECT_EQ(Wide(tv_str(W("abc")).replace(tv_str(W("b")), tv_str())), wstr(W("ac")));
    EXPECT_EQ(Wide(tv_str(W("abc")).replace(tv_str(), tv_str(W("x")))), wstr(W("abc")));
    EXPECT_TRUE(tv_str().replace(tv_str(W("a")), tv_str(W("b"))).is_empty());
    EXPECT_EQ(Wide(tv_str(W("C:/a/b")).replace('/', '\\')), wstr(W("C:\\a\\b")));
    EXPECT_EQ(Wide(tv_str(W("abc")).replace('x', 'y')), wstr(W("abc")));
    const tv_str mixed(W("\u00C9t\u00E9 Mix 42"));
    EXPECT_EQ(Wide(mixed.upper()), wstr(W("\u00C9T\u00E9 MIX 42")));
    EXPECT_EQ(Wide(mixed.lower()), wstr(W("\u00C9t\u00E9 mix 42")));
    EXPECT_TRUE(tv_str().upper().is_empty());
    const WCHAR *padded = W(" \t\r\n\f\vtext \t\r\n\f\v");
    const struct {
        const WCHAR *text;  // NULL: a missing text, which stays missing
        TV_STR_TRIM mode;
        const WCHAR *set, *trimmed;  // set NULL: white space
    } trims[] = {
        {padded, TV_STR_TRIM_BOTH, NULL, W("text")},
        {padded, TV_STR_TRIM_START, NULL, W("text \t\r\n\f\v")},
        {padded, TV_STR_TRIM_END, NULL, W(" \t\r\n\f\vtext")},
        {W("   "), TV_STR_TRIM_END, NULL, W("")},
        {W(" "), TV_STR_TRIM_START, NULL, W("")},
        {W("--==name==--"), TV_STR_TRIM_BOTH, W("-="), W("name")},
        {W("a b"), TV_STR_TRIM_BOTH, NULL, W("a b")},
        {NULL, TV_STR_TRIM_BOTH, NULL, NULL},
    };
    for (const auto &c : trims) {
        SCOPED_TRACE(Utf8(tv_str(c.text)) + " mode " + std::to_string(int(c.mode)));
        tv_str s(c.text);
        EXPECT_EQ(c.set ? &s.trim(c.mode, tv_str(c.set)) : &s.trim(c.mode), &s);
        if (c.trimmed == NULL) {
            EXPECT_TRUE(!s);
        } else {
            EXPECT_EQ(Wide(s), wstr(c.trimmed));
        }
        ExpectMirrorMatches(s);
    }
    // truncate(n) drops n units from the end and answers the units kept; an n that is not
    // below the length changes nothing and answers 0.
    const struct {
        const WCHAR *text;
        int n;
        bool changed;
        const char *kept;
    } truncations[] = {
        {W("abc"), 3, false, "abc"}, {W("abc"), 10, false, "abc"}, {W("abc"), -1, false, "abc"},
        {W("abc"), 1, true, "ab"},   {NULL, 0, false, ""},         {W("x\u20AC"), 1, true, "x"},
    };
    for (const auto &c : truncations) {
        SCOPED_TRACE(Utf8(tv_str(c.text)) + " less " + std::to_string(c.n));
        tv_str s(c.text);
        EXPECT_EQ(s.truncate(c.n) != 0, c.changed);
        EXPECT_STREQ(s.get_utf8(), c.kept);
        ExpectMirrorMatches(s);
    }
}

// ---------------------------------------------------------------------------------------
// Measures and single characters

TEST(TvStrMeasures, UnitsBytesCaseAndNumbers)
{
    const tv_str s(W("\u00E9\u20AC"));
    EXPECT_EQ(s.length(), 2);
    EXPECT_EQ(s.bytelength(), 5);
    EXPECT_EQ(s.first(), '\xC3');
    EXPECT_EQ(s.last(), '\xAC');
    EXPECT_EQ(s.byteindex(2), '\xE2');
    EXPECT_EQ(s.byteindex(-1), '\0');
    EXPECT_EQ(s.byteindex(5), '\0');
    EXPECT_EQ(s.byteindex(INT_MAX), '\0');  // must not read past the text
    EXPECT_EQ(tv_str().first(), '\0');
    EXPECT_EQ(tv_str().last(), '\0');
    EXPECT_EQ(tv_str().byteindex(40), '\0');
    for (const WCHAR *text : {W(""), W("ABC")})
        EXPECT_TRUE(tv_str(text).isupper()) << Utf8(tv_str(text));
    for (const WCHAR *text : {W("ABc"), W("AB1"), W("AB C"), W("\u00C9")})
        EXPECT_FALSE(tv_str(text).isupper()) << Utf8(tv_str(text));
    EXPECT_TRUE(tv_str().isupper());
    // Digits up to the first the base does not have; bases but 8, 10 and 16 answer 0;
    // out of range clamps.
    const struct {
        const WCHAR *text;
        int base, value;
    } numbers[] = {
        {W("42"), 10, 42},                        {W("  -17 apples"), 10, -17},             {W("+8"), 10, 8},
        {W("0x1F"), 16, 31},                      {W("1f"), 16, 31},                        {W("0xZ"), 16, 0},
        {W("777"), 8, 511},                       {W("789"), 8, 7},                         {W("12abc"), 10, 12},
        {W("abc"), 10, 0},                        {W("101"), 2, 0},                         {W("101"), 36, 0},
        {NULL, 10, 0},                            {W("2147483647"), 10, INT_MAX},           {W("-2147483648"), 10, INT_MIN},
        {W("99999999999999999999"), 10, INT_MAX}, {W("-4294967296"), 10, INT_MIN},          {W("FFFFFFFF"), 16, INT_MAX},
    };
    for (const auto &c : numbers)
        EXPECT_EQ(tv_str(c.text).toint(c.base), c.value) << Utf8(tv_str(c.text)) << " base " << c.base;
    EXPECT_EQ(tv_str(W("42")).toint(), 42);
}

// ---------------------------------------------------------------------------------------
// The static conversions

TEST(TvStrStatic, ConversionsAllocatedIntoABufferAndMeasured)
{
    EXPECT_EQ(tv_str::utf8_to_wcs(NULL), nullptr);
    WCHAR *wide = tv_str::utf8_to_wcs("caf\xC3\xA9");
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wstr(wide), wstr(W("caf\u00E9")));
    delete[] wide;

    EXPECT_EQ(tv_str::utf8_to_wcs_len("caf\xC3\xA9"), 5u);
    EXPECT_EQ(tv_str::utf8_to_wcs_len(""), 1u);
    EXPECT_EQ(tv_str::utf8_to_wcs_len(NULL), 0u);

    WCHAR buffer[8];
    EXPECT_EQ(tv_str::utf8_to_wcs(buffer, 5, "caf\xC3\xA9"), 5u);
    EXPECT_EQ(wstr(buffer), wstr(W("caf\u00E9")));
    EXPECT_EQ(tv_str::utf8_to_wcs(buffer, 4, "caf\xC3\xA9"), 0u);
    EXPECT_EQ(tv_str::utf8_to_wcs(buffer, 0, "a"), 0u);
    EXPECT_EQ(tv_str::utf8_to_wcs(NULL, 8, "a"), 0u);
    EXPECT_EQ(tv_str::utf8_to_wcs(buffer, 8, NULL), 0u);
    EXPECT_EQ(tv_str::wcs_to_utf8(static_cast<const WCHAR *>(NULL)), nullptr);
    char *utf8 = tv_str::wcs_to_utf8(W("\u20AC1"));
    ASSERT_NE(utf8, nullptr);
    EXPECT_STREQ(utf8, "\xE2\x82\xAC" "1");
    delete[] utf8;

    EXPECT_EQ(tv_str::wcs_to_utf8_len(W("\u20AC1")), 5u);
    EXPECT_EQ(tv_str::wcs_to_utf8_len(W("")), 1u);
    EXPECT_EQ(tv_str::wcs_to_utf8_len(NULL), 0u);

    char narrow[8];
    EXPECT_EQ(tv_str::wcs_to_utf8(narrow, 5, W("\u20AC1")), 5u);
    EXPECT_STREQ(narrow, "\xE2\x82\xAC" "1");
    EXPECT_EQ(tv_str::wcs_to_utf8(narrow, 4, W("\u20AC1")), 0u);
    EXPECT_EQ(tv_str::wcs_to_utf8(NULL, 8, W("a")), 0u);
    EXPECT_EQ(tv_str::wcs_to_utf8(narrow, 8, NULL), 0u);
}

// ---------------------------------------------------------------------------------------
// Bad input

TEST(TvStrBadInput, IllFormedUtf8AndLongTexts)
{
    // How many U+FFFD an ill-formed sequence becomes is the platform's choice (Windows
    // and Wine count some sequences differently); tv_str must agree with its platform.
    const struct {
        const char *bytes;
        const WCHAR *wide;  // NULL where the platforms may differ
    } cases[] = {
        {"ab\x80" "c", W("ab\uFFFDc")},  // stray continuation byte
        {"x\xE2\x82", W("x\uFFFD")},     // cut short by the end
        {"\xFF", W("\uFFFD")},
        {"\xC0\xAF", NULL},              // overlong form
        {"\xED\xA0\x80", NULL},          // encoded surrogate
        {"\xF4\x90\x80\x80", NULL},      // above U+10FFFF
    };
    for (const auto &c : cases) {
        const wstr platform = tvtest::PlatformWide(c.bytes);
        EXPECT_NE(platform.find(WCHAR(0xFFFD)), wstr::npos);
        if (c.wide != NULL) {
            EXPECT_EQ(platform, wstr(c.wide));
        }
        tv_str s;
        s.set_utf8(c.bytes);
        EXPECT_EQ(Wide(s), platform) << "input " << c.bytes;
        ExpectMirrorMatches(s);
        EXPECT_EQ(Wide(tv_str(c.bytes, tv_str::TCS_CP_UTF8)), platform);
        WCHAR *converted = tv_str::utf8_to_wcs(c.bytes);
        ASSERT_NE(converted, nullptr);
        EXPECT_EQ(wstr(converted), platform);
        delete[] converted;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    tv_str s;
    s.set_utf8("bad \x80 byte");
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    const wstr longText(200000, W('x'));
    tv_str longStr(longText.c_str());
    EXPECT_EQ(longStr.length(), 200000);
    EXPECT_EQ(longStr.bytelength(), 200000);
    const tv_str joined = longStr / longStr;
    EXPECT_EQ(joined.length(), 400001);
    EXPECT_EQ(joined.byteindex(200000), '\\');
    EXPECT_EQ(joined.rfind('\\', 0), 200000);
    EXPECT_EQ(longStr.substr(199999).length(), 1);
    tv_str utf8;
    utf8.set_utf8(std::string(150000, 'y').append("\xC3\xA9").c_str());
    EXPECT_EQ(utf8.length(), 150001);
}

// ---------------------------------------------------------------------------------------
// Exhausted memory

TEST(TvStrOutOfMemory, RaisesTheComErrorAndKeepsTheOldText)
{
    tv_str s(W("the old text, long enough for a heap mirror"));
    const wstr fresh(100, W('n'));
    HRESULT raised = S_OK;
    int refused = 0;
    {
        tvtest::FailingAllocations failing;
        try {
            s = fresh.c_str();
        } catch (const _com_error &error) {
            raised = error.Error();
        } catch (...) {
            raised = E_UNEXPECTED;
        }
        refused = failing.refused();
    }
    if (refused == 0)
        GTEST_SKIP() << "the library allocates outside the test program's operator new here";
    EXPECT_EQ(raised, E_OUTOFMEMORY);
    EXPECT_EQ(Wide(s), wstr(W("the old text, long enough for a heap mirror")));
    EXPECT_STREQ(s.get_utf8(), "the old text, long enough for a heap mirror");
}

TEST(TvStrOutOfMemory, FormatAnswersEightAndConcatAnEmptyString)
{
    tv_str s(W("kept"));
    const std::string longUtf8(5000, 'u');  // longer than any buffer on the stack
    const WCHAR lone[] = {0xD800, 0};
    const tv_str withSurrogate(lone);
    const tv_str other(W("other"));
    int wideResult = -1;
    int utf8Result = -1;
    bool concatEmpty = false;
    int refused = 0;
    {
        tvtest::FailingAllocations failing;
        wideResult = s.format(W("%5000d"), 1);
        utf8Result = s.format_utf8("%s", longUtf8.c_str());
        concatEmpty = withSurrogate.concat(other, ',').is_empty();  // joined on UTF-8: a work buffer
        refused = failing.refused();
    }
    if (refused == 0)
        GTEST_SKIP() << "the library allocates outside the test program's operator new here";
    EXPECT_EQ(wideResult, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(utf8Result, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_TRUE(concatEmpty);
    EXPECT_EQ(Wide(s), wstr(W("kept")));
}
