#include "bus/Hex.h"

namespace obd::bus {

char HexDigit(unsigned nibble) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return kDigits[nibble & 0x0F];
}

int HexDigitValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    return -1;
}

std::string HexNumber(std::uint32_t value, int minimumDigits) {
    std::string digits;
    do {
        digits.insert(digits.begin(), HexDigit(value & 0x0F));
        value >>= 4;
    } while (value != 0);
    if (static_cast<int>(digits.size()) < minimumDigits) {
        digits.insert(0, static_cast<std::size_t>(minimumDigits) - digits.size(), '0');
    }
    return "0x" + digits;
}

std::string ToHex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size() * 3);
    for (std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += HexDigit(byte >> 4);
        text += HexDigit(byte);
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> ParseHex(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == '\t') {
            continue;
        }
        const int digit = HexDigitValue(c);
        if (digit < 0) {
            return std::nullopt;
        }
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace obd::bus
