// The shadow-path callbacks the host runtime calls for every file: vsscr_is_snapshot_path
// and vsscr_translate_to_physical on volume snapshot maps of 4, 64 and 512 volumes, built
// through the exported interface in a backup session on the simulated host. Each beside a
// baseline in the same run that does only the case-insensitive prefix comparisons over the
// same shadow paths, in the same order (std::string and strncasecmp). Names are
// Operation/implementation/case/volumes; bench/ratios.py gives the ratios. Every run
// reports the heap allocations per call (operator new and malloc) as "allocs".
#include <libwinclass/backup.h>

#include <liblocal/local.h>

#include <winsim/host.h>
#include <winsim/hostmodel.h>

#include <benchmark/benchmark.h>

#include "allocations.h"
#include "iterations.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const size_t kSizes[] = {4, 64, 512};
const std::string kDevice = "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy";

std::string Utf8(const std::u16string &text)
{
    char buffer[512];
    vo_wcs_to_utf8s(buffer, reinterpret_cast<const WCHAR *>(text.c_str()), sizeof buffer, 0);
    return buffer;
}

// The shadow paths of the map, in map order, as the baseline keeps them.
std::vector<std::string> shadowPaths;
size_t sessionVolumes = 0;

// A session whose map holds `volumes` volumes (named by their GUID paths, so no drive
// root joins them), each with a shadow path of its own.
void MakeSession(size_t volumes)
{
    if (sessionVolumes == volumes)
        return;
    vsscr_uninit_backup();
    winsim::Host host = winsim::ParseHost(winsim::EmbeddedHostJson("default"));
    winsim::Disk disk;
    disk.number = DWORD(host.disks.size());
    disk.size = 1ull << 40;
    disk.friendlyName = u"bench disk";
    host.disks.push_back(disk);
    for (size_t i = 0; i < volumes; ++i) {
        winsim::Volume volume;
        char guid[64];
        snprintf(guid, sizeof guid, "\\\\?\\Volume{%08zx-0000-4000-8000-%012zx}\\", i + 1, i + 1);
        volume.guidPath = std::u16string(guid, guid + strlen(guid));
        volume.fileSystem = u"NTFS";
        volume.extents.push_back(winsim::Extent{disk.number, (i + 1) * (1ull << 30), 1ull << 29});
        host.volumes.push_back(volume);
    }
    winsim::ReplaceHost(host);

    vo_msg *message = vsscr_init_backup(1, 0);
    if (message != NULL) {
        fprintf(stderr, "vsscr_init_backup: %s", msg_text(message));
        abort();
    }
    shadowPaths.clear();
    size_t device = 100;
    for (const winsim::Volume &volume : winsim::CurrentHost().volumes) {
        if (volume.guidPath.find(u"-0000-4000-8000-") == std::u16string::npos)
            continue;
        const std::string shadow = kDevice + std::to_string(device++) + "\\";
        const std::u16string wideShadow(shadow.begin(), shadow.end());
        uint32_t present = 0;
        message = vsscr_add_to_volume_table_EX(reinterpret_cast<const WCHAR *>(volume.guidPath.c_str()), 1, NULL,
                                               &present, 1, reinterpret_cast<const WCHAR *>(wideShadow.c_str()));
        if (message != NULL) {
            fprintf(stderr, "vsscr_add_to_volume_table_EX %s: %s", Utf8(volume.guidPath).c_str(), msg_text(message));
            abort();
        }
        shadowPaths.push_back(shadow);
    }
    sessionVolumes = volumes;
}

// The paths asked about: below the first volume's shadow path, below the last one's (the
// whole map is walked), and below a device that is not in the map (walked in vain).
std::string PathFor(const std::string &which)
{
    const std::string below = "Users\\Administrator\\Documents\\report.txt";
    if (which == "first")
        return shadowPaths.front() + below;
    if (which == "last")
        return shadowPaths.back() + below;
    return kDevice + "99999\\" + below;
}

// The shadow path a baseline compares the path with: the one it lies in, or the first.
const std::string &ShadowFor(const std::string &which)
{
    return which == "last" ? shadowPaths.back() : shadowPaths.front();
}

