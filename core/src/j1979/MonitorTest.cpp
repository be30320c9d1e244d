// Service 06 on-board monitor test results as CAN carries them: MID, TID,
// unit and scaling id, then value, minimum and maximum as big-endian 16-bit
// numbers whose meaning the unit and scaling id gives.

#include <algorithm>
#include <cmath>

#include "j1979/Codec.h"
#include "j1979/Numbers.h"

namespace obd::j1979 {

namespace {

using detail::FormatShortest;
using detail::HexByte;
using MU = MeasurementUnit;

constexpr std::size_t kRecordSize = 9;

// Physical value = raw * perBit + offset. Ids 0x81 and up are the two's
// complement twins of ids 0x01 and up.
struct UnitAndScaling {
    std::uint8_t id;
    double perBit;
    double offset;
    MeasurementUnit unit;

    bool IsSigned() const { return id >= 0x80; }
    std::int32_t RawMinimum() const { return IsSigned() ? -32768 : 0; }
    std::int32_t RawMaximum() const { return IsSigned() ? 32767 : 65535; }
    double ToValue(std::int32_t raw) const { return raw * perBit + offset; }
};

// The ids in common use. Quantities the unit enumeration lacks are given in
// the unit it has (milliseconds as seconds, kilohertz as hertz).
constexpr UnitAndScaling kUnitsAndScalings[] = {
    {0x01, 1, 0, MU::None},  // raw value, shown in hex
    {0x02, 1, 0, MU::None},  // raw value, shown in decimal
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
    {0x20, 0.0039062, 0, MU::None},
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
    {0x81, 1, 0, MU::None},
    {0x82, 0.0000305, 0, MU::None},
    {0x83, 0.000305, 0, MU::None},
    {0x8A, 0.000122, 0, MU::Volt},
    {0x8B, 0.001, 0, MU::Volt},
    {0x8C, 0.01, 0, MU::Volt},
    {0x8D, 0.00390625, 0, MU::Milliampere},
    {0x8E, 0.001, 0, MU::Ampere},
    {0x90, 0.001, 0, MU::Second},
    {0x96, 0.1, 0, MU::DegreeCelsius},
    {0x9C, 0.01, 0, MU::Degree},
    {0x9D, 0.5, 0, MU::Degree},
    {0xA8, 1, 0, MU::GramPerSecond},
    {0xA9, 0.25, 0, MU::PascalPerSecond},
    {0xAD, 0.01, 0, MU::MilligramPerStroke},
    {0xAE, 0.1, 0, MU::MilligramPerStroke},
    {0xAF, 0.01, 0, MU::Percent},
    {0xB0, 0.003052, 0, MU::Percent},
    {0xB1, 2, 0, MU::MillivoltPerSecond},
};

const UnitAndScaling& RequireUnitAndScaling(std::uint8_t id) {
    const auto* end = std::end(kUnitsAndScalings);
    const auto* found = std::find_if(std::begin(kUnitsAndScalings), end,
                                     [id](const UnitAndScaling& entry) { return entry.id == id; });
    if (found == end) {
        throw CodecError("unknown unit and scaling id " + HexByte(id));
    }
    return *found;
}

double ReadValue(const std::uint8_t* bytes, const UnitAndScaling& scaling) {
    const auto word = static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
    const std::int32_t raw = scaling.IsSigned() ? static_cast<std::int16_t>(word) : word;
    return scaling.ToValue(raw);
}

void WriteValue(double value, const char* what, const UnitAndScaling& scaling,
                std::uint8_t* bytes) {
    const double minimum = scaling.ToValue(scaling.RawMinimum());
    const double maximum = scaling.ToValue(scaling.RawMaximum());
    // Values within half a step of the range still round onto it.
    const double slack = scaling.perBit / 2;
    if (!(value >= minimum - slack && value <= maximum + slack)) {
        throw CodecError(std::string(what) + " " + FormatShortest(value) + " out of range " +
                         FormatShortest(minimum) + ".." + FormatShortest(maximum) +
                         " for unit and scaling id " + HexByte(scaling.id));
    }
    const auto raw = std::clamp<long long>(std::llround((value - scaling.offset) / scaling.perBit),
                                           scaling.RawMinimum(), scaling.RawMaximum());
    const auto word = static_cast<std::uint16_t>(raw);
    bytes[0] = static_cast<std::uint8_t>(word >> 8);
    bytes[1] = static_cast<std::uint8_t>(word & 0xFF);
}

}  // namespace

MonitorTestResult DecodeMonitorTestResult(const std::uint8_t* record, std::size_t size) {
    if (record == nullptr || size < kRecordSize) {
        throw CodecError("a service 06 record needs " + std::to_string(kRecordSize) +
                         " bytes, got " + std::to_string(record == nullptr ? 0 : size));
    }
    const UnitAndScaling& scaling = RequireUnitAndScaling(record[2]);
    MonitorTestResult result;
    result.monitorId = record[0];
    result.testId = record[1];
    result.unitAndScalingId = record[2];
    result.unit = scaling.unit;
    result.value = ReadValue(record + 3, scaling);
    result.minimum = ReadValue(record + 5, scaling);
    result.maximum = ReadValue(record + 7, scaling);
    return result;
}

Bytes EncodeMonitorTestResult(const MonitorTestResult& result) {
    const UnitAndScaling& scaling = RequireUnitAndScaling(result.unitAndScalingId);
    Bytes record(kRecordSize, 0);
    record[0] = result.monitorId;
    record[1] = result.testId;
    record[2] = result.unitAndScalingId;
    WriteValue(result.value, "value", scaling, &record[3]);
    WriteValue(result.minimum, "minimum", scaling, &record[5]);
    WriteValue(result.maximum, "maximum", scaling, &record[7]);
    return record;
}

std::string MonitorName(std::uint8_t monitorId) {
    const int id = monitorId;
    const auto n = [](int number) { return std::to_string(number); };
    // Bank b sensor s of four banks with up to four sensors each.
    const auto bankSensor = [&n](int index) {
        return "Bank " + n(index / 4 + 1) + " Sensor " + n(index % 4 + 1);
    };
    if (id % 0x20 == 0) {
        // The last bitmap ends at 0xFF, not at a 0x100 that a byte cannot hold.
        return "Supported Monitor Ids " + HexByte(static_cast<std::uint8_t>(id + 1)) + "-" +
               HexByte(static_cast<std::uint8_t>(std::min(id + 0x20, 0xFF)));
    }
    if (id >= 0x01 && id <= 0x10) {
        return "Oxygen Sensor Monitor " + bankSensor(id - 0x01);
    }
    if (id >= 0x21 && id <= 0x24) {
        return "Catalyst Monitor Bank " + n(id - 0x20);
    }
    if (id >= 0x31 && id <= 0x34) {
        return "EGR Monitor Bank " + n(id - 0x30);
    }
    if (id >= 0x35 && id <= 0x38) {
        return "VVT Monitor Bank " + n(id - 0x34);
    }
    switch (id) {
        case 0x39:
            return "EVAP Monitor (Cap Off / 0.150\")";
        case 0x3A:
            return "EVAP Monitor (0.090\")";
        case 0x3B:
            return "EVAP Monitor (0.040\")";
        case 0x3C:
            return "EVAP Monitor (0.020\")";
        case 0x3D:
            return "Purge Flow Monitor";
        default:
            break;
    }
    if (id >= 0x41 && id <= 0x50) {
        return "Oxygen Sensor Heater Monitor " + bankSensor(id - 0x41);
    }
    if (id >= 0x61 && id <= 0x64) {
        return "Heated Catalyst Monitor Bank " + n(id - 0x60);
    }
    if (id >= 0x71 && id <= 0x74) {
        return "Secondary Air Monitor " + n(id - 0x70);
    }
    if (id >= 0x81 && id <= 0x84) {
        return "Fuel System Monitor Bank " + n(id - 0x80);
    }
    if (id >= 0x85 && id <= 0x86) {
        return "Boost Pressure Control Monitor Bank " + n(id - 0x84);
    }
    if (id >= 0x90 && id <= 0x91) {
        return "NOx Adsorber Monitor Bank " + n(id - 0x8F);
    }
    if (id >= 0x98 && id <= 0x99) {
        return "NOx Catalyst Monitor Bank " + n(id - 0x97);
    }
    if (id == 0xA1) {
        return "Misfire Monitor General Data";
    }
    if (id >= 0xA2 && id <= 0xAD) {
        return "Misfire Cylinder " + n(id - 0xA1) + " Data";
    }
    if (id >= 0xB0 && id <= 0xB1) {
        return "PM Filter Monitor Bank " + n(id - 0xAF);
    }
    // Manufacturer or later assignments: still name the id, so a list of
    // results never shows a blank line.
    return "Monitor " + HexByte(monitorId);
}

}  // namespace obd::j1979
