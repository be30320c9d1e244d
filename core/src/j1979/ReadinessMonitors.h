#pragma once

// The readiness monitors of PID 0x01 (since codes cleared) and PID 0x41
// (this drive cycle), by bit, as SAE J1979 lays them out: byte B bits 0-2 are
// the continuous monitors (supported) with their "incomplete" flags in bits
// 4-6, bit 3 is the ignition type, and bytes C (supported) and D
// (incomplete) name one non-continuous monitor per bit, which monitor
// depending on the ignition type. The PID text, the readiness section and
// the simulator all read these tables, so they cannot disagree on a bit.

#include <array>
#include <cstdint>

namespace obd::j1979 {

enum class IgnitionType { Spark, Compression };

struct ReadinessMonitor {
    const char* name;  // e.g. "Catalyst"; null where the bit is reserved
    const char* key;   // the monitor's key in a scenario file, e.g. "catalyst"
};

constexpr int kIgnitionTypeBit = 3;  // byte B: 1 = compression ignition

// Byte B bits 0-2.
const std::array<ReadinessMonitor, 3>& ContinuousMonitors();

// Bytes C and D bits 0-7 for `ignition`.
const std::array<ReadinessMonitor, 8>& NonContinuousMonitors(IgnitionType ignition);

// The ignition type byte B announces.
IgnitionType IgnitionOf(std::uint8_t byteB);

}  // namespace obd::j1979
