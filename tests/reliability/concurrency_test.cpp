// The library from several threads at once, as the client uses it: the shadow-path
// callbacks and reads through the shadow copies on reader threads while one thread takes
// snapshots, grows the map and ends sessions; and the runtime's logging, messages and
// per-thread error slots from many threads together. Each reader checks every answer: a
// path maps to its own volume's live or shadow form or is reported not mapped, never to
// anything else. Built also with ThreadSanitizer (scripts/tsan.sh), which reports any
// unguarded access these runs make.
#include <libwinclass/backup.h>

#include <backup/messagecheck.h>
#include <liblocal/local.h>
#include <support/capture.h>
#include <vss/vsstest.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kDevice = "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy";
constexpr int kReaders = 3;

using vsstest::Wide;

std::string Utf8(const WCHAR *text) { return vsstest::Narrow(text); }

bool ReadWholeFile(const std::string &path, std::string *content) { return vsstest::ReadFileBytes(Wide(path), content); }

// A file the backup saves, the volume it lies on, and its content before any snapshot.
struct Probe {
    std::string live, volume, content;
};

struct SnapSave {
    std::string live;
    bool called = false;
};

int RecordLive(void *context, void *, const char *, const char *live, unsigned int)
{
    auto *save = static_cast<SnapSave *>(context);
    save->live = live;
    save->called = true;
    return 1;
}

// Everything a reader can ask about one probe, each answer checked against the probe
// alone. Returns what was wrong, or "" when every answer was one a whole map gives.
std::string CheckProbe(const Probe &probe, bool *sawShadow)
{
    WCHAR volume[300], shadow[300], driveRoot[8];
    std::fill(std::begin(volume), std::end(volume), WCHAR('#'));
    std::fill(std::begin(shadow), std::end(shadow), WCHAR('#'));
    std::fill(std::begin(driveRoot), std::end(driveRoot), WCHAR('#'));
    if (vsscr_get_mapping(Wide(probe.live).c_str(), volume, 300, shadow, 300, driveRoot, 8) != 0)
        return "get_mapping answered non-zero";
    if (volume[0] == '#')
        return shadow[0] == '#' ? "" : "a shadow path without its volume";
    if (Utf8(volume) != probe.volume)
        return "mapped to volume " + Utf8(volume);
    if (shadow[0] == '#')
        return ""; // in the map, not yet snapshotted
    const std::string shadowPath = Utf8(shadow);
    if (shadowPath.rfind(kDevice, 0) != 0 || shadowPath.back() != '\\')
        return "shadow path '" + shadowPath + "'";
    *sawShadow = true;

    // The shadow form of the probe leads back to the probe, or to nothing once the
    // snapshot is gone: shadow devices are never reused for another volume.
    const std::string shadowForm = shadowPath + probe.live.substr(probe.volume.size());
    char live[600];
    memset(live, '#', sizeof live);
    live[sizeof live - 1] = 0;
    vsscr_translate_to_physical(shadowForm.c_str(), live, sizeof live);
    if (live[0] != '#' && live != probe.live)
        return shadowForm + " translated to " + live;
    if (vsscr_is_snapshot_path(shadowForm.c_str()) > 1 || vo_is_snapshot_path(shadowForm.c_str()) > 1)
        return "a path test answered neither 0 nor 1";
    char root[300] = "";
    if (vsscr_is_snapshot_root(shadowPath.c_str(), root, sizeof root) == 1 && root != probe.volume)
        return shadowPath + " is the root of " + root;
    char runtimeLive[600] = "";
    if (vo_snapshot_to_live(shadowForm.c_str(), runtimeLive, sizeof runtimeLive) == 1 && runtimeLive != probe.live)
        return "the runtime translated " + shadowForm + " to " + runtimeLive;
    SnapSave save;
    if (nt_do_snap_backup(shadowForm.c_str(), RecordLive, &save, nullptr) == 1 && save.live != probe.live)
        return "saved " + shadowForm + " as " + save.live;
    // Read through the snapshot: the content from before it, or no such file once the
    // snapshot is deleted.
    std::string content;
    if (ReadWholeFile(shadowForm, &content) && content != probe.content)
        return shadowForm + " read '" + content + "'";
    return "";
}

class Concurrency : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetEnvironmentVariableW(W("TLV_INITIALIZE_DIRECTIVE"), nullptr);
        SetEnvironmentVariableW(W("TLV_MAST"), nullptr);
    }
    void TearDown() override
    {
        vsscr_uninit_backup();
        Debug = 0;
    }
};

// How a session ends while the readers run; the next round begins a new one at once.
struct Ending {
    const char *name;
    std::function<void()> end;
};

