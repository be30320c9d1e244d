#pragma once

// A trouble code as the core reports it, and where it was found.
//
// Thread safety and ownership: a plain structure without synchronisation. The
// core builds a new record for every code it returns and keeps no reference;
// the caller owns it and may share it between threads as long as nobody
// changes it.

#include <cstdint>
#include <string>

#include "Export.h"

namespace obd {

// Where a trouble code was found.
enum class DtcStatus : std::int32_t {
    Confirmed = 0,    // stored code (service 03)
    Pending = 1,      // pending code (service 07)
    Permanent = 2,    // permanent code (service 0A)
    FreezeFrame = 3,  // code that caused a freeze frame (service 02)
    Known = 4,        // listed by the core's code catalogue, not read from a vehicle
};

// One diagnostic trouble code.
struct OBD_API DtcDataModel {
    std::string code;                     // five characters, e.g. "P0301"
    std::string description;              // empty when the core knows no description
    std::uint16_t rawValue = 0;           // the two bytes as the vehicle sent them
    std::uint32_t ecuAddress = 0;         // the answering ECU, 0 for catalogue entries
    DtcStatus status = DtcStatus::Known;  // where the code was found
};

}  // namespace obd
