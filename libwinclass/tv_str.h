// C++ only: a class, with no C form.
//
// tv_str: the client's string class. One text in two forms: a wide (UTF-16) master copy
// in a reference-counted buffer that copies share, and a UTF-8 mirror private to each
// object, rebuilt after every change, so that get_utf8() can go straight to UTF-8 logging
// and the wide view straight to Windows.
//
// Three views, which differ:
//   wide   (operator const WCHAR*): the shared text; NULL when the object never got text.
//   UTF-8  (get_utf8):              the mirror; never NULL ("" when there is no text).
//   narrow (operator const char*):  the text in the ANSI code page, built on first use and
//                                    cached in the shared buffer; NULL without text.
// Lengths, positions and searches by char work on UTF-8 bytes; length(), comparisons and
// the searches by WCHAR work on wide units. Case-insensitive operations fold ASCII letters
// only. Out of memory for the text raises _com_error(E_OUTOFMEMORY).
//
// Threads: copies of one object may live and die on different threads (the count is
// atomic); one object must not be used from two threads at once.
//
// Format strings of format() follow the Windows C runtime's wide conventions on every
// platform: %ls for wide text and %hs for narrow text are the portable spellings (%s is
// wide and %S narrow in this function, unlike in standard C). Integers: %d is 32 bits,
// %ld too (long is 32 bits on Windows), %lld or %I64d 64 bits, %Iu or %zu size_t.
// Exponents of %e/%g print three digits, and non-finite doubles are spelled differently
// by different runtimes: do not format them into text that must match across platforms.
// format_utf8() uses standard C conventions: %s is UTF-8 (narrow) text; do not pass wide
// text to it.
#pragma once

#include <libwinclass/winclassapi.h>

#include <comdef.h>
#include <comutil.h>

#include <cstddef>

#if defined(__GNUC__)
#define TV_STR_PRINTF_FORMAT(format_index, first_argument) \
    __attribute__((format(gnu_printf, format_index, first_argument)))
#else
#define TV_STR_PRINTF_FORMAT(format_index, first_argument)
#endif

// Which ends trim() strips.
enum TV_STR_TRIM {
    TV_STR_TRIM_START = 1,
    TV_STR_TRIM_END = 2,
    TV_STR_TRIM_BOTH = 3,
};

class WINCLASS_API tv_str {
public:
    // A code page for MultiByteToWideChar; 0 is the system's ANSI code page.
    enum tcs_cp_t : unsigned int {
        TCS_CP_ACP = 0,
        TCS_CP_UTF8 = 65001,
    };

    // No buffer; the wide view is NULL and the UTF-8 view "".
    tv_str();
    tv_str(const tv_str &other);
    // A buffer with a copy of the text; NULL gives a buffer whose text is NULL.
    tv_str(const WCHAR *text);
    // Bytes in the given code page; NULL, or bytes that convert to no character, give no
    // buffer at all.
    tv_str(const char *text, tcs_cp_t codePage = TCS_CP_ACP);
    // Takes the other's buffer and mirror; the other is left without text.
    tv_str(tv_str &&other) noexcept;
    ~tv_str();

    tv_str &operator=(const tv_str &other);
    tv_str &operator=(tv_str &&other) noexcept;
    tv_str &operator=(const WCHAR *text);
    // The UTF-8 bytes become the text (NULL: the empty text). Ill-formed sequences become
    // U+FFFD, as the platform's UTF-8 conversion makes them.
    tv_str &set_utf8(const char *text);

    operator const WCHAR *() const;
    operator WCHAR *() const;
    operator const char *() const;
    operator char *() const;
    // The shared buffer itself. Changing the text through it does not update the mirror.
    operator _bstr_t &();
    operator const _bstr_t &() const;
    const char *get_utf8() const;

    // Ordinal comparison of the wide texts; no buffer, a NULL text and "" are all equal.
    bool operator==(const tv_str &other) const;
    bool operator!=(const tv_str &other) const;
    bool operator<(const tv_str &other) const;
    bool operator<=(const tv_str &other) const;
    bool operator>(const tv_str &other) const;
    bool operator>=(const tv_str &other) const;
    // True when the text is exactly this one (ASCII) character.
    bool operator==(char c) const;
    // True when there is no buffer or its text is NULL (not for ""; see is_empty).
    bool operator!() const;

    tv_str operator+(const tv_str &other) const;
    tv_str &operator+=(const tv_str &other);
    tv_str &operator+=(const WCHAR *text);
    // The UTF-8 texts joined, with the separator between them unless it is 0 or already at
    // the seam. An empty side gives a copy of the other; empty when memory runs out.
    tv_str concat(const tv_str &other, char separator) const;
    // Path join with one backslash at the seam: C:\dir / file = C:\dir\file,
    // C:\dir\ / \file = C:\dir\file, \ / x = \x, a/ / b = a/b.
    tv_str operator/(const tv_str &other) const;
    // Only '\' counts as a separator in these three.
    void set_trailing_dirsep();
    void clear_trailing_dirsep();
    bool has_trailing_dirsep() const;
    // The text after the last '\' that is not the final byte; the whole text without one.
    tv_str stripdir() const;
    // The text before the last '\'; "" without one ("\dir" gives "\").
    tv_str get_dotdot() const;
    // ".ext" when the last '.' lies in the last component, else "".
    tv_str extension() const;
    // "\\?\" joined before the text; "" for an empty text.
    tv_str unc_path() const;

