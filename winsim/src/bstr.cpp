// oleaut32: BSTR allocation. A BSTR points just past a 32-bit byte count and is
// followed by a zero WCHAR that the count does not include.
#include <oleauto.h>

#include "internal.h"

#include <cstdlib>
#include <cstring>

namespace {

UINT *Prefix(BSTR s) { return reinterpret_cast<UINT *>(reinterpret_cast<char *>(s) - sizeof(UINT)); }

BSTR AllocBytes(const void *source, UINT byteCount)
{
    // Windows refuses lengths whose allocation would overflow its 32-bit sizes.
    if (byteCount > 0x7FFFFFF0u)
        return NULL;
    char *block = static_cast<char *>(malloc(sizeof(UINT) + size_t(byteCount) + sizeof(WCHAR)));
    if (block == NULL)
        return NULL;
    memcpy(block, &byteCount, sizeof(UINT));
    char *text = block + sizeof(UINT);
    // Without a source the content is left uninitialised, as documented; the caller fills it.
    if (source != NULL)
        memcpy(text, source, byteCount);
    text[byteCount] = 0;
    text[byteCount + 1] = 0;
    return reinterpret_cast<BSTR>(text);
}

size_t WideLength(const OLECHAR *s)
{
    size_t n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}

} // namespace

EXTERN_C BSTR SysAllocString(const OLECHAR *psz)
{
    HRESULT faultHr;
    if (winsim::FaultFor("SysAllocString", faultHr))
        return NULL;
    if (psz == NULL)
        return NULL;
    return AllocBytes(psz, UINT(WideLength(psz) * sizeof(OLECHAR)));
}

EXTERN_C BSTR SysAllocStringLen(const OLECHAR *strIn, UINT ui)
{
    HRESULT faultHr;
    if (winsim::FaultFor("SysAllocStringLen", faultHr))
        return NULL;
    if (ui > 0x3FFFFFF0u)
        return NULL;
    return AllocBytes(strIn, ui * UINT(sizeof(OLECHAR)));
}

EXTERN_C BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) { return AllocBytes(psz, len); }

EXTERN_C INT SysReAllocString(BSTR *pbstr, const OLECHAR *psz)
{
    if (pbstr == NULL)
        return FALSE;
    BSTR fresh = SysAllocString(psz);
    if (fresh == NULL && psz != NULL)
        return FALSE;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

EXTERN_C INT SysReAllocStringLen(BSTR *pbstr, const OLECHAR *psz, UINT len)
{
    if (pbstr == NULL)
        return FALSE;
    BSTR fresh = SysAllocStringLen(psz, len);
    if (fresh == NULL)
        return FALSE;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

EXTERN_C void SysFreeString(BSTR bstrString)
{
    if (bstrString != NULL)
        free(Prefix(bstrString));
}

EXTERN_C UINT SysStringLen(BSTR pbstr) { return pbstr == NULL ? 0 : *Prefix(pbstr) / UINT(sizeof(OLECHAR)); }

EXTERN_C UINT SysStringByteLen(BSTR bstr) { return bstr == NULL ? 0 : *Prefix(bstr); }
