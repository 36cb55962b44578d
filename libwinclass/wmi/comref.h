// Owners of COM resources for the library's own code (internal): an interface pointer and
// a VARIANT.
#pragma once

#include <platform/tvplatform.h>

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
    void clear() { VariantClear(&value_); }
    // The string it holds; a value of another type gives the empty string.
    const WCHAR *text() const { return value_.vt == VT_BSTR && value_.bstrVal != NULL ? value_.bstrVal : W(""); }

private:
    VARIANT value_;
};

} // namespace winclass
