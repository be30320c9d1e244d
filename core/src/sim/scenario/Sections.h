#pragma once

// The sections of a scenario, one reader each. Each checks its part of the
// document and fails with the path of the first fault.

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sim/VehicleModel.h"
#include "sim/scenario/Reader.h"

namespace obd::sim::scenario {

constexpr std::size_t kShortTextSize = 17;  // VIN, ESN, EROTAN, a module's name
constexpr std::size_t kLongTextSize = 32;   // the other texts this core carries

// What the protocol can carry. PID 0x01 counts confirmed codes in 7 bits; a
// code answer leads with a one-byte count.
constexpr std::size_t kMaxConfirmedCodes = 0x7F;
constexpr std::size_t kMaxCodes = 0xFF;

// One numeric sensor of a PID: its place among the PID's sensors.
struct SensorOfPid {
    std::uint8_t pid;
    std::size_t index;
};

// An ECU answering OBD requests (Ecu.cpp), and its sections.
EcuModel ReadEcu(const Reader& r, const Json& json, const std::string& path);

// Live values and PIDs (LiveValues.cpp).
std::uint8_t ReadPidKey(const Reader& r, const std::string& key, const std::string& path);
LiveValue ReadLiveValue(const Reader& r, const Json& json, const std::string& path,
                        const SensorOfPid* sensor);
PidSource ReadPidSource(const Reader& r, std::uint8_t pid, const Json& json,
                        const std::string& path, bool constantOnly);
std::map<std::uint8_t, PidSource> ReadLivePids(const Reader& r, const Json& json,
                                               const std::string& path);

// Trouble codes, freeze frames and clearing them (TroubleCodes.cpp).
std::uint16_t ReadTroubleCode(const Reader& r, const Json& json, const std::string& path);
void ReadTroubleCodes(const Reader& r, const Json& json, const std::string& path, EcuModel& ecu);
void ReadFreezeFrames(const Reader& r, const Json& json, const std::string& path, EcuModel& ecu);
void ReadClearCodes(const Reader& r, const Json& json, const std::string& path, EcuModel& ecu);

// Readiness monitors (Readiness.cpp).
void ReadReadiness(const Reader& r, const Json& json, const std::string& path, EcuModel& ecu);

// Service 06 test results and service 08 routines (OnBoardTests.cpp).
void ReadTestResults(const Reader& r, const Json& json, const std::string& path, EcuModel& ecu);
void ReadRoutines(const Reader& r, const Json& json, const std::string& path, EcuModel& ecu);

// Service 09 vehicle information (VehicleInformation.cpp, InUsePerformance.cpp).
Bytes Padded(const std::string& text, std::size_t size);
void ReadEcuName(const Reader& r, const Json& json, const std::string& path, EcuModel& ecu);
void ReadVehicleInformation(const Reader& r, const Json& json, const std::string& path,
                            EcuModel& ecu);
void ReadInUsePerformance(const Reader& r, const Json& json, const std::string& path,
                          EcuModel& ecu);
void ReadVehicleOperationData(const Reader& r, const Json& json, const std::string& path,
                              EcuModel& ecu);

// Modules answering UDS to physical requests (ProfileEcus.cpp).
void ReadProfileEcus(const Reader& r, const Json& json, const std::string& path,
                     std::set<std::uint32_t>& addresses, VehicleModel& model);

}  // namespace obd::sim::scenario
