#pragma once

// The names ISO 14229-1 gives the negative response codes, for showing an
// ECU's refusal ("7F 22 31": request out of range).
//
// Thread safety: a pure function; may be called from any thread.

#include <cstdint>
#include <string>

#include "Export.h"

namespace obd {

// The first byte of an ECU's refusal, before the refused service id and the
// negative response code (ISO 14229-1; SAE J1979 answers the same way).
constexpr std::uint8_t kNegativeResponse = 0x7F;

// The name of negative response code `code`, e.g. "request out of range"
// for 0x31; codes the standard reserves or leaves to manufacturers are
// named as such.
OBD_API std::string NegativeResponseName(std::uint8_t code);

}  // namespace obd
