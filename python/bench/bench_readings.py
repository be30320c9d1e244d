#!/usr/bin/env python3
"""Live readings per second from Python against C++, in one run.

Each reads engine speed, vehicle speed, coolant temperature and engine load
(0C, 0D, 05, 04) as fast as it can from one elm327-emulator, unthrottled, on
loopback: C++ with ParameterRepository::getValuesOf (zelt-reading-rate),
Python with Vehicle.parameters.values_of, the same call through the binding,
and with Vehicle.watch(..., interval=0), which adds a Reading per call. Each
rate is taken from the first reading to the last, so connecting is not
counted; the three alternate, and the median of the repetitions is printed
with the ratios to C++. Run it on an otherwise idle machine.

    python/bench/bench_readings.py --build build/release
"""

import argparse
import pathlib
import statistics
import subprocess
import sys
import time

PIDS = [0x0C, 0x0D, 0x05, 0x04]


def cpp_rate(build: pathlib.Path, address: str, count: int) -> float:
    rate = subprocess.run([str(build / "bin" / "zelt-reading-rate"), address, str(count)],
                          stdout=subprocess.PIPE, text=True, check=True)
    return float(rate.stdout)


def values_of_rate(zelt, address: str, count: int) -> float:
    with zelt.connect(address) as vehicle:
        parameters = vehicle.parameters
        parameters.values_of(PIDS)
        first = time.perf_counter()
        for _ in range(count - 1):
            if not parameters.values_of(PIDS)[0]:
                raise SystemExit("bench_readings: a reading came back incomplete")
        return (count - 1) / (time.perf_counter() - first)


def watch_rate(zelt, address: str, count: int) -> float:
    with zelt.connect(address) as vehicle:
        first = None
        for reading in vehicle.watch(PIDS, interval=0, count=count):
            if len(reading[0x0C]) != 1:
                raise SystemExit("bench_readings: a reading came back incomplete")
            if first is None:
                first = time.perf_counter()
        return (count - 1) / (time.perf_counter() - first)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build/release", help="the build tree (default build/release)")
    parser.add_argument("--count", type=int, default=2000, help="readings per run (default 2000)")
    parser.add_argument("--repetitions", type=int, default=3)
    args = parser.parse_args()

    build = pathlib.Path(args.build)
    sys.path.insert(0, str(build / "python"))
    try:
        import zelt
    except ImportError as error:
        print(f"bench_readings: cannot import zelt from {build / 'python'} ({error}); build first", file=sys.stderr)
        return 2

    emulator = subprocess.Popen([str(build / "bin" / "elm327-emulator"), "--port", "0"],
                                stdout=subprocess.PIPE, text=True)
    try:
        address = "tcp://" + emulator.stdout.readline().split()[-1]
        rates = {"C++ getValuesOf": [], "Python values_of": [], "Python watch": []}
        for _ in range(args.repetitions):
            rates["C++ getValuesOf"].append(cpp_rate(build, address, args.count))
            rates["Python values_of"].append(values_of_rate(zelt, address, args.count))
            rates["Python watch"].append(watch_rate(zelt, address, args.count))
    finally:
        emulator.terminate()
        emulator.wait()

    print(f"Readings of 4 PIDs per second over elm327-emulator (unthrottled, loopback), "
          f"median of {args.repetitions} x {args.count}:")
    cpp = statistics.median(rates["C++ getValuesOf"])
    for name, runs in rates.items():
        median = statistics.median(runs)
        print(f"  {name:<18} {median:8.0f}  {median / cpp:5.2f} of C++   runs: {', '.join(f'{r:.0f}' for r in runs)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
