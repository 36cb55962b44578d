// Text helpers shared by the string classes: buffers, ASCII folding, UTF-8 through the
// platform's code-page conversion. Internal to the library.
#pragma once

#include <platform/tvplatform.h>

#include <comdef.h>
#include <comutil.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace tvstr {

// Raises the COM error for exhausted memory, as _bstr_t does.
[[noreturn]] void RaiseOutOfMemory();

// A heap block for a tv_str's mirror, freed with FreeMirror; the COM error without memory.
// Straight from the C heap: a join makes one of these, and the layers of operator new[]
// cost it a tenth of its time.
inline char *NewMirror(size_t size)
{
    char *block = static_cast<char *>(std::malloc(size));
    if (block == NULL)
        RaiseOutOfMemory();
    return block;
}

inline void FreeMirror(char *block) { std::free(block); }

inline size_t UnitLength(const WCHAR *text)
{
    size_t units = 0;
    while (text[units] != 0)
        ++units;
    return units;
}

// Eight bytes at a time: these scans run over every text that is built. A tail shorter
// than a word is tested as the last whole word, which overlaps the words before it.
inline bool IsAscii(const WCHAR *text, size_t units)
{
    if (units < 4) {
        for (size_t i = 0; i < units; ++i) {
            if (text[i] >= 0x80)
                return false;
        }
        return true;
    }
    uint64_t word;
    for (size_t i = 0; i + 4 <= units; i += 4) {
        std::memcpy(&word, text + i, sizeof word);
        if ((word & 0xFF80FF80FF80FF80ULL) != 0)
            return false;
    }
    std::memcpy(&word, text + units - 4, sizeof word);
    return (word & 0xFF80FF80FF80FF80ULL) == 0;
}

inline bool IsAscii(const char *bytes, size_t count)
{
    if (count < 8) {
        for (size_t i = 0; i < count; ++i) {
            if (static_cast<unsigned char>(bytes[i]) >= 0x80)
                return false;
        }
        return true;
    }
    uint64_t word;
    for (size_t i = 0; i + 8 <= count; i += 8) {
        std::memcpy(&word, bytes + i, sizeof word);
        if ((word & 0x8080808080808080ULL) != 0)
            return false;
    }
    std::memcpy(&word, bytes + count - 8, sizeof word);
    return (word & 0x8080808080808080ULL) == 0;
}

// ASCII units to bytes, terminated.
inline void NarrowAscii(const WCHAR *text, size_t units, char *out)
{
    for (size_t i = 0; i < units; ++i)
        out[i] = char(text[i]);
    out[units] = '\0';
}

// True when the UTF-8 text holds U+FFFD (EF BF BD), which is what the platform makes of a
// lone surrogate. Without it, decoding a mirror gives back exactly the wide text.
// Inline, as it runs on every join: memchr does the scanning.
inline bool HasReplacement(const char *utf8, size_t bytes)
{
    const char *end = utf8 + bytes;
    for (const char *p = utf8; p + 2 < end; ++p) {
        p = static_cast<const char *>(std::memchr(p, '\xEF', size_t(end - 2 - p)));
        if (p == NULL)
            return false;
        if (p[1] == '\xBF' && p[2] == '\xBD')
            return true;
    }
    return false;
}

// Units of a shared buffer, read from the byte count a BSTR keeps just before its text (0
// without text): what SysStringLen returns, without the call.
inline size_t BufferUnits(const _bstr_t &buffer)
{
    const WCHAR *text = static_cast<const WCHAR *>(buffer);
    if (text == NULL)
        return 0;
    UINT bytes;
    std::memcpy(&bytes, reinterpret_cast<const char *>(text) - sizeof bytes, sizeof bytes);
    return bytes / sizeof(WCHAR);
}

// While a tv_str's mirror is on the heap its inline buffer is free. It keeps the mirror's
// byte count, and whether the wide text is known to hold no lone surrogate, so that copies
// and joins of long texts need not scan the mirror again. An inline mirror is scanned: it
// is at most 15 bytes.
inline void NoteMirror(const char *utf8, char *inlineBuffer, size_t bytes, bool exact)
{
    if (utf8 == inlineBuffer)
        return;
    std::memcpy(inlineBuffer, &bytes, sizeof bytes);
    inlineBuffer[sizeof bytes] = exact ? 1 : 0;
}

inline size_t MirrorBytes(const char *utf8, const char *inlineBuffer)
{
    if (utf8 == inlineBuffer)
        return std::strlen(utf8);
    size_t bytes;
    std::memcpy(&bytes, inlineBuffer, sizeof bytes);
    return bytes;
}

// True when the wide text of `units` units holds no lone surrogate, so that it is exactly
// what its mirror of `bytes` bytes decodes to. As many bytes as units is ASCII: every other
// unit takes two bytes or more, a lone surrogate three.
inline bool MirrorExact(const char *utf8, const char *inlineBuffer, size_t bytes, size_t units)
{
    if (bytes == units || (utf8 != inlineBuffer && inlineBuffer[sizeof(size_t)] == 1))
        return true;
    return !HasReplacement(utf8, bytes);
}

// True when joining the two texts makes a surrogate pair at the seam.
inline bool PairsAtSeam(const WCHAR *left, size_t leftUnits, const WCHAR *right, size_t rightUnits)
{
    return leftUnits > 0 && rightUnits > 0 && left[leftUnits - 1] >= 0xD800 && left[leftUnits - 1] <= 0xDBFF &&
           right[0] >= 0xDC00 && right[0] <= 0xDFFF;
}

inline char FoldByte(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }
inline WCHAR FoldUnit(WCHAR u) { return u >= W('A') && u <= W('Z') ? WCHAR(u - W('A') + W('a')) : u; }

// Ordinal comparison of two unit ranges: negative, 0 or positive.
int CompareUnits(const WCHAR *left, size_t leftUnits, const WCHAR *right, size_t rightUnits);

// A shared buffer holding a copy of the units (terminated); the COM error without memory.
_bstr_t MakeBuffer(const WCHAR *text, size_t units);
// A shared buffer whose text is NULL.
_bstr_t MakeNullBuffer();
// A shared buffer taking ownership of the BSTR (freed here if the buffer cannot be made).
_bstr_t AttachBuffer(BSTR text);
// Makes the target (holding nothing) the BSTR's only owner. Unlike assigning a buffer from
// AttachBuffer it touches no reference count; the BSTR is freed if the buffer cannot be made.
void AttachInto(_bstr_t &target, BSTR text);
// first + middle + last in one shared buffer.
_bstr_t JoinBuffer(const WCHAR *first, size_t firstUnits, const WCHAR *middle, size_t middleUnits,
                   const WCHAR *last, size_t lastUnits);

// UTF-8 bytes of the units as the platform encodes them (a lone surrogate is U+FFFD).
size_t Utf8Length(const WCHAR *text, size_t units);
// Writes exactly `bytes` bytes (from Utf8Length) and a terminator.
void EncodeUtf8(const WCHAR *text, size_t units, char *out, size_t bytes);
// The wide text of UTF-8 bytes as a shared buffer ("" for no bytes). wellFormed tells
// whether the bytes were valid UTF-8, in which case they are exactly the text's mirror;
// ill-formed sequences become U+FFFD.
_bstr_t WideFromUtf8(const char *bytes, size_t count, bool &wellFormed);

} // namespace tvstr
