#pragma once

#include <cstdint>

namespace obd::detail {

// Service 09 info types. Those J1979 has no number for (or whose number
// this core does not follow) are this core's own, documented in
// scenarios/README.md.
namespace info {
constexpr std::uint8_t kVin = 0x02;
constexpr std::uint8_t kCalid = 0x04;
constexpr std::uint8_t kCvn = 0x06;
constexpr std::uint8_t kPerformanceSpark = 0x08;
constexpr std::uint8_t kEcuName = 0x0A;
constexpr std::uint8_t kPerformanceCompression = 0x0B;
constexpr std::uint8_t kEsn = 0x0D;
constexpr std::uint8_t kErotan = 0x0F;
constexpr std::uint8_t kGtrNumber = 0x11;
constexpr std::uint8_t kFueledEngineOperation = 0x12;
constexpr std::uint8_t kCertificationTestGroup = 0x13;
constexpr std::uint8_t kDistanceSinceEvap = 0x14;
constexpr std::uint8_t kMotorcycleCategory = 0x15;
constexpr std::uint8_t kVodEngineRunIdleTime = 0x41;
constexpr std::uint8_t kVodFuelDistanceUsed = 0x42;
constexpr std::uint8_t kVodPkeEoe = 0x43;
constexpr std::uint8_t kVodPsa = 0x44;
}  // namespace info

}  // namespace obd::detail
