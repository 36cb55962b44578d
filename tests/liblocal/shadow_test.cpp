// Snapshot paths through the registered tests, and the backup of a path from a snapshot.
#include <liblocal/local.h>

#include <gtest/gtest.h>

#include "support/capture.h"
#include "testing.h"
#include <host/lasterror.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// A stand-in for the snapshot library's volume map: snapshot root (with its trailing
// backslash) and the live volume it copies. The tests below answer from it the way the
// snapshot library's do: case-insensitive, the trailing backslash part of the match.
std::vector<std::pair<std::string, std::string>> g_snapshots;
std::vector<std::string> g_rootQueries;

bool StartsWithIgnoringCase(const std::string &text, const std::string &prefix)
{
    return text.size() >= prefix.size() && _strnicmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}

int PathTest(const char *path)
{
    for (const auto &snapshot : g_snapshots)
        if (StartsWithIgnoringCase(path, snapshot.first))
            return 1;
    return 0;
}

int RootTest(const char *path, char *buffer, size_t size)
{
    g_rootQueries.push_back(path);
    for (const auto &snapshot : g_snapshots) {
        if (_stricmp(path, snapshot.first.c_str()) == 0) {
            if (buffer != nullptr && size > 0)
                vo_strlcpy(buffer, snapshot.second.c_str(), size);
            return 1;
        }
    }
    return 0;
}

int MountpointRootTest(const char *path, char *buffer, size_t size)
{
    const int hit = RootTest(path, nullptr, 0);
    if (hit && buffer != nullptr)
        vo_strlcpy(buffer, "mount-point form", size);
    return hit;
}

const char kCopy1[] = "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\";
const char kCopy2[] = "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy2\\";

class SnapshotPaths : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_snapshots = {{kCopy1, "C:\\"}, {kCopy2, "D:\\Mount\\Archive\\"}};
        g_rootQueries.clear();
        set_shadow_callbacks(PathTest, RootTest, MountpointRootTest);
    }
    void TearDown() override { set_shadow_callbacks(nullptr, nullptr, nullptr); }
};

std::string Live(const std::string &path, size_t size = 512)
{
    std::string buffer(size, '#');
    if (!vo_snapshot_to_live(path.c_str(), &buffer[0], size))
        return "<none: " + buffer.substr(0, 4) + ">";
    return buffer.c_str();
}

TEST_F(SnapshotPaths, RegisteredTestsAnswerAndGiveTheLiveForm)
{
    EXPECT_EQ(vo_is_snapshot_path((std::string(kCopy1) + "dir").c_str()), 1);
    EXPECT_EQ(vo_is_snapshot_path("C:\\dir"), 0);
    char live[64] = "";
    EXPECT_EQ(vo_is_snapshot_root(kCopy2, live, sizeof live), 1);
    EXPECT_STREQ(live, "D:\\Mount\\Archive\\");
    EXPECT_EQ(vo_is_snapshot_root(kCopy2, nullptr, 0), 1);
    EXPECT_EQ(vo_is_snapshot_mountpoint_root(kCopy2, live, sizeof live), 1);
    EXPECT_STREQ(live, "mount-point form");
    EXPECT_EQ(vo_is_snapshot_path(nullptr), 0);
    EXPECT_EQ(vo_is_snapshot_root(nullptr, live, sizeof live), 0);
    EXPECT_EQ(Live(std::string(kCopy1) + "Windows\\System32\\config\\SYSTEM"), "C:\\Windows\\System32\\config\\SYSTEM");
    EXPECT_EQ(Live(std::string(kCopy2) + "2024\\report.pdf"), "D:\\Mount\\Archive\\2024\\report.pdf");
    EXPECT_EQ(Live(kCopy1), "C:\\") << "a root is its volume";
    EXPECT_EQ(Live("\\\\?\\globalroot\\device\\harddiskvolumeshadowcopy1\\x"), "C:\\x")
        << "the registered test decides about case";
    EXPECT_EQ(Live("\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy12\\file"), "<none: ####>")
        << "ShadowCopy1 is not a prefix of ShadowCopy12";
    EXPECT_EQ(Live("\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1"), "<none: ####>");
    EXPECT_EQ(Live("C:\\Windows"), "<none: ####>");
    g_rootQueries.clear();
    Live(std::string(kCopy1) + "a\\b");
    ASSERT_FALSE(g_rootQueries.empty());
    EXPECT_EQ(g_rootQueries.front(), "\\") << "the shortest leading part is asked first";
    EXPECT_EQ(g_rootQueries.back(), kCopy1) << "and the walk stops at the root";
    const std::string path = std::string(kCopy1) + "dir\\file";
    EXPECT_EQ(Live(path, 11), "<none: ####>") << "C:\\dir\\file needs 12 bytes";
    EXPECT_EQ(Live(path, 12), "C:\\dir\\file");
    EXPECT_EQ(vo_snapshot_to_live(path.c_str(), nullptr, 100), 0);
    char buffer[4] = "abc";
    EXPECT_EQ(vo_snapshot_to_live(path.c_str(), buffer, 0), 0);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(vo_snapshot_to_live(nullptr, buffer, sizeof buffer), 0);
}

