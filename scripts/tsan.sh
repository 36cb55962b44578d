#!/usr/bin/env bash
# Builds the suites that use the library from several threads with ThreadSanitizer
# (build/tsan, preset linux-tsan) and runs them. Only their targets are built: the
# concurrency tests and the snapshot suites whose lookups run on other threads. Any race
# report fails the run. Prints the build and run times. Usage: scripts/tsan.sh [--more]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh # g++ brings libtsan with it

jobs=$(nproc 2>/dev/null || echo 2)
targets=(concurrency_test snapset_test shadowpaths_test)
tests='Concurrency|SnapshotSet|OfflineVolume|ShadowPathTests|GetMappingTests'
# --more: also the thread tests of the string, runtime and winsim suites (a longer build).
if [ "${1:-}" = "--more" ]; then
  targets+=(strings_test liblocal_test winsim_test winsim_hostapi_test)
  tests+='|TvStrSharing|LastError|HostCom|ComApartment|ComSecurity|ComCreate'
fi
tests="^($tests)\."

build_started=$(date +%s)
cmake --preset linux-tsan >/dev/null
cmake --build build/tsan -j "$jobs" --target "${targets[@]}"
build_seconds=$(($(date +%s) - build_started))

# ThreadSanitizer needs the fixed memory layout that address-space randomisation can
# break on newer kernels ("unexpected memory mapping"); the tests run without it.
norandom=()
if command -v setarch >/dev/null && setarch "$(uname -m)" -R true 2>/dev/null; then
  norandom=(setarch "$(uname -m)" -R)
fi

# The first report ends its test with an error (exit code 66), which fails the run.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
run_started=$(date +%s)
status=0
"${norandom[@]}" ctest --test-dir build/tsan -R "$tests" -j "$jobs" --output-on-failure --no-tests=error \
  2>&1 | tee "$log" || status=1
run_seconds=$(($(date +%s) - run_started))

echo "== ThreadSanitizer: $(grep -E 'tests passed' "$log" | tail -n 1 || echo 'no summary') " \
     "(build ${build_seconds} s, run ${run_seconds} s)"
exit "$status"
