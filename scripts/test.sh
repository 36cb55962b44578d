#!/usr/bin/env bash
# Installs what is missing, builds both platforms and runs every test.
#   Linux: g++ against winsim, the simulated Win32 platform.
#   Windows: MinGW-w64 against the real SDK headers; the portable tests run under Wine.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
status=0

echo "== Linux (winsim)"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs"
ctest --preset linux -j "$jobs" || status=1

echo "== Windows (MinGW-w64, tests under Wine)"
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs"
# One prefix for the whole run, made before the tests start so they do not race to make it.
export WINEPREFIX="$PWD/build/wineprefix"
scripts/wine-run.sh cmd /c exit >/dev/null 2>&1 || true
ctest --preset mingw -j "$jobs" || status=1

if [ "$status" -ne 0 ]; then
  echo "== FAILED"
else
  echo "== all tests passed on both platforms"
fi
exit "$status"
