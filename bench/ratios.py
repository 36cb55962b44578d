#!/usr/bin/env python3
"""Prints measured / baseline time for each pair of a winclass_bench JSON report.

    winclass_bench --benchmark_format=json --benchmark_repetitions=5 \
        --benchmark_report_aggregates_only=true > report.json && bench/ratios.py report.json

Names are Operation/tv/text/characters (measured) and Operation/std/... (baseline)."""
import json
import sys


def main(path):
    with open(path) as report:
        runs = json.load(report)["benchmarks"]
    # With --benchmark_repetitions, the medians; otherwise the single runs.
    medians = {run["run_name"]: run["real_time"] for run in runs if run.get("aggregate_name") == "median"}
    singles = {run["name"]: run["real_time"] for run in runs if run.get("run_type", "iteration") == "iteration"}
    times = medians or singles
    print(f"{'operation':<12} {'text':<12} {'tv ns':>10} {'std ns':>10} {'ratio':>7}")
    for name, measured in times.items():
        operation, implementation, rest = name.split("/", 2)
        if implementation != "tv":
            continue
        baseline = times.get(f"{operation}/std/{rest}")
        if baseline:
            print(f"{operation:<12} {rest:<12} {measured:>10.1f} {baseline:>10.1f} {measured / baseline:>7.2f}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "/dev/stdin")
