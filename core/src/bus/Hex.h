#pragma once

// The one hex codec of the core: byte strings as adapters and scenario files
// write them, and numbers as messages name them. Locale independent.

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

// The upper-case digit of `nibble` (0-15; higher bits are ignored).
char HexDigit(unsigned nibble);

// The value of a hex digit of either case, or -1 for any other character.
int HexDigitValue(char digit);

// "0x0C", "0x7E8": `value` with at least `minimumDigits` upper-case digits
// after "0x", as messages and reports name PIDs, ids and addresses.
std::string HexNumber(std::uint32_t value, int minimumDigits = 2);

}  // namespace obd::bus
