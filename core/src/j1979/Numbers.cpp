#include "j1979/Numbers.h"

#include <array>
#include <charconv>
#include <cmath>

#include "bus/Hex.h"

namespace obd::j1979::detail {

std::string FormatFixed(double value, int decimals) {
    // Rounding a small negative value must not give "-0.0".
    const double scale = std::pow(10.0, decimals);
    if (std::round(std::abs(value) * scale) == 0) {
        value = 0;
    }
    // Room for any double in fixed notation with the few decimals the codec uses.
    std::array<char, 512> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, decimals);
    return std::string(buffer.data(), result.ptr);
}

std::string FormatFixedWithin(double value, int decimals, double minimum, double maximum) {
    const double scale = std::pow(10.0, decimals);
    const double nearest = std::round(value * scale) / scale;
    if (nearest > maximum) {
        value = std::floor(value * scale) / scale;
    } else if (nearest < minimum) {
        value = std::ceil(value * scale) / scale;
    }
    return FormatFixed(value, decimals);
}

std::string FormatShortest(double value) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

std::string FormatShortest(float value) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

std::string HexByte(std::uint8_t value) {
    return bus::HexNumber(value);
}

}  // namespace obd::j1979::detail
