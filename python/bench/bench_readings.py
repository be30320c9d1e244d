#!/usr/bin/env python3
"""Live readings per second from Python against C++, in one run.

Each reads engine speed, vehicle speed, coolant temperature and engine load
(0C, 0D, 05, 04) as fast as it can from one elm327-emulator, unthrottled, on
loopback, then from the built-in simulated vehicle in process (no link, so
the binding's share is larger): C++ with ParameterRepository::getValuesOf
(zelt-reading-rate), Python with Vehicle.parameters.values_of, the same call
through the binding, and with Vehicle.watch(..., interval=0), which adds a
Reading per call. Each
rate is taken from the first reading to the last, so connecting is not
counted; the three alternate, and the median of the repetitions is printed
with the ratios to C++. Beside each rate, the processor time of the reading
process (all its threads) per reading, which a busy machine disturbs less
than the rate: the binding's cost shows there. Run it on an otherwise idle
machine.

    python/bench/bench_readings.py --build build/release
"""

import argparse
import pathlib
import statistics
import subprocess
import sys
import time

PIDS = [0x0C, 0x0D, 0x05, 0x04]


def cpp_rate(build: pathlib.Path, address: str, count: int):
    """(readings per second, processor microseconds per reading)"""
    rate = subprocess.run([str(build / "bin" / "zelt-reading-rate"), address, str(count)],
                          stdout=subprocess.PIPE, text=True, check=True)
    per_second, microseconds = rate.stdout.split()
    return float(per_second), float(microseconds)


def measured(count: int, read_all):
    """(readings per second, processor microseconds per reading) of
    read_all(start), which calls start() at its first reading."""
    marks = []
    read_all(lambda: marks.extend((time.perf_counter(), time.process_time())))
    wall, processor = time.perf_counter() - marks[0], time.process_time() - marks[1]
    return (count - 1) / wall, processor * 1e6 / (count - 1)


def open_vehicle(zelt, address: str):
    return zelt.simulate() if address == "simulated" else zelt.connect(address)


def values_of_rate(zelt, address: str, count: int):
    def read_all(start):
        parameters = vehicle.parameters
        parameters.values_of(PIDS)
        start()
        for _ in range(count - 1):
            if not parameters.values_of(PIDS)[0]:
                raise SystemExit("bench_readings: a reading came back incomplete")

    with open_vehicle(zelt, address) as vehicle:
        return measured(count, read_all)


def watch_rate(zelt, address: str, count: int):
    def read_all(start):
        for reading in vehicle.watch(PIDS, interval=0, count=count):
            if len(reading[0x0C]) != 1:
                raise SystemExit("bench_readings: a reading came back incomplete")
            if reading.number == 1:
                start()

    with open_vehicle(zelt, address) as vehicle:
        return measured(count, read_all)


def measure(build: pathlib.Path, zelt, address: str, repetitions: int, count: int):
    """{name: [(readings per second, processor microseconds per reading), ...]}"""
    rates = {"C++ getValuesOf": [], "Python values_of": [], "Python watch": []}
    for _ in range(repetitions):
        rates["C++ getValuesOf"].append(cpp_rate(build, address, count))
        rates["Python values_of"].append(values_of_rate(zelt, address, count))
        rates["Python watch"].append(watch_rate(zelt, address, count))
    return rates


def report(title: str, repetitions: int, count: int, rates) -> None:
    print(f"Readings of 4 PIDs per second {title}, median of {repetitions} x {count}:")
    cpp = statistics.median(rate for rate, _ in rates["C++ getValuesOf"])
    cpp_cost = statistics.median(cost for _, cost in rates["C++ getValuesOf"])
    print(f"  {'':<18} {'per s':>8}  {'of C++':>6}  {'CPU us':>7}  {'C++/this':>8}   runs (per s)")
    for name, runs in rates.items():
        rate = statistics.median(r for r, _ in runs)
        cost = statistics.median(c for _, c in runs)
        print(f"  {name:<18} {rate:8.0f}  {rate / cpp:6.2f}  {cost:7.1f}  {cpp_cost / cost:8.2f}   "
              f"{', '.join(f'{r:.0f}' for r, _ in runs)}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build/release", help="the build tree (default build/release)")
    parser.add_argument("--count", type=int, default=500, help="readings per run (default 500)")
    parser.add_argument("--repetitions", type=int, default=15, help="runs of each (default 15)")
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
        # In process a reading costs a tenth: ten times as many of them.
        for title, where, count in (("over elm327-emulator (unthrottled, loopback)", address, args.count),
                                    ("from the simulated vehicle, in process", "simulated", args.count * 10)):
            report(title, args.repetitions, count, measure(build, zelt, where, args.repetitions, count))
    finally:
        emulator.terminate()
        emulator.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
