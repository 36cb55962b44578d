#!/usr/bin/env bash
# Writes docs/api.md, the API reference, from the comments beside the declarations of the
# exported headers (libwinclass/*.h and liblocal's), as the build's docs target does. Fails
# when an exported function or record has no comment.
#   scripts/docs.sh           rewrite docs/api.md
#   scripts/docs.sh --check   fail when docs/api.md is not what the headers say now
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

headers=$(ls libwinclass/*.h liblocal/*.h | grep -v '^liblocal/vodevices\.h$' | LC_ALL=C sort | sed "s|^|$PWD/|" | paste -sd';')
output=docs/api.md
if [ "${1:-}" = "--check" ]; then
  output=$(mktemp "${TMPDIR:-/tmp}/winclass-api.XXXXXX")
  trap 'rm -f "$output"' EXIT
fi
cmake -DOUTPUT="$output" "-DHEADERS=$headers" -DROOT="$PWD" -DSTRICT=ON -P cmake/ApiReference.cmake
if [ "${1:-}" = "--check" ]; then
  diff -q docs/api.md "$output" >/dev/null ||
    { echo "docs/api.md is out of date: run scripts/docs.sh" >&2; exit 1; }
  echo "docs/api.md is current"
fi
