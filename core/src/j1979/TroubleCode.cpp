// Trouble codes: the two bytes of J1979 and the five characters people read.
// The top two bits pick the system letter, the next two the first digit
// (0-3), and the remaining twelve bits are three hex digits.

#include "bus/Hex.h"
#include "j1979/Codec.h"

namespace obd::j1979 {

namespace {

constexpr char kSystems[] = {'P', 'C', 'B', 'U'};

[[noreturn]] void Malformed(const std::string& code, const std::string& why) {
    throw CodecError("malformed trouble code \"" + code + "\": " + why);
}

}  // namespace

std::string DecodeTroubleCode(std::uint16_t raw) {
    std::string code(5, ' ');
    code[0] = kSystems[raw >> 14];
    code[1] = static_cast<char>('0' + ((raw >> 12) & 0x3));
    code[2] = bus::HexDigit(raw >> 8u);
    code[3] = bus::HexDigit(raw >> 4u);
    code[4] = bus::HexDigit(raw);
    return code;
}

std::uint16_t EncodeTroubleCode(const std::string& code) {
    if (code.size() != 5) {
        Malformed(code, "needs 5 characters, got " + std::to_string(code.size()));
    }
    unsigned system = 0;
    while (system < 4 && kSystems[system] != code[0]) {
        ++system;
    }
    if (system == 4) {
        Malformed(code, "the first character must be P, C, B or U");
    }
    if (code[1] < '0' || code[1] > '3') {
        Malformed(code, "the second character must be a digit from 0 to 3");
    }
    unsigned raw = system << 14 | static_cast<unsigned>(code[1] - '0') << 12;
    for (std::size_t index = 2; index < 5; ++index) {
        const int digit = bus::HexDigitValue(code[index]);
        if (digit < 0) {
            Malformed(code, "the last three characters must be hex digits");
        }
        raw |= static_cast<unsigned>(digit) << (4 * (4 - index));
    }
    return static_cast<std::uint16_t>(raw);
}

}  // namespace obd::j1979
