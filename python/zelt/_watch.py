"""Vehicle.watch: live readings of chosen parameters as they come."""

import dataclasses
import datetime
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


def watch(vehicle: _zelt.Vehicle, pids: Union[int, Iterable[int]], interval: float = 1.0,
          count: Optional[int] = None) -> Iterator[Reading]:
    """Checks the arguments at once, then returns the generator of readings."""
    pids = [pids] if isinstance(pids, int) else list(pids)
    if not pids:
        raise _zelt.BadInput("give at least one PID to watch")
    if not interval >= 0:
        raise _zelt.BadInput(f"invalid interval {interval}: give seconds, 0 or more")
    if count is not None and count < 0:
        raise _zelt.BadInput(f"invalid count {count}: give 0 or more, or None for no end")
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
