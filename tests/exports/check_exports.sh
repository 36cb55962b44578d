#!/usr/bin/env bash
# Checks the export table of one built library against the list of names it must export.
#
#   check_exports.sh linux|mingw LIBRARY LIST...
#
# The lists together name every export (a library's list may be split by area). A list has
# one name a line ('#' starts a comment). A plain name (a C function or variable)
# must be exported exactly so, unmangled. A name with '(' is a C++ member, compared after
# demangling; WCHAR and SIZE_T in it stand for the platform's wchar_t/char16_t and size_t.
# Every unmangled name the library exports must be in the list too, so an internal C
# function that leaks out is caught as surely as a missing one.
set -euo pipefail
mode=$1 library=$2
shift 2

case "$mode" in
  linux)
    wchar=char16_t size_t="unsigned long"
    raw=$(nm -D --defined-only "$library" | awk 'NF >= 3 { print $3 }')
    demangle() { c++filt; }
    ;;
  mingw)
    wchar=wchar_t size_t="unsigned long long"
    # The export table sits in objdump's "[Ordinal/Name Pointer] Table" section.
    raw=$(x86_64-w64-mingw32-objdump -p "$library" |
          awk '/\[Ordinal\/Name Pointer\] Table/ { t = 1; next } t && /^[[:space:]]*\[/ { print $NF; next } t && NF == 0 { t = 0 }')
    demangle() { x86_64-w64-mingw32-c++filt; }
    ;;
  *) echo "unknown mode $mode" >&2; exit 2 ;;
esac

normalize() { sed -e 's/[[:space:]]\+/ /g' -e 's/^ //' -e 's/ $//'; }

# The sanitizers add __odr_asan.* and similar names for exported variables; they are
# the instrumentation's, not the library's.
plain=$(printf '%s\n' "$raw" | grep -v '^_Z' | grep -v -x -E '_init|_fini|_edata|_end|__bss_start|__odr_asan[.].*' || true)
demangled=$(printf '%s\n' "$raw" | grep '^_Z' | demangle | normalize || true)

missing=0
declare -A listed=()
while IFS= read -r line || [ -n "$line" ]; do
  line=${line%%#*}
  name=$(printf '%s' "$line" | normalize)
  [ -n "$name" ] || continue
  if [[ "$name" == *"("* ]]; then
    name=${name//WCHAR/$wchar}
    name=${name//SIZE_T/$size_t}
    if ! grep -qxF -- "$name" <<<"$demangled"; then
      echo "missing C++ export: $name"
      missing=1
    fi
  else
    listed[$name]=1
    if ! grep -qxF -- "$name" <<<"$plain"; then
      echo "missing export (or exported mangled): $name"
      missing=1
    fi
  fi
done < <(cat "$@")

extra=0
while IFS= read -r name; do
  [ -n "$name" ] || continue
  if [ -z "${listed[$name]+x}" ]; then
    echo "exported but not listed: $name"
    extra=1
  fi
done <<<"$plain"

if [ $missing -ne 0 ] || [ $extra -ne 0 ]; then
  echo "export table of $(basename "$library") does not match its export list"
  exit 1
fi
echo "export table of $(basename "$library") matches its export list"
