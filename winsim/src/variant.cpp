// oleaut32: VARIANT ownership (VariantInit, VariantClear, VariantCopy) and the
// conversions of VariantChangeType among integers, VT_BOOL and VT_BSTR.
#include "internal.h"

#include <oleauto.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

namespace winsim {

namespace {

// The types a VARIANT may hold, alone or with VT_ARRAY/VT_BYREF (not VT_EMPTY or VT_NULL
// with those); VT_VECTOR and VT_RESERVED never.
bool ValidVariantType(VARTYPE vt)
{
    const VARTYPE extra = vt & ~VARTYPE(VT_TYPEMASK);
    const VARTYPE base = vt & VT_TYPEMASK;
    if (extra & (VT_VECTOR | VT_RESERVED))
        return false;
    if (!(base < VT_VOID || base == VT_RECORD || base == VT_CLSID) || base == 15)
        return false;
    if ((extra & (VT_BYREF | VT_ARRAY)) && base <= VT_NULL)
        return false;
    return true;
}

bool IsInteger(VARTYPE vt)
{
    switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_I8: case VT_UI8: case VT_INT: case VT_UINT: case VT_ERROR:
        return true;
    default:
        return false;
    }
}

// A value widened for conversion: integers (signed or not) and VT_BOOL.
struct Number {
    bool negative;
    ULONGLONG magnitude;
};

Number Read(const VARIANT *v)
{
    switch (V_VT(v)) {
    case VT_I1: return {V_I1(v) < 0, ULONGLONG(V_I1(v) < 0 ? -LONGLONG(V_I1(v)) : V_I1(v))};
    case VT_UI1: return {false, V_UI1(v)};
    case VT_I2: return {V_I2(v) < 0, ULONGLONG(V_I2(v) < 0 ? -LONGLONG(V_I2(v)) : V_I2(v))};
    case VT_BOOL: return {V_BOOL(v) < 0, ULONGLONG(V_BOOL(v) < 0 ? -LONGLONG(V_BOOL(v)) : V_BOOL(v))};
    case VT_UI2: return {false, V_UI2(v)};
    case VT_I4:
    case VT_ERROR: return {V_I4(v) < 0, ULONGLONG(V_I4(v) < 0 ? -LONGLONG(V_I4(v)) : V_I4(v))};
    case VT_INT: return {V_INT(v) < 0, ULONGLONG(V_INT(v) < 0 ? -LONGLONG(V_INT(v)) : V_INT(v))};
    case VT_UI4: return {false, V_UI4(v)};
    case VT_UINT: return {false, V_UINT(v)};
    case VT_I8: return {V_I8(v) < 0, V_I8(v) < 0 ? ULONGLONG(0) - ULONGLONG(V_I8(v)) : ULONGLONG(V_I8(v))};
    case VT_UI8: return {false, V_UI8(v)};
    default: return {false, 0};
    }
}

// Stores a number in an integer type; DISP_E_OVERFLOW when it does not fit.
HRESULT Store(const Number &n, VARTYPE vt, VARIANT *out)
{
    LONGLONG low;
    ULONGLONG high;
    switch (vt) {
    case VT_I1: low = -128; high = 127; break;
    case VT_UI1: low = 0; high = 255; break;
    case VT_I2: low = -32768; high = 32767; break;
    case VT_UI2: low = 0; high = 65535; break;
    case VT_I4:
    case VT_INT:
    case VT_ERROR: low = INT_MIN; high = INT_MAX; break;
    case VT_UI4:
    case VT_UINT: low = 0; high = UINT_MAX; break;
    case VT_I8: low = LLONG_MIN; high = LLONG_MAX; break;
    case VT_UI8: low = 0; high = ULLONG_MAX; break;
    default: return DISP_E_TYPEMISMATCH;
    }
    if (n.negative ? (low == 0 || n.magnitude > ULONGLONG(-(low + 1)) + 1) : n.magnitude > high)
        return DISP_E_OVERFLOW;
    const LONGLONG signedValue = n.negative ? LONGLONG(0 - n.magnitude) : LONGLONG(n.magnitude);
    V_VT(out) = vt;
    switch (vt) {
    case VT_I1: V_I1(out) = CHAR(signedValue); break;
    case VT_UI1: V_UI1(out) = BYTE(n.magnitude); break;
    case VT_I2: V_I2(out) = SHORT(signedValue); break;
    case VT_UI2: V_UI2(out) = USHORT(n.magnitude); break;
    case VT_I4: V_I4(out) = LONG(signedValue); break;
    case VT_ERROR: V_ERROR(out) = SCODE(signedValue); break;
    case VT_INT: V_INT(out) = INT(signedValue); break;
    case VT_UI4: V_UI4(out) = ULONG(n.magnitude); break;
    case VT_UINT: V_UINT(out) = UINT(n.magnitude); break;
    case VT_I8: V_I8(out) = signedValue; break;
    case VT_UI8: V_UI8(out) = n.magnitude; break;
    default: break;
    }
    return S_OK;
}

// Parses a decimal number as the "C" locale writes it, with white space around it.
HRESULT Parse(BSTR text, Number &n)
{
    std::string narrow;
    const UINT length = SysStringLen(text);
    for (UINT i = 0; i < length; ++i) {
        if (text[i] > 0x7F)
            return DISP_E_TYPEMISMATCH;
        narrow.push_back(char(text[i]));
    }
    size_t at = narrow.find_first_not_of(" \t");
    const size_t end = narrow.find_last_not_of(" \t");
    if (at == std::string::npos)
        return DISP_E_TYPEMISMATCH;
    n.negative = false;
    if (narrow[at] == '-' || narrow[at] == '+') {
        n.negative = narrow[at] == '-';
        ++at;
    }
    if (at > end)
        return DISP_E_TYPEMISMATCH;
    n.magnitude = 0;
    for (size_t i = at; i <= end; ++i) {
        if (narrow[i] < '0' || narrow[i] > '9')
            return DISP_E_TYPEMISMATCH;
        const ULONGLONG digit = ULONGLONG(narrow[i] - '0');
        if (n.magnitude > (ULLONG_MAX - digit) / 10)
            return DISP_E_OVERFLOW;
        n.magnitude = n.magnitude * 10 + digit;
    }
    if (n.magnitude == 0)
        n.negative = false;
    return S_OK;
}

HRESULT Convert(VARIANT *source, VARTYPE vt, VARIANT &result)
{
    VariantInit(&result);
    const VARTYPE from = V_VT(source);
    if (from == vt)
        return VariantCopy(&result, source);
    if (vt == VT_EMPTY) {
        return S_OK;
    }
    if (from == VT_NULL)
        return vt == VT_NULL ? S_OK : DISP_E_TYPEMISMATCH;
    if (from == VT_EMPTY) {
        // An empty variant reads as 0, FALSE or "".
        if (vt == VT_BSTR) {
            V_VT(&result) = VT_BSTR;
            V_BSTR(&result) = SysAllocStringLen(NULL, 0);
            return V_BSTR(&result) ? S_OK : E_OUTOFMEMORY;
        }
        if (vt == VT_BOOL) {
            V_VT(&result) = VT_BOOL;
            V_BOOL(&result) = VARIANT_FALSE;
            return S_OK;
        }
        if (IsInteger(vt) && vt != VT_ERROR)
            return Store(Number{false, 0}, vt, &result);
    }
    const bool fromNumber = (IsInteger(from) && from != VT_ERROR) || from == VT_BOOL;
    if (fromNumber && IsInteger(vt) && vt != VT_ERROR)
        return Store(Read(source), vt, &result);
    if (fromNumber && vt == VT_BOOL) {
        V_VT(&result) = VT_BOOL;
        V_BOOL(&result) = Read(source).magnitude != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    if (IsInteger(from) && from != VT_ERROR && vt == VT_BSTR) {
        const Number n = Read(source);
        const std::string digits = (n.negative ? "-" : "") + std::to_string(n.magnitude);
        const wstring16 wide(digits.begin(), digits.end());
        V_VT(&result) = VT_BSTR;
        V_BSTR(&result) = SysAllocStringLen(wide.data(), UINT(wide.size()));
        return V_BSTR(&result) ? S_OK : E_OUTOFMEMORY;
    }
    if (from == VT_BSTR && IsInteger(vt) && vt != VT_ERROR) {
        Number n;
        if (HRESULT hr = Parse(V_BSTR(source), n); FAILED(hr))
            return hr;
        return Store(n, vt, &result);
    }
    if (from == VT_ERROR || vt == VT_ERROR || from == VT_UNKNOWN || from == VT_DISPATCH)
        return DISP_E_TYPEMISMATCH;
    LogNotImplemented("VariantChangeType", ("from VARTYPE " + std::to_string(from) + " to " + std::to_string(vt)).c_str());
    return E_NOTIMPL;
}

} // namespace

} // namespace winsim

