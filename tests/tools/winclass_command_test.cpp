// The winclass command on simulated hosts: what it copies must be what the volumes held
// when the snapshot was taken, its manifest must describe the copies, and every failure
// must leave no snapshot behind.
#include "commands.h"
#include "output.h"
#include "sha256.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <winsim/host.h>
#include <winsim/hostmodel.h>
#include <winsim/shadow.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string ReadAll(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Sha256Of(const std::string &bytes)
{
    winclass::Sha256 digest;
    digest.Update(bytes.data(), bytes.size());
    return digest.HexDigest();
}

// A fresh folder for one test's copies.
fs::path FreshDestination(const std::string &name)
{
    fs::path folder = fs::temp_directory_path() / ("winclass-test-" + std::to_string(::getpid())) / name;
    fs::remove_all(folder);
    return folder;
}

// The files a host description seeds under a folder, as (Windows path, content).
std::vector<std::pair<std::string, std::string>> DescribedFilesUnder(const json &host, const std::string &folder)
{
    std::vector<std::pair<std::string, std::string>> files;
    for (const json &file : host.value("files", json::array())) {
        std::string path = file.value("path", "");
        if (file.contains("content") && path.compare(0, folder.size() + 1, folder + "\\") == 0)
            files.emplace_back(path, file["content"].get<std::string>());
    }
    return files;
}

// C:\Data\a.txt -> DEST/C/Data/a.txt, as the command lays copies out.
fs::path CopyOf(const fs::path &destination, const std::string &windowsPath)
{
    fs::path result = destination / windowsPath.substr(0, 1);
    std::stringstream rest(windowsPath.substr(3));
    std::string part;
    while (std::getline(rest, part, '\\'))
        result /= part;
    return result;
}

} // namespace

