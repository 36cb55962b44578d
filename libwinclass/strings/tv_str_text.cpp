// tv_str: searches, pieces and edits, measures, formatting and the static conversions.
#include <libwinclass/tv_str.h>

#include <libwinclass/strings/text.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

using namespace tvstr;

namespace {

const WCHAR kWhiteSpace[] = W(" \f\v\t\r\n");

const int kFormatUnits = 65536;  // the work buffer of format and format_utf8
// Most output fits on the stack; only longer output is formatted again into the work buffer.
const int kSmallWide = 1024;
const int kSmallUtf8 = 2048;

int ClampToInt(size_t value) { return value > size_t(INT_MAX) ? INT_MAX : int(value); }

bool UnitsMatch(const WCHAR *a, const WCHAR *b, size_t units, bool caseSensitive)
{
    for (size_t i = 0; i < units; ++i) {
        if (caseSensitive ? a[i] != b[i] : FoldUnit(a[i]) != FoldUnit(b[i]))
            return false;
    }
    return true;
}

bool BytesMatch(const char *a, const char *b, size_t bytes, bool caseSensitive)
{
    for (size_t i = 0; i < bytes; ++i) {
        if (caseSensitive ? a[i] != b[i] : FoldByte(a[i]) != FoldByte(b[i]))
            return false;
    }
    return true;
}

bool ContainsUnits(const WCHAR *haystack, size_t haystackUnits, const WCHAR *needle, size_t needleUnits,
                   bool caseSensitive)
{
    if (needleUnits == 0)
        return true;
    if (needleUnits > haystackUnits)
        return false;
    for (size_t at = 0; at + needleUnits <= haystackUnits; ++at) {
        if (UnitsMatch(haystack + at, needle, needleUnits, caseSensitive))
            return true;
    }
    return false;
}

bool ContainsBytes(const char *haystack, const char *needle, bool caseSensitive)
{
    const size_t haystackBytes = std::strlen(haystack);
    const size_t needleBytes = std::strlen(needle);
    if (needleBytes > haystackBytes)
        return false;
    for (size_t at = 0; at + needleBytes <= haystackBytes; ++at) {
        if (BytesMatch(haystack + at, needle, needleBytes, caseSensitive))
            return true;
    }
    return false;
}

bool StartsWithBytes(const char *text, const char *prefix, bool caseSensitive)
{
    const size_t prefixBytes = std::strlen(prefix);
    return prefixBytes <= std::strlen(text) && BytesMatch(text, prefix, prefixBytes, caseSensitive);
}

bool EndsWithBytes(const char *text, const char *suffix, bool caseSensitive)
{
    const size_t textBytes = std::strlen(text);
    const size_t suffixBytes = std::strlen(suffix);
    return suffixBytes != 0 && suffixBytes <= textBytes &&
           BytesMatch(text + textBytes - suffixBytes, suffix, suffixBytes, caseSensitive);
}

bool InSet(WCHAR unit, const WCHAR *set, size_t setUnits)
{
    for (size_t i = 0; i < setUnits; ++i) {
        if (set[i] == unit)
            return true;
    }
    return false;
}

int DigitValue(WCHAR unit)
{
    if (unit >= W('0') && unit <= W('9'))
        return unit - W('0');
    if (unit >= W('a') && unit <= W('z'))
        return unit - W('a') + 10;
    if (unit >= W('A') && unit <= W('Z'))
        return unit - W('A') + 10;
    return 99;
}

bool IsSpace(WCHAR unit) { return unit == W(' ') || (unit >= W('\t') && unit <= W('\r')); }

} // namespace

// Searches by byte ---------------------------------------------------------------------

int tv_str::ffind(char c, int start) const { return ffind_n(c, 1, start); }

int tv_str::ffind_n(char c, int n, int start) const
{
    const int bytes = bytelength();
    if (n < 1 || start < 0 || start >= bytes)
        return -1;
    for (int i = start; i < bytes; ++i) {
        if (m_utf8[i] == c && --n == 0)
            return i;
    }
    return -1;
}

