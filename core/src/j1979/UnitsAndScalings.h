#pragma once

// The unit and scaling ids of service 06 test results (SAE J1979, appendix
// on units and scaling): what a 16-bit test value, minimum and maximum mean.
// Ids 0x01-0x7F are unsigned, ids 0x80 and up two's complement; most signed
// ids are the twin of the unsigned id 0x80 below them.

#include <cstdint>

#include "obd/MeasurementUnit.h"

namespace obd::j1979 {

// Physical value = raw * perBit + offset.
struct UnitAndScaling {
    std::uint8_t id;
    double perBit;
    double offset;
    MeasurementUnit unit;  // None for raw values, ratios and true/false

    bool IsSigned() const { return id >= 0x80; }
    std::int32_t RawMinimum() const { return IsSigned() ? -32768 : 0; }
    std::int32_t RawMaximum() const { return IsSigned() ? 32767 : 65535; }
    double ToValue(std::int32_t raw) const { return raw * perBit + offset; }
};

// The entry for `id`, or nullptr for an id the table does not define. The
// entries live for the whole process.
const UnitAndScaling* FindUnitAndScaling(std::uint8_t id);

}  // namespace obd::j1979
