// Input bytes as a file of the simulated machine, for the readers that take a path.
#pragma once

#include <platform/tvplatform.h>

#include <string>

// Writes the bytes to path (a drive path, made under C:\fuzz); false when it cannot.
inline bool WriteFuzzFile(const WCHAR *path, const std::string &bytes)
{
    CreateDirectoryW(W("C:\\fuzz"), nullptr);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}
