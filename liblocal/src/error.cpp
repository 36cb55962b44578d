// The client's per-thread last error and error texts.
#include <liblocal/voerror.h>
#include <liblocal/vostrings.h>
#include <liblocal/xalloc.h>

#include "internal.h"

#include <cerrno>
#include <new>
#include <system_error>

namespace {

struct LastError {
    int code = 0;
    int kind = VO_ERR_NONE;
};
thread_local LastError t_lastError;

// FormatMessageW's text for a Windows code or HRESULT, without its trailing line end;
// empty when the system has none.
std::string SystemText(DWORD code)
{
    LPWSTR text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string narrow;
    if (length > 0 && text != nullptr)
        narrow = vo::Narrow(text, length);
    if (text != nullptr)
        LocalFree(text);
    while (!narrow.empty() && (narrow.back() == '\r' || narrow.back() == '\n' || narrow.back() == ' '))
        narrow.pop_back();
    return narrow;
}

std::string ErrorText(int code, int kind)
{
    std::string text;
    switch (kind) {
    case VO_ERR_NONE:
        return "No error";
    case VO_ERR_WIN32:
    case VO_ERR_HRESULT:
        text = SystemText(static_cast<DWORD>(code));
        break;
    case VO_ERR_ERRNO:
        text = std::generic_category().message(code);
        break;
    default:
        break;
    }
    return text.empty() ? "Unknown error" : text;
}

int Win32ToErrno(DWORD code)
{
    switch (code) {
    case ERROR_SUCCESS:
        return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_ENVVAR_NOT_FOUND:
    case ERROR_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_DATA:
        return EINVAL;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_INSUFFICIENT_BUFFER:
    case ERROR_MORE_DATA:
    case ERROR_FILENAME_EXCED_RANGE:
        return ERANGE;
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED:
        return ENOSYS;
    case ERROR_BUSY:
        return EBUSY;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    default:
        return EIO;
    }
}

} // namespace

void vo_error_set_last(int code, int kind)
{
    t_lastError.code = code;
    t_lastError.kind = kind;
}

int vo_error_get_last(void) { return t_lastError.code; }

int vo_error_get_last_kind(void) { return t_lastError.kind; }

char *vo_error_get_message(char *buf, size_t size)
{
    if (buf == nullptr)
        return nullptr;
    try {
        vo_strlcpy(buf, ErrorText(t_lastError.code, t_lastError.kind).c_str(), size);
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
    return buf;
}

int vo_error_to_errno(int code, int kind)
{
    switch (kind) {
    case VO_ERR_NONE:
        return 0;
    case VO_ERR_ERRNO:
        return code;
    case VO_ERR_WIN32:
        return Win32ToErrno(static_cast<DWORD>(code));
    case VO_ERR_HRESULT: {
        const HRESULT hr = static_cast<HRESULT>(code);
        if (SUCCEEDED(hr))
            return 0;
        if (HRESULT_FACILITY(hr) == FACILITY_WIN32)
            return Win32ToErrno(HRESULT_CODE(hr));
        if (hr == E_OUTOFMEMORY)
            return ENOMEM;
        if (hr == E_INVALIDARG || hr == E_POINTER)
            return EINVAL;
        if (hr == E_ACCESSDENIED)
            return EACCES;
        if (hr == E_NOTIMPL)
            return ENOSYS;
        return EIO;
    }
    default:
        return EIO;
    }
}

const char *nt_syserror(void)
{
    constexpr int slotCount = 4;
    constexpr size_t slotSize = 1024;
    thread_local char slots[slotCount][slotSize];
    thread_local int next = 0;

    const DWORD code = GetLastError();
    char *slot = slots[next];
    next = (next + 1) % slotCount;
    vo_error_set_last(static_cast<int>(code), VO_ERR_WIN32);
    vo_error_get_message(slot, slotSize);
    SetLastError(code);
    return slot;
}

namespace vo {

void SetWin32Error(DWORD code)
{
    // In this order: reaching a thread_local may go through TlsGetValue, which clears the
    // thread's last error.
    vo_error_set_last(static_cast<int>(code), VO_ERR_WIN32);
    SetLastError(code);
}

PreservedErrorState::PreservedErrorState()
    : lastError_(GetLastError()), errno_(errno), voCode_(t_lastError.code), voKind_(t_lastError.kind)
{
}

PreservedErrorState::~PreservedErrorState()
{
    t_lastError.code = voCode_;
    t_lastError.kind = voKind_;
    errno = errno_;
    SetLastError(lastError_);
}

} // namespace vo
