// Each flow run once to count the faultable calls it makes into the simulated host, then
// once for each of them with that call failing: no crash, a failure that names its cause,
// no snapshot left, the cluster as found, and the next clean run succeeding. LeakSanitizer
// finds the leaks.
#include "tools/commandtest.h"
#include "commands.h"

#include <gtest/gtest.h>

#include <comdef.h>
#include <winsim/shadow.h>
#include <winsim/wmi.h>

#include <fcntl.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <set>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

enum Kind { kBackup, kRestore, kCsvMoves, kSysinfo };
struct Flow {
    const char *name, *host;
    Kind kind;
    int saveType;
    std::vector<std::string> paths;
    int shards;  // processes sharing the sweep: shard s of n fails calls s, s + n, ...
};
const Flow kFlows[] = {
    {"backup-fs", "default", kBackup, 3,
     {"C:\\Users\\Administrator\\Documents", "D:\\Shares", "E:\\Projects", "D:\\Mount\\Archive"}, 1},
    {"backup-system-state", "default", kBackup, 2, {}, 4},
    {"backup-dr", "default", kBackup, 1, {}, 4},
    {"restore", "default", kRestore, 2, {"D:\\Shares"}, 1},
    {"csv-move-return", "cluster-node", kCsvMoves, 0, {}, 1},
    {"backup-csv", "cluster-node", kBackup, 3, {"C:\\ClusterStorage\\Volume1"}, 1},
    {"sysinfo", "default", kSysinfo, 0, {}, 2},
};
const int kOutOfMemory = -2;  // the library's strings raise it, by design

const fs::path kScratch = "/dev/shm/winclass-sweep-" + std::to_string(getpid());

std::string Cluster()
{
    std::string state;
    for (const auto &v : winsim::WmiSharedVolumes())
        state += std::string(v.owner.begin(), v.owner.end()) + "/" + std::to_string(v.faultState) + " ";
    return state;
}

int RunFlow(const Flow &flow, json *document, const fs::path &folder, const char *node = "")
{
    winclass::Output output(true);
    int code = 0;
    if (flow.kind == kBackup) {
        fs::remove_all(folder);
        code = winclass::RunBackup({flow.paths, folder.string(), false, flow.saveType, "", false, false, 3, 0}, output);
    } else if (flow.kind == kRestore) {
        code = winclass::RunRestore({(kScratch / "saved").string(), {}, false, "", false}, output);
    } else if (flow.kind == kSysinfo) {
        code = winclass::RunSysinfo({}, output);
    } else if (*node != 0) {
        code = winclass::RunCsv({"move", "C:\\ClusterStorage\\Volume1", node, ""}, output);
    } else {
        // There and home; home again whatever happened, as the client does.
        struct SendHome {
            const std::string home = Cluster();
            ~SendHome()
            {
                json ignored;
                try {
                    if (Cluster() != home)
                        RunFlow(kFlows[4], &ignored, "", "TVNODE2");
                } catch (const _com_error &) {
                }
            }
        } sendHome;
        code = RunFlow(flow, document, folder, "TVNODE1");
        return code != 0 ? code : RunFlow(flow, document, folder, "TVNODE2");
    }
    *document = output.Document();
    return code;
}

// The flow with its printing dropped; an exception out of it is an exit code.
int Quietly(const Flow &flow, json *document)
{
    std::fflush(nullptr);
    const int out = dup(1), err = dup(2), null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    int code = -1;
    try {
        code = RunFlow(flow, document, kScratch / "to");
    } catch (const _com_error &error) {
        code = error.Error() == E_OUTOFMEMORY ? kOutOfMemory : -1;
    }
    std::cout.flush();
    std::fflush(nullptr);
    dup2(out, 1);
    dup2(err, 2);
    close(out);
    close(err);
    close(null);
    return code;
}

// The failure's code or system text, an HRESULT it became (a provider's failure reaches
// the library as VSS's own), or at least the path, volume, writer, key or WMI namespace
// that failed (the library's messages name the volume and log the code).
bool NamesCause(const std::string &said, DWORD error)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", unsigned(error < 0x10000 ? HRESULT_FROM_WIN32(error) : error));
    WCHAR text[512];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, text, 512, NULL);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.'))
        --length;
    for (const std::string &subject : {std::string(":\\"), std::string("Volume{"), std::string("writer "),
                                       std::string("HKLM\\"), std::string("namespace ROOT\\"), std::string(hex), std::string("0x800"),
                                       length > 0 ? std::string(text, text + length) : std::string(hex)})
        if (said.find(subject) != std::string::npos)
            return true;
    return false;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const bool kSanitized = true;
#else
const bool kSanitized = false;
#endif

