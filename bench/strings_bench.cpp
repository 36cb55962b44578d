// tv_str and the UTF-8 conversions, each beside a baseline that does the same work with
// std::u16string (the wide form) and std::string (the UTF-8 form) and the platform's
// code-page conversion. Names are Operation/implementation/text/characters; run
// bench/ratios.py on the JSON output for the tv_str / baseline ratios.
#include <libwinclass/winclass.h>

#include <benchmark/benchmark.h>

#include "iterations.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Wide and UTF-8 forms of one text, as the baselines keep them.
struct StdPair {
    wstr wide;
    std::string utf8;
};

wstr PlatformWide(const std::string &utf8)
{
    if (utf8.empty())
        return wstr();
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), NULL, 0);
    wstr wide(size_t(units), 0);
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], units);
    return wide;
}

std::string PlatformUtf8(const wstr &wide)
{
    if (wide.empty())
        return std::string();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), NULL, 0, NULL, NULL);
    std::string utf8(size_t(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &utf8[0], bytes, NULL, NULL);
    return utf8;
}

// `characters` characters of a path-like ASCII text, or of a text mixing ASCII with two-
// and three-byte characters (no character above U+FFFF, so every form agrees).
std::string MakeText(bool mixed, size_t characters)
{
    static const char *const ascii[] = {"C", ":", "\\", "D", "a", "t", "a", "\\", "l", "o", "g", "s", "_", "2", "0", "x"};
    static const char *const other[] = {"C", "\xC3\xBC", "\\", "D", "\xE2\x82\xAC", "t", "\xE6\x97\xA5", "\\", "l", "\xC3\xA9", "g",
                                        "s", "\xD0\x96", "2", "0", "\xE2\x84\xA2"};
    std::string text;
    for (size_t i = 0; i < characters; ++i)
        text += (mixed ? other : ascii)[i % 16];
    return text;
}

struct Case {
    const char *label;
    bool mixed;
    size_t characters;
};

const Case kCases[] = {
    {"ascii/12", false, 12},   {"ascii/100", false, 100},   {"ascii/2000", false, 2000},
    {"mixed/12", true, 12},    {"mixed/100", true, 100},    {"mixed/2000", true, 2000},
};

void SetProcessed(benchmark::State &state, const std::string &utf8)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(utf8.size()));
}

// ---------------------------------------------------------------------------------------

void FromUtf8TvStr(benchmark::State &state, const Case &c)
{
    const std::string utf8 = MakeText(c.mixed, c.characters);
    for (auto _ : state) {
        tv_str s;
        s.set_utf8(utf8.c_str());
        benchmark::DoNotOptimize(s.get_utf8());
    }
    SetProcessed(state, utf8);
}

void FromUtf8Std(benchmark::State &state, const Case &c)
{
    const std::string utf8 = MakeText(c.mixed, c.characters);
    for (auto _ : state) {
        StdPair s{PlatformWide(utf8), utf8};
        benchmark::DoNotOptimize(s.utf8.data());
        benchmark::DoNotOptimize(s.wide.data());
    }
    SetProcessed(state, utf8);
}

void FromWideTvStr(benchmark::State &state, const Case &c)
{
    const std::string utf8 = MakeText(c.mixed, c.characters);
    const wstr wide = PlatformWide(utf8);
    for (auto _ : state) {
        tv_str s(wide.c_str());
        benchmark::DoNotOptimize(s.get_utf8());
    }
    SetProcessed(state, utf8);
}

void FromWideStd(benchmark::State &state, const Case &c)
{
    const std::string utf8 = MakeText(c.mixed, c.characters);
    const wstr wide = PlatformWide(utf8);
    for (auto _ : state) {
        StdPair s{wide, PlatformUtf8(wide)};
        benchmark::DoNotOptimize(s.utf8.data());
        benchmark::DoNotOptimize(s.wide.data());
    }
    SetProcessed(state, utf8);
}

void CopyTvStr(benchmark::State &state, const Case &c)
{
    const std::string utf8 = MakeText(c.mixed, c.characters);
    tv_str original;
    original.set_utf8(utf8.c_str());
    for (auto _ : state) {
        tv_str copy(original);
        benchmark::DoNotOptimize(copy.get_utf8());
    }
    SetProcessed(state, utf8);
}

void CopyStd(benchmark::State &state, const Case &c)
{
    const std::string utf8 = MakeText(c.mixed, c.characters);
    const StdPair original{PlatformWide(utf8), utf8};
    for (auto _ : state) {
        StdPair copy(original);
        benchmark::DoNotOptimize(copy.utf8.data());
        benchmark::DoNotOptimize(copy.wide.data());
    }
    SetProcessed(state, utf8);
}

void PathJoinTvStr(benchmark::State &state, const Case &c)
{
    const std::string utf8 = MakeText(c.mixed, c.characters);
    tv_str dir;
    dir.set_utf8(utf8.c_str());
    const tv_str file(W("file.txt"));
    for (auto _ : state) {
        tv_str joined = dir / file;
        benchmark::DoNotOptimize(joined.get_utf8());
    }
    SetProcessed(state, utf8);
}