    // Searches by byte in the UTF-8 text; -1 when not found, or when the text is empty or
    // the start is negative or not below bytelength().
    int ffind(char c, int start = 0) const;              // first at or after start
    int ffind_n(char c, int n, int start = 0) const;     // n-th (from 1) at or after start
    int find(char c, int start = 0) const;               // last at or after start
    int rfind(char c, int fromEnd = 0) const;            // last at or before length-1-fromEnd
    // The same by unit in the wide text, positions in units.
    int ffind(WCHAR c, int start = 0) const;
    int ffind_n(WCHAR c, int n, int start = 0) const;
    int find(WCHAR c, int start = 0) const;

    // Substring tests; a needle without text (NULL) is never contained.
    bool contains(const tv_str &needle, bool caseSensitive = true) const;
    bool contains(const WCHAR *needle, bool caseSensitive = true) const;
    bool contains(const char *needle, bool caseSensitive = true) const;  // narrow view
    bool contains_utf8(const char *needle, bool caseSensitive = true) const;
    // False for an empty object or a NULL prefix; true for an empty prefix.
    bool starts_with(const tv_str &prefix, bool caseSensitive = true) const;
    bool starts_with(const WCHAR *prefix, bool caseSensitive = true) const;
    bool starts_with(const char *prefix, bool caseSensitive = true) const;  // narrow view
    bool starts_with_utf8(const char *prefix, bool caseSensitive = true) const;
    // False for an empty object, a NULL or empty suffix, or a suffix longer than the text.
    bool ends_with(const tv_str &suffix, bool caseSensitive = true) const;
    bool ends_with(const WCHAR *suffix, bool caseSensitive = true) const;
    bool ends_with(const char *suffix, bool caseSensitive = true) const;  // narrow view
    bool ends_with_utf8(const char *suffix, bool caseSensitive = true) const;
    bool has_char(char c) const;

    // Bytes [start, start+count) of the UTF-8 text; count 0 or past the end: to the end;
    // "" when start is not below bytelength(). A cut multi-byte sequence becomes U+FFFD.
    tv_str substr(size_t start, size_t count = 0) const;
    // Splits at the first (last when fromRight) separator byte of the UTF-8 text: before
    // gets the text before it (the separator itself when it is the first byte), after the
    // text after it. Not found: before gets the whole text, after "". Returns whether the
    // separator was found; the object is unchanged.
    bool split(tv_str &before, tv_str &after, bool fromRight, char separator) const;
    // Every non-overlapping occurrence, left to right, by UTF-8 bytes.
    tv_str replace(const tv_str &from, const tv_str &to) const;
    tv_str replace(char from, char to) const;
    tv_str lower() const;  // ASCII letters only
    tv_str upper() const;
    // In place: strips white space (space, \f, \v, \t, \r, \n) or the units of `set` from
    // the selected ends.
    tv_str &trim(TV_STR_TRIM mode = TV_STR_TRIM_BOTH);
    tv_str &trim(TV_STR_TRIM mode, const tv_str &set);
    // In place: drops the last n units. Returns 0 and changes nothing when n is negative or
    // not below length(); otherwise the new length.
    int truncate(int n);

    int length() const;       // wide units
    int bytelength() const;   // UTF-8 bytes, without the terminator
    int length_utf8() const;  // the same
    char first() const;       // first UTF-8 byte; 0 when empty
    char last() const;        // last UTF-8 byte; 0 when empty
    char byteindex(int index) const;  // 0 outside the text
    bool is_empty() const;    // no buffer, NULL text, or ""
    bool isempty() const;
    bool isupper() const;     // every byte 'A'-'Z' (true for "")
    // Leading white space, a sign, digits of base 8, 10 or 16 ("0x" allowed for 16);
    // 0 for any other base or when no number starts the text; clamped to the int range.
    int toint(int base = 10) const;

    // printf into a 65,536-unit work buffer (see the conventions above). 0 on success;
    // 122 (ERROR_INSUFFICIENT_BUFFER) when the output does not fit in 65,535 units or the
    // format is refused; 8 (ERROR_NOT_ENOUGH_MEMORY) without memory. Failure keeps the text.
    int format(const WCHAR *fmt, ...);
    // The same with the C library's narrow printf and 65,536 bytes; the output is UTF-8.
    int format_utf8(const char *fmt, ...) TV_STR_PRINTF_FORMAT(2, 3);

    // UTF-8 to wide: a new[] array the caller delete[]s (NULL for NULL); into a buffer,
    // returning the units written with the terminator (0 for NULL or a short buffer); or
    // the units needed with the terminator (0 for NULL).
    static WCHAR *utf8_to_wcs(const char *text);
    static size_t utf8_to_wcs(WCHAR *buffer, size_t size, const char *text);
    static size_t utf8_to_wcs_len(const char *text);
    // Wide to UTF-8, the same three, counting bytes.
    static char *wcs_to_utf8(const WCHAR *text);
    static size_t wcs_to_utf8(char *buffer, size_t size, const WCHAR *text);
    static size_t wcs_to_utf8_len(const WCHAR *text);

private:
    static const size_t kInlineSize = 16;

    static BSTR ansi_to_wcs(const char *text, tcs_cp_t codePage);
    void assign_utf8_ptr(size_t byteLength);
    void set_utf8_nc(const char *utf8);
    void set_utf8_wc(const WCHAR *text);
    void trim_worker(TV_STR_TRIM mode, const WCHAR *set, size_t setLength);

    // Internal steps shared by the members above.
    void rebuild_utf8(const WCHAR *text, size_t units);
    void adopt(_bstr_t &buffer);
    void assign_bytes(const char *utf8, size_t byteLength);
    const WCHAR *wide_text() const;

    _bstr_t m_text;            // the shared wide buffer
    char *m_utf8;              // the mirror: m_inline, or a heap block of exactly its size
    char m_inline[kInlineSize];
};
