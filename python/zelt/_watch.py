"""Vehicle.watch: live readings of chosen parameters as they come."""

import dataclasses
import datetime
import math
import numbers
import string
import time
from typing import Dict, Iterable, Iterator, List, Optional, Union

from . import _zelt


@dataclasses.dataclass(frozen=True)
class Reading:
    """One reading of the watched parameters.

    ``values`` maps each PID to its sensors as read now; a PID the vehicle
    gave no answer for maps to an empty list. ``reading[pid]`` is
    ``reading.values[pid]``.
    """

    number: int  # 1 for the first reading
    time: datetime.datetime  # when the answer came, UTC
    values: Dict[int, List[_zelt.Sensor]]

    def __getitem__(self, pid: int) -> List[_zelt.Sensor]:
        return self.values[pid]


def _pid(pid: Union[int, str]) -> int:
    """A PID as a number, or as one or two hex digits with or without 0x ('0C', '0x0C')."""
    if isinstance(pid, str):
        digits = pid[2:] if pid[:2].lower() == "0x" else pid
        if 1 <= len(digits) <= 2 and all(c in string.hexdigits for c in digits):
            return int(digits, 16)
        raise _zelt.BadInput(f"invalid PID {pid!r}: give a number or hex digits such as '0C'")
    if isinstance(pid, bool) or not isinstance(pid, numbers.Integral):
        raise _zelt.BadInput(f"invalid PID {pid!r}: give a number from 0x00 to 0xFF")
    return int(pid)


def watch(vehicle: _zelt.Vehicle, pids: Union[int, str, Iterable[Union[int, str]]],
          interval: float = 1.0, count: Optional[int] = None) -> Iterator[Reading]:
    """Checks the arguments at once, then returns the generator of readings."""
    pids = [pids] if isinstance(pids, (int, str)) else list(pids)
    pids = [_pid(pid) for pid in pids]
    if not pids:
        raise _zelt.BadInput("give at least one PID to watch")
    if not math.isfinite(interval) or interval < 0:
        raise _zelt.BadInput(f"invalid interval {interval}: give seconds, 0 or more")
    if count is not None and (isinstance(count, bool) or not isinstance(count, numbers.Integral)
                              or count < 0):
        raise _zelt.BadInput(f"invalid count {count!r}: give a whole number, 0 or more, or None "
                             "for no end")
    supported = set(vehicle.parameters.pids())
    for pid in pids:
        if pid not in supported:
            raise _zelt.BadInput(f"unknown PID 0x{pid:02X}: the vehicle does not support it")
    return _readings(vehicle.parameters, pids, interval, count)


def _readings(parameters: _zelt.Parameters, pids: List[int], interval: float,
              count: Optional[int]) -> Iterator[Reading]:
    number = 0
    due = time.monotonic()
    while count is None or number < count:
        values = parameters.values_of(pids)  # all PIDs in as few requests as the bus allows
        number += 1
        yield Reading(number, datetime.datetime.now(datetime.timezone.utc), dict(zip(pids, values)))
        if count is not None and number >= count:
            return
        # A steady rate; a reading that took longer than the interval is not
        # made up for with a burst. No sleep at all when none is due: even
        # sleep(0) gives the processor away.
        now = time.monotonic()
        due = max(due + interval, now)
        if due > now:
            time.sleep(due - now)
