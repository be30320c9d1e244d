#pragma once

#include <cstdint>
#include <string>

#include "j1979/Responses.h"

namespace obd::uds {

using j1979::kNegativeResponse;
using j1979::kPositiveResponseOffset;
using j1979::kResponsePending;

// The ISO 14229-1 name of a negative response code with the code, e.g.
// "request out of range (0x31)"; reserved and manufacturer codes are named
// as such.
std::string NegativeResponseText(std::uint8_t code);

}  // namespace obd::uds
