// What the winclass command tests share: files read whole, a fresh folder per test, the
// simulated host switched, the built program run in a folder of its own.
#pragma once

#include <winsim/host.h>
#include <winsim/hostmodel.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace commandtest {

namespace fs = std::filesystem;

inline std::string ReadAll(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A fresh folder under this process's own; not made.
inline fs::path Fresh(const std::string &name)
{
    fs::path folder = fs::temp_directory_path() / ("winclass-test-" + std::to_string(::getpid())) / name;
    fs::remove_all(folder);
    return folder;
}

inline void UseHost(const std::string &name) { winsim::ReplaceHost(winsim::ParseHost(winsim::EmbeddedHostJson(name))); }

struct ProgramRun {
    int exitCode;
    std::string out, err;
};

#ifdef WINCLASS_PROGRAM
// The built program, run in folder with its output kept there; no host or log folder
// comes in from the test's environment.
inline ProgramRun RunProgram(const std::string &arguments, const fs::path &folder, const std::string &environment = "")
{
    fs::create_directories(folder);
    const std::string command = "cd '" + folder.string() + "' && env -u WINSIM_HOST -u TLV_LOGSDIR XDG_STATE_HOME='" +
                                (folder / "state").string() + "' " + environment + " '" WINCLASS_PROGRAM "' " +
                                arguments + " >out 2>err";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(folder / "out"), ReadAll(folder / "err")};
}
#endif

} // namespace commandtest