TEST(Sha256, KnownDigests)
{
    EXPECT_EQ(Sha256Of(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Two blocks, and a length that puts the padding across a block boundary.
    EXPECT_EQ(Sha256Of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    winclass::Sha256 pieces;
    std::string million(1000000, 'a');
    for (size_t at = 0; at < million.size(); at += 999)
        pieces.Update(million.data() + at, std::min<size_t>(999, million.size() - at));
    EXPECT_EQ(pieces.HexDigest(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(WinclassBackup, CopiesTheDefaultHostsFoldersFromTheShadowCopies)
{
    json host = json::parse(winsim::EmbeddedHostJson("default"));
    fs::path destination = FreshDestination("default");
    const std::vector<std::string> folders = {"C:\\Users\\Administrator\\Documents", "D:\\Shares",
                                              "D:\\Mount\\Archive"};
    winclass::Output output(true);
    winclass::BackupOptions options{folders, destination.string()};
    ASSERT_EQ(winclass::RunBackup(options, output), 0) << output.Document().dump(2);

    size_t expected = 0;
    for (const std::string &folder : folders) {
        for (const auto &[path, content] : DescribedFilesUnder(host, folder)) {
            ++expected;
            EXPECT_EQ(ReadAll(CopyOf(destination, path)), content) << path;
        }
    }
    ASSERT_GT(expected, 2u);

    json manifest = json::parse(ReadAll(destination / "manifest.json"));
    EXPECT_EQ(manifest["snapshotSetId"], output.Document()["snapshotSetId"]);
    ASSERT_EQ(manifest["files"].size(), expected);
    for (const json &file : manifest["files"]) {
        std::string copy = ReadAll(fs::u8path(file["copiedTo"].get<std::string>()));
        EXPECT_EQ(file["size"].get<uint64_t>(), copy.size());
        EXPECT_EQ(file["sha256"], Sha256Of(copy));
        EXPECT_EQ(file["shadowPath"].get<std::string>().rfind("\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy", 0),
                  0u)
            << file.dump();
    }
    // The mounted volume and the volume it is mounted in are both in the set.
    std::vector<std::string> volumes;
    for (const json &volume : manifest["volumes"])
        volumes.push_back(volume["volume"]);
    EXPECT_NE(std::find(volumes.begin(), volumes.end(), "D:\\Mount\\Archive\\"), volumes.end());
    EXPECT_NE(std::find(volumes.begin(), volumes.end(), "D:\\"), volumes.end());
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty()) << "the snapshot set outlived the command";
}

TEST(WinclassBackup, RefusesBadInputWithoutLeavingASnapshot)
{
    fs::path destination = FreshDestination("bad");
    {
        winclass::Output output(true);
        winclass::BackupOptions options{{"C:\\Users\\Administrator\\Documents", "C:\\no\\such\\folder"},
                                        destination.string()};
        EXPECT_EQ(winclass::RunBackup(options, output), 2);
        EXPECT_NE(output.Document()["error"].get<std::string>().find("C:\\no\\such\\folder"), std::string::npos);
    }
    {
        // A destination that is a file.
        fs::create_directories(destination);
        std::ofstream(destination / "plain-file") << "x";
        winclass::Output output(true);
        winclass::BackupOptions options{{"D:\\Shares"}, (destination / "plain-file").string()};
        EXPECT_EQ(winclass::RunBackup(options, output), 2);
        EXPECT_NE(output.Document()["error"].get<std::string>().find("plain-file"), std::string::npos);
    }
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
}

TEST(WinclassBackup, AFileThatCannotBeReadFromTheShadowCopyEndsTheBackup)
{
    // Copies are numbered from 1 in a fresh process; whichever device C: gets, its copy
    // of the document cannot be opened.
    for (int device = 1; device <= 8; ++device)
        winsim::InjectError("CreateFileW",
                            u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy" +
                                std::u16string(1, char16_t(u'0' + device)) +
                                u"\\Users\\Administrator\\Documents\\report.txt",
                            ERROR_SHARING_VIOLATION, false);
    fs::path destination = FreshDestination("unreadable");
    winclass::Output output(true);
    winclass::BackupOptions options{{"C:\\Users\\Administrator\\Documents"}, destination.string()};
    EXPECT_EQ(winclass::RunBackup(options, output), 1);
    std::string error = output.Document()["error"];
    EXPECT_NE(error.find("C:\\Users\\Administrator\\Documents\\report.txt"), std::string::npos) << error;
    EXPECT_NE(error.find("being used by another process"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(destination / "manifest.json"));
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
    winsim::ClearFaults();
}

TEST(WinclassMap, AMountFolderPathReadsFromItsOwnVolumesShadowCopy)
{
    winclass::Output output(true);
    ASSERT_EQ(winclass::RunMap("D:\\Mount\\Archive\\2025\\q4.txt", output), 0) << output.Document().dump(2);
    const json &document = output.Document();
    EXPECT_EQ(document["volume"], "D:\\Mount\\Archive\\");
    std::string shadowRoot = document["shadowRoot"];
    EXPECT_EQ(document["shadowPath"], shadowRoot + "2025\\q4.txt");
    EXPECT_EQ(document["translatedBack"], "D:\\Mount\\Archive\\2025\\q4.txt");
    EXPECT_TRUE(document["isSnapshotPath"].get<bool>());
}

TEST(WinclassVolumes, ListsEveryVolumeWithItsMountPoints)
{
    json host = json::parse(winsim::EmbeddedHostJson("default"));
    winclass::Output output(true);
    ASSERT_EQ(winclass::RunVolumes(output), 0);
    const json &volumes = output.Document()["volumes"];
    EXPECT_EQ(volumes.size(), host["volumes"].size());
    bool sawFolderMount = false;
    for (const json &volume : volumes)
        for (const json &mountPoint : volume["mountPoints"])
            sawFolderMount |= mountPoint == "D:\\Mount\\Archive\\";
    EXPECT_TRUE(sawFolderMount);
}

// The built program, end to end, on described hosts from files.
TEST(WinclassProgram, BacksUpADescribedHost)
{
    fs::path destination = FreshDestination("program");
    fs::create_directories(destination);
    std::string hostFile = std::string(TV_SOURCE_DIR) + "/tests/tools/hosts/desktop-with-client.json";
    std::string command = std::string(WINCLASS_PROGRAM) + " --json --host '" + hostFile +
                          "' backup 'C:\\Users\\Public' 'C:\\Media\\Spanned' --to '" + (destination / "out").string() +
                          "' >'" + (destination / "stdout").string() + "' 2>'" + (destination / "stderr").string() + "'";
    int status = std::system(command.c_str());
    ASSERT_EQ(status, 0) << ReadAll(destination / "stderr");
    json document = json::parse(ReadAll(destination / "stdout"));
    EXPECT_TRUE(document["ok"].get<bool>());

    json host = json::parse(ReadAll(hostFile));
    size_t expected = 0;
    for (const char *folder : {"C:\\Users\\Public", "C:\\Media\\Spanned"})
        for (const auto &[path, content] : DescribedFilesUnder(host, folder)) {
            ++expected;
            EXPECT_EQ(ReadAll(CopyOf(destination / "out", path)), content) << path;
        }
    EXPECT_EQ(document["files"].size(), expected);
    // The folder-mounted volume and the volume that holds its mount folder.
    std::vector<std::string> volumes;
    for (const json &volume : document["volumes"])
        volumes.push_back(volume["volume"]);
    EXPECT_EQ(volumes, (std::vector<std::string>{"C:\\Media\\Spanned\\", "C:\\"}));
}

TEST(WinclassProgram, FailsWithOneLineOnABrokenHostOrAHostWithoutTheClient)
{
    fs::path destination = FreshDestination("program-bad");
    fs::create_directories(destination);
    std::ofstream(destination / "broken.json") << "{\"hostName\": ";
    std::string command = std::string(WINCLASS_PROGRAM) + " --host '" + (destination / "broken.json").string() +
                          "' volumes >/dev/null 2>'" + (destination / "stderr").string() + "'";
    int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
    std::string error = ReadAll(destination / "stderr");
    EXPECT_NE(error.find("broken.json"), std::string::npos) << error;
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;

    // No installation directory: the library refuses to start the session.
    command = std::string(WINCLASS_PROGRAM) + " --host '" + TV_SOURCE_DIR +
              "/tests/host/hosts/dynamic-mount.json' backup 'C:\\Users' --to '" + (destination / "out").string() +
              "' >/dev/null 2>'" + (destination / "stderr").string() + "'";
    status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    error = ReadAll(destination / "stderr");
    EXPECT_NE(error.find("Unable to Populate Windows VSS supported writer list"), std::string::npos) << error;
}
