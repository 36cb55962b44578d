// Helpers of the liblocal suites: scratch directories, whole-file reads and writes, the
// environment, all through the Windows calls (so on winsim through its sandbox).
#pragma once

#include <platform/tvplatform.h>

#include <cstdio>
#include <random>
#include <string>

namespace tvtest {

inline wstr Wide(const std::string &utf8)
{
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    wstr wide(size_t(units > 0 ? units : 0), WCHAR(0));
    if (units > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], units);
    return wide;
}

// A directory name under C:\tvtest that no other run uses (not created).
inline std::string UniqueDirectory(const std::string &purpose)
{
    std::random_device random;
    char suffix[20];
    std::snprintf(suffix, sizeof suffix, "%08x%08x", unsigned(random()), unsigned(random()));
    return "C:\\tvtest\\liblocal\\" + purpose + "-" + suffix;
}

inline DWORD Attributes(const std::string &path) { return GetFileAttributesW(Wide(path).c_str()); }

inline bool IsDirectory(const std::string &path)
{
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The whole content of a file; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string &path)
{
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string content;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        content.append(chunk, got);
    CloseHandle(file);
    return content;
}

inline bool WriteWholeFile(const std::string &path, const std::string &content)
{
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, content.data(), DWORD(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

// Sets (or with nullptr removes) a variable of the process environment.
inline void SetEnvironment(const char *name, const char *value)
{
    SetEnvironmentVariableW(Wide(name).c_str(), value ? Wide(value).c_str() : nullptr);
}

} // namespace tvtest
