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

#include <strings.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "alloccount.h"

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

// The baseline: the prefix comparisons alone (equality when the path is not longer).
int BaselineInside(const std::vector<std::string> &shadows, const char *path)
{
    const size_t pathBytes = strlen(path);
    for (const std::string &shadow : shadows) {
        if (pathBytes <= shadow.size() ? strcasecmp(path, shadow.c_str()) == 0
                                       : strncasecmp(path, shadow.c_str(), shadow.size()) == 0)
            return 1;
    }
    return 0;
}

void ReportAllocations(benchmark::State &state, long long before)
{
    state.counters["allocs"] =
        benchmark::Counter(double(allocations.load() - before) / double(state.iterations()));
}

void IsSnapshotPathTv(benchmark::State &state, size_t volumes, std::string which)
{
    MakeSession(volumes);
    const std::string path = PathFor(which);
    const int expected = which == "miss" ? 0 : 1;
    if (vsscr_is_snapshot_path(path.c_str()) != expected)
        state.SkipWithError("wrong answer");
    const long long before = allocations.load();
    for (auto _ : state)
        benchmark::DoNotOptimize(vsscr_is_snapshot_path(path.c_str()));
    ReportAllocations(state, before);
}

void IsSnapshotPathStd(benchmark::State &state, size_t volumes, std::string which)
{
    MakeSession(volumes);
    const std::string path = PathFor(which);
    const long long before = allocations.load();
    for (auto _ : state)
        benchmark::DoNotOptimize(BaselineInside(shadowPaths, path.c_str()));
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
    const long long before = allocations.load();
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
    const long long before = allocations.load();
    for (auto _ : state)
        benchmark::DoNotOptimize(BaselineInside(shadowPaths, path.c_str()));
    ReportAllocations(state, before);
}

void RegisterAll()
{
    for (const char *which : {"first", "last", "miss"}) {
        for (size_t volumes : kSizes) {
            const std::string rest = std::string(which) + "/" + std::to_string(volumes);
            benchmark::RegisterBenchmark(("IsSnapshotPath/tv/" + rest).c_str(), IsSnapshotPathTv, volumes,
                                         std::string(which));
            benchmark::RegisterBenchmark(("IsSnapshotPath/std/" + rest).c_str(), IsSnapshotPathStd, volumes,
                                         std::string(which));
            benchmark::RegisterBenchmark(("Translate/tv/" + rest).c_str(), TranslateTv, volumes, std::string(which));
            benchmark::RegisterBenchmark(("Translate/std/" + rest).c_str(), TranslateStd, volumes,
                                         std::string(which));
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    vsscr_uninit_backup();
    return 0;
}