int tv_str::find(char c, int start) const
{
    const int bytes = bytelength();
    if (start < 0 || start >= bytes)
        return -1;
    for (int i = bytes - 1; i >= start; --i) {
        if (m_utf8[i] == c)
            return i;
    }
    return -1;
}

int tv_str::rfind(char c, int fromEnd) const
{
    const int bytes = bytelength();
    if (fromEnd < 0 || fromEnd >= bytes)
        return -1;
    for (int i = bytes - 1 - fromEnd; i >= 0; --i) {
        if (m_utf8[i] == c)
            return i;
    }
    return -1;
}

// Searches by wide unit -----------------------------------------------------------------

int tv_str::ffind(WCHAR c, int start) const { return ffind_n(c, 1, start); }

int tv_str::ffind_n(WCHAR c, int n, int start) const
{
    const int units = length();
    if (n < 1 || start < 0 || start >= units)
        return -1;
    const WCHAR *text = wide_text();
    for (int i = start; i < units; ++i) {
        if (text[i] == c && --n == 0)
            return i;
    }
    return -1;
}

int tv_str::find(WCHAR c, int start) const
{
    const int units = length();
    if (start < 0 || start >= units)
        return -1;
    const WCHAR *text = wide_text();
    for (int i = units - 1; i >= start; --i) {
        if (text[i] == c)
            return i;
    }
    return -1;
}

// Substring tests ------------------------------------------------------------------------

bool tv_str::contains(const tv_str &needle, bool caseSensitive) const
{
    if (!needle)
        return false;
    return ContainsUnits(wide_text(), m_text.length(), needle.wide_text(), needle.m_text.length(), caseSensitive);
}

bool tv_str::contains(const WCHAR *needle, bool caseSensitive) const
{
    if (needle == NULL)
        return false;
    return ContainsUnits(wide_text(), m_text.length(), needle, UnitLength(needle), caseSensitive);
}

bool tv_str::contains(const char *needle, bool caseSensitive) const
{
    if (needle == NULL)
        return false;
    const char *narrow = static_cast<const char *>(m_text);
    return ContainsBytes(narrow != NULL ? narrow : "", needle, caseSensitive);
}

bool tv_str::contains_utf8(const char *needle, bool caseSensitive) const
{
    if (needle == NULL)
        return false;
    bool wellFormed = false;
    const _bstr_t wide = WideFromUtf8(needle, std::strlen(needle), wellFormed);
    return ContainsUnits(wide_text(), m_text.length(), static_cast<const WCHAR *>(wide), wide.length(), caseSensitive);
}

bool tv_str::starts_with(const tv_str &prefix, bool caseSensitive) const
{
    if (is_empty() || !prefix)
        return false;
    const size_t prefixUnits = prefix.m_text.length();
    return prefixUnits <= m_text.length() && UnitsMatch(wide_text(), prefix.wide_text(), prefixUnits, caseSensitive);
}

bool tv_str::starts_with(const WCHAR *prefix, bool caseSensitive) const
{
    if (is_empty() || prefix == NULL)
        return false;
    const size_t prefixUnits = UnitLength(prefix);
    return prefixUnits <= m_text.length() && UnitsMatch(wide_text(), prefix, prefixUnits, caseSensitive);
}

bool tv_str::starts_with(const char *prefix, bool caseSensitive) const
{
    if (is_empty() || prefix == NULL)
        return false;
    return StartsWithBytes(static_cast<const char *>(m_text), prefix, caseSensitive);
}

bool tv_str::starts_with_utf8(const char *prefix, bool caseSensitive) const
{
    if (is_empty() || prefix == NULL)
        return false;
    return StartsWithBytes(m_utf8, prefix, caseSensitive);
}

bool tv_str::ends_with(const tv_str &suffix, bool caseSensitive) const
{
    const size_t units = m_text.length();
    const size_t suffixUnits = suffix.m_text.length();
    if (units == 0 || suffixUnits == 0 || suffixUnits > units)
        return false;
    return UnitsMatch(wide_text() + units - suffixUnits, suffix.wide_text(), suffixUnits, caseSensitive);
}

