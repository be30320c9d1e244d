// Service 06 on-board monitor test results as CAN carries them: MID, TID,
// unit and scaling id, then value, minimum and maximum as big-endian 16-bit
// numbers whose meaning the unit and scaling id gives.

#include <algorithm>
#include <cmath>

#include "j1979/Codec.h"
#include "j1979/Numbers.h"
#include "j1979/UnitsAndScalings.h"

namespace obd::j1979 {

namespace {

using detail::FormatShortest;
using detail::HexByte;
constexpr std::size_t kRecordSize = 9;

const UnitAndScaling& RequireUnitAndScaling(std::uint8_t id) {
    const UnitAndScaling* found = FindUnitAndScaling(id);
    if (found == nullptr) {
        throw CodecError("unknown unit and scaling id " + HexByte(id));
    }
    return *found;
}

// An id the table does not know: the numbers as sent, unsigned, unscaled.
constexpr UnitAndScaling kRaw{0x00, 1, 0, MeasurementUnit::None};

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
    const UnitAndScaling* known = FindUnitAndScaling(record[2]);
    const UnitAndScaling& scaling = known != nullptr ? *known : kRaw;
    MonitorTestResult result;
    result.scaled = known != nullptr;
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
    // An unscaled record (one decoded with an unknown id) goes back as the
    // raw numbers it came as; a scaled one needs its id's scaling.
    const UnitAndScaling& scaling =
        result.scaled ? RequireUnitAndScaling(result.unitAndScalingId) : kRaw;
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
    if (IsSupportId(id)) {
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
