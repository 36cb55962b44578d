#include <libwinclass/strings/text.h>

#include <climits>
#include <cstring>
#include <new>

namespace tvstr {

namespace {

// What a BSTR can hold, and what the code-page conversions can count.
const size_t kMaxUnits = 0x3FFFFFF0;

// A failed attempt must not disturb the caller's last error.
class LastErrorKeeper {
public:
    LastErrorKeeper() : m_saved(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(m_saved); }
    LastErrorKeeper(const LastErrorKeeper &) = delete;
    LastErrorKeeper &operator=(const LastErrorKeeper &) = delete;

private:
    DWORD m_saved;
};

// Bytes of the well-formed UTF-8 sequence at p (1 to 4); 0 when it is ill-formed or cut
// short. Well-formed excludes overlong forms, encoded surrogates and values past U+10FFFF.
size_t SequenceLength(const unsigned char *p, const unsigned char *end)
{
    const unsigned char lead = p[0];
    if (lead < 0x80)
        return 1;
    const size_t left = size_t(end - p);
    if (lead >= 0xC2 && lead <= 0xDF)
        return left >= 2 && (p[1] & 0xC0) == 0x80 ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (left < 3 || (p[2] & 0xC0) != 0x80)
            return 0;
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        return p[1] >= low && p[1] <= high ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (left < 4 || (p[2] & 0xC0) != 0x80 || (p[3] & 0xC0) != 0x80)
            return 0;
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        return p[1] >= low && p[1] <= high ? 4 : 0;
    }
    return 0;
}

// Units of well-formed UTF-8 (two for a character past U+FFFF); false at the first
// ill-formed sequence. Well-formed text converts the same on every platform, so it needs
// no code-page call; anything else goes to the platform for its replacement rules.
bool CountStrict(const char *bytes, size_t count, size_t &units)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes);
    const unsigned char *end = p + count;
    units = 0;
    while (p < end) {
        const size_t length = SequenceLength(p, end);
        if (length == 0)
            return false;
        units += length == 4 ? 2 : 1;
        p += length;
    }
    return true;
}

