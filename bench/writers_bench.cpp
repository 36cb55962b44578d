// Writer classification and selection on generated hosts: 50 writers of 20 components
// over 10 volumes, and each dimension four times larger. Each run opens a backup session
// with every volume in the snapshot set (not timed), then times vsscr_classify_writers and
// vsscr_select_for_backup for the system-state (2) and recovery (1) save types, and ends
// the session (not timed). Names are Select/<save type>/<case>/<scale>; bench/ratios.py
// gives each 4x case's time over the 1x time of the same run.
#include <libwinclass/backup.h>
#include <libwinclass/explain.h>

#include <liblocal/local.h>

#include <winsim/host.h>
#include <winsim/hostmodel.h>

#include <benchmark/benchmark.h>

#include "iterations.h"
#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

std::string Hex(const char *format, unsigned value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Volume i: C:\ first, then drive letters, then folders mounted on C:.
std::string VolumeRoot(unsigned i)
{
    if (i < 20)
        return std::string(1, char('C' + i)) + ":\\";
    return Hex("C:\\Vol\\%03u\\", i);
}

// The three writer IDs that the default promotion policy takes whole.
const char *const kPromotedIds[] = {"dd846aaa-a1b6-42a8-aaf8-03dcb6114bfd", "7e47b561-971a-46e6-96b9-696eeaa53b2a",
                                    "8d5194e1-e455-434a-b2e5-51296cce67df"};
const unsigned kMostWriters = 200;

std::string WriterId(unsigned w)
{
    return w % 3 == 2 && w / 3 < 3 ? kPromotedIds[w / 3] : Hex("%08x-0000-4000-8000-00000000000a", w + 1);
}

const char *const kUsages[] = {"VSS_UT_BOOTABLESYSTEMSTATE", "VSS_UT_SYSTEMSERVICE", "VSS_UT_USERDATA"};

std::string GeneratedHost(unsigned writers, unsigned components, unsigned volumes)
{
    json host = json::parse(winsim::EmbeddedHostJson("default"));
    host["disks"] = json::array();
    host["volumes"] = json::array();
    host["storagePools"] = json::array();
    host["files"] = json::array();
    host["writers"] = json::array();
    json asr = {{"name", "ASR Writer"}, {"id", "be000cbe-11fe-4426-9c58-531aa6355fc4"},
                {"instanceId", "be000cbe-0000-4000-8000-000000000000"}, {"usage", "VSS_UT_BOOTABLESYSTEMSTATE"},
                {"components", {{{"type", "VSS_CT_FILEGROUP"}, {"logicalPath", "ASR"}, {"name", "ASR"}}}}};
    for (unsigned i = 0; i < volumes; ++i) {
        const std::string guid = Hex("00000000-0000-4000-8000-%012x", i + 1);
        json partition = {{"number", 1}, {"offset", 1048576}, {"size", 2147483648ull}, {"type", "basic"}};
        json disk = {{"number", i}, {"size", 4294967296ull}, {"style", "gpt"}, {"busType", "sas"}};
        disk["partitions"] = json::array({partition});
        host["disks"].push_back(disk);
        json extent = {{"disk", i}, {"offset", 1048576}, {"length", 2147483648ull}};
        json volume = {{"guid", guid}, {"fileSystem", "NTFS"}};
        volume["extents"] = json::array({extent});
        if (i < 20)
            volume["driveLetter"] = std::string(1, char('C' + i));
        else
            volume["mountFolders"] = json::array({VolumeRoot(i)});
        host["volumes"].push_back(volume);
        asr["components"].push_back(
            json{{"type", "VSS_CT_FILEGROUP"}, {"logicalPath", "Volumes"}, {"name", "Volume{" + guid + "}"}});
        asr["components"].push_back(
            json{{"type", "VSS_CT_FILEGROUP"}, {"logicalPath", "Disks"}, {"name", Hex("harddisk%u", i)}});
    }
    host["writers"].push_back(asr);
    // The supported list is read once per process: it names the writers of the largest host.
    std::string supported;
    for (unsigned w = 0; w < kMostWriters; ++w)
        supported += (supported.empty() ? "" : ",") + ("{" + WriterId(w) + "}");
    for (unsigned w = 0; w < writers; ++w) {
        const std::string id = WriterId(w);
        json writer = {{"name", Hex("Bench Writer %u", w)}, {"id", id},
                       {"instanceId", Hex("%08x-0000-4000-8000-00000000000b", w + 1)}, {"usage", kUsages[w % 3]},
                       {"components", json::array()}};
        for (unsigned c = 0; c < components; ++c) {
            const std::string folder = VolumeRoot((w * components + c) % volumes) + Hex("w%03u\\", w) + Hex("c%03u\\", c);
            writer["components"].push_back({{"type", "VSS_CT_FILEGROUP"}, {"logicalPath", Hex("w%03u", w)},
                                            {"name", Hex("c%03u", c)}, {"flags", c % 5 == 4 ? 4 : 0},
                                            {"files", {{{"path", folder}, {"filespec", "*.dat"}}}}});
        }
        host["writers"].push_back(writer);
    }
    host["files"].push_back({{"path", "C:\\Program Files\\Tolvane\\Backup Client\\bin\\writerlist.txt"}, {"content", supported}});
    return host.dump();
}

struct Scale {
    const char *name;
    unsigned writers, components, volumes;
};

const Scale kScales[] = {{"base/1x", 50, 20, 10},
                         {"writers/4x", 200, 20, 10},
                         {"components/4x", 50, 80, 10},
                         {"volumes/4x", 50, 20, 40}};

void Select(benchmark::State &state, int saveType, Scale scale)
{
    winsim::ReplaceHost(winsim::ParseHost(GeneratedHost(scale.writers, scale.components, scale.volumes)));
    size_t decisions = 0;
    for (auto _ : state) {
        state.PauseTiming();
        vsscr_init_backup(saveType, 0);
        for (unsigned i = 0; i < scale.volumes; ++i) {
            const std::string root = VolumeRoot(i);
            msg_free(vsscr_add_savepath(root.c_str()));
            if (saveType == 1) {
                std::vector<WCHAR> wide(root.size() + 1);
                vo_utf8s_to_wcs(wide.data(), root.c_str(), wide.size());
                msg_free(vsscr_add_volume_EX(wide.data(), 2));
            }
        }
        vo_vallist *critical = nullptr;
        if (saveType == 1)
            vsscr_get_dr_critical_volumes(&critical);
        vallist_free(critical);
        state.ResumeTiming();

        benchmark::DoNotOptimize(vsscr_classify_writers());
        msg_free(vsscr_select_for_backup());

        state.PauseTiming();
        decisions = 0;
        vsscr_get_decisions([](const vsscr_decision *, void *count) { ++*static_cast<size_t *>(count); }, &decisions);
        vsscr_uninit_backup();
        state.ResumeTiming();
    }
    state.counters["decisions"] = double(decisions);
}

void Register()
{
    for (int saveType : {2, 1})
        for (const Scale &scale : kScales)
            tvbench::Register("Select/" + std::to_string(saveType) + "/" + scale.name, Select, saveType, scale)
                ->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char **argv)
{
    tvbench::TakeIterations(argc, argv);
    Register();
    return tvbench::RunBenchmarks(argc, argv);
}
