// CComBSTR: an owner of one BSTR, as the requester's restore-method accessor hands out.
// Compilers that ship ATL use its class; the others get this small one with the same
// members the client calls.
#pragma once

#if defined(_MSC_VER) && __has_include(<atlbase.h>)
#include <atlbase.h>
#else
#include <oleauto.h>
#include <memory>
#include <platform/tvplatform.h>

class CComBSTR {
public:
    BSTR m_str = nullptr;

    CComBSTR() = default;
    explicit CComBSTR(const WCHAR *text) : m_str(text ? SysAllocString(text) : nullptr) {}
    CComBSTR(const CComBSTR &other) : m_str(other.Copy()) {}
    CComBSTR(CComBSTR &&other) noexcept : m_str(other.m_str) { other.m_str = nullptr; }
    CComBSTR &operator=(const CComBSTR &other)
    {
        if (this != std::addressof(other)) {
            Empty();
            m_str = other.Copy();
        }
        return *this;
    }
    CComBSTR &operator=(CComBSTR &&other) noexcept
    {
        if (this != std::addressof(other)) {
            Empty();
            m_str = other.m_str;
            other.m_str = nullptr;
        }
        return *this;
    }
    ~CComBSTR() { Empty(); }

    void Empty()
    {
        SysFreeString(m_str);
        m_str = nullptr;
    }
    // Takes ownership of a BSTR made elsewhere.
    void Attach(BSTR text)
    {
        if (text != m_str) {
            Empty();
            m_str = text;
        }
    }
    BSTR Detach()
    {
        BSTR text = m_str;
        m_str = nullptr;
        return text;
    }
    BSTR Copy() const { return m_str ? SysAllocStringLen(m_str, SysStringLen(m_str)) : nullptr; }
    unsigned int Length() const { return SysStringLen(m_str); }
    operator BSTR() const { return m_str; }
    // For out-parameters: the old text is released first.
    BSTR *operator&()
    {
        Empty();
        return &m_str;
    }
};
#endif
