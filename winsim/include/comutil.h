// winsim: the COM support class _bstr_t, as the compiler's comutil.h defines it: a
// handle to a shared, reference-counted record holding a BSTR and a cached narrow copy
// of it in the ANSI code page.
#pragma once

#include "windows.h"
#include "oleauto.h"

class _com_error;
inline void WINAPI _com_issue_error(HRESULT hr);

namespace _com_util {
// The narrow text in the ANSI code page, as a new BSTR (NULL for NULL).
WINSIM_API BSTR WINAPI ConvertStringToBSTR(const char *pSrc);
// The BSTR in the ANSI code page, as a new char[] freed with delete[] (NULL for NULL).
WINSIM_API char *WINAPI ConvertBSTRToString(BSTR pSrc);
} // namespace _com_util

class _bstr_t {
public:
    _bstr_t() noexcept : m_Data(NULL) {}
    _bstr_t(const _bstr_t &s) noexcept : m_Data(s.m_Data) { _AddRef(); }
    _bstr_t(const char *s) : m_Data(new Data_t(s)) {}
    _bstr_t(const WCHAR *s) : m_Data(new Data_t(s)) {}
    _bstr_t(BSTR bstr, bool fCopy) : m_Data(new Data_t(bstr, fCopy)) {}
    ~_bstr_t() noexcept { _Free(); }

    _bstr_t &operator=(const _bstr_t &s) noexcept
    {
        if (this != &s) {
            _Free();
            m_Data = s.m_Data;
            _AddRef();
        }
        return *this;
    }
    _bstr_t &operator=(const char *s)
    {
        Data_t *fresh = new Data_t(s);
        _Free();
        m_Data = fresh;
        return *this;
    }
    _bstr_t &operator=(const WCHAR *s)
    {
        if (s == NULL || m_Data == NULL || s != m_Data->GetWString()) {
            Data_t *fresh = new Data_t(s);
            _Free();
            m_Data = fresh;
        }
        return *this;
    }
    _bstr_t &operator+=(const _bstr_t &s)
    {
        Data_t *joined = new Data_t(*this, s);
        _Free();
        m_Data = joined;
        return *this;
    }
    _bstr_t operator+(const _bstr_t &s) const
    {
        _bstr_t joined(*this);
        joined += s;
        return joined;
    }

    operator const WCHAR *() const noexcept { return m_Data ? m_Data->GetWString() : NULL; }
    operator WCHAR *() const noexcept { return m_Data ? m_Data->GetWString() : NULL; }
    operator const char *() const { return m_Data ? m_Data->GetString() : NULL; }
    operator char *() const { return const_cast<char *>(m_Data ? m_Data->GetString() : NULL); }

    bool operator!() const noexcept { return m_Data == NULL || m_Data->GetWString() == NULL; }
    bool operator==(const _bstr_t &s) const noexcept { return _Compare(s) == 0; }
    bool operator!=(const _bstr_t &s) const noexcept { return _Compare(s) != 0; }
    bool operator<(const _bstr_t &s) const noexcept { return _Compare(s) < 0; }
    bool operator>(const _bstr_t &s) const noexcept { return _Compare(s) > 0; }
    bool operator<=(const _bstr_t &s) const noexcept { return _Compare(s) <= 0; }
    bool operator>=(const _bstr_t &s) const noexcept { return _Compare(s) >= 0; }

    BSTR copy(bool fCopy = true) const
    {
        if (m_Data == NULL)
            return NULL;
        return fCopy ? m_Data->Copy() : m_Data->GetWString();
    }
    unsigned int length() const noexcept { return m_Data ? m_Data->Length() : 0; }
    void Assign(BSTR s)
    {
        if (m_Data != NULL && m_Data->RefCount() == 1) {
            m_Data->Assign(s);
        } else {
            Data_t *fresh = new Data_t(s, true);
            _Free();
            m_Data = fresh;
        }
    }
    BSTR &GetBSTR()
    {
        if (m_Data == NULL)
            m_Data = new Data_t(static_cast<BSTR>(NULL), false);
        return m_Data->GetWStringRef();
    }
    BSTR *GetAddress()
    {
        Attach(NULL);
        return &m_Data->GetWStringRef();
    }
    void Attach(BSTR s)
    {
        _Free();
        m_Data = new Data_t(s, false);
    }
    BSTR Detach() noexcept
    {
        if (m_Data != NULL && m_Data->RefCount() == 1) {
            BSTR detached = m_Data->GetWString();
            m_Data->GetWStringRef() = NULL;
            _Free();
            return detached;
        }
        return NULL;
    }

private:
    class Data_t {
    public:
        explicit Data_t(const char *s) : m_wstr(_com_util::ConvertStringToBSTR(s)), m_str(NULL), m_RefCount(1) {}
        explicit Data_t(const WCHAR *s);
        Data_t(BSTR bstr, bool fCopy);
        Data_t(const _bstr_t &s1, const _bstr_t &s2);
        ~Data_t() noexcept { _Free(); }
        Data_t(const Data_t &) = delete;
        Data_t &operator=(const Data_t &) = delete;