using namespace winsim;

EXTERN_C void VariantInit(VARIANTARG *pvarg)
{
    if (pvarg != NULL)
        V_VT(pvarg) = VT_EMPTY;  // the rest is left as it was, as on Windows
}

EXTERN_C HRESULT VariantClear(VARIANTARG *pvarg)
{
    if (pvarg == NULL)
        return E_INVALIDARG;
    const VARTYPE vt = V_VT(pvarg);
    if (!ValidVariantType(vt))
        return DISP_E_BADVARTYPE;
    if (!(vt & VT_BYREF)) {
        if (vt & VT_ARRAY) {
            if (HRESULT hr = SafeArrayDestroy(V_ARRAY(pvarg)); FAILED(hr))
                return hr;
        } else if (vt == VT_BSTR) {
            SysFreeString(V_BSTR(pvarg));
        } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
            if (V_UNKNOWN(pvarg) != NULL)
                V_UNKNOWN(pvarg)->Release();
        } else if (vt == VT_RECORD) {
            LogNotImplemented("VariantClear", "VT_RECORD");
            return E_NOTIMPL;
        }
    }
    V_VT(pvarg) = VT_EMPTY;
    return S_OK;
}

EXTERN_C HRESULT VariantCopy(VARIANTARG *pvargDest, VARIANTARG *pvargSrc)
{
    HRESULT faultHr;
    if (winsim::FaultFor("VariantCopy", faultHr))
        return faultHr;
    if (pvargDest == NULL || pvargSrc == NULL)
        return E_INVALIDARG;
    const VARTYPE vt = V_VT(pvargSrc);
    if (!ValidVariantType(vt))
        return DISP_E_BADVARTYPE;
    if (pvargDest == pvargSrc)
        return S_OK;
    if (HRESULT hr = VariantClear(pvargDest); FAILED(hr))
        return hr;
    VARIANT copy = *pvargSrc;
    if (!(vt & VT_BYREF)) {
        if (vt & VT_ARRAY) {
            if (HRESULT hr = SafeArrayCopy(V_ARRAY(pvargSrc), &V_ARRAY(&copy)); FAILED(hr))
                return hr;
        } else if (vt == VT_BSTR) {
            if (V_BSTR(pvargSrc) != NULL) {
                V_BSTR(&copy) = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(V_BSTR(pvargSrc)),
                                                      SysStringByteLen(V_BSTR(pvargSrc)));
                if (V_BSTR(&copy) == NULL)
                    return E_OUTOFMEMORY;
            }
        } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
            if (V_UNKNOWN(&copy) != NULL)
                V_UNKNOWN(&copy)->AddRef();
        } else if (vt == VT_RECORD) {
            LogNotImplemented("VariantCopy", "VT_RECORD");
            return E_NOTIMPL;
        }
    }
    *pvargDest = copy;
    return S_OK;
}

EXTERN_C HRESULT VariantChangeType(VARIANTARG *pvargDest, VARIANTARG *pvarSrc, USHORT wFlags, VARTYPE vt)
{
    (void)wFlags;  // only VARIANT_ALPHABOOL and friends would matter, for conversions not made here
    if (pvargDest == NULL || pvarSrc == NULL)
        return E_INVALIDARG;
    if (!ValidVariantType(V_VT(pvarSrc)) || !ValidVariantType(vt))
        return DISP_E_BADVARTYPE;
    if ((V_VT(pvarSrc) & (VT_BYREF | VT_ARRAY)) || (vt & (VT_BYREF | VT_ARRAY))) {
        if (V_VT(pvarSrc) != vt) {
            LogNotImplemented("VariantChangeType", "by-reference or array variants");
            return E_NOTIMPL;
        }
    }
    VARIANT result;
    if (HRESULT hr = Convert(pvarSrc, vt, result); FAILED(hr)) {
        VariantClear(&result);
        return hr;  // the destination is left untouched
    }
    // The source may be the destination: convert first, then replace.
    if (HRESULT hr = VariantClear(pvargDest); FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *pvargDest = result;
    return S_OK;
}
