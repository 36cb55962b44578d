// tv_str: construction, views, the mirror, comparisons and joins. The searches, edits,
// formatting and static conversions are in tv_str_text.cpp.
#include <libwinclass/tv_str.h>

#include <libwinclass/strings/text.h>

#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

using namespace tvstr;

tv_str::tv_str() : m_utf8(m_inline)
{
    // The layout is part of the exported interface: the buffer handle, the mirror pointer,
    // then the inline buffer.
    static_assert(sizeof(_bstr_t) == sizeof(void *), "_bstr_t is one pointer");
    static_assert(offsetof(tv_str, m_text) == 0, "the shared buffer handle comes first");
    static_assert(offsetof(tv_str, m_utf8) == sizeof(void *), "then the mirror pointer");
    static_assert(offsetof(tv_str, m_inline) == 2 * sizeof(void *), "then the inline buffer");
    static_assert(sizeof(m_inline) == 16, "the inline buffer holds 15 bytes and a zero");
    static_assert(sizeof(tv_str) == 2 * sizeof(void *) + 16, "nothing else");
    m_inline[0] = '\0';
}

tv_str::tv_str(const tv_str &other) : m_text(other.m_text), m_utf8(m_inline)
{
    // The inline buffer is the short mirror, or the note of a heap one: copied either way.
    if (other.m_utf8 != other.m_inline) {
        const size_t bytes = MirrorBytes(other.m_utf8, other.m_inline);
        m_utf8 = NewMirror(bytes + 1);
        std::memcpy(m_utf8, other.m_utf8, bytes + 1);
    }
    std::memcpy(m_inline, other.m_inline, kInlineSize);
}

tv_str::tv_str(tv_str &&other) noexcept : m_text(other.m_text), m_utf8(m_inline)
{
    other.m_text = _bstr_t();
    // The inline buffer holds the mirror or the note of a heap one.
    std::memcpy(m_inline, other.m_inline, kInlineSize);
    if (other.m_utf8 != other.m_inline) {
        m_utf8 = other.m_utf8;
        other.m_utf8 = other.m_inline;
    }
    other.m_inline[0] = '\0';
}

tv_str::tv_str(const WCHAR *text) : m_utf8(m_inline)
{
    m_inline[0] = '\0';
    const size_t units = text != NULL ? UnitLength(text) : 0;
    _bstr_t buffer = text != NULL ? MakeBuffer(text, units) : MakeNullBuffer();
    rebuild_utf8(text, units);
    adopt(buffer);
}

tv_str::tv_str(const char *text, tcs_cp_t codePage) : m_utf8(m_inline)
{
    m_inline[0] = '\0';
    BSTR converted = ansi_to_wcs(text, codePage);
    if (converted == NULL)
        return;
    _bstr_t buffer = AttachBuffer(converted);
    rebuild_utf8(converted, SysStringLen(converted));
    adopt(buffer);
}

tv_str::~tv_str()
{
    if (m_utf8 != m_inline)
        FreeMirror(m_utf8);
}

tv_str &tv_str::operator=(const tv_str &other)
{
    if (this != &other) {
        set_utf8_nc(other.m_utf8);
        m_text = other.m_text;
    }
    return *this;
}

tv_str &tv_str::operator=(tv_str &&other) noexcept
{
    if (this != &other) {
        m_text = other.m_text;
        other.m_text = _bstr_t();
        if (m_utf8 != m_inline)
            FreeMirror(m_utf8);
        std::memcpy(m_inline, other.m_inline, kInlineSize);
        if (other.m_utf8 == other.m_inline) {
            m_utf8 = m_inline;
        } else {
            m_utf8 = other.m_utf8;
            other.m_utf8 = other.m_inline;
        }
        other.m_inline[0] = '\0';
    }
    return *this;
}

tv_str &tv_str::operator=(const WCHAR *text)
{
    const size_t units = text != NULL ? UnitLength(text) : 0;
    _bstr_t buffer = text != NULL ? MakeBuffer(text, units) : MakeNullBuffer();
    rebuild_utf8(text, units);
    adopt(buffer);
    return *this;
}

tv_str &tv_str::set_utf8(const char *text)
{
    if (text == NULL)
        text = "";
    assign_bytes(text, std::strlen(text));
    return *this;
}

