// Snapshot paths: the tests registered by the snapshot library, and the backup of a path
// from a snapshot.
#include <liblocal/debuglog.h>
#include <liblocal/voshadow.h>
#include <liblocal/vostrings.h>
#include <liblocal/xalloc.h>

#include "internal.h"

#include <mutex>
#include <new>

namespace {

struct SnapshotTests {
    vo_snapshot_path_test pathTest = nullptr;
    vo_snapshot_root_test rootTest = nullptr;
    vo_snapshot_root_test mountpointRootTest = nullptr;
};

std::mutex g_testsMutex;
SnapshotTests g_tests;

// The tests as registered now; they are called outside the lock, as the library that
// registered them may call back into the runtime.
SnapshotTests CurrentTests()
{
    std::lock_guard<std::mutex> lock(g_testsMutex);
    return g_tests;
}

// The same room the snapshot library gives its paths.
constexpr size_t kPathBufferSize = 13312;

} // namespace

void set_shadow_callbacks(vo_snapshot_path_test path_test, vo_snapshot_root_test root_test,
                          vo_snapshot_root_test mountpoint_root_test)
{
    SnapshotTests tests;
    if (path_test != nullptr && root_test != nullptr && mountpoint_root_test != nullptr) {
        tests.pathTest = path_test;
        tests.rootTest = root_test;
        tests.mountpointRootTest = mountpoint_root_test;
    }
    std::lock_guard<std::mutex> lock(g_testsMutex);
    g_tests = tests;
}

int vo_is_snapshot_path(const char *path)
{
    const SnapshotTests tests = CurrentTests();
    if (path == nullptr || tests.pathTest == nullptr)
        return 0;
    return tests.pathTest(path) ? 1 : 0;
}

int vo_is_snapshot_root(const char *path, char *buffer, size_t size)
{
    const SnapshotTests tests = CurrentTests();
    if (path == nullptr || tests.rootTest == nullptr)
        return 0;
    return tests.rootTest(path, buffer, size) ? 1 : 0;
}

int vo_is_snapshot_mountpoint_root(const char *path, char *buffer, size_t size)
{
    const SnapshotTests tests = CurrentTests();
    if (path == nullptr || tests.mountpointRootTest == nullptr)
        return 0;
    return tests.mountpointRootTest(path, buffer, size) ? 1 : 0;
}

int vo_snapshot_to_live(const char *path, char *buffer, size_t size)
{
    const SnapshotTests tests = CurrentTests();
    if (path == nullptr || buffer == nullptr || size == 0 || tests.rootTest == nullptr)
        return 0;
    try {
        const std::string text(path);
        std::string live(kPathBufferSize, '\0');
        for (size_t separator = text.find('\\'); separator != std::string::npos;
             separator = text.find('\\', separator + 1)) {
            const std::string root = text.substr(0, separator + 1);
            live.assign(kPathBufferSize, '\0');
            if (!tests.rootTest(root.c_str(), &live[0], live.size()))
                continue;
            live.resize(vo_strlen(live.c_str()));
            live += text.substr(separator + 1);
            if (live.size() >= size)
                return 0;
            vo_strlcpy(buffer, live.c_str(), size);
            return 1;
        }
        return 0;
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}

int nt_do_snap_backup(const char *path, vo_snap_save save, void *save_context, void *item)
{
    if (path == nullptr || save == nullptr) {
        vo::SetWin32Error(ERROR_INVALID_PARAMETER);
        return 0;
    }
    try {
        std::string live(kPathBufferSize, '\0');
        if (!vo_is_snapshot_path(path) || !vo_snapshot_to_live(path, &live[0], live.size())) {
            if (Debug >= 1 || (VoTrace & 0x1))
                debugprintf("nt_do_snap_backup: '%s' is in no snapshot of this backup\n", path);
            vo::SetWin32Error(ERROR_PATH_NOT_FOUND);
            return 0;
        }
        live.resize(vo_strlen(live.c_str()));
        const DWORD attributes = GetFileAttributesW(vo::Widen(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            if (Debug >= 1 || (VoTrace & 0x1))
                debugprintf("nt_do_snap_backup: cannot read '%s' (error %lu)\n", path, (unsigned long)error);
            vo::SetWin32Error(error);
            return 0;
        }
        return save(save_context, item, path, live.c_str(), attributes) ? 1 : 0;
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}
