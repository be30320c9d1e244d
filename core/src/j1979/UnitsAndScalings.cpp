#include "j1979/UnitsAndScalings.h"

#include <algorithm>
#include <iterator>

namespace obd::j1979 {

namespace {

using MU = MeasurementUnit;

// Ids this table leaves out (0x32, 0x40, 0x41 among the unsigned ones) are
// ones whose scaling could not be confirmed: their records are kept with raw
// numbers and no unit rather than given a guessed meaning.
// Quantities the unit enumeration lacks are given in the unit it has
// (milliseconds as seconds, millihertz and kilohertz as hertz, tenths of a
// millivolt per millisecond as volts per millisecond).
constexpr UnitAndScaling kTable[] = {
    {0x01, 1, 0, MU::None},  // raw value, shown in hex
    {0x02, 0.1, 0, MU::None},
    {0x03, 0.01, 0, MU::None},
    {0x04, 0.001, 0, MU::None},
    {0x05, 0.0000305, 0, MU::None},
    {0x06, 0.000305, 0, MU::None},
    {0x07, 0.25, 0, MU::Rpm},
    {0x08, 0.01, 0, MU::KilometersPerHour},
    {0x09, 1, 0, MU::KilometersPerHour},
    {0x0A, 0.000122, 0, MU::Volt},
    {0x0B, 0.001, 0, MU::Volt},
    {0x0C, 0.01, 0, MU::Volt},
    {0x0D, 0.00390625, 0, MU::Milliampere},
    {0x0E, 0.001, 0, MU::Ampere},
    {0x0F, 0.01, 0, MU::Ampere},
    {0x10, 0.001, 0, MU::Second},
    {0x11, 0.1, 0, MU::Second},
    {0x12, 1, 0, MU::Second},
    {0x13, 1, 0, MU::Milliohm},
    {0x14, 1, 0, MU::Ohm},
    {0x15, 1, 0, MU::Kiloohm},
    {0x16, 0.1, -40, MU::DegreeCelsius},
    {0x17, 0.01, 0, MU::Kilopascal},
    {0x18, 0.0117, 0, MU::Kilopascal},
    {0x19, 0.079, 0, MU::Kilopascal},
    {0x1A, 1, 0, MU::Kilopascal},
    {0x1B, 10, 0, MU::Kilopascal},
    {0x1C, 0.01, 0, MU::Degree},
    {0x1D, 0.5, 0, MU::Degree},
    {0x1E, 0.0000305, 0, MU::Lambda},
    {0x1F, 0.05, 0, MU::AirFuelRatio},
    {0x20, 0.0039062, 0, MU::None},  // ratio
    {0x21, 0.001, 0, MU::Hertz},
    {0x22, 1, 0, MU::Hertz},
    {0x23, 1000, 0, MU::Hertz},
    {0x24, 1, 0, MU::Counts},
    {0x25, 1, 0, MU::Kilometer},
    {0x26, 0.0001, 0, MU::VoltPerMillisecond},
    {0x27, 0.01, 0, MU::GramPerSecond},
    {0x28, 1, 0, MU::GramPerSecond},
    {0x29, 0.25, 0, MU::PascalPerSecond},
    {0x2A, 0.001, 0, MU::KilogramPerHour},
    {0x2B, 1, 0, MU::Switches},
    {0x2C, 0.01, 0, MU::GramPerCylinder},
    {0x2D, 0.01, 0, MU::MilligramPerStroke},
    {0x2E, 1, 0, MU::None},  // true (1) or false (0)
    {0x2F, 0.01, 0, MU::Percent},
    {0x30, 0.001526, 0, MU::Percent},
    {0x31, 0.001, 0, MU::Liter},
    {0x33, 0.00024414, 0, MU::Lambda},
    {0x34, 1, 0, MU::Minute},
    {0x35, 0.01, 0, MU::Second},
    {0x36, 0.01, 0, MU::Gram},
    {0x37, 0.1, 0, MU::Gram},
    {0x38, 1, 0, MU::Gram},
    {0x39, 0.01, -327.68, MU::Percent},
    {0x3A, 0.001, 0, MU::Gram},
    {0x3B, 0.0001, 0, MU::Gram},
    {0x3C, 0.1, 0, MU::Microsecond},
    {0x3D, 0.01, 0, MU::Milliampere},
    {0x3E, 0.00006103516, 0, MU::SquareMillimeter},
    {0x3F, 0.01, 0, MU::Second},
    // Signed: the twins of 0x01-0x06 and of the quantities that can be
    // negative; a signed temperature needs no offset.
    {0x81, 1, 0, MU::None},
    {0x82, 0.1, 0, MU::None},
    {0x83, 0.01, 0, MU::None},
    {0x84, 0.001, 0, MU::None},
    {0x85, 0.0000305, 0, MU::None},
    {0x86, 0.000305, 0, MU::None},
    {0x8A, 0.000122, 0, MU::Volt},
    {0x8B, 0.001, 0, MU::Volt},
    {0x8C, 0.01, 0, MU::Volt},
    {0x8D, 0.00390625, 0, MU::Milliampere},
    {0x8E, 0.001, 0, MU::Ampere},
    {0x90, 0.001, 0, MU::Second},
    {0x96, 0.1, 0, MU::DegreeCelsius},
    // Not the twin of 0x19 (0.079 kPa): SAE J1979's table of signed ids
    // (ISO 15031-5 annex E) gives pressure at 0.1 kPa per bit.
    {0x99, 0.1, 0, MU::Kilopascal},
    {0x9C, 0.01, 0, MU::Degree},
    {0x9D, 0.5, 0, MU::Degree},
    {0xA8, 1, 0, MU::GramPerSecond},
    {0xA9, 0.25, 0, MU::PascalPerSecond},
    {0xAD, 0.01, 0, MU::MilligramPerStroke},
    {0xAE, 0.1, 0, MU::MilligramPerStroke},
    {0xAF, 0.01, 0, MU::Percent},
    {0xB0, 0.003052, 0, MU::Percent},
    {0xB1, 2, 0, MU::MillivoltPerSecond},
    // Pressures: gauge, absolute and the fine evaporative system scale.
    {0xFC, 0.01, 0, MU::Kilopascal},
    {0xFD, 0.001, 0, MU::Kilopascal},
    {0xFE, 0.25, 0, MU::Pascal},
};

}  // namespace

const UnitAndScaling* FindUnitAndScaling(std::uint8_t id) {
    const auto* end = std::end(kTable);
    const auto* found = std::find_if(std::begin(kTable), end,
                                     [id](const UnitAndScaling& entry) { return entry.id == id; });
    return found == end ? nullptr : found;
}

}  // namespace obd::j1979