bool tv_str::ends_with(const WCHAR *suffix, bool caseSensitive) const
{
    const size_t units = m_text.length();
    if (units == 0 || suffix == NULL)
        return false;
    const size_t suffixUnits = UnitLength(suffix);
    if (suffixUnits == 0 || suffixUnits > units)
        return false;
    return UnitsMatch(wide_text() + units - suffixUnits, suffix, suffixUnits, caseSensitive);
}

bool tv_str::ends_with(const char *suffix, bool caseSensitive) const
{
    if (is_empty() || suffix == NULL)
        return false;
    return EndsWithBytes(static_cast<const char *>(m_text), suffix, caseSensitive);
}

bool tv_str::ends_with_utf8(const char *suffix, bool caseSensitive) const
{
    if (is_empty() || suffix == NULL)
        return false;
    return EndsWithBytes(m_utf8, suffix, caseSensitive);
}

bool tv_str::has_char(char c) const { return c != '\0' && std::strchr(m_utf8, c) != NULL; }

// Pieces and edits -----------------------------------------------------------------------

tv_str tv_str::substr(size_t start, size_t count) const
{
    const size_t bytes = MirrorBytes(m_utf8, m_inline);
    if (start >= bytes)
        return tv_str();
    const size_t available = bytes - start;
    tv_str piece;
    piece.assign_bytes(m_utf8 + start, count == 0 || count > available ? available : count);
    return piece;
}

bool tv_str::split(tv_str &before, tv_str &after, bool fromRight, char separator) const
{
    const char *hit = separator == '\0' ? NULL : (fromRight ? std::strrchr(m_utf8, separator) : std::strchr(m_utf8, separator));
    // Both results are made before either output is touched: an output may be this object.
    tv_str head;
    tv_str tail;
    if (hit == NULL) {
        head = *this;
    } else {
        const size_t position = size_t(hit - m_utf8);
        head.assign_bytes(m_utf8, position == 0 ? 1 : position);
        tail.assign_bytes(hit + 1, std::strlen(hit + 1));
    }
    before = std::move(head);
    after = std::move(tail);
    return hit != NULL;
}

tv_str tv_str::replace(const tv_str &from, const tv_str &to) const
{
    if (is_empty())
        return tv_str();
    const size_t fromBytes = std::strlen(from.m_utf8);
    if (fromBytes == 0)
        return *this;
    const std::string text(m_utf8);
    std::string replaced;
    size_t at = 0;
    for (size_t hit = text.find(from.m_utf8, 0, fromBytes); hit != std::string::npos;
         hit = text.find(from.m_utf8, at, fromBytes)) {
        replaced.append(text, at, hit - at);
        replaced.append(to.m_utf8);
        at = hit + fromBytes;
    }
    if (at == 0)
        return *this;
    replaced.append(text, at, std::string::npos);
    tv_str result;
    result.assign_bytes(replaced.data(), replaced.size());
    return result;
}

tv_str tv_str::replace(char from, char to) const
{
    if (from == '\0' || from == to || std::strchr(m_utf8, from) == NULL)
        return *this;
    std::string replaced(m_utf8);
    for (char &c : replaced) {
        if (c == from)
            c = to;
    }
    tv_str result;
    // Replacing by a zero byte ends the text there.
    result.assign_bytes(replaced.c_str(), std::strlen(replaced.c_str()));
    return result;
}

tv_str tv_str::lower() const
{
    std::string mapped(m_utf8);
    for (char &c : mapped)
        c = FoldByte(c);
    tv_str result;
    result.assign_bytes(mapped.data(), mapped.size());
    return result;
}

tv_str tv_str::upper() const
{
    std::string mapped(m_utf8);
    for (char &c : mapped) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    }
    tv_str result;
    result.assign_bytes(mapped.data(), mapped.size());
    return result;
}

tv_str &tv_str::trim(TV_STR_TRIM mode)
{
    trim_worker(mode, kWhiteSpace, sizeof(kWhiteSpace) / sizeof(kWhiteSpace[0]) - 1);
    return *this;
}

tv_str &tv_str::trim(TV_STR_TRIM mode, const tv_str &set)
{
    // The set may be this very object: trim_worker reads it only before replacing the text.
    trim_worker(mode, set.wide_text(), set.m_text.length());
    return *this;
}

