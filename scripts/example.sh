#!/usr/bin/env bash
# Installs libwinclass into a temporary prefix and builds the example client
# (examples/backup_restore.c) against the installed tree, as a client developer would:
#   Linux: the exported headers compile as C and as C++ with -Wall -Wextra -Werror (flags
#     from the installed pkg-config file); the example is built with find_package and again
#     with the pkg-config line, and runs a backup and a restore on a described host
#     (WINSIM_HOST, default "default"); a path outside the snapshot set must fail with
#     exit code 1 and its message;
#   Windows (MinGW-w64): the same header checks with the cross compilers; the installed
#     DLL's exports and its version resource (read back from the file) are checked against
#     the project's version; the example is built against the installed Windows tree and,
#     when Wine is there, run: without VSS its backup session must fail to start with the
#     library's message and exit code 1, not crash.
# Usage: scripts/example.sh [linux|mingw|all]. Needs the build trees of the presets (it
# builds only what the install takes). Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

which=${1:-all}
jobs=$(nproc 2>/dev/null || echo 2)
work=$(mktemp -d "${TMPDIR:-/tmp}/winclass-example.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  echo "example: FAILED: $*" >&2
  exit 1
}

# The version of project() in the top CMakeLists.txt.
version=$(sed -n 's/^project(libwinclass VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in project() of CMakeLists.txt"

# The targets `cmake --install` takes.
install_targets="winclass local tlv vssrequester winclass_tool"

# check_headers PREFIX CC CXX EXTRA_FLAGS...: each installed header alone, as C++ and,
# unless its first lines say "C++ only", as C.
check_headers() {
  local prefix=$1 cc=$2 cxx=$3
  shift 3
  local flags=("$@") count=0 header name
  for header in "$prefix"/include/winclass/{libwinclass,liblocal,platform}/*.h; do
    name=${header#"$prefix"/include/winclass/}
    printf '#include <%s>\nint main(void) { return 0; }\n' "$name" >"$work/header.c"
    cp "$work/header.c" "$work/header.cpp"
    "$cxx" -std=c++17 -Wall -Wextra -Werror "${flags[@]}" -c "$work/header.cpp" -o "$work/header.o" ||
      fail "$name does not compile as C++ ($cxx)"
    if ! grep -q 'C++ only' < <(head -n 3 "$header"); then
      "$cc" -std=c11 -Wall -Wextra -Werror "${flags[@]}" -c "$work/header.c" -o "$work/header.o" ||
        fail "$name does not compile as C ($cc)"
      count=$((count + 1))
    fi
  done
  echo "example: installed headers compile as C++, and $count of them as C, with $cc/$cxx"
}

# run_example PROGRAM: the backup and restore on the described host, then a file outside
# the snapshot set, which must fail.
run_example() {
  local program=$1 out
  out=$(WINSIM_HOST=${WINSIM_HOST:-default} "$program" 'D:\Shares' 'D:\Shares\Finance\ledger.csv' 2>&1) ||
    fail "$program exited with $?: $out"
  echo "$out" | sed 's/^/  /'
  grep -q '^libwinclass '"$version"'$' <<<"$out" || fail "the example does not report version $version"
  grep -qF 'translate \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopy' <<<"$out" || fail "no shadow path mapped"
  grep -q '^restore complete$' <<<"$out" || fail "the restore did not complete"
  local status=0
  out=$(WINSIM_HOST=${WINSIM_HOST:-default} "$program" 'D:\Shares' 'E:\Projects\plan.txt' 2>&1) || status=$?
  [ "$status" -eq 1 ] || fail "a file outside the snapshot set gave exit code $status, not 1"
  grep -q 'is on no volume of the snapshot set' <<<"$out" || fail "no message for a file outside the snapshot set: $out"
}

linux() {
  echo "== example: Linux"
  local prefix=$work/linux
  cmake --preset linux >/dev/null
  # shellcheck disable=SC2086
  cmake --build --preset linux -j "$jobs" --target $install_targets winsim
  cmake --install build/linux --prefix "$prefix" >/dev/null

  [ "$("$prefix/bin/winclass" --version)" = "winclass $version (libwinclass, manifest format 3)" ] ||
    fail "the installed winclass --version does not say $version"
  export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
  [ "$(pkg-config --modversion winclass)" = "$version" ] || fail "winclass.pc does not say $version"
  read -r -a cflags <<<"$(pkg-config --cflags winclass)"
  check_headers "$prefix" gcc g++ "${cflags[@]}"

  cmake -S examples -B "$work/build-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$work/build-cmake" >/dev/null
  echo "example: built with find_package(winclass); running it"
  run_example "$work/build-cmake/backup_restore"

  # The pkg-config line of the README.
  # shellcheck disable=SC2046
  gcc -std=c11 -Wall -Wextra -Werror examples/backup_restore.c -o "$work/backup_restore_pc" \
    $(pkg-config --cflags --libs winclass) -Wl,-rpath,"$(pkg-config --variable=libdir winclass)"
  echo "example: built with pkg-config; running it"
  run_example "$work/backup_restore_pc" >/dev/null
  echo "example: Linux passed"
}

# The file version in the DLL's VS_FIXEDFILEINFO, as major.minor.patch.
dll_file_version() {
  local offset words
  offset=$(LC_ALL=C grep -obUaP '\xBD\x04\xEF\xFE' "$1" | head -n 1 | cut -d: -f1)
  [ -n "$offset" ] || return 1
  # dwFileVersionMS (major, minor) and dwFileVersionLS (patch, build), little-endian words.
  read -r -a words <<<"$(od -An -tu2 -j $((offset + 8)) -N 8 "$1")"
  echo "${words[1]}.${words[0]}.${words[3]}"
}

mingw() {
  echo "== example: Windows (MinGW-w64)"
  local prefix=$work/mingw
  cmake --preset mingw >/dev/null
  # shellcheck disable=SC2086
  cmake --build --preset mingw -j "$jobs" --target $install_targets tv_comsupp
  cmake --install build/mingw --prefix "$prefix" >/dev/null

  local dll=$prefix/bin/libwinclass.dll dump
  [ -f "$prefix/lib/libwinclass.dll.a" ] || fail "no import library installed"
  dump=$(x86_64-w64-mingw32-objdump -p "$dll")
  for name in vsscr_init_backup vsscr_process_snap vsscr_init_recover FreeFileDescList write_ossr_sysinfo; do
    grep -qE "\] $name\$" <<<"$dump" || fail "libwinclass.dll does not export $name"
  done
  grep -q 'Resource Directory' <<<"$dump" || fail "libwinclass.dll has no resource directory"
  local found
  found=$(dll_file_version "$dll") || fail "libwinclass.dll has no version resource"
  [ "$found" = "$version" ] || fail "libwinclass.dll's file version is $found, not $version"
  LC_ALL=C grep -qaP 'W\x00i\x00n\x00d\x00o\x00w\x00s\x00 \x00c\x00l\x00a\x00s\x00s' "$dll" ||
    fail "libwinclass.dll's version resource has no description"
  echo "example: libwinclass.dll exports the interface and carries version $version in its resource"

  check_headers "$prefix" x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix -I"$prefix/include/winclass"

  cmake -S examples -B "$work/build-mingw" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw64.cmake" \
    -Dwinclass_DIR="$prefix/lib/cmake/winclass" >/dev/null
  cmake --build "$work/build-mingw" >/dev/null
  [ -f "$work/build-mingw/backup_restore.exe" ] || fail "the Windows example was not built"
  # Read whole before grep: under pipefail, grep -q leaving a pipe early would fail objdump
  # (SIGPIPE) and with it the check, now and then.
  local imports
  imports=$(x86_64-w64-mingw32-objdump -p "$work/build-mingw/backup_restore.exe")
  grep -q 'DLL Name: libwinclass.dll' <<<"$imports" || fail "the Windows example does not import libwinclass.dll"
  # Under Wine, when there is one: Wine has no VSS (and no client settings), so the backup
  # session cannot start; the example must say so with the library's message and exit 1.
  if command -v wine64 >/dev/null || [ -x /usr/lib/wine/wine64 ]; then
    cp "$work/build-mingw/backup_restore.exe" "$prefix/bin/"
    local out status=0
    out=$(scripts/wine-run.sh "$prefix/bin/backup_restore.exe" 'C:\Users' 'C:\Users\x.txt' 2>&1) || status=$?
    [ "$status" -eq 1 ] || fail "under Wine the example exited with $status, not 1: $out"
    grep -qE '^backup_restore: starting the backup session failed: message [0-9]+: ' <<<"$out" ||
      fail "under Wine the example did not report the failed start: $out"
    echo "example: under Wine the backup session fails to start as expected: $(grep -m1 'message [0-9]' <<<"$out" | tr -d '\r')"
    echo "example: Windows passed (built against the installed tree, run under Wine)"
  else
    echo "example: Windows passed (built against the installed tree; not run: no Wine)"
  fi
}

case $which in
  linux) linux ;;
  mingw) mingw ;;
  all) linux && mingw ;;
  *) echo "usage: scripts/example.sh [linux|mingw|all]" >&2; exit 2 ;;
esac