// The calls to fail, counted from 1: every one. Under the sanitizers, where a run costs
// twenty times as much, the first call of each function (most of a flow's calls repeat a
// loop's few) and calls evenly spaced between, up to kSanitizedFaults in all.
const size_t kSanitizedFaults = 150;
std::vector<size_t> CallsToFail(const std::vector<std::string> &names)
{
    std::set<size_t> calls;
    std::set<std::string> seen;
    for (size_t k = 1; k <= names.size(); ++k)
        if (!kSanitized || seen.insert(names[k - 1]).second)
            calls.insert(k);
    const size_t step = names.size() / kSanitizedFaults + 1;
    for (size_t k = step; calls.size() < kSanitizedFaults && k <= names.size(); k += step)
        calls.insert(k);
    return std::vector<size_t>(calls.begin(), calls.end());
}

void PrintTo(const Flow *flow, std::ostream *out) { *out << flow->name; }

class FaultSweep : public testing::TestWithParam<std::pair<const Flow *, size_t>> {};

TEST_P(FaultSweep, EachCallFailedInTurn)
{
    const Flow &flow = *GetParam().first;
    const size_t shard = GetParam().second;
    winsim::SetSandboxRoot((kScratch / "host").string());
    commandtest::UseHost(flow.host);
    winsim::ResetWmi();
    json document;
    Flow saved = flow;
    saved.kind = kBackup;
    if (flow.kind == kRestore) {
        ASSERT_EQ(RunFlow(saved, &document, kScratch / "saved"), 0) << document.dump();
    }
    const std::string cluster = Cluster();
    winsim::StartFaultSweep();
    ASSERT_EQ(Quietly(flow, &document), 0) << document.dump();
    const size_t calls = winsim::FaultableCalls().calls;
    // Handles, keys and WMI objects live in winsim's tables, out of LeakSanitizer's sight.
    const auto held = [] { return std::vector<size_t>{winsim::OpenHandleCount(), winsim::OpenRegistryKeyCount(),
                                                      winsim::LiveWmiObjects()}; };
    const std::vector<size_t> heldBefore = held();
    size_t faults = 0;
    const std::vector<size_t> swept = CallsToFail(winsim::FaultableCalls().names);
    for (size_t at = shard - 1; at < swept.size(); at += size_t(flow.shards)) {
        const size_t k = swept[at];
        winsim::StartFaultSweep(k);
        const int code = Quietly(flow, &document);
        const winsim::FaultSweepCount count = winsim::FaultableCalls();
        winsim::StopFaultSweep();
        if (count.failed.empty())
            continue;  // this run made fewer calls: what a first run set up stays set up
        ++faults;
        SCOPED_TRACE(std::string(flow.name) + " call " + std::to_string(k) + " " + count.failed);
        std::string said = document.value("error", "");
        for (const json &warning : document.value("warnings", json::array()))
            said += " | " + warning.get<std::string>();
        EXPECT_NE(code, -1) << "an exception other than out of memory";
        if (code == kOutOfMemory) {
            EXPECT_EQ(count.error, DWORD(E_OUTOFMEMORY));
        } else if (code != 0) {
            EXPECT_TRUE(NamesCause(said, count.error)) << "exit " << code << ": " << said;
        }
        EXPECT_TRUE(winsim::ShadowCopyDevices().empty()) << said;
        // Only a failed return may leave a CSV away, and the backup warns of it.
        if (Cluster() != cluster) {
            EXPECT_EQ(code, winclass::kExitWarnings) << "the cluster was changed: " << Cluster() << said;
            RunFlow(kFlows[4], &document, "", "TVNODE2");
        }
        ASSERT_EQ(Quietly(flow, &document), 0) << "the run after: " << document.dump();
        ASSERT_EQ(Cluster(), cluster);
        EXPECT_EQ(held(), heldBefore) << "handles, registry keys, WMI objects";
    }
    std::printf("fault sweep: %s (%zu/%d) %zu calls, %zu faults%s\n", flow.name, shard, flow.shards, calls, faults,
                kSanitized ? " (sanitizer run: each function's first call and calls evenly spaced)" : "");
    fs::remove_all(kScratch);
}

std::vector<std::pair<const Flow *, size_t>> Shards()
{
    std::vector<std::pair<const Flow *, size_t>> shards;
    for (const Flow &flow : kFlows)
        for (int shard = 1; shard <= flow.shards; ++shard)
            shards.emplace_back(&flow, size_t(shard));
    return shards;
}
INSTANTIATE_TEST_SUITE_P(Flows, FaultSweep, testing::ValuesIn(Shards()), [](const auto &info) {
    std::string name = info.param.first->name + ("_" + std::to_string(info.param.second));
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
});

} // namespace