void tv_str::trim_worker(TV_STR_TRIM mode, const WCHAR *set, size_t setLength)
{
    const WCHAR *text = wide_text();
    const size_t units = m_text.length();
    if (units == 0 || setLength == 0)
        return;
    size_t start = 0;
    size_t end = units;  // one past the last kept unit
    if ((mode & TV_STR_TRIM_START) != 0) {
        while (start < end && InSet(text[start], set, setLength))
            ++start;
    }
    if ((mode & TV_STR_TRIM_END) != 0) {
        while (end > start && InSet(text[end - 1], set, setLength))
            --end;
    }
    if (start == 0 && end == units)
        return;
    _bstr_t buffer = MakeBuffer(text + start, end - start);
    rebuild_utf8(static_cast<const WCHAR *>(buffer), end - start);
    adopt(buffer);
}

int tv_str::truncate(int n)
{
    const int units = length();
    if (n < 0 || n >= units)
        return 0;
    const size_t kept = size_t(units - n);
    _bstr_t buffer = MakeBuffer(wide_text(), kept);
    rebuild_utf8(static_cast<const WCHAR *>(buffer), kept);
    adopt(buffer);
    return int(kept);
}

// Measures ---------------------------------------------------------------------------------

int tv_str::length() const { return ClampToInt(m_text.length()); }

int tv_str::bytelength() const { return ClampToInt(MirrorBytes(m_utf8, m_inline)); }

int tv_str::length_utf8() const { return bytelength(); }

char tv_str::first() const { return m_utf8[0]; }

char tv_str::last() const
{
    const size_t bytes = MirrorBytes(m_utf8, m_inline);
    return bytes == 0 ? '\0' : m_utf8[bytes - 1];
}

char tv_str::byteindex(int index) const
{
    if (index < 0)
        return '\0';
    // Stop at the terminator rather than read past it.
    for (int i = 0; i < index; ++i) {
        if (m_utf8[i] == '\0')
            return '\0';
    }
    return m_utf8[index];
}

bool tv_str::is_empty() const { return m_text.length() == 0; }

bool tv_str::isempty() const { return is_empty(); }

bool tv_str::isupper() const
{
    for (const char *p = m_utf8; *p != '\0'; ++p) {
        if (*p < 'A' || *p > 'Z')
            return false;
    }
    return true;
}

int tv_str::toint(int base) const
{
    if (base != 8 && base != 10 && base != 16)
        return 0;
    const WCHAR *p = wide_text();
    if (p == NULL)
        return 0;
    while (IsSpace(*p))
        ++p;
    bool negative = false;
    if (*p == W('+') || *p == W('-'))
        negative = *p++ == W('-');
    if (base == 16 && p[0] == W('0') && (p[1] == W('x') || p[1] == W('X')) && DigitValue(p[2]) < 16)
        p += 2;
    // Accumulate the magnitude and clamp it, as a 32-bit strtol does.
    const unsigned long long limit = negative ? 2147483648ULL : 2147483647ULL;
    unsigned long long magnitude = 0;
    for (; DigitValue(*p) < base; ++p) {
        magnitude = magnitude * unsigned(base) + unsigned(DigitValue(*p));
        if (magnitude > limit)
            magnitude = limit + 1;  // stays above the limit whatever follows
    }
    if (magnitude > limit)
        return negative ? INT_MIN : INT_MAX;
    return negative ? int(-(long long)magnitude) : int(magnitude);
}

// Formatting ---------------------------------------------------------------------------

