// The critical volumes of a disaster-recovery backup (vsscr_get_dr_critical_volumes) on a
// generated host of 1,000 volumes over 200 dynamic disks, and on the same host four times
// over: the System Writer (the host's only writer) has files on C:\ and on one volume of the
// pack, so every volume of the pack becomes critical. Each volume is mounted at a folder of C:\. Names are
// CriticalVolumes/scale:N; bench/ratios.py gives the growth from scale 1 to scale 4 (4.0 is
// linear). Only the computation is timed: the session is opened and torn down outside it.
#include <libwinclass/backup.h>

#include <liblocal/local.h>

#include <winsim/hostmodel.h>

#include <benchmark/benchmark.h>

#include "iterations.h"
#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

namespace {

const int kVolumes = 1000;
const int kDisks = 200;

// Volume GUIDs differ in their first digits, as random ones do.
std::string Guid(int n)
{
    char text[40];
    std::snprintf(text, sizeof text, "%08x-0000-4000-8000-00000000b00c", unsigned(n) * 2654435761u);
    return text;
}

// The default host's registry and System Writer, with disk 0 holding C:\ and disks 1 to
// `disks` dynamic, each holding volumes/disks volumes mounted at C:\Pack\Vnnnnn\.
std::string PackHost(int volumes, int disks)
{
    using nlohmann::json;
    const long long volumeBytes = 1LL << 30;
    const int perDisk = volumes / disks;
    json host = json::parse(winsim::EmbeddedHostJson("default"));
    host["files"] = json::array();
    host["disks"] = json::array({{{"number", 0}, {"size", 1LL << 40}, {"style", "mbr"}, {"signature", 1},
                                  {"partitions", json::array({{{"number", 1}, {"offset", 1048576},
                                                               {"size", 1LL << 39}, {"type", "ntfs"}}})}}});
    for (int d = 1; d <= disks; ++d)
        host["disks"].push_back({{"number", d}, {"size", (perDisk + 1) * volumeBytes}, {"style", "mbr"},
                                 {"signature", 1000 + d},
                                 {"partitions", json::array({{{"number", 1}, {"offset", 32256},
                                                              {"size", perDisk * volumeBytes + 1048576 - 32256},
                                                              {"type", "ldm"}}})}});
    host["volumes"] = json::array({{{"guid", Guid(0)}, {"driveLetter", "C"}, {"fileSystem", "NTFS"},
                                    {"extents", json::array({{{"disk", 0}, {"offset", 1048576}, {"length", 1LL << 39}}})}}});
    for (int v = 1; v <= volumes; ++v) {
        char folder[32];
        std::snprintf(folder, sizeof folder, "C:\\Pack\\V%05d\\", v);
        host["volumes"].push_back(
            {{"guid", Guid(v)}, {"mountFolders", json::array({folder})}, {"fileSystem", "NTFS"},
             {"extents", json::array({{{"disk", 1 + (v - 1) % disks},
                                       {"offset", 1048576 + ((v - 1) / disks) * volumeBytes},
                                       {"length", volumeBytes}}})}});
    }
    json systemWriter;
    for (const json &writer : host["writers"])
        if (writer["name"] == "System Writer")
            systemWriter = writer;
    systemWriter["components"] = json::array(
        {{{"type", "VSS_CT_FILEGROUP"}, {"name", "System Files"},
          {"files", json::array({{{"path", "C:\\Windows\\"}, {"filespec", "*.dll"}},
                                 {{"path", "C:\\Pack\\V00001\\"}, {"filespec", "*.dat"}}})}}});
    host["writers"] = json::array({systemWriter});
    return host.dump();
}

void CriticalVolumes(benchmark::State &state, int scale)
{
    winsim::ReplaceHost(winsim::ParseHost(PackHost(kVolumes * scale, kDisks * scale)));
    size_t found = 0;
    for (auto _ : state) {
        state.PauseTiming();
        vsscr_uninit_backup();
        vo_msg *message = vsscr_init_backup(1, 0);
        msg_free(message);
        state.ResumeTiming();
        vo_vallist *list = nullptr;
        vsscr_get_dr_critical_volumes(&list);
        state.PauseTiming();
        found = 0;
        for (const vo_vallist *item = list; item != nullptr; item = item->next)
            ++found;
        vallist_free(list);
        state.ResumeTiming();
    }
    vsscr_uninit_backup();
    // C:\ and the whole pack.
    state.counters["volumes"] = double(found);
    if (found != size_t(kVolumes * scale + 1))
        state.SkipWithError("the critical volumes are not the whole pack");
}

} // namespace

int main(int argc, char **argv)
{
    tvbench::TakeIterations(argc, argv);
    for (const auto &[name, scale] : {std::make_pair("CriticalVolumes/base/1x", 1), std::make_pair("CriticalVolumes/pack/4x", 4)})
        tvbench::Register(name, CriticalVolumes, scale)->Unit(benchmark::kMillisecond);
    return tvbench::RunBenchmarks(argc, argv);
}