// The UTF-8 bytes become the text. Well-formed bytes are their own mirror; anything else
// goes through the platform's conversion and back.
void tv_str::assign_bytes(const char *utf8, size_t byteLength)
{
    bool wellFormed = false;
    _bstr_t buffer = WideFromUtf8(utf8, byteLength, wellFormed);
    const WCHAR *wide = static_cast<const WCHAR *>(buffer);
    if (wellFormed) {
        // Copy before anything is freed: the bytes may be this object's own mirror.
        char *target = byteLength + 1 <= kInlineSize ? m_inline : NewMirror(byteLength + 1);
        std::memmove(target, utf8, byteLength);
        target[byteLength] = '\0';
        if (m_utf8 != m_inline && m_utf8 != target)
            FreeMirror(m_utf8);
        m_utf8 = target;
        NoteMirror(m_utf8, m_inline, byteLength, true);
    } else {
        rebuild_utf8(wide, SysStringLen(const_cast<BSTR>(wide)));
    }
    adopt(buffer);
}

void tv_str::adopt(_bstr_t &buffer) { m_text = buffer; }

const WCHAR *tv_str::wide_text() const { return static_cast<const WCHAR *>(m_text); }

BSTR tv_str::ansi_to_wcs(const char *text, tcs_cp_t codePage)
{
    if (text == NULL)
        return NULL;
    const int withTerminator = MultiByteToWideChar(codePage, 0, text, -1, NULL, 0);
    if (withTerminator <= 1)
        return NULL;
    BSTR converted = SysAllocStringLen(NULL, UINT(withTerminator - 1));
    if (converted == NULL)
        RaiseOutOfMemory();
    if (MultiByteToWideChar(codePage, 0, text, -1, converted, withTerminator) != withTerminator) {
        SysFreeString(converted);
        return NULL;
    }
    return converted;
}

void tv_str::assign_utf8_ptr(size_t byteLength)
{
    char *target = byteLength + 1 <= kInlineSize ? m_inline : NewMirror(byteLength + 1);
    if (m_utf8 != m_inline && m_utf8 != target)
        FreeMirror(m_utf8);
    m_utf8 = target;
    NoteMirror(m_utf8, m_inline, byteLength, false);
}

void tv_str::set_utf8_nc(const char *utf8)
{
    if (utf8 == m_utf8)
        return;
    const size_t byteLength = std::strlen(utf8);
    char *target = byteLength + 1 <= kInlineSize ? m_inline : NewMirror(byteLength + 1);
    std::memmove(target, utf8, byteLength + 1);
    if (m_utf8 != m_inline && m_utf8 != target)
        FreeMirror(m_utf8);
    m_utf8 = target;
    NoteMirror(m_utf8, m_inline, byteLength, false);
}

void tv_str::set_utf8_wc(const WCHAR *text) { rebuild_utf8(text, text != NULL ? UnitLength(text) : 0); }

void tv_str::rebuild_utf8(const WCHAR *text, size_t units)
{
    if (text == NULL || units == 0) {
        assign_utf8_ptr(0);
        m_utf8[0] = '\0';
        return;
    }
    if (IsAscii(text, units)) {
        assign_utf8_ptr(units);
        NarrowAscii(text, units, m_utf8);
        NoteMirror(m_utf8, m_inline, units, true);
        return;
    }
    const size_t byteLength = Utf8Length(text, units);
    assign_utf8_ptr(byteLength);
    EncodeUtf8(text, units, m_utf8, byteLength);
}

tv_str::operator const WCHAR *() const { return static_cast<const WCHAR *>(m_text); }

tv_str::operator WCHAR *() const { return static_cast<WCHAR *>(m_text); }

tv_str::operator const char *() const { return static_cast<const char *>(m_text); }

tv_str::operator char *() const { return static_cast<char *>(m_text); }

tv_str::operator _bstr_t &() { return m_text; }

tv_str::operator const _bstr_t &() const { return m_text; }

const char *tv_str::get_utf8() const { return m_utf8; }

bool tv_str::operator==(const tv_str &other) const
{
    const size_t units = m_text.length();
    return units == other.m_text.length() && (units == 0 || std::memcmp(wide_text(), other.wide_text(), units * sizeof(WCHAR)) == 0);
}

bool tv_str::operator!=(const tv_str &other) const { return !(*this == other); }

bool tv_str::operator<(const tv_str &other) const
{
    return CompareUnits(wide_text(), m_text.length(), other.wide_text(), other.m_text.length()) < 0;
}

