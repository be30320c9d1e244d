#!/usr/bin/env python3
"""Plots engine speed and vehicle speed over time into a PNG, without a notebook.

    plot_live_data.py [--address tcp://HOST:PORT] [--count 60] [--interval 0.5] [--out live-data.png]

Without --address it reads the built-in simulated vehicle. Needs matplotlib
(Debian: python3-matplotlib); without it, it says so and plots nothing.
"""

import argparse
import sys

import zelt

ENGINE_SPEED, VEHICLE_SPEED = 0x0C, 0x0D


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--address", help="the adapter, e.g. tcp://192.168.0.10:35000")
    parser.add_argument("--count", type=int, default=60, help="readings (default 60)")
    parser.add_argument("--interval", type=float, default=0.5, help="seconds between readings (default 0.5)")
    parser.add_argument("--out", default="live-data.png", help="the PNG to write (default live-data.png)")
    args = parser.parse_args()
    try:
        import matplotlib
        matplotlib.use("Agg")  # no display needed
        import matplotlib.pyplot as pyplot
    except ImportError:
        print("plot_live_data: matplotlib is not installed (Debian: python3-matplotlib); nothing plotted",
              file=sys.stderr)
        return 0

    try:
        vehicle = zelt.connect(args.address) if args.address else zelt.simulate()
        with vehicle:
            readings = list(vehicle.watch([ENGINE_SPEED, VEHICLE_SPEED], args.interval, args.count))
    except zelt.Error as error:
        print(f"plot_live_data: {error}", file=sys.stderr)
        return 2 if isinstance(error, zelt.BadInput) else 1

    start = readings[0].time
    seconds = [(reading.time - start).total_seconds() for reading in readings]
    figure, axes = pyplot.subplots(2, 1, sharex=True, figsize=(8, 5))
    for axis, pid in zip(axes, (ENGINE_SPEED, VEHICLE_SPEED)):
        # The first reading with an answer names the sensor and its unit.
        sensor = next((r[pid][0] for r in readings if r[pid]), None)
        values = [r[pid][0].value if r[pid] else None for r in readings]
        axis.plot(seconds, [float("nan") if v is None else v for v in values])
        axis.set_ylabel(f"{sensor.name} ({sensor.unit})" if sensor else f"PID 0x{pid:02X}")
        axis.grid(True)
    axes[-1].set_xlabel("seconds")
    figure.suptitle(vehicle.name)
    figure.tight_layout()
    figure.savefig(args.out)
    print(f"wrote {args.out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
