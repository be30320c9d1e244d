#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace obd::bus {

// "41 0C 1A F8": upper-case byte pairs separated by single spaces.
std::string ToHex(const std::vector<std::uint8_t>& bytes);

// Reads bytes written as hex digit pairs; spaces between (and inside) pairs
// are ignored, so "410C1AF8" and "41 0C 1A F8" read alike. Nothing for an
// odd number of digits or any other character.
std::optional<std::vector<std::uint8_t>> ParseHex(const std::string& text);

}  // namespace obd::bus
