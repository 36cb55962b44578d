// oleaut32: SAFEARRAY. The descriptor is laid out as on Windows: bounds stored right-most
// dimension first, and the element VARTYPE in the four bytes before the descriptor
// (FADF_HAVEVARTYPE). Elements own what they hold: BSTRs, interface references, VARIANTs.
#include "internal.h"

#include <oleauto.h>

#include <cstdlib>
#include <new>

namespace winsim {

namespace {

const USHORT FADF_CREATEVECTOR = 0x2000;  // data allocated with the descriptor
const size_t kPrefix = 16;                // room for an IID before the descriptor, as Windows keeps

ULONG ElementSize(VARTYPE vt)
{
    switch (vt) {
    case VT_I1:
    case VT_UI1: return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR: return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE: return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH: return sizeof(void *);
    case VT_VARIANT: return sizeof(VARIANT);
    case VT_DECIMAL: return sizeof(DECIMAL);
    default: return 0;
    }
}

USHORT FeaturesFor(VARTYPE vt)
{
    switch (vt) {
    case VT_BSTR: return FADF_HAVEVARTYPE | FADF_BSTR;
    case VT_UNKNOWN: return FADF_HAVEVARTYPE | FADF_UNKNOWN;
    case VT_DISPATCH: return FADF_HAVEVARTYPE | FADF_DISPATCH;
    case VT_VARIANT: return FADF_HAVEVARTYPE | FADF_VARIANT;
    default: return FADF_HAVEVARTYPE;
    }
}

ULONGLONG ElementCount(const SAFEARRAY *psa)
{
    ULONGLONG count = 1;
    for (USHORT i = 0; i < psa->cDims; ++i)
        count *= psa->rgsabound[i].cElements;
    return count;
}

SAFEARRAY *AllocateDescriptor(UINT dims, size_t extraData)
{
    const size_t descriptor = sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
    char *block = static_cast<char *>(calloc(1, kPrefix + descriptor + extraData));
    if (block == NULL)
        return NULL;
    return reinterpret_cast<SAFEARRAY *>(block + kPrefix);
}

void FreeDescriptor(SAFEARRAY *psa) { free(reinterpret_cast<char *>(psa) - kPrefix); }

void SetVartype(SAFEARRAY *psa, VARTYPE vt) { reinterpret_cast<DWORD *>(psa)[-1] = vt; }

// Releases what an element owns, leaving it zeroed.
void ClearElement(USHORT features, void *element, ULONG size)
{
    if (features & FADF_BSTR) {
        SysFreeString(*static_cast<BSTR *>(element));
    } else if (features & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown *object = *static_cast<IUnknown **>(element);
        if (object != NULL)
            object->Release();
    } else if (features & FADF_VARIANT) {
        VariantClear(static_cast<VARIANT *>(element));
    }
    memset(element, 0, size);
}

// Copies one element into zeroed storage.
HRESULT CopyElement(USHORT features, const void *source, void *target, ULONG size)
{
    if (features & FADF_BSTR) {
        const BSTR text = *static_cast<const BSTR *>(source);
        BSTR copy = NULL;
        if (text != NULL) {
            copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(text), SysStringByteLen(text));
            if (copy == NULL)
                return E_OUTOFMEMORY;
        }
        *static_cast<BSTR *>(target) = copy;
    } else if (features & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown *object = *static_cast<IUnknown *const *>(source);
        if (object != NULL)
            object->AddRef();
        *static_cast<IUnknown **>(target) = object;
    } else if (features & FADF_VARIANT) {
        VariantInit(static_cast<VARIANT *>(target));
        return VariantCopy(static_cast<VARIANT *>(target), const_cast<VARIANT *>(static_cast<const VARIANT *>(source)));
    } else {
        memcpy(target, source, size);
    }
    return S_OK;
}

// The element at the given indices: rgIndices[0] goes with the first bound given to
// SafeArrayCreate (stored last) and varies fastest in memory.
HRESULT ElementAddress(SAFEARRAY *psa, const LONG *indices, void **address)
{
    ULONGLONG offset = 0;
    ULONGLONG stride = 1;
    for (USHORT i = 0; i < psa->cDims; ++i) {
        const SAFEARRAYBOUND &bound = psa->rgsabound[psa->cDims - 1 - i];
        const LONGLONG relative = LONGLONG(indices[i]) - bound.lLbound;
        if (relative < 0 || relative >= LONGLONG(bound.cElements))
            return DISP_E_BADINDEX;
        offset += ULONGLONG(relative) * stride;
        stride *= bound.cElements;
    }
    *address = static_cast<char *>(psa->pvData) + offset * psa->cbElements;
    return S_OK;
}

bool HasRecords(const SAFEARRAY *psa) { return (psa->fFeatures & FADF_RECORD) != 0; }

} // namespace

} // namespace winsim

