// A COM object for the tests of the platform calls: counts its references so that
// AddRef and Release made on the caller's behalf can be checked.
#pragma once

#include <platform/tvplatform.h>

#include <objbase.h>

namespace tvtest {

class CountingObject : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) override
    {
        if (ppvObject == NULL)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppvObject = static_cast<IUnknown *>(this);
            AddRef();
            return S_OK;
        }
        *ppvObject = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }  // lives on the test's stack

    ULONG references() const { return references_; }

private:
    ULONG references_ = 1;
};

} // namespace tvtest
