// The conversion routines of the COM support library that _bstr_t calls. MinGW-w64
// declares them in comutil.h but ships no library that defines them; on Linux they are
// part of winsim.
#include <windows.h>
#include <comdef.h>
#include <comutil.h>

#include <new>

namespace _com_util {

BSTR WINAPI ConvertStringToBSTR(const char *pSrc)
{
    if (pSrc == NULL)
        return NULL;
    const int units = MultiByteToWideChar(CP_ACP, 0, pSrc, -1, NULL, 0);
    if (units <= 0)
        _com_issue_error(HRESULT_FROM_WIN32(GetLastError()));
    BSTR result = SysAllocStringLen(NULL, (UINT)(units - 1));
    if (result == NULL)
        _com_issue_error(E_OUTOFMEMORY);
    if (MultiByteToWideChar(CP_ACP, 0, pSrc, -1, result, units) == 0) {
        const DWORD error = GetLastError();
        SysFreeString(result);
        _com_issue_error(HRESULT_FROM_WIN32(error));
    }
    return result;
}

char *WINAPI ConvertBSTRToString(BSTR pSrc)
{
    if (pSrc == NULL)
        return NULL;
    // A BSTR may hold embedded zeros: convert its counted length, then terminate.
    const int units = (int)SysStringLen(pSrc);
    const int bytes = units == 0 ? 0
                                 : WideCharToMultiByte(CP_ACP, 0, pSrc, units, NULL, 0, NULL, NULL);
    if (units != 0 && bytes <= 0)
        _com_issue_error(HRESULT_FROM_WIN32(GetLastError()));
    char *result = new (std::nothrow) char[bytes + 1];
    if (result == NULL)
        _com_issue_error(E_OUTOFMEMORY);
    if (units != 0 && WideCharToMultiByte(CP_ACP, 0, pSrc, units, result, bytes, NULL, NULL) == 0) {
        const DWORD error = GetLastError();
        delete[] result;
        _com_issue_error(HRESULT_FROM_WIN32(error));
    }
    result[bytes] = '\0';
    return result;
}

} // namespace _com_util
