// The restore-side conversion of writer files (ConvertWriterFiles) and the release of its
// chain, on lists of 100 and 1000 files of the default simulated host: drive-letter paths
// (D:\Data\...) and volume GUID paths of the same volume (\\?\Volume{...}\Data\..., read
// through the mount table). Each beside a baseline in the same run that makes a plain wide
// string copy of each path. Names are Convert/implementation/case/files; bench/ratios.py
// gives the ratios. Every run reports heap allocations per file (operator new and malloc)
// as "allocs_per_file".
#include <libwinclass/writers/filedesc.h>

#include <liblocal/local.h>

#include <winsim/hostmodel.h>

#include <benchmark/benchmark.h>

#include "iterations.h"

#include "allocations.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

enum PathCase { kDrive, kVolumeGuid };

// Files named D:\Data\Folder<i>\ (or through D:'s volume GUID path), each *.dat.
CVssWriterFileList MakeFiles(PathCase pathCase, int count)
{
    WCHAR volume[MAX_PATH] = {};
    if (pathCase == kVolumeGuid && !GetVolumeNameForVolumeMountPointW(W("D:\\"), volume, MAX_PATH))
        return {};
    const wstr root = pathCase == kVolumeGuid ? wstr(volume) : wstr(W("D:\\"));
    CVssWriterFileList files;
    for (int i = 0; i < count; ++i) {
        char folder[32];
        std::snprintf(folder, sizeof folder, "Data\\Folder%05d\\", i);
        auto file = std::make_shared<CVssWriterFile>();
        file->path = root + wstr(folder, folder + std::char_traits<char>::length(folder));
        file->fileSpec = W("*.dat");
        files.push_back(file);
    }
    return files;
}

void Report(benchmark::State &state, long long counted, int files)
{
    const double perFile = double(state.iterations()) * files;
    state.counters["allocs_per_file"] = perFile > 0 ? double(counted) / perFile : 0;
    state.SetItemsProcessed(int64_t(perFile));
}

void Converted(benchmark::State &state, PathCase pathCase)
{
    winsim::ReplaceHost(winsim::ParseHost(winsim::EmbeddedHostJson("default")));
    const int count = int(state.range(0));
    const CVssWriterFileList files = MakeFiles(pathCase, count);
    if (int(files.size()) != count) {
        state.SkipWithError("the host has no D: volume");
        return;
    }
    const tv_str writerName("Bench Writer");
    const long long before = tvbench::allocations.load();
    for (auto _ : state) {
        vsscr_filedesc *chain = nullptr;
        if (ConvertWriterFiles(writerName, files, &chain) != S_OK || chain == nullptr) {
            state.SkipWithError("the conversion failed");
            break;
        }
        vsscr_free_filedesc_struct(0, chain);
    }
    Report(state, tvbench::allocations.load() - before, count);
}

void Copied(benchmark::State &state, PathCase pathCase)
{
    winsim::ReplaceHost(winsim::ParseHost(winsim::EmbeddedHostJson("default")));
    const int count = int(state.range(0));
    const CVssWriterFileList files = MakeFiles(pathCase, count);
    const long long before = tvbench::allocations.load();
    for (auto _ : state) {
        for (const auto &file : files) {
            wstr copy = file->GetPath();
            benchmark::DoNotOptimize(copy.data());
        }
    }
    Report(state, tvbench::allocations.load() - before, count);
}

} // namespace

int main(int argc, char **argv)
{
    tvbench::TakeIterations(argc, argv);
    tvbench::Register("Convert/tv/drive", Converted, kDrive)->Arg(100)->Arg(1000);
    tvbench::Register("Convert/std/drive", Copied, kDrive)->Arg(100)->Arg(1000);
    tvbench::Register("Convert/tv/guid", Converted, kVolumeGuid)->Arg(100)->Arg(1000);
    tvbench::Register("Convert/std/guid", Copied, kVolumeGuid)->Arg(100)->Arg(1000);
    return tvbench::RunBenchmarks(argc, argv);
}
