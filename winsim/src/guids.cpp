// GUIDs: every GUID that winsim's headers declare is defined here, once; and the text
// form of GUIDs (ole32).
#include <objbase.h>

#include "internal.h"

EXTERN_C const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
EXTERN_C const GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
EXTERN_C const GUID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

void PutHex(LPOLESTR &out, unsigned long long value, int digits)
{
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        *out++ = OLECHAR(kHexDigits[(value >> shift) & 0xF]);
}

int HexValue(OLECHAR c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

bool ReadHex(LPCOLESTR &in, int digits, unsigned long long &value)
{
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const int v = HexValue(*in);
        if (v < 0)
            return false;
        value = (value << 4) | unsigned(v);
        ++in;
    }
    return true;
}

bool Expect(LPCOLESTR &in, OLECHAR c)
{
    if (*in != c)
        return false;
    ++in;
    return true;
}

} // namespace

EXTERN_C int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax)
{
    if (lpsz == NULL || cchMax < 39)
        return 0;
    LPOLESTR out = lpsz;
    *out++ = u'{';
    PutHex(out, rguid.Data1, 8);
    *out++ = u'-';
    PutHex(out, rguid.Data2, 4);
    *out++ = u'-';
    PutHex(out, rguid.Data3, 4);
    *out++ = u'-';
    PutHex(out, rguid.Data4[0], 2);
    PutHex(out, rguid.Data4[1], 2);
    *out++ = u'-';
    for (int i = 2; i < 8; ++i)
        PutHex(out, rguid.Data4[i], 2);
    *out++ = u'}';
    *out = 0;
    return 39;
}

EXTERN_C HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid)
{
    if (pclsid == NULL)
        return E_INVALIDARG;
    if (lpsz == NULL) {
        *pclsid = GUID_NULL;
        return S_OK;
    }
    GUID parsed;
    unsigned long long v = 0;
    LPCOLESTR in = lpsz;
    bool ok = Expect(in, u'{') && ReadHex(in, 8, v);
    parsed.Data1 = (unsigned int)v;
    ok = ok && Expect(in, u'-') && ReadHex(in, 4, v);
    parsed.Data2 = (unsigned short)v;
    ok = ok && Expect(in, u'-') && ReadHex(in, 4, v);
    parsed.Data3 = (unsigned short)v;
    ok = ok && Expect(in, u'-');
    for (int i = 0; ok && i < 8; ++i) {
        if (i == 2)
            ok = Expect(in, u'-');
        ok = ok && ReadHex(in, 2, v);
        parsed.Data4[i] = (unsigned char)v;
    }
    ok = ok && Expect(in, u'}') && *in == 0;
    if (!ok) {
        // Windows would next look the text up as a ProgID; winsim has no class registry.
        *pclsid = GUID_NULL;
        return CO_E_CLASSSTRING;
    }
    *pclsid = parsed;
    return S_OK;
}