void PathJoinStd(benchmark::State &state, const Case &c)
{
    const std::string utf8 = MakeText(c.mixed, c.characters);
    const StdPair dir{PlatformWide(utf8), utf8};
    const StdPair file{W("file.txt"), "file.txt"};
    for (auto _ : state) {
        // The same rule in both forms: one backslash at the seam.
        const bool separator = dir.utf8.back() != '\\' && file.utf8.front() != '\\';
        StdPair joined;
        joined.wide.reserve(dir.wide.size() + 1 + file.wide.size());
        joined.wide.append(dir.wide);
        if (separator)
            joined.wide.push_back(W('\\'));
        joined.wide.append(file.wide);
        joined.utf8.reserve(dir.utf8.size() + 1 + file.utf8.size());
        joined.utf8.append(dir.utf8);
        if (separator)
            joined.utf8.push_back('\\');
        joined.utf8.append(file.utf8);
        benchmark::DoNotOptimize(joined.utf8.data());
        benchmark::DoNotOptimize(joined.wide.data());
    }
    SetProcessed(state, utf8);
}

void FormatUtf8TvStr(benchmark::State &state, const Case &c)
{
    const std::string utf8 = MakeText(c.mixed, c.characters);
    tv_str s;
    for (auto _ : state) {
        s.format_utf8("%s\\%s-%d.log", utf8.c_str(), "writer", 42);
        benchmark::DoNotOptimize(s.get_utf8());
    }
    SetProcessed(state, utf8);
}

void FormatUtf8Std(benchmark::State &state, const Case &c)
{
    const std::string utf8 = MakeText(c.mixed, c.characters);
    std::vector<char> buffer(65536);
    StdPair s;
    for (auto _ : state) {
        const int written = snprintf(buffer.data(), buffer.size(), "%s\\%s-%d.log", utf8.c_str(), "writer", 42);
        s.utf8.assign(buffer.data(), size_t(written));
        s.wide = PlatformWide(s.utf8);
        benchmark::DoNotOptimize(s.utf8.data());
        benchmark::DoNotOptimize(s.wide.data());
    }
    SetProcessed(state, utf8);
}

void FromUtf8Function(benchmark::State &state, const Case &c)
{
    const std::string utf8 = MakeText(c.mixed, c.characters);
    for (auto _ : state) {
        wstr wide = from_utf8(utf8);
        benchmark::DoNotOptimize(wide.data());
    }
    SetProcessed(state, utf8);
}

void FromUtf8Platform(benchmark::State &state, const Case &c)
{
    const std::string utf8 = MakeText(c.mixed, c.characters);
    for (auto _ : state) {
        wstr wide = PlatformWide(utf8);
        benchmark::DoNotOptimize(wide.data());
    }
    SetProcessed(state, utf8);
}

void ToUtf8Function(benchmark::State &state, const Case &c)
{
    const std::string utf8 = MakeText(c.mixed, c.characters);
    const wstr wide = PlatformWide(utf8);
    for (auto _ : state) {
        std::string bytes = to_utf8(wide);
        benchmark::DoNotOptimize(bytes.data());
    }
    SetProcessed(state, utf8);
}

void ToUtf8Platform(benchmark::State &state, const Case &c)
{
    const std::string utf8 = MakeText(c.mixed, c.characters);
    const wstr wide = PlatformWide(utf8);
    for (auto _ : state) {
        std::string bytes = PlatformUtf8(wide);
        benchmark::DoNotOptimize(bytes.data());
    }
    SetProcessed(state, utf8);
}

using BenchFunction = void (*)(benchmark::State &, const Case &);

struct Pair {
    const char *operation;
    BenchFunction measured;
    BenchFunction baseline;
};

const Pair kPairs[] = {
    {"FromUtf8", FromUtf8TvStr, FromUtf8Std},
    {"FromWide", FromWideTvStr, FromWideStd},
    {"Copy", CopyTvStr, CopyStd},
    {"PathJoin", PathJoinTvStr, PathJoinStd},
    {"FormatUtf8", FormatUtf8TvStr, FormatUtf8Std},
    {"from_utf8", FromUtf8Function, FromUtf8Platform},
    {"to_utf8", ToUtf8Function, ToUtf8Platform},
};

void RegisterAll()
{
    for (const Pair &pair : kPairs) {
        for (const Case &c : kCases) {
            for (const char *implementation : {"/tv/", "/std/"}) {
                const BenchFunction function = implementation[1] == 't' ? pair.measured : pair.baseline;
                tvbench::Register(std::string(pair.operation) + implementation + c.label, function, c);
            }
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    tvbench::TakeIterations(argc, argv);
    RegisterAll();
    return tvbench::RunBenchmarks(argc, argv);
}
