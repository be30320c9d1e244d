#!/usr/bin/env python3
"""Runs zelt-bench with JSON output and prints the figures that matter:
for each N, a cache hit of getConfirmedCodes over its floor (lock + copy of N
shared pointers) from the same run, the scaling of two slots read from two
threads, the allocations per build, and over the slow emulated adapter link the
rate of batched (several PIDs per request) against single-PID reading, the
live readings of four PIDs through ParameterRepository batched and one PID per
request, the vehicle requests and time of a whole default zelt-scan over
elm327-emulator, and readings published at QoS 1 to a loopback MQTT broker
against the rate --watch reads them."""

import argparse
import collections
import json
import pathlib
import subprocess
import sys
import tempfile
import time


def scan_over_emulator(bin_dir: pathlib.Path, latency: int, bytes_per_second: int):
    """One default zelt-scan through elm327-emulator: (seconds, vehicle
    requests by service), counted from the --trace dialogue (lines sent to
    the adapter that are not AT commands)."""
    emulator = subprocess.Popen(
        [str(bin_dir / "elm327-emulator"), "--port", "0", "--latency", str(latency),
         "--bytes-per-second", str(bytes_per_second)],
        stdout=subprocess.PIPE, text=True)
    try:
        port = emulator.stdout.readline().strip().rsplit(":", 1)[1]
        start = time.monotonic()
        scan = subprocess.run([str(bin_dir / "zelt-scan"), "--adapter", f"tcp://127.0.0.1:{port}", "--trace"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, check=True)
        seconds = time.monotonic() - start
    finally:
        emulator.terminate()
        emulator.wait()
    services = collections.Counter()
    last = ""
    for line in scan.stderr.splitlines():
        if ">> " not in line:
            continue
        # An empty line has the adapter repeat the last command.
        command = line.split(">> ", 1)[1].replace("\\r", "").strip() or last
        last = command
        if command and not command.upper().startswith("AT"):
            services[command[:2]] += 1
    return seconds, services


def print_scans(bin_dir: pathlib.Path) -> None:
    if not (bin_dir / "elm327-emulator").is_file() or not (bin_dir / "zelt-scan").is_file():
        return
    print("\nDefault zelt-scan over elm327-emulator (vehicle requests from --trace):")
    for label, latency, rate in (("30 ms/request", 30, 0), ("3840 bytes/s, 30 ms/request", 30, 3840),
                                 ("unthrottled", 0, 0)):
        seconds, services = scan_over_emulator(bin_dir, latency, rate)
        by_service = " ".join(f"{service}:{count}" for service, count in sorted(services.items()))
        print(f"  {label:<28} {sum(services.values()):>4} requests  {seconds:6.2f} s  ({by_service})")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bench", default="build/release/bin/zelt-bench", help="path of zelt-bench")
    parser.add_argument("--repetitions", type=int, default=3)
    parser.add_argument("--filter", default=".", help="--benchmark_filter for zelt-bench")
    parser.add_argument("--no-scan", action="store_true", help="skip the zelt-scan runs over elm327-emulator")
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

    pairs = [(n, medians.get(f"BM_Floor_LockCopyVector/{n}"), medians.get(f"BM_CacheHit_ConfirmedCodes/{n}"))
             for n in (1, 10, 100)]
    pairs = [(n, floor, hit) for n, floor, hit in pairs if floor and hit]
    if pairs:
        print("\nCache hit of getConfirmedCodes(false) against the floor (median times):")
        print(f"  {'N':>4}  {'floor ns':>10}  {'cache hit ns':>12}  {'ratio':>6}")
        for n, floor, hit in pairs:
            ratio = hit["real_time"] / floor["real_time"]
            print(f"  {n:>4}  {floor['real_time']:>10.1f}  {hit['real_time']:>12.1f}  {ratio:>6.2f}")

    def rate(name: str) -> float:
        b = medians.get(name)
        return b.get("items_per_second", 0.0) if b else 0.0

    one = rate("BM_Threads_TwoSlots/real_time/threads:1")
    two = rate("BM_Threads_TwoSlots/real_time/threads:2")
    if one and two:
        print(f"\nTwo slots from two threads: {two / one:.2f}x the single-thread throughput")
    floor_one = rate("BM_Floor_TwoThreads/real_time/threads:1")
    floor_two = rate("BM_Floor_TwoThreads/real_time/threads:2")
    if floor_one and floor_two:
        print(f"Floor (own mutex and vector per thread) from two threads: {floor_two / floor_one:.2f}x")
    same = [rate(f"BM_Threads_SameSlot/real_time/threads:{t}") for t in (1, 2, 4)]
    if all(same):
        print("One slot from 1/2/4 threads: " + ", ".join(f"{r / 1e6:.2f} M/s" for r in same))

    builds = [b for name, b in medians.items() if "allocs/build" in b]
    if builds:
        print("\nAllocations per build:")
        for b in builds:
            print(f"  {b['run_name']:<48} {b['allocs/build']:.0f}")
    # With one repetition there are no aggregates: the single run stands.
    runs = {b["run_name"]: b for b in results["benchmarks"] if b.get("run_type") == "iteration"}

    def adapter(name: str, batched: int):
        for table in (medians, runs):
            for run_name, b in table.items():
                if run_name.startswith(f"{name}/batched:{batched}/"):
                    return b
        return None

    rows = [("BM_Adapter_LiveReadings", "readings/s", "100 live readings of 4 PIDs"),
            ("BM_Adapter_FullScan", "scans/s", "full parameter scan")]
    if any(adapter(name, 0) for name, _, _ in rows):
        print("\nOver the emulated adapter (3840 bytes/s, 30 ms per request; medians when repeated):")
        print(f"  {'case':<30} {'single/s':>9} {'batched/s':>10} {'ratio':>6}  "
              f"{'requests single':>15} {'batched':>7}  {'requests/s single':>17} {'batched':>7}")
        for name, unit, label in rows:
            single, batched = adapter(name, 0), adapter(name, 1)
            if not single or not batched or not single.get(unit):
                continue
            print(f"  {label:<30} {single[unit]:>9.2f} {batched[unit]:>10.2f} "
                  f"{batched[unit] / single[unit]:>5.2f}x  {single['requests']:>15.0f} "
                  f"{batched['requests']:>7.0f}  {single['requests/s']:>17.1f} "
                  f"{batched['requests/s']:>7.1f}")

    def live(batched: int, throttled: int):
        name = f"BM_Repository_LiveReadings/batched:{batched}/throttled:{throttled}"
        for table in (medians, runs):
            for run_name, b in table.items():
                if run_name.startswith(name):
                    return b
        return None

    if live(0, 1) or live(0, 0):
        print("\nParameterRepository, readings of 0C,0D,05,04 (medians when repeated):")
        print(f"  {'link':<30} {'single/s':>9} {'batched/s':>10} {'ratio':>6}  "
              f"{'requests/s single':>17} {'batched':>7}")
        for throttled, label in ((1, "3840 bytes/s, 30 ms/request"), (0, "unthrottled")):
            single, batched = live(0, throttled), live(1, throttled)
            if not single or not batched:
                continue
            print(f"  {label:<30} {single['readings/s']:>9.1f} {batched['readings/s']:>10.1f} "
                  f"{batched['readings/s'] / single['readings/s']:>5.2f}x  "
                  f"{single['requests/s']:>17.1f} {batched['requests/s']:>7.1f}")

    publish = next((b for table in (medians, runs) for name, b in table.items()
                    if name.startswith("BM_Publish_QoS1/")), None)
    watch = live(1, 0)
    if publish and watch:
        print(f"\nPublished at QoS 1 to mosquitto on loopback: {publish['readings/s']:.0f} readings/s "
              f"(dropped {publish['dropped']:.0f}); --watch reads {watch['readings/s']:.0f} readings/s "
              f"from the unthrottled emulator: {publish['readings/s'] / watch['readings/s']:.1f}x headroom")

    if not args.no_scan:
        print_scans(bench.parent)
    return 0


if __name__ == "__main__":
    sys.exit(main())
