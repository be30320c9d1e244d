#pragma once

// Owners often log a dialogue from after their tool's first requests: the
// car read the VIN, or a PID or two, but its support bitmaps (PID 00 of
// service 01, info type 00 of service 09) were never asked. A scan asks them
// first and, answered "NO DATA", would find no car. SAE J1979 has every ECU
// that answers OBD requests support them, so the replay works out each
// ECU's bitmaps from the PIDs the car shows it answered.

#include <string>
#include <vector>

#include "emulator/ReplayedVehicle.h"

namespace obd::elm327 {

// Adds the bitmaps of services 01 and 09 to a dialogue that asked none of
// that service: for service 01, each ECU that answered anything marks the
// PIDs it answered (none, "41 00 00 00 00 00", when it only refused); for
// service 09, each ECU that answered a service 09 request marks the info
// types it answered. Returns one line per bitmap added, for the user
// ("never asked 0100: ECU 0x12 answers 41 00 00 12 00 00").
std::vector<std::string> InferBitmaps(ReplayedDialogue& dialogue);

}  // namespace obd::elm327
