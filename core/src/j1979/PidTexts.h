#pragma once

// Readable texts of the service 01 parameters that are bit fields or
// enumerations. Each function reads the bytes of one field, starting at
// `field`; the PID table guarantees that the PID carries those bytes.

#include <cstdint>
#include <string>

namespace obd::j1979::detail {

// The PIDs a support bitmap (4 bytes) marks, as two-digit hex numbers in
// ascending order ("01 03 0C 20"), or "None".
std::string SupportedPidsText(std::uint8_t basePid, const std::uint8_t* field);

// Monitor status (PID 0x01 from byte A, PID 0x41 from byte B onwards).
std::string MilStatusText(const std::uint8_t* field);         // byte A
std::string TroubleCodeCountText(const std::uint8_t* field);  // byte A
std::string IgnitionTypeText(const std::uint8_t* field);      // byte B
// The monitors that are supported (enabled) and complete, or supported and
// not complete; bytes B, C and D. Byte B bit 3 decides whether C and D name
// spark or compression ignition monitors.
std::string MonitorsCompleteText(const std::uint8_t* field);
std::string MonitorsIncompleteText(const std::uint8_t* field);

std::string FreezeFrameTroubleCodeText(const std::uint8_t* field);  // 2 bytes
std::string FuelSystemStatusText(const std::uint8_t* field);
std::string SecondaryAirStatusText(const std::uint8_t* field);
std::string OxygenSensorsPresent2BanksText(const std::uint8_t* field);
std::string OxygenSensorsPresent4BanksText(const std::uint8_t* field);
std::string ObdStandardText(const std::uint8_t* field);
std::string FuelTypeText(const std::uint8_t* field);
std::string EmissionRequirementsText(const std::uint8_t* field);

// Auxiliary input and output status bits (PID 0x1E byte A, PID 0x65 byte B).
std::string PowerTakeOffText(const std::uint8_t* field);  // bit 0
std::string NeutralDriveText(const std::uint8_t* field);  // bit 1
std::string ManualGearText(const std::uint8_t* field);    // bit 2
std::string GlowPlugLampText(const std::uint8_t* field);  // bit 3

// Closed loop control status of boost pressure and VGT, A in bits 0-1 and B
// in bits 2-3.
std::string ControlStatusAText(const std::uint8_t* field);
std::string ControlStatusBText(const std::uint8_t* field);

// NOx and PM not-to-exceed control area status bits.
std::string NteStatusText(const std::uint8_t* field);

}  // namespace obd::j1979::detail