int tv_str::format(const WCHAR *fmt, ...)
{
    if (fmt == NULL)
        return ERROR_INSUFFICIENT_BUFFER;
    va_list args;

    WCHAR small[kSmallWide];
    va_start(args, fmt);
    int written = _vsnwprintf(small, kSmallWide - 1, fmt, args);
    va_end(args);
    if (written >= 0) {
        _bstr_t buffer = MakeBuffer(small, size_t(written));
        rebuild_utf8(static_cast<const WCHAR *>(buffer), size_t(written));
        adopt(buffer);
        return 0;
    }

    WCHAR *work = new (std::nothrow) WCHAR[kFormatUnits];
    if (work == NULL)
        return ERROR_NOT_ENOUGH_MEMORY;
    va_start(args, fmt);
    written = _vsnwprintf(work, kFormatUnits - 1, fmt, args);
    va_end(args);
    work[kFormatUnits - 1] = 0;
    int result = ERROR_INSUFFICIENT_BUFFER;
    if (written >= 0) {
        try {
            _bstr_t buffer = MakeBuffer(work, size_t(written));
            rebuild_utf8(static_cast<const WCHAR *>(buffer), size_t(written));
            adopt(buffer);
            result = 0;
        } catch (...) {
            delete[] work;
            throw;
        }
    }
    delete[] work;
    return result;
}

int tv_str::format_utf8(const char *fmt, ...)
{
    if (fmt == NULL)
        return ERROR_INSUFFICIENT_BUFFER;
    va_list args;
    char small[kSmallUtf8];
    va_start(args, fmt);
    const int needed = vsnprintf(small, sizeof small, fmt, args);
    va_end(args);
    // The work buffer holds 65,535 bytes and a zero; longer output does not fit.
    if (needed < 0 || needed >= kFormatUnits)
        return ERROR_INSUFFICIENT_BUFFER;
    if (needed < kSmallUtf8) {
        try {
            assign_bytes(small, size_t(needed));
        } catch (const _com_error &) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        return 0;
    }
    char *work = new (std::nothrow) char[size_t(needed) + 1];
    if (work == NULL)
        return ERROR_NOT_ENOUGH_MEMORY;
    va_start(args, fmt);
    const int written = vsnprintf(work, size_t(needed) + 1, fmt, args);
    va_end(args);
    int result = ERROR_INSUFFICIENT_BUFFER;
    if (written == needed) {
        try {
            assign_bytes(work, size_t(written));
            result = 0;
        } catch (const _com_error &) {
            result = ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    delete[] work;
    return result;
}

// Static conversions -----------------------------------------------------------------------

WCHAR *tv_str::utf8_to_wcs(const char *text)
{
    const size_t units = utf8_to_wcs_len(text);
    if (units == 0)
        return NULL;
    WCHAR *wide = new (std::nothrow) WCHAR[units];
    if (wide == NULL)
        RaiseOutOfMemory();
    if (utf8_to_wcs(wide, units, text) != units) {
        delete[] wide;
        return NULL;
    }
    return wide;
}

size_t tv_str::utf8_to_wcs(WCHAR *buffer, size_t size, const char *text)
{
    if (buffer == NULL || text == NULL || size == 0)
        return 0;
    const int cap = size > size_t(INT_MAX) ? INT_MAX : int(size);
    const int written = MultiByteToWideChar(CP_UTF8, 0, text, -1, buffer, cap);
    return written > 0 ? size_t(written) : 0;
}

size_t tv_str::utf8_to_wcs_len(const char *text)
{
    if (text == NULL)
        return 0;
    const int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, NULL, 0);
    return units > 0 ? size_t(units) : 0;
}

char *tv_str::wcs_to_utf8(const WCHAR *text)
{
    const size_t bytes = wcs_to_utf8_len(text);
    if (bytes == 0)
        return NULL;
    char *utf8 = new (std::nothrow) char[bytes];
    if (utf8 == NULL)
        RaiseOutOfMemory();
    if (wcs_to_utf8(utf8, bytes, text) != bytes) {
        delete[] utf8;
        return NULL;
    }
    return utf8;
}

size_t tv_str::wcs_to_utf8(char *buffer, size_t size, const WCHAR *text)
{
    if (buffer == NULL || text == NULL || size == 0)
        return 0;
    const int cap = size > size_t(INT_MAX) ? INT_MAX : int(size);
    const int written = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, cap, NULL, NULL);
    return written > 0 ? size_t(written) : 0;
}

size_t tv_str::wcs_to_utf8_len(const WCHAR *text)
{
    if (text == NULL)
        return 0;
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    return bytes > 0 ? size_t(bytes) : 0;
}
