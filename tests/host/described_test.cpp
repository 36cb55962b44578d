// Described files at scale: generated and base64 contents, files made on first use,
// junctions, and sandboxes left behind by processes that died.
#include "../liblocal/testing.h"

#include <platform/tvplatform.h>
#include <winsim/host.h>
#include <winsim/hostmodel.h>
#include <winsim/shadow.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <csignal>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using nlohmann::json;

const ULONGLONG kSeededSize = 3 * 1048576 + 5;  // more than one chunk of the writer, and a ragged end

void UseHost(const json &extraFiles)
{
    json doc = json::parse(winsim::EmbeddedHostJson("default"));
    for (const json &file : extraFiles)
        doc["files"].push_back(file);
    winsim::ReplaceHost(winsim::ParseHost(doc.dump()));
}

HANDLE OpenToRead(const wstr &path)
{
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
}

// The entries of a host directory, without "." and "..".
size_t EntriesIn(const std::string &directory)
{
    size_t count = 0;
    if (DIR *listing = opendir(directory.c_str())) {
        while (struct dirent *entry = readdir(listing))
            count += std::string(entry->d_name) != "." && std::string(entry->d_name) != "..";
        closedir(listing);
    }
    return count;
}

long PeakKilobytes()
{
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(DescribedFiles, ContentsAreGeneratedFromTheSeedInChunksAndZerosStaySparse)
{
    const ULONGLONG gib = 1ULL << 30;
    UseHost(json::array({
        {{"path", "D:\\Big\\seeded.bin"}, {"size", kSeededSize}, {"seed", 7}},
        {{"path", "D:\\Big\\large.bin"}, {"size", 64 << 20}, {"seed", 9}},
        {{"path", "D:\\Big\\zeros.bin"}, {"size", gib}},
        {{"path", "D:\\Big\\raw.bin"}, {"base64", "AP8A\nAQ=="}},
    }));
    const long peakBefore = PeakKilobytes();
    HANDLE file = OpenToRead(W("D:\\Big\\seeded.bin"));
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    std::vector<char> got(65536), expected(65536);
    ULONGLONG offset = 0;
    DWORD read = 0;
    while (ReadFile(file, got.data(), DWORD(got.size()), &read, NULL) && read > 0) {
        winsim::GenerateFileBytes(7, offset, expected.data(), read);
        ASSERT_EQ(std::string(got.data(), read), std::string(expected.data(), read)) << "at " << offset;
        offset += read;
    }
    CloseHandle(file);
    EXPECT_EQ(offset, kSeededSize);
    EXPECT_LT(PeakKilobytes() - peakBefore, 32 * 1024) << "a 64 MiB generated file is made without holding it";

    // Any slice of the stream is the same bytes; another seed gives others.
    char whole[16], slice[9], other[16];
    winsim::GenerateFileBytes(7, 0, whole, sizeof whole);
    winsim::GenerateFileBytes(7, 5, slice, sizeof slice);
    winsim::GenerateFileBytes(8, 0, other, sizeof other);
    EXPECT_EQ(std::string(whole + 5, 9), std::string(slice, 9));
    EXPECT_NE(std::string(whole, 16), std::string(other, 16));

    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExW(W("D:\\Big\\zeros.bin"), GetFileExInfoStandard, &data));
    EXPECT_EQ((ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow, gib);
    std::string hostPath;
    ASSERT_TRUE(winsim::HostPathOf(W("D:\\Big\\zeros.bin"), &hostPath));
    struct stat status;
    ASSERT_EQ(stat(hostPath.c_str(), &status), 0);
    EXPECT_LT(status.st_blocks * 512, 1 << 20) << "zeros take no room";
    EXPECT_EQ(tvtest::ReadWholeFile("D:\\Big\\raw.bin"), std::string("\0\xff\0\x01", 4));
}

TEST(DescribedFiles, AVolumesFilesAreMadeWhenAPathBelowItsRootIsFirstUsed)
{
    json many = json::array();
    for (int i = 0; i < 200; ++i)
        many.push_back({{"path", "E:\\Many\\d" + std::to_string(i % 10) + "\\f" + std::to_string(i) + ".txt"},
                        {"content", "file " + std::to_string(i)}});
    UseHost(many);
    const std::string root = winsim::SandboxRoot();

    // What the volumes command asks: every volume, its names and its information.
    WCHAR name[MAX_PATH + 1];
    HANDLE search = FindFirstVolumeW(name, MAX_PATH + 1);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        WCHAR label[MAX_PATH + 1], fileSystem[MAX_PATH + 1], paths[1024];
        DWORD needed = 0;
        GetVolumeInformationW(name, label, MAX_PATH + 1, NULL, NULL, NULL, fileSystem, MAX_PATH + 1);
        GetVolumePathNamesForVolumeNameW(name, paths, 1024, &needed);
        GetDriveTypeW(name);
    } while (FindNextVolumeW(search, name, MAX_PATH + 1));
    FindVolumeClose(search);
    EXPECT_NE(GetFileAttributesW(W("E:\\")), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(EntriesIn(root + "/E"), 0u);
    EXPECT_EQ(EntriesIn(root + "/D"), 0u);

    EXPECT_EQ(tvtest::ReadWholeFile("E:\\many\\D7\\f117.TXT"), "file 117");
    EXPECT_EQ(EntriesIn(root + "/E/Many"), 10u);
    EXPECT_EQ(EntriesIn(root + "/E/Many/d3"), 20u);
    EXPECT_EQ(EntriesIn(root + "/D"), 0u) << "another volume waits for its own first use";
    WIN32_FIND_DATAW found;
    HANDLE listing = FindFirstFileW(W("D:\\*"), &found);  // listing a root is a use too
    ASSERT_NE(listing, INVALID_HANDLE_VALUE);
    FindClose(listing);
    EXPECT_GT(EntriesIn(root + "/D"), 0u);
}

TEST(DescribedFiles, AJunctionIsADirectoryReparsePointThatLeadsToItsTarget)
{
    UseHost(json::array({
        {{"path", "D:\\Links\\Projects"}, {"junction", "E:\\Projects"}, {"attributes", {"hidden"}}},
        {{"path", "D:\\Links\\Loop"}, {"junction", "D:\\Links\\Loop\\"}},
    }));
    EXPECT_EQ(GetFileAttributesW(W("D:\\Links\\projects")),
              DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(tvtest::ReadWholeFile("D:\\Links\\Projects\\plan.txt"), "milestones\r\n");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(W("D:\\Links\\P*"), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(wstr(found.cFileName), W("Projects"));
    EXPECT_TRUE(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(found.dwReserved0, DWORD(IO_REPARSE_TAG_MOUNT_POINT));
    FindClose(search);
    search = FindFirstFileW(W("D:\\Links\\Projects\\*.txt"), &found);  // the target's entries
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(wstr(found.cFileName), W("plan.txt"));
    FindClose(search);

    SetLastError(0);
    EXPECT_EQ(GetFileAttributesW(W("D:\\Links\\Loop\\x")), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANT_RESOLVE_FILENAME));
    EXPECT_FALSE(RemoveDirectoryW(W("D:\\Links\\Projects")));
    EXPECT_EQ(tvtest::ReadWholeFile("E:\\Projects\\plan.txt"), "milestones\r\n") << "the target is untouched";

    // Inside a shadow copy the junction still leads to the live target.
    std::u16string device;
    ASSERT_EQ(winsim::CreateShadowCopy(W("\\\\?\\Volume{4d6f8b02-c3e5-4a71-9b2d-3f5a7c9e1d37}\\"), &device),
              DWORD(ERROR_SUCCESS));
    const std::string throughCopy = std::string(device.begin(), device.end()) + "\\Links\\Projects\\plan.txt";
    EXPECT_EQ(tvtest::ReadWholeFile(throughCopy), "milestones\r\n");
}

// The archive bit is file state: a file described without attributes has it, an empty list
// is a file the last backup took; a bit set later is seen live and by a shadow copy taken
// after it.
TEST(DescribedFiles, TheArchiveBitIsDescribedSetAndCarriedIntoShadowCopies)
{
    UseHost(json::array({
        {{"path", "D:\\Db\\new.mdf"}, {"content", "n"}},
        {{"path", "D:\\Db\\taken.mdf"}, {"content", "t"}, {"attributes", json::array()}},
        {{"path", "D:\\Db\\hidden.mdf"}, {"content", "h"}, {"attributes", {"hidden"}}},
    }));
    EXPECT_EQ(GetFileAttributesW(W("D:\\Db\\new.mdf")), DWORD(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributesW(W("D:\\Db\\taken.mdf")), DWORD(FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesW(W("D:\\Db\\hidden.mdf")), DWORD(FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesW(W("D:\\Db\\taken.mdf"), FILE_ATTRIBUTE_ARCHIVE));
    WCHAR volume[MAX_PATH];
    ASSERT_TRUE(GetVolumeNameForVolumeMountPointW(W("D:\\"), volume, MAX_PATH));
    std::u16string device;
    ASSERT_EQ(winsim::CreateShadowCopy(volume, &device), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(GetFileAttributesW((device + u"\\Db\\taken.mdf").c_str()), DWORD(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributesW(W("D:\\Db\\taken.mdf")), DWORD(FILE_ATTRIBUTE_ARCHIVE));
}

// Forks a process that makes its sandbox and then dies by the signal (or, for 0, waits to
// be killed); returns once the sandbox exists and the process has ended, reaped or left a
// zombie.
pid_t SandboxOwner(int signal, bool reap = true)
{
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        winsim::SandboxRoot();
        (void)!write(ready[1], "x", 1);
        if (signal != 0)
            raise(signal);
        pause();
        _exit(0);
    }
    char byte;
    (void)!read(ready[0], &byte, 1);
    close(ready[0]);
    close(ready[1]);
    siginfo_t info;
    if (signal != 0)
        waitid(P_PID, id_t(child), &info, WEXITED | (reap ? 0 : WNOWAIT));
    return child;
}

TEST(Sandboxes, TheNextProcessRemovesThoseWhoseOwnerDied)
{
    char base[] = "/tmp/winsim-sandboxes-XXXXXX";
    ASSERT_NE(mkdtemp(base), nullptr);
    setenv("TMPDIR", base, 1);
    unsetenv("WINSIM_ROOT");
    const std::string prefix = std::string(base) + "/winsim-" + std::to_string(getuid()) + "-";
    auto recorded = [&](const std::string &pid, const std::string &record) {
        std::filesystem::create_directories(prefix + pid + "/host-1/C");
        if (!record.empty())
            std::ofstream(prefix + pid + "/.winsim-owner") << record << "\n";
    };
    struct Case {
        const char *what;
        std::string pid;
        bool removed;
    };
    const pid_t alive = SandboxOwner(0);
    std::vector<Case> cases = {
        {"killed", std::to_string(SandboxOwner(SIGKILL)), true},
        {"killed, not yet reaped", std::to_string(SandboxOwner(SIGKILL, false)), true},
        {"aborted", std::to_string(SandboxOwner(SIGABRT)), true},
        {"alive", std::to_string(alive), false},
        {"pid now another process's", "1", true},
        {"no owner record (a WINSIM_ROOT, or one being made)", "999999999", false},
    };
    recorded("1", "1 0 " + std::string("boot"));
    recorded("999999999", "");

    const std::string own = winsim::SandboxRoot();  // this process's first use cleans up
    EXPECT_EQ(own.rfind(prefix + std::to_string(getpid()) + "/", 0), 0u) << own;
    for (const Case &c : cases) {
        struct stat status;
        EXPECT_EQ(stat((prefix + c.pid).c_str(), &status) != 0, c.removed) << c.what;
    }
    kill(alive, SIGKILL);
    waitpid(alive, NULL, 0);
    std::filesystem::remove_all(base);
}

} // namespace
