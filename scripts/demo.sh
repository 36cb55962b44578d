#!/usr/bin/env bash
# The library's main job in one command: on the simulated default host (a Windows Server
# with system, data, folder-mounted and dynamic-disk volumes), the winclass command backs
# up a few folders from a VSS snapshot into a fresh (or empty) folder and shows what it
# wrote; then plans and takes a system-state backup, as the writers ask for it; last, a
# round trip in a host sandbox that outlives each command: backup, damage, restore, and
# the live files proven equal to the backup's copies.
#   scripts/demo.sh [DESTINATION]     (default: a new folder under /tmp)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh
echo "== building (Linux, against winsim)"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc 2>/dev/null || echo 2)" --target winclass_tool >/dev/null

destination=${1:-$(mktemp -d /tmp/winclass-demo.XXXXXX)}
winclass=build/linux/bin/winclass
unset WINSIM_HOST

echo
echo "== the volumes of the simulated host"
"$winclass" volumes

echo
echo "== winclass backup C:\\Users\\Administrator\\Documents D:\\Shares D:\\Mount\\Archive E:\\Projects --to $destination"
"$winclass" backup 'C:\Users\Administrator\Documents' 'D:\Shares' 'D:\Mount\Archive' 'E:\Projects' \
    --to "$destination"

echo
echo "== what landed in $destination"
(cd "$destination" && find . -type f | sort | while read -r file; do
   printf '  %-45s %6s bytes\n' "${file#./}" "$(stat -c %s "$file")"
 done)
echo
echo "== the manifest: totals, then the first entries (attributes, time, size and SHA-256 read from the shadow copies)"
sed -n '/"totals"/,/}/p' "$destination/manifest.json"
head -c 1200 "$destination/manifest.json"
echo
echo "..."
echo
echo "The backup components document is $destination/backup-components.xml;"
echo "the client's logs: $("$winclass" --help | sed -n 's/^Logs ([^)]*): \([^ ]*\).*/\1/p')"

echo
echo "== winclass backup --save-type system-state --dry-run: which writers and components, and why"
"$winclass" backup --save-type system-state --dry-run
echo
echo "== winclass backup --save-type system-state --to $destination-system-state"
"$winclass" backup --save-type system-state --to "$destination-system-state" | tail -n 3
echo "writer metadata documents:"
ls "$destination-system-state/writers" | sed 's/^/  /'

echo
echo "== the round trip: backup, damage, restore (WINSIM_ROOT keeps the host's files between commands)"
export WINSIM_ROOT=$(mktemp -d /tmp/winclass-demo-host.XXXXXX)
roundtrip=$destination-round-trip
echo "host sandbox: $WINSIM_ROOT"
"$winclass" backup --save-type system-state 'D:\Shares' 'E:\Projects' --to "$roundtrip" | tail -n 2
# The backup's copies and the sandbox's volumes share a layout: <drive letter>/<path>.
(cd "$roundtrip" && find [A-Z] -type f -print0 | sort -z | xargs -0 sha256sum) > "$roundtrip.sha256"
echo "damage: a registry hive changed, a share's file overwritten, a project file deleted"
echo "not a hive" >> "$WINSIM_ROOT/C/Windows/System32/config/SOFTWARE"
echo "damaged" > "$WINSIM_ROOT/D/Shares/Finance/ledger.csv"
rm "$WINSIM_ROOT/E/Projects/plan.txt"
(cd "$WINSIM_ROOT" && sha256sum --quiet -c "$roundtrip.sha256" 2>/dev/null) || echo "  the live files no longer match the backup, as meant"
echo
echo "== winclass restore $roundtrip --dry-run: writers, components, restore methods, each file's destination"
"$winclass" restore "$roundtrip" --dry-run | sed -n 1,12p
echo "  ..."
echo
echo "== winclass restore $roundtrip"
"$winclass" restore "$roundtrip" | tail -n 12
echo
echo "== every live file against its copy in the backup (sha256sum -c)"
(cd "$WINSIM_ROOT" && sha256sum -c "$roundtrip.sha256")
echo "all $(wc -l < "$roundtrip.sha256") files of the backup are back as they were"

echo
echo "== winclass sysinfo --to 'C:\\': the inventory a bare-metal recovery rebuilds the host from"
"$winclass" sysinfo --to 'C:\'
sed -n 1,8p "$WINSIM_ROOT/C/OSSR_Sysinfo.xml"
echo "   ..."
