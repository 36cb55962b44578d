// Windows: the command works on this machine.
#include "platform.h"

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

} // namespace winclass
