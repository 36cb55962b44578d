// The simulated platform: described hosts come from winsim's host model, and the host's
// files (the client's logs among them) live in a sandbox that goes with the process.
#include "platform.h"

#include <platform/tvplatform.h>
#include <winsim/host.h>
#include <winsim/hostmodel.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winclass {

namespace {

namespace fs = std::filesystem;

// Where the library writes its logs inside the host while the command runs.
const WCHAR kHostLogFolder[] = W("C:\\ProgramData\\Tolvane\\logs");

// The real folder the logs are kept in: TLV_LOGSDIR when it names a Linux folder, else
// the user's state folder.
fs::path RealLogFolder()
{
    const char *chosen = std::getenv("TLV_LOGSDIR");
    if (chosen != nullptr && chosen[0] == '/')
        return chosen;
    const char *state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/')
        return fs::path(state) / "winclass" / "logs";
    const char *home = std::getenv("HOME");
    return fs::path(home != nullptr && home[0] == '/' ? home : "/tmp") / ".local" / "state" / "winclass" / "logs";
}

} // namespace

std::vector<std::string> CommandLineArguments(int argc, char **argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

bool UseDescribedHost(const std::string &fileOrName, std::string *error)
{
    try {
        // A bare name, as WINSIM_HOST takes it, is an embedded host.
        if (fileOrName.find('/') == std::string::npos && fileOrName.find('.') == std::string::npos &&
            !fs::exists(fileOrName))
            winsim::ReplaceHost(winsim::ParseHost(winsim::EmbeddedHostJson(fileOrName)));
        else
            winsim::ReplaceHost(winsim::LoadHostFile(fileOrName));
        return true;
    } catch (const std::exception &failure) {
        *error = failure.what();
        return false;
    }
}

bool UseHostFromEnvironment(std::string *error)
{
    const char *chosen = std::getenv("WINSIM_HOST");
    if (chosen == nullptr || chosen[0] == 0)
        return true;
    if (UseDescribedHost(chosen, error))
        return true;
    *error = std::string("WINSIM_HOST=") + chosen + ": " + *error;
    return false;
}

bool StandardOutputIsTerminal()
{
    return isatty(STDOUT_FILENO) == 1;
}

std::string LogFolderDescription()
{
    return RealLogFolder().string() +
           " (TLV_LOGSDIR when it names a Linux folder, else $XDG_STATE_HOME/winclass/logs or "
           "~/.local/state/winclass/logs); copied there from the simulated host's " +
           std::string("C:\\ProgramData\\Tolvane\\logs") + " when the command ends";
}

void PrepareLogs()
{
    SetEnvironmentVariableW(W("TLV_LOGSDIR"), kHostLogFolder);
}

bool KeepLogs(std::string *folder, std::string *error)
{
    std::string hostFolder;
    if (!winsim::HostPathOf(kHostLogFolder, &hostFolder) || !fs::is_directory(hostFolder))
        return true;  // nothing was logged
    const fs::path target = RealLogFolder();
    std::error_code failure;
    fs::create_directories(target, failure);
    if (failure) {
        *error = target.string() + ": cannot make the log folder: " + failure.message();
        return false;
    }
    for (const fs::directory_entry &log : fs::directory_iterator(hostFolder, failure)) {
        if (!log.is_regular_file() || log.file_size(failure) == 0)
            continue;
        // vsscr.log starts afresh with each session; the others grow, as on Windows.
        const bool fresh = log.path().filename() == "vsscr.log";
        std::ifstream in(log.path(), std::ios::binary);
        std::ofstream out(target / log.path().filename(), std::ios::binary | (fresh ? std::ios::trunc : std::ios::app));
        out << in.rdbuf();
        if (!out) {
            *error = (target / log.path().filename()).string() + ": cannot write the log";
            return false;
        }
    }
    *folder = target.string();
    return true;
}

PlainFile::~PlainFile()
{
    if (file_ >= 0)
        close(int(file_));
}

bool PlainFile::Create(const fs::path &path, std::string *error)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    if (file_ >= 0)
        close(int(file_));
    file_ = fd;
    return true;
}

bool PlainFile::Write(const void *data, size_t size, std::string *error)
{
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t put = write(int(file_), bytes, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            *error = put < 0 ? std::strerror(errno) : "nothing was written";
            return false;
        }
        bytes += put;
        size -= size_t(put);
    }
    return true;
}

bool PlainFile::Close(std::string *error)
{
    const int fd = int(file_);
    file_ = -1;
    if (close(fd) != 0) {
        *error = std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace winclass
