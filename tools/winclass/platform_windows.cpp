// Windows: the command works on this machine.
#include "platform.h"

#include "output.h"
#include "paths.h"

#include <platform/tvplatform.h>

#include <shellapi.h>
#include <io.h>
#include <cstdio>

namespace winclass {

std::vector<std::string> CommandLineArguments(int argc, char **argv)
{
    // The narrow argv is in the ANSI code page; the wide command line keeps every name.
    int count = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == NULL)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(Shown(wide[i]));
    LocalFree(wide);
    return arguments;
}

bool UseDescribedHost(const std::string &, std::string *error)
{
    *error = "--host works on the simulated platform only; on Windows the command works on this machine";
    return false;
}

bool UseHostFromEnvironment(std::string *) { return true; }

bool StandardOutputIsTerminal()
{
    return _isatty(_fileno(stdout)) != 0;
}

std::string LogFolderDescription()
{
    return "TLV_LOGSDIR when set, else %ProgramData%\\Tolvane\\logs";
}

void PrepareLogs() {}

bool KeepLogs(std::string *folder, std::string *)
{
    *folder = std::string();
    return true;
}

namespace {

HANDLE AsHandle(intptr_t file) { return reinterpret_cast<HANDLE>(file); }

} // namespace

PlainFile::~PlainFile()
{
    if (file_ != -1)
        CloseHandle(AsHandle(file_));
}

bool PlainFile::Create(const std::filesystem::path &path, std::string *error)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        *error = ErrorText(GetLastError());
        return false;
    }
    if (file_ != -1)
        CloseHandle(AsHandle(file_));
    file_ = reinterpret_cast<intptr_t>(file);
    return true;
}

bool PlainFile::Write(const void *data, size_t size, std::string *error)
{
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const DWORD piece = size > 0x40000000 ? 0x40000000 : DWORD(size);
        DWORD put = 0;
        if (!WriteFile(AsHandle(file_), bytes, piece, &put, NULL) || put == 0) {
            *error = ErrorText(GetLastError());
            return false;
        }
        bytes += put;
        size -= put;
    }
    return true;
}

bool PlainFile::Close(std::string *error)
{
    const HANDLE file = AsHandle(file_);
    file_ = -1;
    if (!CloseHandle(file)) {
        *error = ErrorText(GetLastError());
        return false;
    }
    return true;
}

} // namespace winclass
