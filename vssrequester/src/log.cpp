// The requester's own log: one line per operation, with its HRESULT.
#include "internal.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace vsscr {

namespace {

// The log is process-wide, as the requester is.
struct LogFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    unsigned int level = 0;

    void Close()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    ~LogFile() { Close(); }
};

LogFile &TheLog()
{
    static LogFile log;
    return log;
}

void WriteLine(const std::string &text)
{
    LogFile &log = TheLog();
    if (log.handle == INVALID_HANDLE_VALUE)
        return;
    char stamp[32] = "";
    std::time_t now = std::time(nullptr);
    std::tm parts {};
#ifdef _WIN32
    gmtime_s(&parts, &now);
#else
    gmtime_r(&now, &parts);
#endif
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S ", &parts);
    std::string line = stamp + text;
    if (line.empty() || line.back() != '\n')
        line += "\r\n";
    DWORD written = 0;
    WriteFile(log.handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

} // namespace

bool OpenLog(const wstr &path, unsigned int level, bool append)
{
    LogFile &log = TheLog();
    log.Close();
    log.handle = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log.handle == INVALID_HANDLE_VALUE)
        return false;
    if (append) {
        LARGE_INTEGER start {};
        SetFilePointerEx(log.handle, start, nullptr, FILE_END);
    }
    log.level = level;
    return true;
}

void CloseLog()
{
    TheLog().Close();
}

bool LogEnabled()
{
    return TheLog().handle != INVALID_HANDLE_VALUE;
}

unsigned int LogLevel()
{
    return TheLog().level;
}

void LogResult(const char *operation, HRESULT hr)
{
    if (!LogEnabled())
        return;
    char text[512];
    std::snprintf(text, sizeof(text), "%s: hr=0x%08x%s", operation, static_cast<unsigned>(hr),
                  FAILED(hr) ? " (failed)" : "");
    WriteLine(text);
}

void LogLine(const char *format, ...)
{
    if (!LogEnabled())
        return;
    char text[2048];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    WriteLine(text);
}

HRESULT WaitForAsync(const char *operation, HRESULT started, IVssAsync *async)
{
    if (FAILED(started)) {
        LogResult(operation, started);
        return started;
    }
    if (async == nullptr) {
        LogResult(operation, E_POINTER);
        return E_POINTER;
    }
    HRESULT hr = async->Wait(INFINITE);
    if (FAILED(hr)) {
        LogLine("%s: wait failed", operation);
        LogResult(operation, hr);
        return hr;
    }
    HRESULT status = S_OK;
    hr = async->QueryStatus(&status, nullptr);
    if (FAILED(hr)) {
        LogLine("%s: status query failed", operation);
        LogResult(operation, hr);
        return hr;
    }
    if (FAILED(status)) {
        LogResult(operation, status);
        return status;
    }
    if (status == VSS_S_ASYNC_CANCELLED) {
        LogLine("%s: cancelled", operation);
        LogResult(operation, E_ABORT);
        return E_ABORT;
    }
    if (status != VSS_S_ASYNC_FINISHED) {
        // Wait returned while the operation still runs: nothing it promised holds yet.
        LogLine("%s: still pending after the wait (status 0x%08x)", operation, static_cast<unsigned>(status));
        LogResult(operation, VSS_E_UNEXPECTED);
        return VSS_E_UNEXPECTED;
    }
    LogResult(operation, S_OK);
    return S_OK;
}

} // namespace vsscr