using namespace winsim;

EXTERN_C SAFEARRAY *SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND *rgsabound)
{
    HRESULT faultHr;
    if (winsim::FaultFor("SafeArrayCreate", faultHr))
        return NULL;
    if (vt == VT_RECORD) {
        LogNotImplemented("SafeArrayCreate", "arrays of records");
        return NULL;
    }
    const ULONG size = ElementSize(vt);
    if (size == 0 || cDims == 0 || cDims > 0xFFFF || rgsabound == NULL)
        return NULL;
    SAFEARRAY *psa = AllocateDescriptor(cDims, 0);
    if (psa == NULL)
        return NULL;
    psa->cDims = USHORT(cDims);
    psa->fFeatures = FeaturesFor(vt);
    psa->cbElements = size;
    for (UINT i = 0; i < cDims; ++i)
        psa->rgsabound[cDims - 1 - i] = rgsabound[i];
    SetVartype(psa, vt);
    const ULONGLONG bytes = ElementCount(psa) * size;
    psa->pvData = calloc(1, size_t(bytes ? bytes : 1));
    if (psa->pvData == NULL) {
        FreeDescriptor(psa);
        return NULL;
    }
    return psa;
}

EXTERN_C SAFEARRAY *SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements)
{
    HRESULT faultHr;
    if (winsim::FaultFor("SafeArrayCreateVector", faultHr))
        return NULL;
    if (vt == VT_RECORD) {
        LogNotImplemented("SafeArrayCreateVector", "arrays of records");
        return NULL;
    }
    const ULONG size = ElementSize(vt);
    if (size == 0)
        return NULL;
    const size_t bytes = size_t(cElements) * size;
    SAFEARRAY *psa = AllocateDescriptor(1, bytes);
    if (psa == NULL)
        return NULL;
    psa->cDims = 1;
    psa->fFeatures = USHORT(FeaturesFor(vt) | FADF_CREATEVECTOR);
    psa->cbElements = size;
    psa->rgsabound[0].cElements = cElements;
    psa->rgsabound[0].lLbound = lLbound;
    psa->pvData = reinterpret_cast<char *>(psa) + sizeof(SAFEARRAY);
    SetVartype(psa, vt);
    return psa;
}

EXTERN_C HRESULT SafeArrayDestroy(SAFEARRAY *psa)
{
    if (psa == NULL)
        return S_OK;
    if (psa->cLocks > 0)
        return DISP_E_ARRAYISLOCKED;
    if (psa->pvData != NULL) {
        const ULONGLONG count = ElementCount(psa);
        for (ULONGLONG i = 0; i < count; ++i)
            ClearElement(psa->fFeatures, static_cast<char *>(psa->pvData) + i * psa->cbElements, psa->cbElements);
        if (!(psa->fFeatures & (FADF_CREATEVECTOR | FADF_STATIC | FADF_AUTO | FADF_EMBEDDED)))
            free(psa->pvData);
    }
    FreeDescriptor(psa);
    return S_OK;
}

