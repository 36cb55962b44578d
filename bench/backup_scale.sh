#!/usr/bin/env bash
# The backup at scale: `winclass backup` of a host with 20,000 small files and of a host
# with one 1 GiB file (generated contents), each beside `cp -r` of the same bytes in the
# same run, with wall time and peak memory; and `winclass volumes` on the large host beside
# the default host.
#
#   bench/backup_scale.sh [WORKDIR]      (default: a fresh folder under ${TMPDIR:-/tmp})
#   FILES=, BIG_BYTES= shrink the hosts; REPEAT=N runs each command N times.
#
# Needs the Linux build (build/linux/bin/winclass) and /usr/bin/time.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
winclass=${WINCLASS:-$here/build/linux/bin/winclass}
work=${1:-$(mktemp -d "${TMPDIR:-/tmp}/backup-scale-XXXXXX")}
files=${FILES:-20000}
big=${BIG_BYTES:-1073741824}
repeat=${REPEAT:-1}  # runs of each command; the fastest is shown (the machine may be shared)
[ -x "$winclass" ] || { echo "no $winclass: build the linux preset first" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (apt-get install time)" >&2; exit 2; }
mkdir -p "$work"

# The default host plus the files of the run.
python3 - "$here/winsim/hostmodel/hosts/default.json" "$work" "$files" "$big" <<'EOF'
import json, sys
default, work, count, big = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
def write(name, extra):
    host = json.load(open(default))
    host["files"] += extra
    json.dump(host, open(f"{work}/{name}.json", "w"))
write("many", [{"path": f"D:\\Scale\\d{i // 200:03}\\f{i:05}.dat", "size": 1024 + (i * 37) % 7168, "seed": i}
               for i in range(count)])
write("big", [{"path": "D:\\Scale\\disk.vhdx", "size": big, "seed": 42}])
EOF

# Runs a command under /usr/bin/time, REPEAT times; sets seconds (the fastest run), peak
# (MiB, the largest) and cpu (user + system seconds of the fastest run). The first
# argument is a folder the command makes, removed before each run ("-" for none). The
# file system is synced first: files the step before wrote or deleted (their inodes still
# dirty) would otherwise slow this one's creates and writes, whichever command came second.
measure() {
    local log="$work/time.log" made=$1 run s k u y
    shift
    seconds='' peak=0 cpu=''
    for ((run = 0; run < repeat; ++run)); do
        [ "$made" = - ] || rm -rf "$made"
        sync
        /usr/bin/time -f '%e %M %U %S' -o "$log" "$@" >"$work/last.out" 2>"$work/last.err" || {
            echo "failed: $*" >&2; tail -5 "$work/last.err" >&2; exit 1; }
        read -r s k u y <"$log"
        if [ -z "$seconds" ] || python3 -c "import sys; sys.exit(0 if $s < $seconds else 1)"; then
            seconds=$s cpu=$(python3 -c "print(f'{$u + $y:.2f}')")
        fi
        peak=$(( k / 1024 > peak ? k / 1024 : peak ))
    done
}

# setup_s: `winclass map` on the same host, which makes the described files in the sandbox
# and takes a snapshot but copies nothing: the simulator's share of backup_s.
# copy_s: the backup's copy step alone (the last run's manifest, elapsedSeconds): reading through the
# shadow copy, hashing, writing the copies.
# cp_sha_s: cp -r and then sha256sum of every copy, the work the backup does besides reading
# through the shadow copies (it hashes each file for the manifest).
# disk_s: the backup again, of files already on the disk as cp's are: in a WINSIM_ROOT
# sandbox where an earlier `winclass map` (not timed) made them, so the simulator makes no
# file; it still snapshots (a hard link per file) and walks its paths.
# Throughputs against cp's on the same bytes (1.0 is as fast as cp; higher is faster):
# x_cp = cp_s / backup_s, the whole command; x_cp_own = cp_s / (backup_s - setup_s), the
# command without the simulator's share; x_cp_disk = cp_s / disk_s; x_cp_sha = cp_sha_s /
# backup_s.
printf '%-6s %11s %9s %10s %8s %7s %7s %6s %9s %6s %9s %9s %9s %9s\n' host bytes backup_s backup_cpu setup_s copy_s \
    disk_s cp_s cp_sha_s x_cp x_cp_own x_cp_disk x_cp_sha peak_MiB
for host in many big; do
    out="$work/out-$host"
    rm -rf "$work/cp-$host"
    measure "$out" env -u WINSIM_ROOT "$winclass" --host "$work/$host.json" backup 'D:\Scale' --to "$out"
    backup=$seconds backupPeak=$peak backupCpu=$cpu
    bytes=$(du -sb --apparent-size "$out/D" | cut -f1)
    own=$(python3 -c "import json; print(json.load(open('$out/manifest.json'))['totals']['elapsedSeconds'])")
    measure - env -u WINSIM_ROOT "$winclass" --host "$work/$host.json" map 'D:\Scale'
    setup=$seconds
    root="$work/root-$host"
    rm -rf "$root"
    WINSIM_ROOT="$root" "$winclass" --host "$work/$host.json" map 'D:\Scale' >/dev/null
    measure "$out-disk" env WINSIM_ROOT="$root" "$winclass" --host "$work/$host.json" backup 'D:\Scale' --to "$out-disk"
    disk=$seconds
    rm -rf "$root" "$out-disk"
    measure "$work/cp-$host" cp -r "$out/D" "$work/cp-$host"
    copy=$seconds
    measure "$work/cp-$host" sh -c 'cp -r "$1" "$2" && find "$2" -type f -exec sha256sum {} + >/dev/null' sh "$out/D" \
        "$work/cp-$host"
    copyHash=$seconds
    rm -rf "$work/cp-$host"
    read -r xcp xown xdisk xsha < <(python3 -c "
b, s, d, c, h = $backup, $setup, $disk, $copy, $copyHash
own = f'{c / (b - s):.2f}' if b - s >= 0.05 else '-'  # the share too small to time
print(f'{c / max(b, 0.01):.2f} {own} {c / max(d, 0.01):.2f} {h / max(b, 0.01):.2f}')")
    printf '%-6s %11s %9s %10s %8s %7.2f %7s %6s %9s %6s %9s %9s %9s %9s\n' "$host" "$bytes" "$backup" "$backupCpu" \
        "$setup" "$own" "$disk" "$copy" "$copyHash" "$xcp" "$xown" "$xdisk" "$xsha" "$backupPeak"
done

measure - "$winclass" volumes
plain=$seconds
measure - "$winclass" --host "$work/many.json" volumes
echo "winclass volumes: ${plain}s on the default host, ${seconds}s on the host of $files files (peak ${peak} MiB)"
echo "work folder: $work"
