// The save items of a generated host: vsscr_get_writer_list(8) and sow_free_save_item of
// its result, with 50 system-state writers of 20 components, each component naming 100
// file specifications (100,000 descriptors), and the same with 400 files per component.
// Each run opens a backup session and sorts the writers (not timed), then times the list
// and its release. Counters: "per_desc" the time per descriptor, "allocs_per_desc" the
// heap allocations (malloc, calloc, operator new) per descriptor, and "extra_per_desc" the
// same without the texts the descriptors own (per_desc is CPU time; each run also writes
// the 50 writers' metadata documents). Names are SaveItems/base/1x and SaveItems/files/4x;
// bench/ratios.py gives the 4x time over the 1x time of the same run (4.0 is linear).
#include <libwinclass/backup.h>
#include <libwinclass/explain.h>
#include <libwinclass/saveitems.h>

#include <liblocal/local.h>

#include <winsim/host.h>
#include <winsim/hostmodel.h>

#include <benchmark/benchmark.h>

#include "iterations.h"
#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

#include "allocations.h"

namespace {

using nlohmann::json;

std::string Printed(const char *format, unsigned value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

const unsigned kWriters = 50;
const unsigned kComponents = 20;

// Writers of the system-state usage types, all on the supported list, so that list 8 takes
// every one with every component.
std::string GeneratedHost(unsigned files)
{
    json host = json::parse(winsim::EmbeddedHostJson("default"));
    host["writers"] = json::array();
    std::string supported;
    for (unsigned w = 0; w < kWriters; ++w) {
        const std::string id = Printed("%08x-0000-4000-8000-00000000000a", w + 1);
        supported += (supported.empty() ? "{" : ",{") + id + "}";
        json writer = {{"name", Printed("Bench Writer %u", w)}, {"id", id},
                       {"instanceId", Printed("%08x-0000-4000-8000-00000000000b", w + 1)},
                       {"usage", w % 2 == 0 ? "VSS_UT_BOOTABLESYSTEMSTATE" : "VSS_UT_SYSTEMSERVICE"},
                       {"components", json::array()}};
        for (unsigned c = 0; c < kComponents; ++c) {
            json component = {{"type", "VSS_CT_FILEGROUP"}, {"logicalPath", Printed("w%03u", w)},
                              {"name", Printed("c%03u", c)}, {"files", json::array()}};
            for (unsigned f = 0; f < files; ++f)
                component["files"].push_back({{"path", Printed("C:\\Data\\w%03u\\", w) + Printed("c%03u\\", c) +
                                                           Printed("f%04u", f)},
                                              {"filespec", "*.dat"}, {"recursive", f % 2 == 0}});
            writer["components"].push_back(component);
        }
        host["writers"].push_back(writer);
    }
    host["files"].push_back(
        {{"path", "C:\\Program Files\\Tolvane\\Backup Client\\bin\\writerlist.txt"}, {"content", supported}});
    return host.dump();
}

void SaveItems(benchmark::State &state, unsigned files)
{
    winsim::ReplaceHost(winsim::ParseHost(GeneratedHost(files)));
    msg_free(vsscr_init_backup(2, 0));
    vsscr_classify_writers();
    long long descriptors = 0, texts = 0, allocated = 0;
    for (auto _ : state) {
        const long long before = tvbench::allocations.load();
        sow_save_item *items = vsscr_get_writer_list(8);
        state.PauseTiming();
        descriptors = texts = 0;
        for (const sow_save_item *item = items; item != nullptr; item = item->next)
            for (const sow_component *component = item->components; component != nullptr; component = component->next)
                for (const vsscr_filedesc *d = component->files; d != nullptr; d = d->next) {
                    ++descriptors;
                    texts += (d->path != nullptr) + (d->filespec != nullptr) + (d->alternate_path != nullptr);
                }
        state.ResumeTiming();
        sow_free_save_item(items, nullptr);
        allocated += tvbench::allocations.load() - before;
    }
    vsscr_uninit_backup();
    if (descriptors == 0) {
        state.SkipWithError("no descriptors: the writers were not listed");
        return;
    }
    const double perRun = double(allocated) / double(state.iterations());
    state.counters["descriptors"] = double(descriptors);
    state.counters["per_desc"] =
        benchmark::Counter(double(descriptors), benchmark::Counter::kIsIterationInvariantRate |
                                                    benchmark::Counter::kInvert);
    state.counters["allocs_per_desc"] = perRun / double(descriptors);
    state.counters["extra_per_desc"] = (perRun - double(texts)) / double(descriptors);
}

} // namespace

int main(int argc, char **argv)
{
    tvbench::TakeIterations(argc, argv);
    tvbench::Register("SaveItems/base/1x", SaveItems, 100u)->Unit(benchmark::kMillisecond);
    tvbench::Register("SaveItems/files/4x", SaveItems, 400u)->Unit(benchmark::kMillisecond);
    return tvbench::RunBenchmarks(argc, argv);
}
