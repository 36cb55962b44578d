// An owning COM interface pointer for the library's own code (internal).
#pragma once

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

} // namespace winclass