// The baseline: one prefix comparison (equality when the path is not longer).
int BaselineInside(const std::string &shadow, const char *path)
{
    const size_t pathBytes = strlen(path);
    return pathBytes <= shadow.size() ? strcasecmp(path, shadow.c_str()) == 0
                                      : strncasecmp(path, shadow.c_str(), shadow.size()) == 0;
}

// The volume that replaces a shadow path in the translation baseline: a GUID path as long
// as those of the map.
const std::string kLiveVolume = "\\\\?\\Volume{00000001-0000-4000-8000-000000000001}\\";

void ReportAllocations(benchmark::State &state, long long before)
{
    state.counters["allocs"] =
        benchmark::Counter(double(tvbench::allocations.load() - before) / double(state.iterations()));
}

void IsSnapshotPathTv(benchmark::State &state, size_t volumes, std::string which)
{
    MakeSession(volumes);
    const std::string path = PathFor(which);
    const int expected = which == "miss" ? 0 : 1;
    if (vsscr_is_snapshot_path(path.c_str()) != expected)
        state.SkipWithError("wrong answer");
    const long long before = tvbench::allocations.load();
    for (auto _ : state)
        benchmark::DoNotOptimize(vsscr_is_snapshot_path(path.c_str()));
    ReportAllocations(state, before);
}

void IsSnapshotPathStd(benchmark::State &state, size_t volumes, std::string which)
{
    MakeSession(volumes);
    const std::string path = PathFor(which);
    const std::string &shadow = ShadowFor(which);
    const long long before = tvbench::allocations.load();
    for (auto _ : state) {
        // The path as the compiler cannot know it, so that the pure comparison is made
        // on every iteration instead of once before the loop.
        const char *asked = path.c_str();
        benchmark::DoNotOptimize(asked);
        benchmark::DoNotOptimize(BaselineInside(shadow, asked));
    }
    ReportAllocations(state, before);
}

void TranslateTv(benchmark::State &state, size_t volumes, std::string which)
{
    MakeSession(volumes);
    const std::string path = PathFor(which);
    char buffer[600];
    buffer[0] = 0;
    vsscr_translate_to_physical(path.c_str(), buffer, sizeof buffer);
    if ((which == "miss") != (buffer[0] == 0))
        state.SkipWithError("wrong answer");
    const long long before = tvbench::allocations.load();
    for (auto _ : state) {
        vsscr_translate_to_physical(path.c_str(), buffer, sizeof buffer);
        benchmark::DoNotOptimize(buffer[0]);
    }
    ReportAllocations(state, before);
}

void TranslateStd(benchmark::State &state, size_t volumes, std::string which)
{
    MakeSession(volumes);
    const std::string path = PathFor(which);
    const std::string &shadow = ShadowFor(which);
    char buffer[600];
    const long long before = tvbench::allocations.load();
    for (auto _ : state) {
        const char *asked = path.c_str();
        benchmark::DoNotOptimize(asked);
        if (BaselineInside(shadow, asked)) {
            const size_t rest = strlen(asked + shadow.size());
            memcpy(buffer, kLiveVolume.data(), kLiveVolume.size());
            memcpy(buffer + kLiveVolume.size(), asked + shadow.size(), rest + 1);
        }
        benchmark::DoNotOptimize(buffer[0]);
    }
    ReportAllocations(state, before);
}

void RegisterAll()
{
    for (const char *which : {"first", "last", "miss"}) {
        for (size_t volumes : kSizes) {
            const std::string rest = std::string(which) + "/" + std::to_string(volumes);
            tvbench::Register("IsSnapshotPath/tv/" + rest, IsSnapshotPathTv, volumes,
                                         std::string(which));
            tvbench::Register("IsSnapshotPath/std/" + rest, IsSnapshotPathStd, volumes,
                                         std::string(which));
            tvbench::Register("Translate/tv/" + rest, TranslateTv, volumes, std::string(which));
            tvbench::Register("Translate/std/" + rest, TranslateStd, volumes,
                                         std::string(which));
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    tvbench::TakeIterations(argc, argv);
    RegisterAll();
    const int code = tvbench::RunBenchmarks(argc, argv);
    vsscr_uninit_backup();
    return code;
}