        ULONG AddRef() noexcept { return (ULONG)InterlockedIncrement(reinterpret_cast<LONG volatile *>(&m_RefCount)); }
        ULONG Release() noexcept
        {
            const ULONG remaining = (ULONG)InterlockedDecrement(reinterpret_cast<LONG volatile *>(&m_RefCount));
            if (remaining == 0)
                delete this;
            return remaining;
        }
        ULONG RefCount() const noexcept { return m_RefCount; }
        BSTR GetWString() const noexcept { return m_wstr; }
        BSTR &GetWStringRef() noexcept { return m_wstr; }
        const char *GetString() const
        {
            if (m_str == NULL)
                m_str = _com_util::ConvertBSTRToString(m_wstr);
            return m_str;
        }
        BSTR Copy() const;
        void Assign(BSTR s);
        unsigned int Length() const noexcept { return m_wstr ? SysStringLen(m_wstr) : 0; }
        int Compare(const Data_t &other) const noexcept;

    private:
        void _Free() noexcept
        {
            SysFreeString(m_wstr);
            m_wstr = NULL;
            delete[] m_str;
            m_str = NULL;
        }

        BSTR m_wstr;
        mutable char *m_str;
        ULONG m_RefCount;
    };

    void _AddRef() noexcept
    {
        if (m_Data != NULL)
            m_Data->AddRef();
    }
    void _Free() noexcept
    {
        if (m_Data != NULL) {
            m_Data->Release();
            m_Data = NULL;
        }
    }
    int _Compare(const _bstr_t &s) const noexcept
    {
        if (m_Data == s.m_Data)
            return 0;
        if (m_Data == NULL)
            return -1;
        if (s.m_Data == NULL)
            return 1;
        return m_Data->Compare(*s.m_Data);
    }

    Data_t *m_Data;
};

inline _bstr_t operator+(const char *s1, const _bstr_t &s2) { return _bstr_t(s1) + s2; }
inline _bstr_t operator+(const WCHAR *s1, const _bstr_t &s2) { return _bstr_t(s1) + s2; }

inline _bstr_t::Data_t::Data_t(const WCHAR *s) : m_wstr(SysAllocString(s)), m_str(NULL), m_RefCount(1)
{
    if (m_wstr == NULL && s != NULL)
        _com_issue_error(E_OUTOFMEMORY);
}

inline _bstr_t::Data_t::Data_t(BSTR bstr, bool fCopy) : m_wstr(bstr), m_str(NULL), m_RefCount(1)
{
    if (fCopy && bstr != NULL) {
        m_wstr = SysAllocStringByteLen(reinterpret_cast<const char *>(bstr), SysStringByteLen(bstr));
        if (m_wstr == NULL)
            _com_issue_error(E_OUTOFMEMORY);
    }
}

inline _bstr_t::Data_t::Data_t(const _bstr_t &s1, const _bstr_t &s2) : m_wstr(NULL), m_str(NULL), m_RefCount(1)
{
    const unsigned int l1 = s1.length();
    const unsigned int l2 = s2.length();
    m_wstr = SysAllocStringLen(NULL, l1 + l2);
    if (m_wstr == NULL)
        _com_issue_error(E_OUTOFMEMORY);
    const WCHAR *w1 = static_cast<const WCHAR *>(s1);
    const WCHAR *w2 = static_cast<const WCHAR *>(s2);
    for (unsigned int i = 0; i < l1; ++i)
        m_wstr[i] = w1[i];
    for (unsigned int i = 0; i < l2; ++i)
        m_wstr[l1 + i] = w2[i];
    m_wstr[l1 + l2] = 0;
}

inline BSTR _bstr_t::Data_t::Copy() const
{
    if (m_wstr == NULL)
        return NULL;
    BSTR copied = SysAllocStringByteLen(reinterpret_cast<const char *>(m_wstr), SysStringByteLen(m_wstr));
    if (copied == NULL)
        _com_issue_error(E_OUTOFMEMORY);
    return copied;
}

inline void _bstr_t::Data_t::Assign(BSTR s)
{
    _Free();
    if (s != NULL) {
        m_wstr = SysAllocStringByteLen(reinterpret_cast<const char *>(s), SysStringByteLen(s));
        if (m_wstr == NULL)
            _com_issue_error(E_OUTOFMEMORY);
    }
}

inline int _bstr_t::Data_t::Compare(const Data_t &other) const noexcept
{
    if (m_wstr == NULL)
        return other.m_wstr ? -1 : 0;
    if (other.m_wstr == NULL)
        return 1;
    const unsigned int l1 = SysStringLen(m_wstr);
    const unsigned int l2 = SysStringLen(other.m_wstr);
    const unsigned int common = l1 < l2 ? l1 : l2;
    for (unsigned int i = 0; i < common; ++i) {
        if (m_wstr[i] != other.m_wstr[i])
            return (int)m_wstr[i] - (int)other.m_wstr[i];
    }
    return l1 < l2 ? -1 : (l1 == l2 ? 0 : 1);
}

#include "comdef.h"