// Decodes bytes that CountStrict accepted.
void DecodeStrict(const char *bytes, size_t count, WCHAR *out)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes);
    const unsigned char *end = p + count;
    while (p < end) {
        const unsigned char lead = *p;
        if (lead < 0x80) {
            *out++ = WCHAR(lead);
            p += 1;
        } else if (lead < 0xE0) {
            *out++ = WCHAR(((lead & 0x1F) << 6) | (p[1] & 0x3F));
            p += 2;
        } else if (lead < 0xF0) {
            *out++ = WCHAR(((lead & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
            p += 3;
        } else {
            const uint32_t value =
                (uint32_t(lead & 0x07) << 18) | (uint32_t(p[1] & 0x3F) << 12) | (uint32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
            *out++ = WCHAR(0xD800 + ((value - 0x10000) >> 10));
            *out++ = WCHAR(0xDC00 + ((value - 0x10000) & 0x3FF));
            p += 4;
        }
    }
}

bool IsHighSurrogate(WCHAR u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(WCHAR u) { return u >= 0xDC00 && u <= 0xDFFF; }

// UTF-8 bytes of units holding no lone surrogate; false when one is found (the platform
// decides what it becomes).
bool MeasureStrict(const WCHAR *text, size_t units, size_t &bytes)
{
    bytes = 0;
    for (size_t i = 0; i < units; ++i) {
        const WCHAR u = text[i];
        if (u < 0x80) {
            bytes += 1;
        } else if (u < 0x800) {
            bytes += 2;
        } else if (IsHighSurrogate(u) && i + 1 < units && IsLowSurrogate(text[i + 1])) {
            bytes += 4;
            ++i;
        } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
            return false;
        } else {
            bytes += 3;
        }
    }
    return true;
}

// Encodes units holding no lone surrogate; false at the first one.
bool EncodeStrict(const WCHAR *text, size_t units, char *out)
{
    for (size_t i = 0; i < units; ++i) {
        const uint32_t u = text[i];
        if (u < 0x80) {
            *out++ = char(u);
        } else if (u < 0x800) {
            *out++ = char(0xC0 | (u >> 6));
            *out++ = char(0x80 | (u & 0x3F));
        } else if (IsHighSurrogate(WCHAR(u)) && i + 1 < units && IsLowSurrogate(text[i + 1])) {
            const uint32_t value = 0x10000 + ((u - 0xD800) << 10) + (uint32_t(text[++i]) - 0xDC00);
            *out++ = char(0xF0 | (value >> 18));
            *out++ = char(0x80 | ((value >> 12) & 0x3F));
            *out++ = char(0x80 | ((value >> 6) & 0x3F));
            *out++ = char(0x80 | (value & 0x3F));
        } else if (IsHighSurrogate(WCHAR(u)) || IsLowSurrogate(WCHAR(u))) {
            return false;
        } else {
            *out++ = char(0xE0 | (u >> 12));
            *out++ = char(0x80 | ((u >> 6) & 0x3F));
            *out++ = char(0x80 | (u & 0x3F));
        }
    }
    return true;
}

} // namespace

void RaiseOutOfMemory()
{
    _com_issue_error(E_OUTOFMEMORY);
    // A handler installed with _set_com_error_handler may return; the caller cannot go on.
    throw _com_error(E_OUTOFMEMORY);
}

int CompareUnits(const WCHAR *left, size_t leftUnits, const WCHAR *right, size_t rightUnits)
{
    const size_t common = leftUnits < rightUnits ? leftUnits : rightUnits;
    for (size_t i = 0; i < common; ++i) {
        if (left[i] != right[i])
            return left[i] < right[i] ? -1 : 1;
    }
    return leftUnits < rightUnits ? -1 : (leftUnits == rightUnits ? 0 : 1);
}

_bstr_t AttachBuffer(BSTR text)
{
    try {
        return _bstr_t(text, false);
    } catch (const std::bad_alloc &) {
        SysFreeString(text);
    }
    RaiseOutOfMemory();
}

void AttachInto(_bstr_t &target, BSTR text)
{
    try {
        target.Attach(text);
        return;
    } catch (const std::bad_alloc &) {
        SysFreeString(text);
    }
    RaiseOutOfMemory();
}

_bstr_t MakeBuffer(const WCHAR *text, size_t units)
{
    if (units > kMaxUnits)
        RaiseOutOfMemory();
    BSTR copy = SysAllocStringLen(text, UINT(units));
    if (copy == NULL)
        RaiseOutOfMemory();
    return AttachBuffer(copy);
}

_bstr_t MakeNullBuffer() { return AttachBuffer(NULL); }

_bstr_t JoinBuffer(const WCHAR *first, size_t firstUnits, const WCHAR *middle, size_t middleUnits,
                   const WCHAR *last, size_t lastUnits)
{
    if (firstUnits > kMaxUnits || middleUnits > kMaxUnits || lastUnits > kMaxUnits ||
        firstUnits + middleUnits + lastUnits > kMaxUnits)
        RaiseOutOfMemory();
    BSTR joined = SysAllocStringLen(NULL, UINT(firstUnits + middleUnits + lastUnits));
    if (joined == NULL)
        RaiseOutOfMemory();
    WCHAR *out = joined;
    if (firstUnits > 0)
        std::memcpy(out, first, firstUnits * sizeof(WCHAR));
    out += firstUnits;
    if (middleUnits > 0)
        std::memcpy(out, middle, middleUnits * sizeof(WCHAR));
    out += middleUnits;
    if (lastUnits > 0)
        std::memcpy(out, last, lastUnits * sizeof(WCHAR));
    out[lastUnits] = 0;
    return AttachBuffer(joined);
}

size_t Utf8Length(const WCHAR *text, size_t units)
{
    if (units == 0)
        return 0;
    if (units > kMaxUnits)
        RaiseOutOfMemory();
    size_t strict;
    if (MeasureStrict(text, units, strict))
        return strict;
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, int(units), NULL, 0, NULL, NULL);
    if (bytes <= 0)
        RaiseOutOfMemory();  // the conversion fails for nothing else
    return size_t(bytes);
}

void EncodeUtf8(const WCHAR *text, size_t units, char *out, size_t bytes)
{
    // `bytes` came from Utf8Length, so a text without lone surrogates fills it exactly.
    if (EncodeStrict(text, units, out)) {
        out[bytes] = '\0';
        return;
    }
    if (units > 0 && WideCharToMultiByte(CP_UTF8, 0, text, int(units), out, int(bytes), NULL, NULL) != int(bytes))
        RaiseOutOfMemory();
    out[bytes] = '\0';
}

_bstr_t WideFromUtf8(const char *bytes, size_t count, bool &wellFormed)
{
    wellFormed = true;
    if (count > kMaxUnits)
        RaiseOutOfMemory();
    if (IsAscii(bytes, count)) {
        BSTR wide = SysAllocStringLen(NULL, UINT(count));
        if (wide == NULL)
            RaiseOutOfMemory();
        for (size_t i = 0; i < count; ++i)
            wide[i] = WCHAR(bytes[i]);
        wide[count] = 0;
        return AttachBuffer(wide);
    }
    size_t strictUnits;
    if (CountStrict(bytes, count, strictUnits)) {
        BSTR wide = SysAllocStringLen(NULL, UINT(strictUnits));
        if (wide == NULL)
            RaiseOutOfMemory();
        DecodeStrict(bytes, count, wide);
        wide[strictUnits] = 0;
        return AttachBuffer(wide);
    }
    DWORD flags = MB_ERR_INVALID_CHARS;
    int units;
    {
        LastErrorKeeper keeper;
        units = MultiByteToWideChar(CP_UTF8, flags, bytes, int(count), NULL, 0);
    }
    if (units <= 0) {
        wellFormed = false;
        flags = 0;
        units = MultiByteToWideChar(CP_UTF8, flags, bytes, int(count), NULL, 0);
        if (units <= 0)
            RaiseOutOfMemory();
    }
    BSTR wide = SysAllocStringLen(NULL, UINT(units));
    if (wide == NULL)
        RaiseOutOfMemory();
    if (MultiByteToWideChar(CP_UTF8, flags, bytes, int(count), wide, units) != units) {
        SysFreeString(wide);
        RaiseOutOfMemory();
    }
    wide[units] = 0;
    return AttachBuffer(wide);
}

} // namespace tvstr
