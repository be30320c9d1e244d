#!/usr/bin/env python3
"""Runs zelt-bench with JSON output and prints the figures that matter:
for each N, a cache hit of getConfirmedCodes over its floor (lock + copy of N
shared pointers) from the same run, the scaling of two slots read from two
threads, and the allocations per build."""

import argparse
import json
import pathlib
import subprocess
import sys
import tempfile


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bench", default="build/release/bin/zelt-bench", help="path of zelt-bench")
    parser.add_argument("--repetitions", type=int, default=3)
    parser.add_argument("--filter", default=".", help="--benchmark_filter for zelt-bench")
    args = parser.parse_args()

    bench = pathlib.Path(args.bench)
    if not bench.is_file():
        print(f"run-benchmarks: {bench} not found; build with the release preset first", file=sys.stderr)
        return 2

    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run(
            [str(bench), f"--benchmark_filter={args.filter}", f"--benchmark_repetitions={args.repetitions}",
             "--benchmark_report_aggregates_only=true", f"--benchmark_out={out.name}",
             "--benchmark_out_format=json"],
            check=True)
        results = json.load(open(out.name))

    medians = {b["run_name"]: b for b in results["benchmarks"] if b.get("aggregate_name") == "median"}

    print("\nCache hit of getConfirmedCodes(false) against the floor (median times):")
    print(f"  {'N':>4}  {'floor ns':>10}  {'cache hit ns':>12}  {'ratio':>6}")
    for n in (1, 10, 100):
        floor = medians.get(f"BM_Floor_LockCopyVector/{n}")
        hit = medians.get(f"BM_CacheHit_ConfirmedCodes/{n}")
        if floor and hit:
            ratio = hit["real_time"] / floor["real_time"]
            print(f"  {n:>4}  {floor['real_time']:>10.1f}  {hit['real_time']:>12.1f}  {ratio:>6.2f}")

    def rate(name: str) -> float:
        b = medians.get(name)
        return b.get("items_per_second", 0.0) if b else 0.0

    one = rate("BM_Threads_TwoSlots/real_time/threads:1")
    two = rate("BM_Threads_TwoSlots/real_time/threads:2")
    if one and two:
        print(f"\nTwo slots from two threads: {two / one:.2f}x the single-thread throughput")
    same = [rate(f"BM_Threads_SameSlot/real_time/threads:{t}") for t in (1, 2, 4)]
    if all(same):
        print("One slot from 1/2/4 threads: " + ", ".join(f"{r / 1e6:.2f} M/s" for r in same))

    builds = [b for name, b in medians.items() if "allocs/build" in b]
    if builds:
        print("\nAllocations per build:")
        for b in builds:
            print(f"  {b['run_name']:<48} {b['allocs/build']:.0f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