bool tv_str::operator<=(const tv_str &other) const { return !(other < *this); }

bool tv_str::operator>(const tv_str &other) const { return other < *this; }

bool tv_str::operator>=(const tv_str &other) const { return !(*this < other); }

bool tv_str::operator==(char c) const
{
    // One UTF-8 byte is one ASCII character, the same byte in every ANSI code page.
    return m_utf8[0] != '\0' && m_utf8[1] == '\0' && m_utf8[0] == c;
}

bool tv_str::operator!() const { return !m_text; }

// this + units: the mirror of the join is the two mirrors joined, unless the seam pairs a
// high surrogate with a low one, which the platform encodes as one character.
tv_str tv_str::operator+(const tv_str &other) const
{
    tv_str joined;
    const size_t leftUnits = m_text.length();
    const size_t rightUnits = other.m_text.length();
    const WCHAR *left = wide_text();
    const WCHAR *right = other.wide_text();
    _bstr_t buffer = JoinBuffer(left, leftUnits, NULL, 0, right, rightUnits);
    const WCHAR *wide = static_cast<const WCHAR *>(buffer);
    if (PairsAtSeam(left, leftUnits, right, rightUnits)) {
        joined.rebuild_utf8(wide, leftUnits + rightUnits);
    } else {
        const size_t leftBytes = MirrorBytes(m_utf8, m_inline);
        const size_t rightBytes = MirrorBytes(other.m_utf8, other.m_inline);
        joined.assign_utf8_ptr(leftBytes + rightBytes);
        std::memcpy(joined.m_utf8, m_utf8, leftBytes);
        std::memcpy(joined.m_utf8 + leftBytes, other.m_utf8, rightBytes + 1);
    }
    joined.adopt(buffer);
    return joined;
}

tv_str &tv_str::operator+=(const tv_str &other)
{
    *this = *this + other;
    return *this;
}

tv_str &tv_str::operator+=(const WCHAR *text)
{
    const size_t leftUnits = m_text.length();
    const size_t rightUnits = text != NULL ? UnitLength(text) : 0;
    const WCHAR *left = wide_text();
    _bstr_t buffer = JoinBuffer(left, leftUnits, NULL, 0, text, rightUnits);
    const WCHAR *wide = static_cast<const WCHAR *>(buffer);
    if (PairsAtSeam(left, leftUnits, text, rightUnits) || !IsAscii(text, rightUnits)) {
        rebuild_utf8(wide, leftUnits + rightUnits);
    } else {
        // An ASCII tail: append its bytes to the mirror.
        const size_t leftBytes = MirrorBytes(m_utf8, m_inline);
        if (leftBytes + rightUnits + 1 <= kInlineSize) {
            NarrowAscii(text, rightUnits, m_utf8 + leftBytes);
        } else {
            char *target = NewMirror(leftBytes + rightUnits + 1);
            std::memcpy(target, m_utf8, leftBytes);
            NarrowAscii(text, rightUnits, target + leftBytes);
            if (m_utf8 != m_inline)
                FreeMirror(m_utf8);
            m_utf8 = target;
            NoteMirror(m_utf8, m_inline, leftBytes + rightUnits, false);
        }
    }
    adopt(buffer);
    return *this;
}

