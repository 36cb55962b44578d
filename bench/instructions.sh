#!/bin/sh
# Instructions per call of each winclass_bench benchmark under callgrind: a figure that
# does not move with the machine's load, unlike the times.
#
#   bench/instructions.sh build/linux/bin/winclass_bench [filter] > counts.json
#   bench/ratios.py counts.json
#
# Each benchmark the filter (a --benchmark_filter regex, default all) selects runs twice
# under valgrind --tool=callgrind, with --iterations=N and --iterations=2N (N is
# $ITERATIONS, default 200); the difference of the two totals divided by N leaves out the
# program's start-up and the benchmark's set-up. The output is a JSON report in the
# benchmark program's shape that ratios.py reads: each benchmark's instructions per call as
# its "real_time", "time_unit" "instructions". About two seconds per benchmark.
#
# callgrind counts each step of a "rep movsb" / "rep stosb" as one instruction, which makes
# a large memcpy or memset look 30 times dearer than its vector loop; the glibc tunables
# below keep the C library on its vector loops so that such copies count fairly.
set -eu
export GLIBC_TUNABLES=glibc.cpu.x86_rep_movsb_threshold=2147483647:glibc.cpu.x86_rep_stosb_threshold=2147483647
program=${1:?usage: instructions.sh <benchmark program> [filter]}
filter=${2:-.}
iterations=${ITERATIONS:-200}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Total instructions of one run of one benchmark (a fixed count adds "/iterations:<n>" to
# its name).
count() {
    valgrind --tool=callgrind --callgrind-out-file="$work/out" "$program" \
        --benchmark_filter="^$1/iterations:$2\$" --iterations="$2" >/dev/null 2>&1
    total=$(sed -n 's/^totals: *\([0-9]*\).*/\1/p' "$work/out")
    [ -n "$total" ] || { echo "instructions.sh: no count for $1" >&2; exit 1; }
    echo "$total"
}

printf '{"context": {"unit": "instructions per call"}, "benchmarks": [\n'
separator=""
for name in $("$program" --benchmark_list_tests=true --benchmark_filter="$filter"); do
    once=$(count "$name" "$iterations")
    twice=$(count "$name" $((iterations * 2)))
    perCall=$(awk -v a="$once" -v b="$twice" -v n="$iterations" 'BEGIN { printf "%.1f", (b - a) / n }')
    printf '%s  {"name": "%s", "run_type": "iteration", "real_time": %s, "time_unit": "instructions"}' \
        "$separator" "$name" "$perCall"
    separator=",
"
done
printf '\n]}\n'
