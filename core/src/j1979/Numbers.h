#pragma once

// Number texts shared by the codec's parts. All of them ignore the C and C++
// locales: value texts are exchanged and parsed again, so a decimal comma or
// digit grouping from the application's locale must never leak into them.

#include <cstdint>
#include <string>

namespace obd::j1979::detail {

// `value` with exactly `decimals` digits after the point ("14.5", "850").
// A value that rounds to zero is written without a minus sign.
std::string FormatFixed(double value, int decimals);

// The same for a value between `minimum` and `maximum`, rounded towards
// them where rounding to the nearest would pass one: the largest engine
// speed, 16383.75 rpm, shows as "16383", never above its limit.
std::string FormatFixedWithin(double value, int decimals, double minimum, double maximum);

// The shortest text that reads back as `value` ("16383.75", "-40"); the
// float overload for the limits of a sensor definition, which are floats.
std::string FormatShortest(double value);
std::string FormatShortest(float value);

// "0x0C": a byte as the codec names PIDs, ids and raw values in messages.
std::string HexByte(std::uint8_t value);

}  // namespace obd::j1979::detail
