// What the command does differently on Windows and on the simulated platform.
#pragma once

#include <string>
#include <vector>

namespace winclass {

// The command line as UTF-8 texts, program name first.
std::vector<std::string> CommandLineArguments(int argc, char **argv);

// Makes the described host in a JSON file the one the command works on. Only the
// simulated platform has described hosts: on Windows this fails with a reason.
bool UseDescribedHost(const std::string &file, std::string *error);

// True when standard output is an interactive terminal (progress is then drawn in place).
bool StandardOutputIsTerminal();

} // namespace winclass
