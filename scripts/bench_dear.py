#!/usr/bin/env python3
"""Fast-path ratios of the allocator with ordinary and with dear locks.

Usage: bench_dear.py NORMAL_QXBENCH DEAR_QXBENCH [--rounds N] [--cpus LIST]

The second binary is built with -DQX_DEAR_LOCKS=ON (every mutex operation
costs an atomic read-modify-write pair more).  The two binaries run in
alternating rounds, pinned to the same CPUs, so that a change of load on a
shared machine reaches both alike.  Each ratio is taken within one
repetition (the allocator against the C library in the same run) and the
median over every repetition of every round is reported.  A fast path that
takes no lock gives the same ratios in both builds.
"""
import argparse
import json
import statistics
import subprocess
import sys

# (allocator benchmark, C library benchmark it is measured against)
PAIRS = [
    ("BM_PoolMallocFree16", "BM_MallocFree16"),
    ("BM_PoolMallocFree16Batch1000", "BM_MallocFree16Batch1000"),
    ("BM_AZNewDisposeHandle16", "BM_MallocFree16"),
    ("BM_DSNewDisposePtr16", "BM_MallocFree16"),
    ("BM_PoolMallocFree16Threads/real_time/threads:4", "BM_MallocFree16Threads/real_time/threads:4"),
]
FILTER = "PoolMallocFree16|MallocFree16|AZNewDisposeHandle16|DSNewDisposePtr16"


def run(binary, cpus, reps):
    cmd = ["taskset", "-c", cpus, binary, "--benchmark_filter=" + FILTER,
           "--benchmark_repetitions=%d" % reps, "--benchmark_min_time=0.2",
           "--benchmark_format=json"]
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    times = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        name = b["run_name"] if "run_name" in b else b["name"]
        # CPU time, also for the threaded pair: time the scheduler gives to
        # other work on a shared machine is not the allocator's.
        times.setdefault(name, []).append(b["cpu_time"])
    return times


def ratios(times):
    got = {}
    for mine, base in PAIRS:
        if mine in times and base in times:
            got[mine] = [m / b for m, b in zip(times[mine], times[base]) if b > 0]
    return got


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("normal")
    ap.add_argument("dear")
    ap.add_argument("--rounds", type=int, default=4)
    ap.add_argument("--reps", type=int, default=5)
    ap.add_argument("--cpus", default="4-7")
    a = ap.parse_args()
    acc = {"normal": {}, "dear": {}}
    for _ in range(a.rounds):
        for kind, binary in (("normal", a.normal), ("dear", a.dear)):
            for name, rs in ratios(run(binary, a.cpus, a.reps)).items():
                acc[kind].setdefault(name, []).extend(rs)
    worst = 0.0
    print("%-50s %8s %8s %8s" % ("benchmark (ratio to malloc + free)", "normal", "dear", "change"))
    for mine, _ in PAIRS:
        if mine not in acc["normal"] or mine not in acc["dear"]:
            continue
        n = statistics.median(acc["normal"][mine])
        d = statistics.median(acc["dear"][mine])
        change = d / n - 1.0
        worst = max(worst, abs(change))
        print("%-50s %8.2f %8.2f %+7.1f%%" % (mine, n, d, 100.0 * change))
    print("largest change: %.1f%%" % (100.0 * worst))
    return 0


if __name__ == "__main__":
    sys.exit(main())
