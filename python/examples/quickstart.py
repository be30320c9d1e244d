#!/usr/bin/env python3
"""Quick start: connect, read engine speed and vehicle speed, list the trouble codes.

    quickstart.py                              # the built-in simulated vehicle
    quickstart.py tcp://192.168.0.10:35000     # a Wi-Fi ELM327 (serial:/dev/ttyUSB0 for USB)
"""

import sys

import zelt

ENGINE_SPEED, VEHICLE_SPEED = 0x0C, 0x0D


def main(argv):
    try:
        vehicle = zelt.connect(argv[1]) if len(argv) > 1 else zelt.simulate()
    except zelt.Error as error:
        print(f"quickstart: {error}", file=sys.stderr)
        return 2 if isinstance(error, zelt.BadInput) else 1
    with vehicle:
        print("VIN:", vehicle.vin or "not reported")
        # Both PIDs in one request where the bus allows it.
        for sensors in vehicle.parameters.values_of([ENGINE_SPEED, VEHICLE_SPEED]):
            for sensor in sensors:
                print(f"{sensor.name}: {sensor.text or 'no value'}")
        codes = vehicle.trouble_codes.confirmed()
        print(f"{len(codes)} confirmed trouble code(s)")
        for code in codes:
            print(f"  {code.code}  {code.description or ''}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