EXTERN_C HRESULT SafeArrayCopy(SAFEARRAY *psa, SAFEARRAY **ppsaOut)
{
    HRESULT faultHr;
    if (winsim::FaultFor("SafeArrayCopy", faultHr))
        return faultHr;
    if (ppsaOut == NULL)
        return E_INVALIDARG;
    *ppsaOut = NULL;
    if (psa == NULL)
        return S_OK;  // copying no array gives no array
    if (HasRecords(psa)) {
        LogNotImplemented("SafeArrayCopy", "arrays of records");
        return E_NOTIMPL;
    }
    SAFEARRAY *copy = AllocateDescriptor(psa->cDims, 0);
    if (copy == NULL)
        return E_OUTOFMEMORY;
    const size_t descriptor = sizeof(SAFEARRAY) + (psa->cDims - 1) * sizeof(SAFEARRAYBOUND);
    memcpy(reinterpret_cast<char *>(copy) - kPrefix, reinterpret_cast<char *>(psa) - kPrefix, kPrefix + descriptor);
    copy->cLocks = 0;
    copy->fFeatures &= USHORT(~(FADF_CREATEVECTOR | FADF_STATIC | FADF_AUTO | FADF_EMBEDDED));
    const ULONGLONG count = ElementCount(psa);
    const ULONGLONG bytes = count * psa->cbElements;
    copy->pvData = calloc(1, size_t(bytes != 0 ? bytes : 1));
    if (copy->pvData == NULL) {
        FreeDescriptor(copy);
        return E_OUTOFMEMORY;
    }
    for (ULONGLONG i = 0; i < count; ++i) {
        const HRESULT hr = CopyElement(psa->fFeatures, static_cast<char *>(psa->pvData) + i * psa->cbElements,
                                       static_cast<char *>(copy->pvData) + i * psa->cbElements, psa->cbElements);
        if (FAILED(hr)) {
            SafeArrayDestroy(copy);
            return hr;
        }
    }
    *ppsaOut = copy;
    return S_OK;
}

EXTERN_C HRESULT SafeArrayLock(SAFEARRAY *psa)
{
    if (psa == NULL)
        return E_INVALIDARG;
    if (psa->cLocks >= 0xFFFF)
        return E_UNEXPECTED;  // Windows keeps at most 65535 locks
    InterlockedIncrement(reinterpret_cast<LONG volatile *>(&psa->cLocks));
    return S_OK;
}

EXTERN_C HRESULT SafeArrayUnlock(SAFEARRAY *psa)
{
    if (psa == NULL)
        return E_INVALIDARG;
    if (psa->cLocks == 0)
        return E_UNEXPECTED;
    InterlockedDecrement(reinterpret_cast<LONG volatile *>(&psa->cLocks));
    return S_OK;
}

EXTERN_C UINT SafeArrayGetDim(SAFEARRAY *psa) { return psa == NULL ? 0 : psa->cDims; }

EXTERN_C UINT SafeArrayGetElemsize(SAFEARRAY *psa) { return psa == NULL ? 0 : psa->cbElements; }

EXTERN_C HRESULT SafeArrayGetLBound(SAFEARRAY *psa, UINT nDim, LONG *plLbound)
{
    if (psa == NULL || plLbound == NULL)
        return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims)
        return DISP_E_BADINDEX;
    *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
    return S_OK;
}

EXTERN_C HRESULT SafeArrayGetUBound(SAFEARRAY *psa, UINT nDim, LONG *plUbound)
{
    if (psa == NULL || plUbound == NULL)
        return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims)
        return DISP_E_BADINDEX;
    const SAFEARRAYBOUND &bound = psa->rgsabound[psa->cDims - nDim];
    *plUbound = LONG(LONGLONG(bound.lLbound) + LONGLONG(bound.cElements) - 1);
    return S_OK;
}

EXTERN_C HRESULT SafeArrayGetVartype(SAFEARRAY *psa, VARTYPE *pvt)
{
    if (psa == NULL || pvt == NULL)
        return E_INVALIDARG;
    if (psa->fFeatures & FADF_RECORD)
        *pvt = VT_RECORD;
    else if (psa->fFeatures & FADF_HAVEVARTYPE)
        *pvt = VARTYPE(reinterpret_cast<DWORD *>(psa)[-1]);
    else if (psa->fFeatures & FADF_BSTR)
        *pvt = VT_BSTR;
    else if (psa->fFeatures & FADF_UNKNOWN)
        *pvt = VT_UNKNOWN;
    else if (psa->fFeatures & FADF_DISPATCH)
        *pvt = VT_DISPATCH;
    else if (psa->fFeatures & FADF_VARIANT)
        *pvt = VT_VARIANT;
    else
        return E_INVALIDARG;
    return S_OK;
}