TEST_F(Concurrency, ShadowPathReadersSeeWholeMapsWhileSessionsSnapshotGrowAndEnd)
{
    std::vector<Probe> probes = {
        {"C:\\Users\\Administrator\\Documents\\report.txt", "C:\\", ""},
        {"D:\\Mount\\Archive\\2025\\q4.txt", "D:\\Mount\\Archive\\", ""},
        {"D:\\Shares\\Finance\\ledger.csv", "D:\\", ""},
    };
    for (Probe &probe : probes)
        ASSERT_TRUE(ReadWholeFile(probe.live, &probe.content)) << probe.live;

    const Ending endings[] = {
        {"backup complete, set destroyed", [] {
             EXPECT_SUCCESS(vsscr_backup_complete());
             vsscr_destroy_snapshot_set();
         }},
        {"backup complete, torn down", [] {
             EXPECT_SUCCESS(vsscr_backup_complete());
             vsscr_uninit_backup();
         }},
        {"torn down without completing", [] { vsscr_uninit_backup(); }},
    };

    std::atomic<bool> stop{false};
    std::atomic<long> checks{0}, shadowSeen{0};
    std::vector<std::string> failures[kReaders];
    auto reader = [&](int index) {
        for (size_t n = 0; !stop.load(); ++n) {
            bool sawShadow = false;
            const std::string failure = CheckProbe(probes[n % probes.size()], &sawShadow);
            if (!failure.empty() && failures[index].size() < 10)
                failures[index].push_back(failure);
            shadowSeen += sawShadow ? 1 : 0;
            ++checks;
        }
    };
    std::vector<std::thread> readers;
    for (int i = 0; i < kReaders; ++i)
        readers.emplace_back(reader, i);

    // Each ending several times, and on until the readers have met snapshots: on a loaded
    // machine they may not have been scheduled within the first rounds.
    constexpr int kRoundsPerEnding = 4;
    int round = 0;
    for (; round < kRoundsPerEnding * 3 || (shadowSeen.load() < 50 && round < 200); ++round) {
        const Ending &ending = endings[round % 3];
        SCOPED_TRACE(ending.name);
        EXPECT_SUCCESS(vsscr_init_backup(3, 0));
        EXPECT_SUCCESS(vsscr_select_for_backup());
        for (const Probe &probe : probes) // the map grows one volume at a time
            EXPECT_SUCCESS(vsscr_add_savepath(probe.live.c_str()));
        WCHAR document[1024];
        GUID id = {};
        EXPECT_SUCCESS(vsscr_process_snap(1024, document, &id));
        ending.end();
    }
    vsscr_uninit_backup();
    stop = true;
    for (std::thread &thread : readers)
        thread.join();

    for (int i = 0; i < kReaders; ++i)
        EXPECT_TRUE(failures[i].empty()) << "reader " << i << ": " << failures[i].front();
    EXPECT_GT(shadowSeen.load(), 0) << checks.load() << " checks in " << round << " sessions";
}

// Debug lines, printed messages and the per-thread error slots from many threads at once,
// beside a session that logs its own steps: every line arrives once and whole, in the hook
// and in the debug log, and no thread sees another's last error.
TEST_F(Concurrency, RuntimeOutputAndErrorSlotsFromManyThreads)
{
    constexpr int kThreads = 4, kLines = 150;
    const std::string tag = "concurrency-" + std::to_string(std::random_device()());
    tvtest::OutputCapture capture;
    Debug = 9;
    std::atomic<int> slotMixups{0};
    auto worker = [&](int index) {
        for (int n = 0; n < kLines; ++n) {
            vo_error_set_last(1000 + index, VO_ERR_WIN32);
            SetLastError(2000 + index);
            debugprintf("%s thread %d line %d\n", tag.c_str(), index, n);
            tvtest::Message message(msg_create(7000 + index, n, "%s message %d of %d", VO_ARG_TEXT, tag.c_str(),
                                               VO_ARG_INT, inttostr(n), VO_ARG_INT, inttostr(index)));
            if (msg_text(message.handle) != tag + " message " + std::to_string(n) + " of " + std::to_string(index))
                ++slotMixups;
            if (vo_error_get_last() != 1000 + index || GetLastError() != DWORD(2000 + index))
                ++slotMixups;
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back(worker, i);
    EXPECT_SUCCESS(vsscr_init_backup(3, 0)); // the session logs as the workers do
    EXPECT_SUCCESS(vsscr_add_savepath("C:\\Windows\\System32"));
    vsscr_uninit_backup();
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(0, slotMixups.load());

    std::string log;
    ASSERT_TRUE(ReadWholeFile(std::string(vo_get_logsdir()) + "\\" + VO_DEBUG_LOG_NAME, &log));
    std::vector<int> inHook(kThreads * kLines), inLog(kThreads * kLines);
    auto count = [&](const std::string &text, std::vector<int> &seen) {
        int index = -1, n = -1;
        const size_t at = text.find(tag + " thread ");
        if (at == std::string::npos)
            return;
        char end = 0;
        if (sscanf(text.c_str() + at + tag.size(), " thread %d line %d%c", &index, &n, &end) == 3 && end == '\n' &&
            index >= 0 && index < kThreads && n >= 0 && n < kLines)
            ++seen[index * kLines + n];
        else
            seen.push_back(-1); // a line torn or run into another
    };
    for (const std::string &line : capture.debugLines())
        count(line, inHook);
    for (size_t begin = 0, end; (end = log.find('\n', begin)) != std::string::npos; begin = end + 1)
        count(log.substr(begin, end - begin + 1), inLog);
    EXPECT_EQ(std::vector<int>(kThreads * kLines, 1), inHook);
    EXPECT_EQ(std::vector<int>(kThreads * kLines, 1), inLog);
}

} // namespace
