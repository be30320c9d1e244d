#pragma once

#include <cstdint>
#include <string>

namespace obd::uds {

constexpr std::uint8_t kNegativeResponse = 0x7F;
constexpr std::uint8_t kPositiveOffset = 0x40;
constexpr std::uint8_t kResponsePending = 0x78;

// The ISO 14229-1 name of a negative response code with the code, e.g.
// "request out of range (0x31)"; reserved and manufacturer codes are named
// as such.
std::string NegativeResponseText(std::uint8_t code);

}  // namespace obd::uds
