// The per-process sandbox directory and the described files written into sandboxes.
//
// A process that dies without running its exit handlers (SIGKILL, SIGABRT) leaves its
// directory behind; the next process removes it. Each directory records its owner: the
// pid, the process's start time (so that a reused pid is not taken for the owner) and the
// boot it ran in. A directory without that record is never removed: it may be one that
// WINSIM_ROOT names, or one whose owner is still making it.
#include "paths.h"

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace winsim {

namespace {

const char kOwnerRecord[] = "/.winsim-owner";

std::string &ProcessRoot()
{
    static std::string *root = new std::string;
    return *root;
}

int RemoveEntry(const char *path, const struct stat *, int, struct FTW *)
{
    remove(path);
    return 0;
}

void RemoveTree(const std::string &directory) { nftw(directory.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }

void RemoveProcessRoot()
{
    if (!ProcessRoot().empty())
        RemoveTree(ProcessRoot());
}

std::string FirstLine(const std::string &file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The start time of a running process in clock ticks since boot (field 22 of
// /proc/<pid>/stat, counted after the command name, which may hold spaces); empty when
// there is no such process or it has ended (a zombie not yet reaped).
std::string StartTimeOf(long pid)
{
    const std::string stat = FirstLine("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return std::string();
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22 && (fields >> field); ++i) {
        if (i == 3 && (field == "Z" || field == "X"))
            return std::string();
        if (i == 22)
            return field;
    }
    return std::string();
}

std::string BootId() { return FirstLine("/proc/sys/kernel/random/boot_id"); }

std::string OwnerRecord(long pid) { return std::to_string(pid) + " " + StartTimeOf(pid) + " " + BootId(); }

// Whether a directory is a sandbox this code made for a process that no longer runs.
bool IsDeadSandbox(const std::string &directory, long pid)
{
    struct stat status;
    if (lstat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != getuid())
        return false;
    const std::string recorded = FirstLine(directory + kOwnerRecord);
    if (recorded.empty() || recorded.compare(0, std::to_string(pid).size() + 1, std::to_string(pid) + " ") != 0)
        return false;
    return recorded != OwnerRecord(pid);
}

void RemoveDeadSandboxes(const std::string &base)
{
    DIR *listing = opendir(base.c_str());
    if (listing == NULL)
        return;
    const std::string prefix = "winsim-" + std::to_string(getuid()) + "-";
    const char *configured = getenv("WINSIM_ROOT");
    std::vector<std::string> dead;
    while (struct dirent *entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0 || name.size() == prefix.size() ||
            name.find_first_not_of("0123456789", prefix.size()) != std::string::npos)
            continue;
        const long pid = std::strtol(name.c_str() + prefix.size(), NULL, 10);
        const std::string directory = base + "/" + name;
        if (pid == long(getpid()) ||
            (configured != NULL && std::string(configured).compare(0, directory.size(), directory) == 0))
            continue;
        if (IsDeadSandbox(directory, pid))
            dead.push_back(directory);
    }
    closedir(listing);
    for (const std::string &directory : dead)
        RemoveTree(directory);
}

bool WriteAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t put = write(fd, data, size);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += put;
        size -= size_t(put);
    }
    return true;
}

} // namespace

std::string MakeProcessSandbox()
{
    const char *tmp = getenv("TMPDIR");
    std::string base = tmp != NULL && tmp[0] != 0 ? tmp : "/tmp";
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    RemoveDeadSandboxes(base);
    const std::string root = base + "/winsim-" + std::to_string(getuid()) + "-" + std::to_string(getpid());
    MakeDirectories(root);
    std::ofstream(root + kOwnerRecord) << OwnerRecord(long(getpid())) << "\n";
    if (ProcessRoot().empty())
        atexit(RemoveProcessRoot);
    ProcessRoot() = root;
    return root;
}

void WriteDescribedFile(const std::string &hostPath, const FileEntry &file)
{
    // A new file rather than the old one rewritten: the old one may be shared with a copy.
    unlink(hostPath.c_str());
    const int fd = open(hostPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        ReportUnmade(hostPath, errno);
        return;
    }
    bool written = true;
    switch (file.fill) {
    case FileFill::Bytes:
        written = WriteAll(fd, file.content.data(), file.content.size());
        break;
    case FileFill::Zeros:
        written = ftruncate(fd, off_t(file.size)) == 0;  // a sparse file: no bytes are written
        break;
    case FileFill::Seeded: {
        std::vector<char> chunk(size_t(std::min<ULONGLONG>(file.size, 1 << 20)));
        for (ULONGLONG offset = 0; written && offset < file.size; offset += chunk.size()) {
            const size_t length = size_t(std::min<ULONGLONG>(chunk.size(), file.size - offset));
            GenerateFileBytes(file.seed, offset, chunk.data(), length);
            written = WriteAll(fd, chunk.data(), length);
        }
        break;
    }
    }
    if (!written)
        ReportUnmade(hostPath, errno);
    close(fd);
}

void ReportUnmade(const std::string &hostPath, int error)
{
    std::fprintf(stderr, "winsim: cannot make the described %s: %s\n", hostPath.c_str(), std::strerror(error));
}

} // namespace winsim
