#!/usr/bin/env python3
"""Prints measured / baseline time for each pair of a winclass_bench JSON report.

    winclass_bench --benchmark_format=json --benchmark_repetitions=5 \
        --benchmark_report_aggregates_only=true > report.json && bench/ratios.py report.json

Names are Operation/tv/text/characters (measured) and Operation/std/... (baseline); a
scale run Operation/<case>/4x is divided by Operation/base/1x of the same report.

A report from bench/instructions.sh (instructions per call under callgrind, which load on
the machine does not move) reads the same way:

    bench/instructions.sh build/linux/bin/winclass_bench 'PathJoin|Copy' > counts.json && bench/ratios.py counts.json
"""
import json
import sys


def main(path):
    with open(path) as report:
        report = json.load(report)
    runs = report["benchmarks"]
    unit = "instr" if report.get("context", {}).get("unit", "").startswith("instructions") else "ns"
    # With --benchmark_repetitions, the medians; otherwise the single runs.
    medians = {run["run_name"]: run["real_time"] for run in runs if run.get("aggregate_name") == "median"}
    singles = {run["name"]: run["real_time"] for run in runs if run.get("run_type", "iteration") == "iteration"}
    times = medians or singles
    pairs = [name for name in times if name.count("/") >= 2 and name.split("/")[1] == "tv"]
    if pairs:
        print(f"{'operation':<12} {'text':<12} {'tv ' + unit:>10} {'std ' + unit:>10} {'ratio':>7}")
    for name in pairs:
        operation, implementation, rest = name.split("/", 2)
        measured = times[name]
        baseline = times.get(f"{operation}/std/{rest}")
        if baseline:
            print(f"{operation:<12} {rest:<12} {measured:>10.1f} {baseline:>10.1f} {measured / baseline:>7.2f}")
    # Scale runs: .../<case>/4x over .../base/1x of the same operation (4.0 is linear).
    scaled = [name for name in times if name.endswith("/4x")]
    if scaled:
        print(f"{'scaled run':<36} {'time':>10} {'1x time':>10} {'ratio':>7}")
    for name in scaled:
        baseline = times.get(name.rsplit("/", 2)[0] + "/base/1x")
        if baseline:
            print(f"{name:<36} {times[name]:>10.2f} {baseline:>10.2f} {times[name] / baseline:>7.2f}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "/dev/stdin")
