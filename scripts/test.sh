#!/usr/bin/env bash
# Installs what is missing, builds and runs every test:
#   Linux: g++ against winsim, the simulated Win32 platform;
#   Linux again under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer
#     (build/asan; benchmarks left out);
#   the fuzz targets, each for a fixed number of runs (scripts/fuzz.sh --short);
#   the multi-threaded suites under ThreadSanitizer (scripts/tsan.sh);
#   Windows: MinGW-w64 against the real SDK headers; the portable tests run under Wine;
#   the example client built against the installed package on both (scripts/example.sh).
# Ends with each run's ctest summary and the tests skipped under Wine. Exits non-zero on
# any failure.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
status=0
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# Runs ctest with the given arguments, keeping its output for the summary. A run that
# finds no tests fails: an empty run passes nothing.
run_ctest() {
  local name=$1
  shift
  ctest "$@" -j "$jobs" --no-tests=error 2>&1 | tee "$logs/$name.log" || status=1
}

# ctest's closing line ("100% tests passed, 0 tests failed out of N"), or what stood instead.
summary_of() {
  grep -E 'tests passed|No tests were found' "$logs/$1.log" | tail -n 1 || echo "no summary (the run did not finish)"
}

echo "== Linux (winsim)"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs"
run_ctest linux --preset linux

echo "== Linux under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer"
sanitizer_started=$(date +%s)
cmake --preset linux -B build/asan -DTV_SANITIZE=ON -DTV_BUILD_BENCH=OFF >/dev/null
cmake --build build/asan -j "$jobs"
# A finding fails the test that made it: UBSan does not recover (-fno-sanitize-recover),
# ASan and LeakSanitizer end the process with an error.
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
run_ctest asan --test-dir build/asan --output-on-failure
unset ASAN_OPTIONS UBSAN_OPTIONS
sanitizer_seconds=$(($(date +%s) - sanitizer_started))

echo "== Fuzzing: each target a fixed number of runs"
scripts/fuzz.sh --short 2>&1 | tee "$logs/fuzz.log" || status=1

echo "== ThreadSanitizer"
scripts/tsan.sh 2>&1 | tee "$logs/tsan.log" || status=1

echo "== Windows (MinGW-w64, tests under Wine)"
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs"
# One prefix for the whole run, made before the tests start so they do not race to make it.
export WINEPREFIX="$PWD/build/wineprefix"
scripts/wine-run.sh cmd /c exit >/dev/null 2>&1 || true
run_ctest mingw --preset mingw

echo "== API reference"
scripts/docs.sh --check 2>&1 | tee "$logs/docs.log" || status=1

echo "== Example client against the installed package (Linux and Windows)"
scripts/example.sh all 2>&1 | tee "$logs/example.log" || status=1

# ctest lists each skipped test as "<n> - <name> (Skipped)" under "did not run".
skipped=$(grep -cE '\(Skipped\)$' "$logs/mingw.log" || true)

echo "== Summary"
echo "Linux:                 $(summary_of linux)"
echo "Linux with sanitizers: $(summary_of asan) (built and run in ${sanitizer_seconds} s)"
echo "Fuzzing:               $(grep -c 'no crash$' "$logs/fuzz.log" || true) targets without a crash, $(grep -c ' CRASH' "$logs/fuzz.log" || true) with one"
echo "ThreadSanitizer:       $(grep -E '^== ThreadSanitizer: ' "$logs/tsan.log" | sed 's/^== ThreadSanitizer: //' || echo "no summary (the run did not finish)")"
echo "Windows under Wine:    $(summary_of mingw); ${skipped} skipped under Wine"
echo "API reference:         $(grep -E 'docs/api.md is' "$logs/docs.log" | tail -n 1 || echo "not checked")"
echo "Example client:        $(grep -cE '^example: (Linux|Windows) passed' "$logs/example.log" || true) of 2 platforms installed, built and checked$(grep -m1 '^example: FAILED' "$logs/example.log" | sed 's/^example: FAILED/; failed/' || true)"
if [ "$status" -ne 0 ]; then
  echo "== FAILED"
else
  echo "== passed on both platforms, under the sanitizers and the fuzzers; ${skipped} tests skipped under Wine"
fi
exit "$status"
