"""Fixtures: a small scenario written here, served in process (zelt.simulate)
and by elm327-emulator over TCP on loopback (zelt.connect)."""

import json
import os
import pathlib
import subprocess

import pytest
import zelt

# Physical values a J1979 encoding carries exactly (whole RPM, load in steps
# of 100/255 %), so what comes back must be equal.
SCENARIO = {
    "name": "Python test car",
    "ecus": [
        {"address": "0x7E8", "name": "ECM", "mil": True,
         "codes": {"confirmed": ["P0301", "P0420"], "pending": ["P0171"], "permanent": ["P0420"]},
         "pids": {"0x04": 40, "0x05": 88, "0x0C": 1234, "0x0D": 57, "0x1C": "06", "0x21": 154},
         "readiness": {"ignition": "spark", "sinceReset": {"misfire": "complete", "catalyst": "incomplete"}},
         "freezeFrames": [{"code": "P0301", "pids": {"0x0C": 2315, "0x0D": 57}}],
         "clearCodes": {"pids": {"0x21": 0}},
         "testResults": [
             {"mid": "0x01", "tid": "0x01", "unitAndScaling": "0x0A", "value": 0.45, "minimum": 0.4, "maximum": 0.5},
             {"mid": "0x21", "tid": "0x80", "unitAndScaling": "0x20", "value": 0.84, "minimum": 0, "maximum": 0.75}],
         "routines": [{"tid": "0x01", "accepted": True, "data": "00 00 00 00 00"}],
         "info": {"vin": "1FTFW1ET9DFC10312",
                  "inUsePerformance": {"ignitionCycles": 1338, "catalystBank1": [96, 412]}}},
        {"address": "0x7E9", "name": "TCM", "mil": False,
         "codes": {"confirmed": ["P0700"], "pending": [], "permanent": []},
         "pids": {"0x0D": 57}},
    ],
}


def built_tool(name: str) -> str:
    """A tool of ZELT_BIN_DIR, or of the build tree the package was imported from."""
    return os.path.join(os.environ.get("ZELT_BIN_DIR", pathlib.Path(zelt.__file__).parents[2] / "bin"), name)


class Emulator:
    """elm327-emulator on a free loopback port, with `options`."""

    def __init__(self, scenario: pathlib.Path, *options: str):
        self.process = subprocess.Popen([built_tool("elm327-emulator"), "--port", "0", "--scenario",
                                         str(scenario), *options], stdout=subprocess.PIPE, text=True)
        self.address = "tcp://" + self.process.stdout.readline().split()[-1]

    def stop(self):
        self.process.terminate()
        self.process.wait()


@pytest.fixture(scope="session")
def scenario(tmp_path_factory) -> pathlib.Path:
    path = tmp_path_factory.mktemp("scenario") / "car.json"
    path.write_text(json.dumps(SCENARIO))
    return path


@pytest.fixture
def emulator(scenario):
    """A fresh one per test: a test may clear the vehicle's codes."""
    served = Emulator(scenario)
    yield served
    served.stop()


@pytest.fixture(params=["simulated", "emulator"])
def vehicle(request, scenario):
    """The scenario's vehicle, in process and through the emulated adapter."""
    if request.param == "simulated":
        opened = zelt.simulate(scenario)
    else:
        opened = zelt.connect(request.getfixturevalue("emulator").address, timeout=5)
    with opened:
        yield opened
