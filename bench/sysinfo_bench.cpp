// The bare-metal recovery inventory (write_ossr_sysinfo) of a generated host of 64 GPT disks
// of 8 partitions (512), 256 volumes on the first four partitions of each disk (C:\ and 255
// mounted at folders of C:\) and 16 network adapters with an IPv4 and an IPv6 address each,
// and of the same host four times over. Counters: "peak_bytes", the most heap bytes live
// during one document above what was live before it, and "allocs" the heap allocations of
// one document. Names are Sysinfo/base/1x and Sysinfo/host/4x; after the runs the program
// prints the 4x/1x ratios of CPU time and peak (4.0 is linear; the goal for time is at
// most 5).
#include <libwinclass/hostinfo.h>

#include <platform/tvplatform.h>

#include <winsim/hostmodel.h>

#include <benchmark/benchmark.h>

#include "iterations.h"
#include <nlohmann/json.hpp>

#include <cstdio>
#include <ctime>
#include <string>

#include "allocations.h"

namespace {

using nlohmann::json;

const int kDisks = 64;
const int kPartitionsPerDisk = 8;
const int kVolumesPerDisk = 4;
const int kAdapters = 16;
const long long kPartitionBytes = 1LL << 30;

std::string Printed(const char *format, unsigned value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The default host's system, registry and environment with the storage and network above,
// `scale` times over.
std::string GeneratedHost(int scale)
{
    json host = json::parse(winsim::EmbeddedHostJson("default"));
    host["files"] = json::array();
    host["writers"] = json::array();
    host["storagePools"] = json::array();
    host["disks"] = json::array();
    host["volumes"] = json::array();
    for (int d = 0; d < kDisks * scale; ++d) {
        json disk = {{"number", d},
                     {"size", (kPartitionsPerDisk + 1) * kPartitionBytes},
                     {"style", "gpt"},
                     {"busType", d % 2 == 0 ? "sas" : "sata"},
                     {"id", Printed("%08x-0000-4000-8000-0000000d15c0", unsigned(d) * 2654435761u)},
                     {"partitions", json::array()}};
        for (int p = 0; p < kPartitionsPerDisk; ++p) {
            const long long offset = 1048576 + p * kPartitionBytes;
            disk["partitions"].push_back(
                {{"number", p + 1}, {"offset", offset}, {"size", kPartitionBytes}, {"type", "basic"}});
            if (p >= kVolumesPerDisk)
                continue;
            const unsigned v = unsigned(d * kVolumesPerDisk + p);
            json volume = {{"guid", Printed("%08x-0000-4000-8000-00000000b00c", v * 2654435761u)},
                           {"fileSystem", "NTFS"},
                           {"label", Printed("Data %u", v)},
                           {"extents", json::array({{{"disk", d}, {"offset", offset}, {"length", kPartitionBytes}}})}};
            if (v == 0)
                volume["driveLetter"] = "C";
            else
                volume["mountFolders"] = json::array({Printed("C:\\Mnt\\V%05u\\", v)});
            host["volumes"].push_back(volume);
        }
        host["disks"].push_back(disk);
    }
    json adapters = json::array();
    for (unsigned a = 0; a < unsigned(kAdapters * scale); ++a)
        adapters.push_back({{"deviceId", a + 1},
                            {"adapterType", "Ethernet 802.3"},
                            {"macAddress", Printed("00:15:5D:00:%02X:", a / 256) + Printed("%02X", a % 256)},
                            {"productName", Printed("Ethernet Adapter %u", a)},
                            {"dhcpEnabled", a % 2 == 0},
                            {"dhcpServer", "10.0.0.1"},
                            {"ipAddress", {Printed("10.1.%u.", a / 250) + Printed("%u", a % 250 + 2),
                                           Printed("fd00::%x", a + 2)}},
                            {"ipSubnet", {"255.255.0.0", "64"}},
                            {"defaultIPGateway", {"10.1.0.1"}}});
    host["network"] = {{"adapters", adapters}};
    return host.dump();
}

// Makes the scratch folder the library writes into, with the parents it lacks.
bool MakeScratchFolder()
{
    const char *path = get_unique_per_process_dir_path(nullptr);
    if (path == nullptr)
        return false;
    wstr folder(path, path + std::char_traits<char>::length(path));
    for (size_t at = folder.find('\\', 3); at != wstr::npos; at = folder.find('\\', at + 1))
        CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
    return CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

struct Measured {
    double seconds = 0;  // per document
    double peak = 0;
};
Measured g_measured[2];

void Sysinfo(benchmark::State &state, int scale)
{
    winsim::ReplaceHost(winsim::ParseHost(GeneratedHost(scale)));
    if (!MakeScratchFolder()) {
        state.SkipWithError("the scratch folder cannot be made");
        return;
    }
    long long peak = 0, allocated = 0;
    int failed = 0;
    // CPU time: the 4x/1x ratio must not depend on what else the machine runs.
    const std::clock_t started = std::clock();
    for (auto _ : state) {
        const long long before = tvbench::liveBytes.load();
        const long long allocationsBefore = tvbench::allocations.load();
        tvbench::ResetPeak();
        failed += write_ossr_sysinfo() != 1;
        peak = std::max(peak, tvbench::peakBytes.load() - before);
        allocated += tvbench::allocations.load() - allocationsBefore;
    }
    const double seconds = double(std::clock() - started) / CLOCKS_PER_SEC;
    if (failed != 0) {
        state.SkipWithError("write_ossr_sysinfo failed");
        return;
    }
    state.counters["peak_bytes"] = double(peak);
    state.counters["allocs"] = double(allocated) / double(state.iterations());
    Measured &measured = g_measured[scale == 1 ? 0 : 1];
    measured.seconds = seconds / double(state.iterations());
    measured.peak = double(peak);
}

} // namespace

int main(int argc, char **argv)
{
    tvbench::TakeIterations(argc, argv);
    tvbench::Register("Sysinfo/base/1x", Sysinfo, 1)->Unit(benchmark::kMillisecond);
    tvbench::Register("Sysinfo/host/4x", Sysinfo, 4)->Unit(benchmark::kMillisecond);
    if (const int code = tvbench::RunBenchmarks(argc, argv))
        return code;
    if (g_measured[0].seconds > 0 && g_measured[1].seconds > 0)
        std::printf("Sysinfo 4x/1x: CPU time %.2f (goal <= 5), peak heap %.2f (%.0f and %.0f bytes)\n",
                    g_measured[1].seconds / g_measured[0].seconds, g_measured[1].peak / g_measured[0].peak,
                    g_measured[0].peak, g_measured[1].peak);
    return 0;
}
