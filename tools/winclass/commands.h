// The subcommands of winclass. Each returns the process exit code: 0 when every step
// succeeded, 1 when a step of the library failed, 2 for bad input.
#pragma once

#include "output.h"

#include <string>
#include <vector>

namespace winclass {

struct BackupOptions {
    std::vector<std::string> paths;  // what to save: folders or files on the host
    std::string destination;         // a folder of the machine running the command
};

int RunBackup(const BackupOptions &options, Output &output);
int RunMap(const std::string &path, Output &output);
int RunVolumes(Output &output);

} // namespace winclass
