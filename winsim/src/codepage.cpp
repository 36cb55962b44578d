// kernel32: MultiByteToWideChar and WideCharToMultiByte for UTF-8 and the ANSI code
// page (Windows-1252 unless the host says otherwise).
#include <windows.h>

#include "internal.h"

#include <string>

namespace winsim {

namespace {

// Windows-1252 bytes 0x80-0x9F. The five bytes Windows leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) map to the C1 control of the same value, as Windows maps them.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

UINT g_ansiCodePage = 1252;

bool IsSupportedCodePage(UINT codePage)
{
    return codePage == CP_UTF8 || codePage == 1252 || codePage == 28591 || codePage == 20127;
}

UINT Resolve(UINT codePage)
{
    if (codePage == CP_ACP || codePage == CP_THREAD_ACP || codePage == CP_OEMCP)
        return g_ansiCodePage;
    return codePage;
}

// Decodes UTF-8 the way Windows does since Vista: every maximal ill-formed subpart
// becomes one U+FFFD; overlong forms, encoded surrogates and values above U+10FFFF are
// ill-formed. Returns false on the first ill-formed byte when strict.
bool DecodeUtf8(const unsigned char *in, size_t count, bool strict, std::u16string &out)
{
    size_t i = 0;
    while (i < count) {
        const unsigned char lead = in[i];
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        int need = 0;
        unsigned int cp = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 2;
            cp = lead & 0x0F;
            if (lead == 0xE0)
                lo = 0xA0;
            else if (lead == 0xED)
                hi = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 3;
            cp = lead & 0x07;
            if (lead == 0xF0)
                lo = 0x90;
            else if (lead == 0xF4)
                hi = 0x8F;
        } else {
            if (strict)
                return false;
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        size_t j = i + 1;
        int got = 0;
        bool ok = true;
        while (got < need) {
            if (j >= count) {
                ok = false;
                break;
            }
            const unsigned char c = in[j];
            const unsigned char min = got == 0 ? lo : 0x80;
            const unsigned char max = got == 0 ? hi : 0xBF;
            if (c < min || c > max) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
            ++j;
            ++got;
        }
        if (!ok) {
            if (strict)
                return false;
            out.push_back(0xFFFD);
            i = j;  // the maximal subpart consumed so far
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i = j;
    }
    return true;
}

// Encodes UTF-16 as UTF-8; a lone surrogate becomes U+FFFD, or fails when strict.
bool EncodeUtf8(const char16_t *in, size_t count, bool strict, std::string &out)
{
    for (size_t i = 0; i < count; ++i) {
        unsigned int cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            if (strict)
                return false;
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(char(cp));
        } else if (cp < 0x800) {
            out.push_back(char(0xC0 | (cp >> 6)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(char(0xE0 | (cp >> 12)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (cp >> 18)));
            out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        }
    }
    return true;
}

char16_t DecodeSingleByte(UINT codePage, unsigned char b)
{
    if (codePage == 1252 && b >= 0x80 && b <= 0x9F)
        return kCp1252High[b - 0x80];
    if (codePage == 20127 && b >= 0x80)
        return char16_t(b & 0x7F);  // US-ASCII strips the high bit, as Windows does
    return char16_t(b);
}

// The byte for a unit in a single-byte code page, or -1 when the page has none.
int EncodeSingleByte(UINT codePage, char16_t unit)
{
    if (unit < 0x80)
        return unit;
    if (codePage == 20127)
        return -1;
    if (codePage == 1252) {
        if (unit >= 0xA0 && unit <= 0xFF)
            return unit;
        for (int i = 0; i < 32; ++i) {
            if (kCp1252High[i] == unit)
                return 0x80 + i;
        }
        return -1;
    }
    return unit <= 0xFF ? int(unit) : -1;  // ISO-8859-1
}

} // namespace

UINT AnsiCodePage() { return g_ansiCodePage; }

bool SetAnsiCodePage(UINT codePage)
{
    if (codePage == CP_UTF8 || !IsSupportedCodePage(codePage))
        return false;
    g_ansiCodePage = codePage;
    return true;
}

} // namespace winsim

using namespace winsim;

EXTERN_C UINT WINAPI GetACP(void) { return AnsiCodePage(); }

EXTERN_C UINT WINAPI GetOEMCP(void) { return AnsiCodePage(); }

EXTERN_C int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                        LPWSTR lpWideCharStr, int cchWideChar)
{
    const UINT codePage = Resolve(CodePage);
    if (lpMultiByteStr == NULL || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (lpWideCharStr == NULL && cchWideChar != 0) || !IsSupportedCodePage(codePage)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (codePage == CP_UTF8 && (dwFlags & ~DWORD(MB_ERR_INVALID_CHARS)) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    const size_t count = cbMultiByte == -1 ? strlen(lpMultiByteStr) + 1 : size_t(cbMultiByte);
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(lpMultiByteStr);

    std::u16string wide;
    if (codePage == CP_UTF8) {
        if (!DecodeUtf8(bytes, count, (dwFlags & MB_ERR_INVALID_CHARS) != 0, wide)) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
    } else {
        wide.reserve(count);
        for (size_t i = 0; i < count; ++i)
            wide.push_back(DecodeSingleByte(codePage, bytes[i]));
    }
    if (cchWideChar == 0)
        return int(wide.size());
    if (wide.size() > size_t(cchWideChar)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    wide.copy(lpWideCharStr, wide.size());
    return int(wide.size());
}

EXTERN_C int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                                        LPBOOL lpUsedDefaultChar)
{
    const UINT codePage = Resolve(CodePage);
    if (lpWideCharStr == NULL || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (lpMultiByteStr == NULL && cbMultiByte != 0) || !IsSupportedCodePage(codePage)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t count = 0;
    if (cchWideChar == -1) {
        while (lpWideCharStr[count] != 0)
            ++count;
        ++count;
    } else {
        count = size_t(cchWideChar);
    }

    std::string bytes;
    if (codePage == CP_UTF8) {
        // UTF-8 has no default character: both arguments must be NULL.
        if (lpDefaultChar != NULL || lpUsedDefaultChar != NULL) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        if ((dwFlags & ~DWORD(WC_ERR_INVALID_CHARS)) != 0) {
            SetLastError(ERROR_INVALID_FLAGS);
            return 0;
        }
        if (!EncodeUtf8(lpWideCharStr, count, (dwFlags & WC_ERR_INVALID_CHARS) != 0, bytes)) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
    } else {
        const char defaultChar = lpDefaultChar != NULL ? *lpDefaultChar : '?';
        bool usedDefault = false;
        bytes.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            const int b = EncodeSingleByte(codePage, lpWideCharStr[i]);
            if (b < 0) {
                usedDefault = true;
                bytes.push_back(defaultChar);
                // A surrogate pair stands for one character and gets one default byte.
                if (lpWideCharStr[i] >= 0xD800 && lpWideCharStr[i] <= 0xDBFF && i + 1 < count &&
                    lpWideCharStr[i + 1] >= 0xDC00 && lpWideCharStr[i + 1] <= 0xDFFF)
                    ++i;
            } else {
                bytes.push_back(char(b));
            }
        }
        if (lpUsedDefaultChar != NULL)
            *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    }
    if (cbMultiByte == 0)
        return int(bytes.size());
    if (bytes.size() > size_t(cbMultiByte)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    bytes.copy(lpMultiByteStr, bytes.size());
    return int(bytes.size());
}