EXTERN_C HRESULT SafeArrayPtrOfIndex(SAFEARRAY *psa, LONG *rgIndices, void **ppvData)
{
    if (psa == NULL || rgIndices == NULL || ppvData == NULL)
        return E_INVALIDARG;
    return ElementAddress(psa, rgIndices, ppvData);
}

EXTERN_C HRESULT SafeArrayGetElement(SAFEARRAY *psa, LONG *rgIndices, void *pv)
{
    if (psa == NULL || rgIndices == NULL || pv == NULL)
        return E_INVALIDARG;
    if (HasRecords(psa)) {
        LogNotImplemented("SafeArrayGetElement", "arrays of records");
        return E_NOTIMPL;
    }
    void *element;
    if (HRESULT hr = ElementAddress(psa, rgIndices, &element); FAILED(hr))
        return hr;
    SafeArrayLock(psa);
    HRESULT hr;
    if (psa->fFeatures & FADF_VARIANT) {
        // Whatever pv held before is ignored, not cleared.
        V_VT(static_cast<VARIANT *>(pv)) = VT_EMPTY;
        hr = VariantCopy(static_cast<VARIANT *>(pv), static_cast<VARIANT *>(element));
    } else
        hr = CopyElement(psa->fFeatures, element, pv, psa->cbElements);
    SafeArrayUnlock(psa);
    return hr;
}

EXTERN_C HRESULT SafeArrayPutElement(SAFEARRAY *psa, LONG *rgIndices, void *pv)
{
    if (psa == NULL || rgIndices == NULL)
        return E_INVALIDARG;
    if (HasRecords(psa)) {
        LogNotImplemented("SafeArrayPutElement", "arrays of records");
        return E_NOTIMPL;
    }
    void *element;
    if (HRESULT hr = ElementAddress(psa, rgIndices, &element); FAILED(hr))
        return hr;
    SafeArrayLock(psa);
    HRESULT hr = S_OK;
    if (psa->fFeatures & FADF_BSTR) {
        // For BSTR arrays pv is the string itself; NULL stores a NULL string.
        BSTR copy = NULL;
        const BSTR text = static_cast<BSTR>(pv);
        if (text != NULL)
            copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(text), SysStringByteLen(text));
        if (text != NULL && copy == NULL) {
            hr = E_OUTOFMEMORY;
        } else {
            SysFreeString(*static_cast<BSTR *>(element));
            *static_cast<BSTR *>(element) = copy;
        }
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown *object = static_cast<IUnknown *>(pv);
        if (object != NULL)
            object->AddRef();
        IUnknown *old = *static_cast<IUnknown **>(element);
        *static_cast<IUnknown **>(element) = object;
        if (old != NULL)
            old->Release();
    } else if (pv == NULL) {
        hr = E_INVALIDARG;
    } else if (psa->fFeatures & FADF_VARIANT) {
        hr = VariantCopy(static_cast<VARIANT *>(element), static_cast<VARIANT *>(pv));
    } else {
        memcpy(element, pv, psa->cbElements);
    }
    SafeArrayUnlock(psa);
    return hr;
}

EXTERN_C HRESULT SafeArrayAccessData(SAFEARRAY *psa, void **ppvData)
{
    if (psa == NULL || ppvData == NULL)
        return E_INVALIDARG;
    if (HRESULT hr = SafeArrayLock(psa); FAILED(hr)) {
        *ppvData = NULL;
        return hr;
    }
    *ppvData = psa->pvData;
    return S_OK;
}

EXTERN_C HRESULT SafeArrayUnaccessData(SAFEARRAY *psa) { return SafeArrayUnlock(psa); }
