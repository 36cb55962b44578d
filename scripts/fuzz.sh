#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang in build/fuzz and runs each of them.
#
#   scripts/fuzz.sh --short     a fixed number of runs per target, on a copy of its seed
#                               corpus (the tree's corpus never grows); a few minutes
#   scripts/fuzz.sh [SECONDS]   SECONDS per target (default 60), the new inputs kept in
#                               build/fuzz/corpus/<target>
#
# One line per target. A crash (or a wrong answer, which the targets turn into one) makes
# the script exit 1 naming the input that did it; rerun that input with
#   build/fuzz/bin/fuzz_<target> <input>
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/fuzz

# Target and its runs in --short mode: the slower targets (files written per input, a
# restore session per input) get fewer, so that all together take about three minutes.
declare -A short_runs=([conversions]=40000 [strings]=20000 [writerlist]=4000 [hostmodel]=20000
                       [vssdocs]=600 [restorepaths]=20000)
targets=(conversions strings writerlist hostmodel vssdocs restorepaths)

short=0
seconds=60
case "${1:-}" in
  --short) short=1 ;;
  "") ;;
  *[!0-9]* | 0) echo "usage: $0 [--short | SECONDS]" >&2; exit 2 ;;
  *) seconds=$1 ;;
esac

if ! command -v clang++ >/dev/null || [ -z "$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a 2>/dev/null | grep /)" ]; then
  "$root/scripts/install-deps.sh"
fi

flags="-g -O1 -Wno-ignored-attributes -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    "-DCMAKE_C_FLAGS=$flags" "-DCMAKE_CXX_FLAGS=$flags" \
    -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined \
    -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined \
    -DTV_BUILD_TESTS=OFF -DTV_BUILD_BENCH=OFF -DTV_BUILD_FUZZ=ON >/dev/null
fi
cmake --build "$build" --target "${targets[@]/#/fuzz_}" -- -j2 >"$build/build.log" 2>&1 ||
  { tail -30 "$build/build.log"; echo "fuzz: build failed ($build/build.log)" >&2; exit 1; }

mkdir -p "$build/logs" "$build/crashes"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
failed=0
for t in "${targets[@]}"; do
  seeds=$root/fuzz/corpus/$t
  options=(-rss_limit_mb=2048 -timeout=30 -close_fd_mask=1 "-artifact_prefix=$build/crashes/$t-")
  [ -f "$root/fuzz/corpus/$t.dict" ] && options+=("-dict=$root/fuzz/corpus/$t.dict")
  if [ "$short" = 1 ]; then
    corpus=$build/short/$t
    rm -rf "$corpus" && mkdir -p "$corpus" && cp "$seeds"/* "$corpus"/
    options+=(-seed=1 "-runs=${short_runs[$t]}" "$corpus")
  else
    corpus=$build/corpus/$t
    mkdir -p "$corpus"
    options+=("-max_total_time=$seconds" "$corpus" "$seeds")
  fi
  log=$build/logs/$t.log
  if "$build/bin/fuzz_$t" "${options[@]}" >"$log" 2>&1; then
    runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -1)
    features=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    files=$(find "$corpus" -type f | wc -l)
    echo "fuzz: $t ${runs:-0} runs, corpus $files files, ${features:-0} features, no crash"
  else
    input=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
    grep -m1 -E 'ERROR: |fuzz check failed|runtime error' "$log" >&2 || true
    echo "fuzz: $t CRASH, input ${input:-(none written)}, log $log"
    failed=1
  fi
done
exit $failed
