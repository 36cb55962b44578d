// Text helpers shared by winsim's sources: lengths, case folding as Windows compares
// names, and UTF-8 conversion for the host side; and kernel32's lstrlenW.
#include "internal.h"

#include <cstdio>

namespace winsim {

size_t WideLength(const WCHAR *text)
{
    size_t n = 0;
    if (text != NULL) {
        while (text[n] != 0)
            ++n;
    }
    return n;
}

WCHAR FoldUpper(WCHAR c)
{
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') ? WCHAR(c - 0x20) : c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return WCHAR(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    // Latin Extended-A pairs its letters upper/lower on even/odd code points, except
    // the runs 0x139-0x148 and 0x179-0x17E where the upper case is odd.
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddUpper)
            return (c % 2 == 0) ? WCHAR(c - 1) : c;
        return (c % 2 == 1) ? WCHAR(c - 1) : c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2)  // Greek
        return WCHAR(c - 0x20);
    if (c >= 0x430 && c <= 0x44F)  // Cyrillic
        return WCHAR(c - 0x20);
    if (c >= 0x450 && c <= 0x45F)
        return WCHAR(c - 0x50);
    if (c >= 0xFF41 && c <= 0xFF5A)  // full-width Latin
        return WCHAR(c - 0x20);
    return c;
}

wstring16 FoldUpper(const wstring16 &text)
{
    wstring16 folded(text);
    for (WCHAR &c : folded)
        c = FoldUpper(c);
    return folded;
}

bool EqualNoCase(const wstring16 &a, const wstring16 &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldUpper(a[i]) != FoldUpper(b[i]))
            return false;
    }
    return true;
}

// Both conversions go through the code-page calls, so winsim has one UTF-8 codec. Empty
// text is answered without them: they refuse a zero length and would set the last error.
std::string ToUtf8(const wstring16 &text)
{
    if (text.empty())
        return std::string();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), NULL, 0, NULL, NULL);
    std::string narrow(size_t(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &narrow[0], bytes, NULL, NULL);
    return narrow;
}

wstring16 FromUtf8(const std::string &text)
{
    if (text.empty())
        return wstring16();
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), NULL, 0);
    wstring16 wide(size_t(units > 0 ? units : 0), 0);
    if (units > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &wide[0], units);
    return wide;
}

void LogNotImplemented(const char *function, const char *what)
{
    fprintf(stderr, "winsim: %s: not implemented: %s\n", function, what);
}

} // namespace winsim

EXTERN_C int WINAPI lstrlenW(LPCWSTR lpString) { return int(winsim::WideLength(lpString)); }
