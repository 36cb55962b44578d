// Text helpers: UTF-8 and wide conversions, code-point decoding, case folding.
#include "internal.h"

#include <climits>
#include <cstring>

namespace vo {

wstr Widen(const char *utf8)
{
    if (utf8 == nullptr || *utf8 == '\0')
        return wstr();
    const size_t bytes = std::strlen(utf8);
    if (bytes > size_t(INT_MAX))
        return wstr();
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8, int(bytes), nullptr, 0);
    if (units <= 0)
        return wstr();
    wstr wide(size_t(units), WCHAR(0));
    MultiByteToWideChar(CP_UTF8, 0, utf8, int(bytes), &wide[0], units);
    return wide;
}

std::string Narrow(const WCHAR *wide, size_t length)
{
    if (wide == nullptr || length == 0 || length > size_t(INT_MAX))
        return std::string();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, int(length), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return std::string();
    std::string narrow(size_t(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, int(length), &narrow[0], bytes, nullptr, nullptr);
    return narrow;
}

char32_t NextCodePoint(const char *&text)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    const unsigned char lead = p[0];
    if (lead < 0x80) {
        ++text;
        return lead;
    }
    int trail;
    char32_t value, minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trail = 1, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trail = 2, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trail = 3, value = lead & 0x07, minimum = 0x10000;
    } else {
        ++text;
        return 0xFFFD;
    }
    for (int i = 1; i <= trail; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            ++text;
            return 0xFFFD;
        }
        value = (value << 6) | (p[i] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        ++text;
        return 0xFFFD;
    }
    text += trail + 1;
    return value;
}

char32_t FoldCase(char32_t c)
{
    if (c < 0x80)
        return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return c - 0x20;
    if (c == 0xFF)
        return 0x178;
    // Latin Extended-A pairs: upper case on the even code point in these runs, on the odd
    // one in the other two.
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return (c & 1) ? c - 1 : c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c & 1) ? c : c - 1;
    if (c == 0x3AC)
        return 0x386;
    if (c >= 0x3AD && c <= 0x3AF)
        return c - 0x25;
    if (c == 0x3C2)
        return 0x3A3;
    if ((c >= 0x3B1 && c <= 0x3C1) || (c >= 0x3C3 && c <= 0x3CB))
        return c - 0x20;
    if (c == 0x3CC)
        return 0x38C;
    if (c == 0x3CD || c == 0x3CE)
        return c - 0x3F;
    if (c >= 0x430 && c <= 0x44F)
        return c - 0x20;
    if (c >= 0x450 && c <= 0x45F)
        return c - 0x50;
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF))
        return (c & 1) ? c - 1 : c;
    if (c >= 0xFF41 && c <= 0xFF5A)
        return c - 0x20;
    return c;
}

} // namespace vo