// One named result on every path, so that it is built in the caller's object: moving a
// tv_str costs two reference-count operations on the shared buffer.
tv_str tv_str::concat(const tv_str &other, char separator) const
{
    tv_str joined;
    const size_t leftUnits = BufferUnits(m_text);
    const size_t rightUnits = BufferUnits(other.m_text);
    if (leftUnits == 0 || rightUnits == 0) {
        joined = leftUnits == 0 ? other : *this;
        return joined;
    }
    const size_t leftBytes = MirrorBytes(m_utf8, m_inline);
    const size_t rightBytes = MirrorBytes(other.m_utf8, other.m_inline);
    const bool withSeparator = separator != '\0' && m_utf8[leftBytes - 1] != separator && other.m_utf8[0] != separator;
    const size_t separatorBytes = withSeparator ? 1 : 0;
    const size_t total = leftBytes + separatorBytes + rightBytes;

    if (static_cast<unsigned char>(separator) < 0x80 && MirrorExact(m_utf8, m_inline, leftBytes, leftUnits) &&
        MirrorExact(other.m_utf8, other.m_inline, rightBytes, rightUnits)) {
        // Without lone surrogates each wide text is exactly what its mirror decodes to, so
        // the wide texts and the mirrors can be joined side by side.
        const size_t units = leftUnits + separatorBytes + rightUnits;
        BSTR raw = units <= 0x3FFFFFF0 ? SysAllocStringLen(NULL, UINT(units)) : NULL;
        if (raw == NULL)
            return joined;
        std::memcpy(raw, static_cast<const WCHAR *>(m_text), leftUnits * sizeof(WCHAR));
        if (withSeparator)
            raw[leftUnits] = WCHAR(separator);
        std::memcpy(raw + leftUnits + separatorBytes, static_cast<const WCHAR *>(other.m_text), rightUnits * sizeof(WCHAR));
        AttachInto(joined.m_text, raw);
        joined.assign_utf8_ptr(total);
        std::memcpy(joined.m_utf8, m_utf8, leftBytes);
        if (withSeparator)
            joined.m_utf8[leftBytes] = separator;
        std::memcpy(joined.m_utf8 + leftBytes + separatorBytes, other.m_utf8, rightBytes + 1);
        NoteMirror(joined.m_utf8, joined.m_inline, total, true);
        return joined;
    }
    // The general case is the definition: join the UTF-8 texts and take them as UTF-8.
    char *work = new (std::nothrow) char[total];
    if (work == NULL)
        return joined;
    std::memcpy(work, m_utf8, leftBytes);
    if (withSeparator)
        work[leftBytes] = separator;
    std::memcpy(work + leftBytes + separatorBytes, other.m_utf8, rightBytes);
    try {
        joined.assign_bytes(work, total);
    } catch (...) {
        delete[] work;
        throw;
    }
    delete[] work;
    return joined;
}

tv_str tv_str::operator/(const tv_str &other) const
{
    const size_t bytes = MirrorBytes(m_utf8, m_inline);
    const char tail = bytes == 0 ? '\0' : m_utf8[bytes - 1];
    if (tail == '\\' && other.first() == '\\')
        return concat(other.substr(1), '\0');
    if (tail == '/' || (m_utf8[0] == '\\' && m_utf8[1] == '\0'))
        return concat(other, '\0');
    return concat(other, '\\');
}

void tv_str::set_trailing_dirsep()
{
    if (!has_trailing_dirsep())
        *this += W("\\");
}

void tv_str::clear_trailing_dirsep()
{
    if (!has_trailing_dirsep())
        return;
    const size_t units = m_text.length();
    _bstr_t buffer = MakeBuffer(wide_text(), units - 1);
    // A trailing backslash is one byte of the mirror.
    const size_t bytes = MirrorBytes(m_utf8, m_inline) - 1;
    char *target = bytes + 1 <= kInlineSize ? m_inline : NewMirror(bytes + 1);
    std::memmove(target, m_utf8, bytes);
    target[bytes] = '\0';
    if (m_utf8 != m_inline && m_utf8 != target)
        FreeMirror(m_utf8);
    m_utf8 = target;
    NoteMirror(m_utf8, m_inline, bytes, false);
    adopt(buffer);
}

bool tv_str::has_trailing_dirsep() const { return last() == '\\'; }

tv_str tv_str::stripdir() const
{
    const size_t bytes = MirrorBytes(m_utf8, m_inline);
    if (bytes < 2)
        return *this;
    for (size_t i = bytes - 1; i-- > 0;) {
        if (m_utf8[i] == '\\')
            return substr(i + 1);
    }
    return *this;
}

tv_str tv_str::get_dotdot() const
{
    if (std::strchr(m_utf8, '\\') == NULL)
        return tv_str();
    tv_str before;
    tv_str after;
    split(before, after, true, '\\');
    return before;
}

tv_str tv_str::extension() const
{
    const char *dot = std::strrchr(m_utf8, '.');
    if (dot == NULL)
        return tv_str();
    const size_t bytes = MirrorBytes(m_utf8, m_inline);
    size_t backslash = 0;
    for (size_t i = bytes - 1; i-- > 0;) {
        if (m_utf8[i] == '\\') {
            backslash = i;
            break;
        }
    }
    const size_t dotPosition = size_t(dot - m_utf8);
    if (dotPosition < backslash)
        return tv_str();
    return substr(dotPosition);
}

tv_str tv_str::unc_path() const
{
    if (is_empty())
        return tv_str();
    return tv_str(W("\\\\?\\")).concat(*this, '\\');
}
