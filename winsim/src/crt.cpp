// The C runtime extras of the Microsoft CRT: case-insensitive comparisons in the "C"
// locale, the bounded copies with their documented error results, _wcsdup, _strtoi64.
// The wide file functions live in files.cpp, over the same path mapping as kernel32.
#include "internal.h"

#include <cerrno>
#include <cstdlib>
#include <type_traits>

namespace {

template <typename Char>
inline unsigned int LowerAscii(Char c)
{
    const unsigned int unit = static_cast<typename std::make_unsigned<Char>::type>(c);
    return (unit >= 'A' && unit <= 'Z') ? unit + ('a' - 'A') : unit;
}

template <typename Char>
int CompareNoCase(const Char *a, const Char *b, size_t maxCount)
{
    if (a == NULL || b == NULL) {
        errno = EINVAL;
        return _NLSCMPERROR;
    }
    for (size_t i = 0; i < maxCount; ++i) {
        const unsigned int ca = LowerAscii(a[i]);
        const unsigned int cb = LowerAscii(b[i]);
        if (ca != cb)
            return int(ca) - int(cb);
        if (ca == 0)
            break;
    }
    return 0;
}

} // namespace

EXTERN_C int __cdecl _stricmp(const char *_Str1, const char *_Str2)
{
    return CompareNoCase(_Str1, _Str2, size_t(-1));
}

EXTERN_C int __cdecl _strnicmp(const char *_Str1, const char *_Str2, size_t _MaxCount)
{
    return CompareNoCase(_Str1, _Str2, _MaxCount);
}

EXTERN_C int __cdecl _wcsicmp(const WCHAR *_Str1, const WCHAR *_Str2)
{
    return CompareNoCase(_Str1, _Str2, size_t(-1));
}

EXTERN_C int __cdecl _wcsnicmp(const WCHAR *_Str1, const WCHAR *_Str2, size_t _MaxCount)
{
    return CompareNoCase(_Str1, _Str2, _MaxCount);
}

// The secure copies behave as the CRT does when its invalid-parameter handler lets the
// call return: the error is both returned and stored in errno.
namespace {

errno_t Report(errno_t error)
{
    errno = error;
    return error;
}

size_t BoundedLength(const char *text, size_t limit)
{
    size_t n = 0;
    while (n < limit && text[n] != 0)
        ++n;
    return n;
}

} // namespace

EXTERN_C errno_t __cdecl strncpy_s(char *_Dst, size_t _DstSizeInChars, const char *_Src, size_t _MaxCount)
{
    if (_MaxCount == 0 && _Dst == NULL && _DstSizeInChars == 0)
        return 0;
    if (_Dst == NULL || _DstSizeInChars == 0)
        return Report(EINVAL);
    if (_MaxCount == 0) {
        _Dst[0] = 0;
        return 0;
    }
    if (_Src == NULL) {
        _Dst[0] = 0;
        return Report(EINVAL);
    }
    const bool truncate = _MaxCount == _TRUNCATE;
    const size_t wanted = BoundedLength(_Src, truncate ? _DstSizeInChars : _MaxCount);
    if (wanted >= _DstSizeInChars) {
        if (truncate) {
            memcpy(_Dst, _Src, _DstSizeInChars - 1);
            _Dst[_DstSizeInChars - 1] = 0;
            return STRUNCATE;
        }
        _Dst[0] = 0;
        return Report(ERANGE);
    }
    memcpy(_Dst, _Src, wanted);
    _Dst[wanted] = 0;
    return 0;
}

EXTERN_C errno_t __cdecl strncat_s(char *_Dst, size_t _DstSizeInChars, const char *_Src, size_t _MaxCount)
{
    if (_MaxCount == 0 && _Dst == NULL && _DstSizeInChars == 0)
        return 0;
    if (_Dst == NULL || _DstSizeInChars == 0)
        return Report(EINVAL);
    if (_Src == NULL && _MaxCount != 0) {
        _Dst[0] = 0;
        return Report(EINVAL);
    }
    const size_t existing = BoundedLength(_Dst, _DstSizeInChars);
    if (existing == _DstSizeInChars) {  // no terminator within the buffer
        _Dst[0] = 0;
        return Report(EINVAL);
    }
    if (_MaxCount == 0)
        return 0;
    const size_t room = _DstSizeInChars - existing;  // including the terminator
    const bool truncate = _MaxCount == _TRUNCATE;
    const size_t wanted = BoundedLength(_Src, truncate ? room : _MaxCount);
    if (wanted >= room) {
        if (truncate) {
            memcpy(_Dst + existing, _Src, room - 1);
            _Dst[_DstSizeInChars - 1] = 0;
            return STRUNCATE;
        }
        _Dst[0] = 0;
        return Report(ERANGE);
    }
    memcpy(_Dst + existing, _Src, wanted);
    _Dst[existing + wanted] = 0;
    return 0;
}

EXTERN_C WCHAR *__cdecl _wcsdup(const WCHAR *_Str)
{
    if (_Str == NULL)
        return NULL;
    const size_t bytes = (winsim::WideLength(_Str) + 1) * sizeof(WCHAR);
    WCHAR *copy = static_cast<WCHAR *>(malloc(bytes));
    if (copy == NULL) {
        errno = ENOMEM;
        return NULL;
    }
    memcpy(copy, _Str, bytes);
    return copy;
}

EXTERN_C __int64 __cdecl _strtoi64(const char *_String, char **_EndPtr, int _Radix)
{
    if (_EndPtr != NULL)
        *_EndPtr = const_cast<char *>(_String);
    if (_String == NULL || _Radix < 0 || _Radix == 1 || _Radix > 36) {
        errno = EINVAL;
        return 0;
    }
    // strtoll of the C locale has the same grammar: white space, sign, 0x for base 16 or
    // 0, clamping to the 64-bit limits with ERANGE.
    return strtoll(_String, _EndPtr, _Radix);
}
