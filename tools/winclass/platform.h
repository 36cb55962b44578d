// What the command does differently on Windows and on the simulated platform.
#pragma once

#include <platform/tvplatform.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace winclass {

// The command line as UTF-8 texts, program name first.
std::vector<std::string> CommandLineArguments(int argc, char **argv);

// Makes the described host in a JSON file, or an embedded host named as WINSIM_HOST names
// it ("default", "cluster-node"), the one the command works on. Only the simulated
// platform has described hosts: on Windows this fails with a reason.
bool UseDescribedHost(const std::string &fileOrName, std::string *error);
// Loads the host WINSIM_HOST names, if any, so that one that does not load is reported as
// the command reports any failure. True when there is nothing to load.
bool UseHostFromEnvironment(std::string *error);

// True when standard output is an interactive terminal (progress is then drawn in place).
bool StandardOutputIsTerminal();

// Where the client's logs (client.log, vsscr.log, debug.log) can be read once the
// command has ended, for --help.
std::string LogFolderDescription();
// Before any command runs: points the library's logs where KeepLogs finds them.
void PrepareLogs();
// After the command: on the simulated platform the logs are copied out of the host's
// sandbox, which goes with the process. Answers where they are, or an error.
bool KeepLogs(std::string *folder, std::string *error);

// A file of the machine the command runs on (a backup's copy), not of the host it works
// on: written with the platform's own file calls, unbuffered, in the caller's pieces.
class PlainFile {
public:
    PlainFile() = default;
    ~PlainFile();
    PlainFile(const PlainFile &) = delete;
    PlainFile &operator=(const PlainFile &) = delete;

    // Creates the file, or empties one that is there. On failure, error says why.
    bool Create(const std::filesystem::path &path, std::string *error);
    bool Write(const void *data, size_t size, std::string *error);
    // Closes it; a failure here is a failure of the writes before it.
    bool Close(std::string *error);

private:
    intptr_t file_ = -1;  // a descriptor, or a HANDLE on Windows
};

} // namespace winclass
