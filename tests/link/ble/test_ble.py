#!/usr/bin/env python3
"""zelt-scan over Bluetooth LE, through a mocked BlueZ on a private bus
whose dongle feeds an elm327-emulator. Usage:

    test_ble.py ZELT_SCAN ELM327_EMULATOR [unittest arguments]
"""
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCAN = EMULATOR = None
DONGLE = "AA:BB:CC:DD:EE:01"
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>system</type><listen>unix:path=%s</listen><auth>EXTERNAL</auth>
<policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/>
<allow receive_sender="*"/></policy></busconfig>"""


def without_readings(report):
    """Live values move with time: which there are is compared, not what they read."""
    if isinstance(report, dict):
        return {k: without_readings(v) for k, v in report.items() if k not in ("value", "text")}
    return [without_readings(v) for v in report] if isinstance(report, list) else report


class BleTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        socket_path = os.path.join(cls.dir.name, "bus")
        with open(os.path.join(cls.dir.name, "bus.conf"), "w") as config:
            config.write(BUS_CONFIG % socket_path)
        cls.bus = subprocess.Popen(["dbus-daemon", "--nofork", "--nopidfile", "--config-file",
                                    config.name], stderr=subprocess.DEVNULL)
        cls.env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + socket_path)
        while not os.path.exists(socket_path):
            time.sleep(0.05)
        local = subprocess.run([SCAN, "--json"], capture_output=True, text=True, timeout=60)
        cls.expected = without_readings(json.loads(local.stdout))
        del cls.expected["source"]

    @classmethod
    def tearDownClass(cls):
        cls.bus.kill()
        cls.bus.wait()
        cls.dir.cleanup()

    def scan(self, arguments, layout="FFF0", *mock):
        """zelt-scan ARGUMENTS against the mock (none without LAYOUT)."""
        emulator = subprocess.Popen([EMULATOR, "--port", "0"], stdout=subprocess.PIPE, text=True)
        port = emulator.stdout.readline().rsplit(":", 1)[1]
        bluez = None
        if layout:
            bluez = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "mock_bluez.py"), port,
                                      layout, *mock], stdout=subprocess.PIPE, text=True, env=self.env)
            self.assertEqual(bluez.stdout.readline(), "ready\n")
        try:
            return subprocess.run([SCAN, *arguments], capture_output=True, text=True, timeout=60,
                                  env=self.env)
        finally:
            for process in filter(None, (bluez, emulator)):
                process.kill()
                process.wait()
                process.stdout.close()

    def test_full_scan_over_each_layout(self):
        table = [  # (layout, address, mock's options)
            ("FFF0", DONGLE, []), ("FFE0", DONGLE, []), ("18F0", DONGLE, []),
            ("E7810A71-73AE-499D-8C15-FAA9AEF0C3F2", DONGLE, []),
            ("6E400001-B5A3-F393-E0A9-E50E24DCCA9E", DONGLE.lower(), []),  # none known
            ("FFF0", "OBDII", ["--piece", "3"]),  # by name; answers in 3-byte pieces
        ]
        for layout, address, mock in table:
            with self.subTest(layout=layout, mock=mock):
                run = self.scan(["--json", "--adapter", "ble://" + address], layout, *mock)
                self.assertEqual(run.returncode, 0, run.stderr)
                report = without_readings(json.loads(run.stdout))
                self.assertEqual(report.pop("source")["kind"], "adapter")
                self.assertEqual(report, self.expected)

    def test_failures_are_named(self):
        table = [  # (mock's layout and options, address, what stderr must say)
            (["FFF0", "--pairing"], DONGLE, "must be paired first (subscribing to it, BlueZ said "
             "org.bluez.Error.NotPermitted: Insufficient authentication); pair and trust it once: "
             "bluetoothctl pair %s, then bluetoothctl trust %s" % (DONGLE, DONGLE)),
            (["FFF0", "--busy"], DONGLE, "is held by another client"),
            (["FFF0", "--vanish-after", "40"], DONGLE, "the adapter closed the connection"),
            (["FFF0"], "NOPE", "no Bluetooth LE device named NOPE was seen within 10000 ms; seen: "
             "AA:BB:CC:DD:EE:01 (OBDII), AA:BB:CC:DD:EE:02 (Polar H10)"),
            ([None], DONGLE, "Bluetooth is not running"),
            (["FFF0", "--no-adapter"], DONGLE, "no Bluetooth adapter"),
        ]
        for mock, address, reason in table:
            with self.subTest(mock=mock):
                run = self.scan(["--adapter", "ble://" + address], *mock)
                self.assertEqual(run.returncode, 1)
                self.assertIn(reason, run.stderr)

    def test_discover_lists_the_dongle_with_its_address(self):
        run = self.scan(["--discover"])
        self.assertEqual(run.returncode, 0, run.stderr)
        lines = [line.split(None, 2) for line in run.stdout.splitlines()]
        self.assertIn(["--adapter", "ble://" + DONGLE,
                       'Bluetooth LE "OBDII", -58 dBm, OBD adapter service FFF0'], lines)
        self.assertIn(["--adapter", "ble://AA:BB:CC:DD:EE:02",
                       'Bluetooth LE "Polar H10", -80 dBm, no OBD adapter service advertised'], lines)


if __name__ == "__main__":
    SCAN, EMULATOR = sys.argv[1:3]
    unittest.main(argv=sys.argv[:1] + sys.argv[3:])
