// Helpers for the WMI tests: an owning interface pointer, an owning BSTR, and a WMI
// session made straight through the platform calls.
#pragma once

#include <platform/tvplatform.h>

#include <objbase.h>
#include <wbemidl.h>

#include <string>
#include <vector>

namespace tvtest {

template <typename T>
class Ref {
public:
    Ref() = default;
    ~Ref() { reset(); }
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    T **out()
    {
        reset();
        return &p_;
    }
    T *get() const { return p_; }
    T *operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset()
    {
        if (p_ != nullptr)
            p_->Release();
        p_ = nullptr;
    }

private:
    T *p_ = nullptr;
};

class Bstr {
public:
    explicit Bstr(const WCHAR *text) : b_(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    operator BSTR() const { return b_; }

private:
    BSTR b_;
};

class Variant {
public:
    Variant() { VariantInit(&v_); }
    ~Variant() { VariantClear(&v_); }
    Variant(const Variant &) = delete;
    Variant &operator=(const Variant &) = delete;
    VARIANT *operator&() { return &v_; }
    VARIANT *get() { return &v_; }
    VARTYPE vt() const { return v_.vt; }
    wstr text() const { return v_.vt == VT_BSTR && v_.bstrVal ? wstr(v_.bstrVal) : wstr(); }
    std::vector<wstr> strings() const
    {
        std::vector<wstr> out;
        if (v_.vt != (VT_ARRAY | VT_BSTR))
            return out;
        LONG low = 0, high = -1;
        SafeArrayGetLBound(v_.parray, 1, &low);
        SafeArrayGetUBound(v_.parray, 1, &high);
        for (LONG i = low; i <= high; ++i) {
            BSTR item = NULL;
            SafeArrayGetElement(v_.parray, &i, &item);
            out.push_back(item ? wstr(item) : wstr());
            SysFreeString(item);
        }
        return out;
    }

private:
    VARIANT v_;
};

// A VT_I4 variant (nothing to free).
inline VARIANT I4(LONG value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

// COM in the multithreaded apartment for the life of the object.
class ComScope {
public:
    ComScope() : hr_(CoInitializeEx(NULL, COINIT_MULTITHREADED)) {}
    ~ComScope()
    {
        if (SUCCEEDED(hr_))
            CoUninitialize();
    }
    HRESULT result() const { return hr_; }

private:
    HRESULT hr_;
};

inline HRESULT Connect(const WCHAR *wmiNamespace, Ref<IWbemLocator> &locator, Ref<IWbemServices> &services)
{
    HRESULT hr = CoCreateInstance(CLSID_WbemLocator, NULL, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                  reinterpret_cast<void **>(locator.out()));
    if (FAILED(hr))
        return hr;
    Bstr name(wmiNamespace);
    return locator->ConnectServer(name, NULL, NULL, NULL, 0, NULL, NULL, services.out());
}

// Every object of a query, read with Next one at a time.
inline HRESULT Query(IWbemServices *services, const WCHAR *wql, std::vector<IWbemClassObject *> *objects)
{
    Bstr language(W("WQL"));
    Bstr query(wql);
    Ref<IEnumWbemClassObject> enumerator;
    HRESULT hr = services->ExecQuery(language, query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, NULL,
                                     enumerator.out());
    if (FAILED(hr))
        return hr;
    for (;;) {
        IWbemClassObject *object = NULL;
        ULONG returned = 0;
        hr = enumerator->Next(WBEM_INFINITE, 1, &object, &returned);
        if (FAILED(hr) || returned == 0)
            return hr;
        objects->push_back(object);
    }
}

inline void ReleaseAll(std::vector<IWbemClassObject *> &objects)
{
    for (auto *object : objects)
        object->Release();
    objects.clear();
}

} // namespace tvtest
