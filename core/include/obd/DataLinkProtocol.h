#pragma once

// The vehicle's data link protocols, numbered as ELM327-compatible adapters
// number them. A plain enumeration: no state, safe to use from any thread.

#include <cstdint>

namespace obd {

// The vehicle's data link protocol. The values are the protocol numbers that
// ELM327-compatible adapters use.
enum class DataLinkProtocol : std::int32_t {
    Automatic = 0,
    SaeJ1850Pwm = 1,
    SaeJ1850Vpw = 2,
    Iso9141 = 3,
    Iso14230SlowInit = 4,
    Iso14230FastInit = 5,
    Iso15765Can11Bit500k = 6,
    Iso15765Can29Bit500k = 7,
    Iso15765Can11Bit250k = 8,
    Iso15765Can29Bit250k = 9,
};

}  // namespace obd
