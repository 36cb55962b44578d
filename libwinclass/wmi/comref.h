// Owners of COM interface pointers, VARIANTs and WMI sessions for the library's own code
// (internal).
#pragma once

#include <libwinclass/wmi.h>

#include <oleauto.h>

namespace winclass {

template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() { reset(); }
    ComRef(const ComRef &) = delete;
    ComRef &operator=(const ComRef &) = delete;

    // The variable a call fills; whatever was held is released first.
    T **out()
    {
        reset();
        return &pointer_;
    }
    T *get() const { return pointer_; }
    T *operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    // Hands the pointer over to the caller.
    T *release()
    {
        T *held = pointer_;
        pointer_ = nullptr;
        return held;
    }
    void reset()
    {
        if (pointer_ != nullptr)
            pointer_->Release();
        pointer_ = nullptr;
    }

private:
    T *pointer_ = nullptr;
};

// A VARIANT cleared when it goes, or on demand between two reads.
class ScopedVariant {
public:
    ScopedVariant() { VariantInit(&value_); }
    ~ScopedVariant() { VariantClear(&value_); }
    ScopedVariant(const ScopedVariant &) = delete;
    ScopedVariant &operator=(const ScopedVariant &) = delete;
    VARIANT *get() { return &value_; }
    const VARIANT *get() const { return &value_; }
    void clear() { VariantClear(&value_); }
    // The string it holds; a property of another type gives the empty string.
    const WCHAR *text() const { return value_.vt == VT_BSTR && value_.bstrVal != NULL ? value_.bstrVal : W(""); }

private:
    VARIANT value_;
};

// The WMI session of one call, closed on every path (also after a failed open, which
// cleanup_wbem balances).
class WbemSession {
public:
    WbemSession() = default;
    ~WbemSession() { cleanup_wbem(&services, &locator); }
    WbemSession(const WbemSession &) = delete;
    WbemSession &operator=(const WbemSession &) = delete;
    IWbemServices *services = NULL;
    IWbemLocator *locator = NULL;
};

} // namespace winclass