TEST_F(SnapshotPaths, ThreeNullsOrAnyNullClearTheTests)
{
    set_shadow_callbacks(PathTest, nullptr, MountpointRootTest);
    EXPECT_EQ(vo_is_snapshot_path(kCopy1), 0);
    EXPECT_EQ(vo_is_snapshot_mountpoint_root(kCopy1, nullptr, 0), 0);
    set_shadow_callbacks(PathTest, RootTest, MountpointRootTest);
    EXPECT_EQ(vo_is_snapshot_path(kCopy1), 1);
    set_shadow_callbacks(nullptr, nullptr, nullptr);
    EXPECT_EQ(vo_is_snapshot_path(kCopy1), 0);
    EXPECT_EQ(vo_is_snapshot_root(kCopy1, nullptr, 0), 0);
    EXPECT_EQ(Live(std::string(kCopy1) + "x"), "<none: ####>");
}

// What the save routine was handed.
struct SaveCall {
    int calls = 0, answer = 1;
    void *item = nullptr;
    std::string readPath, livePath;
    unsigned int attributes = 0;
};

int RecordSave(void *context, void *item, const char *readPath, const char *livePath, unsigned int attributes)
{
    SaveCall *call = static_cast<SaveCall *>(context);
    ++call->calls;
    call->item = item;
    call->readPath = readPath;
    call->livePath = livePath;
    call->attributes = attributes;
    return call->answer;
}

// A snapshot whose root is a real directory, so that its files can be read.
class SnapshotBackup : public SnapshotPaths {
protected:
    void SetUp() override
    {
        SnapshotPaths::SetUp();
        root_ = tvtest::UniqueDirectory("snapshot") + "\\";
        ASSERT_EQ(vo_mkdirpath((root_ + "Users\\data").c_str(), 1023), 1);
        ASSERT_TRUE(tvtest::WriteWholeFile(root_ + "Users\\data\\book.xlsx", "cells"));
        g_snapshots.push_back({root_, "E:\\"});
    }
    std::string root_;
};

TEST_F(SnapshotBackup, SavesTheSnapshotFileUnderItsLiveNameAndAnswersAsTheSaveRoutine)
{
    SaveCall call;
    int item = 0;
    const std::string path = root_ + "Users\\data\\book.xlsx";
    EXPECT_EQ(nt_do_snap_backup(path.c_str(), RecordSave, &call, &item), 1);
    EXPECT_EQ(call.calls, 1);
    EXPECT_EQ(call.item, &item) << "the item passes through untouched";
    EXPECT_EQ(call.readPath, path);
    EXPECT_EQ(call.livePath, "E:\\Users\\data\\book.xlsx");
    EXPECT_EQ(call.attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);

    EXPECT_EQ(nt_do_snap_backup((root_ + "Users").c_str(), RecordSave, &call, nullptr), 1);
    EXPECT_EQ(call.livePath, "E:\\Users");
    EXPECT_NE(call.attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    // The result is the save routine's answer.
    call = SaveCall();
    call.answer = 0;
    vo_error_set_last(ERROR_DISK_FULL, VO_ERR_WIN32);
    EXPECT_EQ(nt_do_snap_backup((root_ + "Users\\data\\book.xlsx").c_str(), RecordSave, &call, nullptr), 0);
    EXPECT_EQ(call.calls, 1);
    EXPECT_EQ(vo_error_get_last(), ERROR_DISK_FULL) << "the save routine's error stays";
    call.answer = 7;
    EXPECT_EQ(nt_do_snap_backup((root_ + "Users\\data\\book.xlsx").c_str(), RecordSave, &call, nullptr), 1);
}

TEST_F(SnapshotBackup, RefusesPathsItCannotBackUp)
{
    SaveCall call;
    EXPECT_FAILS_WITH(nt_do_snap_backup((root_ + "Users\\missing.txt").c_str(), RecordSave, &call, nullptr),
                      ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(vo_error_get_last(), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(nt_do_snap_backup("C:\\Windows\\win.ini", RecordSave, &call, nullptr), 0)
        << "a live path is not in a snapshot";
    EXPECT_EQ(vo_error_get_last(), ERROR_PATH_NOT_FOUND);

    EXPECT_EQ(nt_do_snap_backup(nullptr, RecordSave, &call, nullptr), 0);
    EXPECT_EQ(vo_error_get_last(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(nt_do_snap_backup((root_ + "Users").c_str(), nullptr, &call, nullptr), 0);
    EXPECT_EQ(vo_error_get_last(), ERROR_INVALID_PARAMETER);

    set_shadow_callbacks(nullptr, nullptr, nullptr);
    EXPECT_EQ(nt_do_snap_backup((root_ + "Users").c_str(), RecordSave, &call, nullptr), 0)
        << "no snapshot is registered";
    EXPECT_EQ(vo_error_get_last(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(call.calls, 0);
}

TEST_F(SnapshotBackup, RefusalIsLoggedWhenTheDebugLevelOrTraceMaskAsks)
{
    tvtest::OutputCapture capture;
    SaveCall call;
    const std::string livePath = "C:\\Windows\\win.ini";
    Debug = 0;
    VoTrace = 0;
    nt_do_snap_backup(livePath.c_str(), RecordSave, &call, nullptr);
    EXPECT_TRUE(capture.debugLines().empty());
    Debug = 1;
    nt_do_snap_backup(livePath.c_str(), RecordSave, &call, nullptr);
    Debug = 0;
    VoTrace = 0x1;
    nt_do_snap_backup(livePath.c_str(), RecordSave, &call, nullptr);
    VoTrace = 0;
    const auto lines = capture.debugLines();
    ASSERT_EQ(lines.size(), 2u) << "the program's Debug and VoTrace are the runtime's";
    EXPECT_NE(lines[0].find(livePath), std::string::npos) << lines[0];
}

} // namespace
