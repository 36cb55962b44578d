// Helpers shared by the runtime's sources; nothing here is exported.
#pragma once

#include <platform/tvplatform.h>
#include <liblocal/vodevices.h>

#include <cstdarg>
#include <cstddef>
#include <string>

namespace vo {

// Conversions with U+FFFD for ill-formed input; a NULL text gives the empty text.
wstr Widen(const char *utf8);
std::string Narrow(const WCHAR *wide, size_t length);
inline std::string Narrow(const wstr &wide) { return Narrow(wide.data(), wide.size()); }

// printf into a new string (args is consumed).
std::string FormatV(const char *format, va_list args);

// The code point at text, stepping past it; an ill-formed byte is one U+FFFD.
char32_t NextCodePoint(const char *&text);

// The simple upper-case form of a code point, as Windows folds letters in file names
// (Latin, Greek, Cyrillic, full-width Latin); others are their own fold.
char32_t FoldCase(char32_t codePoint);

// A copy in a new malloc'd buffer (aborts when memory runs out).
char *MallocCopy(const std::string &text);

// Appends one line to a file in the logs directory. Failures are dropped: logging must
// never be the reason an operation fails.
void AppendToLog(const char *fileName, const std::string &line);

// "2024-05-01T10:11:12.345Z"
std::string UtcTimestamp();

// Hands a rendered text to the output hook, if one is set.
void NotifyHook(int kind, int number, int code, int severity, const std::string &text);

// Keeps the calling thread's error state (GetLastError, errno, the runtime's last error)
// across work that may change it, such as writing a log line.
class PreservedErrorState {
public:
    PreservedErrorState();
    ~PreservedErrorState();
    PreservedErrorState(const PreservedErrorState &) = delete;
    PreservedErrorState &operator=(const PreservedErrorState &) = delete;

private:
    DWORD lastError_;
    int errno_;
    int voCode_;
    int voKind_;
};

// Records a Windows error as both GetLastError() and the runtime's last error.
void SetWin32Error(DWORD code);

// An owned kernel handle, closed once.
using FileHandle = DeviceHandle;

} // namespace vo
