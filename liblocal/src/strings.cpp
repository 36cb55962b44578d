// Bounded copies, comparisons, printf into buffers, and UTF-8/wide conversions.
#include <liblocal/vostrings.h>
#include <liblocal/xalloc.h>

#include "internal.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// The longest prefix of text[0, length) that fits in size - 1 units without cutting a
// UTF-8 character in two.
size_t Utf8FitLength(const char *text, size_t length, size_t size)
{
    if (length < size)
        return length;
    size_t cut = size - 1;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

// The same for wide text: a surrogate pair stays whole.
size_t WideFitLength(const WCHAR *text, size_t length, size_t size)
{
    if (length < size)
        return length;
    size_t cut = size - 1;
    if (cut > 0 && text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF && text[cut] >= 0xDC00 &&
        text[cut] <= 0xDFFF)
        --cut;
    return cut;
}

size_t WideLength(const WCHAR *text)
{
    size_t length = 0;
    while (text[length] != 0)
        ++length;
    return length;
}

size_t WideBoundedLength(const WCHAR *text, size_t size)
{
    size_t length = 0;
    while (length < size && text[length] != 0)
        ++length;
    return length;
}

// Copies what fits of text[0, length) to dst (size above zero) and terminates it.
template <typename Char, typename Fit>
void CopyFitting(Char *dst, const Char *text, size_t length, size_t size, Fit fit)
{
    const size_t copied = fit(text, length, size);
    std::memmove(dst, text, copied * sizeof(Char));
    dst[copied] = 0;
}

} // namespace

namespace vo {

std::string FormatV(const char *format, va_list args)
{
    va_list sizing;
    va_copy(sizing, args);
    const int length = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    if (length <= 0)
        return std::string();
    std::string text(size_t(length) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, args);
    text.resize(size_t(length));
    return text;
}

} // namespace vo

size_t vo_strlcpy(char *dst, const char *src, size_t size)
{
    const char *text = src ? src : "";
    const size_t length = std::strlen(text);
    if (dst != nullptr && size > 0)
        CopyFitting(dst, text, length, size, Utf8FitLength);
    return length;
}

size_t vo_strlcat(char *dst, const char *src, size_t size)
{
    const char *text = src ? src : "";
    const size_t length = std::strlen(text);
    if (dst == nullptr || size == 0)
        return size + length;
    const size_t used = strnlen(dst, size);
    if (used == size)
        return size + length;
    CopyFitting(dst + used, text, length, size - used, Utf8FitLength);
    return used + length;
}

size_t vo_wcslcpy(WCHAR *dst, const WCHAR *src, size_t size)
{
    static const WCHAR empty[1] = {0};
    const WCHAR *text = src ? src : empty;
    const size_t length = WideLength(text);
    if (dst != nullptr && size > 0)
        CopyFitting(dst, text, length, size, WideFitLength);
    return length;
}

size_t vo_wcslcat(WCHAR *dst, const WCHAR *src, size_t size)
{
    static const WCHAR empty[1] = {0};
    const WCHAR *text = src ? src : empty;
    const size_t length = WideLength(text);
    if (dst == nullptr || size == 0)
        return size + length;
    const size_t used = WideBoundedLength(dst, size);
    if (used == size)
        return size + length;
    CopyFitting(dst + used, text, length, size - used, WideFitLength);
    return used + length;
}

size_t vo_strlen(const char *text) { return text ? std::strlen(text) : 0; }

int vo_strcmp(const char *a, const char *b)
{
    if (a == nullptr || b == nullptr)
        return (a != nullptr) - (b != nullptr);
    return std::strcmp(a, b);
}

int vo_strcasecmp(const char *a, const char *b)
{
    if (a == nullptr || b == nullptr)
        return (a != nullptr) - (b != nullptr);
    while (*a != '\0' && *b != '\0') {
        const char32_t foldedA = vo::FoldCase(vo::NextCodePoint(a));
        const char32_t foldedB = vo::FoldCase(vo::NextCodePoint(b));
        if (foldedA != foldedB)
            return foldedA < foldedB ? -1 : 1;
    }
    return (*a != '\0') - (*b != '\0');
}

int vo_sprintf(char *buffer, const char *format, ...)
{
    if (buffer == nullptr || format == nullptr)
        return -1;
    va_list args;
    va_start(args, format);
    const int length = std::vsprintf(buffer, format, args);
    va_end(args);
    return length;
}

int vo_snprintf(char *buffer, size_t size, const char *format, ...)
{
    if (format == nullptr) {
        if (buffer != nullptr && size > 0)
            buffer[0] = '\0';
        return -1;
    }
    try {
        va_list args;
        va_start(args, format);
        const std::string text = vo::FormatV(format, args);
        va_end(args);
        if (buffer != nullptr && size > 0)
            CopyFitting(buffer, text.data(), text.size(), size, Utf8FitLength);
        return text.size() > size_t(INT_MAX) ? -1 : int(text.size());
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}

int vo_utf8s_to_wcs(WCHAR *dst, const char *src, size_t size)
{
    if (src == nullptr || std::strlen(src) > size_t(INT_MAX)) {
        if (dst != nullptr && size > 0)
            dst[0] = 0;
        return -1;
    }
    try {
        const wstr wide = vo::Widen(src);
        if (dst != nullptr && size > 0)
            CopyFitting(dst, wide.data(), wide.size(), size, WideFitLength);
        return int(wide.size());
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}

int vo_wcs_to_utf8s(char *dst, const WCHAR *src, size_t size, int flags)
{
    const auto fail = [&] {
        if (dst != nullptr && size > 0)
            dst[0] = '\0';
        return -1;
    };
    if (src == nullptr || (flags & ~VO_CONV_STRICT) != 0)
        return fail();
    const size_t length = WideLength(src);
    if (length > size_t(INT_MAX))
        return fail();
    try {
        std::string narrow;
        if (length > 0) {
            const DWORD conversionFlags = (flags & VO_CONV_STRICT) ? WC_ERR_INVALID_CHARS : 0;
            const int bytes =
                WideCharToMultiByte(CP_UTF8, conversionFlags, src, int(length), nullptr, 0, nullptr, nullptr);
            if (bytes <= 0)
                return fail();
            narrow.assign(size_t(bytes), '\0');
            WideCharToMultiByte(CP_UTF8, conversionFlags, src, int(length), &narrow[0], bytes, nullptr, nullptr);
        }
        if (narrow.size() > size_t(INT_MAX))
            return fail();
        if (dst != nullptr && size > 0)
            CopyFitting(dst, narrow.data(), narrow.size(), size, Utf8FitLength);
        return int(narrow.size());
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}

char *vo_alloc_wcs_to_utf8s(const WCHAR *src)
{
    if (src == nullptr)
        return nullptr;
    try {
        return vo::MallocCopy(vo::Narrow(src, WideLength(src)));
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}
