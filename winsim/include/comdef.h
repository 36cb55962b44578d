// winsim: the COM support error class _com_error and _com_issue_error.
#pragma once

#include "windows.h"

class _com_error {
public:
    explicit _com_error(HRESULT hr) noexcept : m_hresult(hr) {}
    _com_error(const _com_error &) noexcept = default;
    _com_error &operator=(const _com_error &) noexcept = default;
    virtual ~_com_error() = default;

    HRESULT Error() const noexcept { return m_hresult; }
    WORD WCode() const noexcept { return HRESULTToWCode(m_hresult); }
    static WORD HRESULTToWCode(HRESULT hr) noexcept
    {
        return (hr >= (HRESULT)0x80040200 && hr <= (HRESULT)0x8004FFFF) ? WORD(hr - (HRESULT)0x80040200) : 0;
    }

private:
    HRESULT m_hresult;
};

inline void WINAPI _com_issue_error(HRESULT hr) { throw _com_error(hr); }

#include "comutil.h"
