"""zelt: OBD-II diagnostics of a simulated vehicle or of one behind an ELM327
adapter (Wi-Fi, USB, Bluetooth), through the zelt library's repositories.

    import zelt
    with zelt.connect("tcp://192.168.0.10:35000") as car:   # or zelt.simulate()
        print(car.vin)
        for code in car.trouble_codes.confirmed():
            print(code.code, code.description)
        for reading in car.watch([0x0C, 0x0D], interval=0.5, count=10):
            print(reading.time, reading[0x0C][0].value)

Every call that talks to the vehicle releases the GIL, so several Python
threads may read at once. Errors are zelt.Error or one of its subclasses.
"""

import os as _os

# A package built by `pip install .` carries the trouble code titles (a
# data file under its own licence) beside its libraries; the core reads the
# file this names at first use. An install under /usr finds its own.
_titles = _os.path.join(_os.path.dirname(__file__), "generic-trouble-codes.tsv")
if _os.path.exists(_titles):
    _os.environ.setdefault("ZELT_TROUBLE_CODES", _titles)
del _titles

from ._watch import Reading  # noqa: E402
from ._zelt import (  # noqa: E402
    Adapter,
    AdapterLost,
    BadInput,
    ConnectionFailed,
    Diagnostics,
    Ecu,
    Error,
    Info,
    LogMessage,
    MonitorTest,
    OxygenSensorTest,
    Parameter,
    Parameters,
    PerformanceCounter,
    Readiness,
    Routine,
    Routines,
    Sensor,
    TroubleCode,
    TroubleCodes,
    Unsupported,
    Vehicle,
    VehicleOperationData,
    __version__,
    connect,
    simulate,
)

__all__ = [
    "Adapter", "AdapterLost", "BadInput", "ConnectionFailed", "Diagnostics", "Ecu", "Error", "Info",
    "LogMessage", "MonitorTest", "OxygenSensorTest", "Parameter", "Parameters", "PerformanceCounter",
    "Readiness", "Reading", "Routine", "Routines", "Sensor", "TroubleCode", "TroubleCodes",
    "Unsupported", "Vehicle", "VehicleOperationData", "connect", "simulate",
]

# Defined in the package's modules, the classes are known to users as zelt.X.
for _name in __all__:
    if isinstance(globals()[_name], type):
        globals()[_name].__module__ = __name__
del _name
