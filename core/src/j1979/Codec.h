#pragma once

// SAE J1979 data codec: turns the data bytes of service 01/02 parameters,
// trouble codes and service 06 test results into physical values and back.
// Pure functions without state; safe from any thread.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "obd/MeasurementUnit.h"
#include "obd/ParameterIdentifier.h"

namespace obd::j1979 {

using Bytes = std::vector<std::uint8_t>;

// Thrown for bytes or values the codec cannot handle: an unknown PID, a wrong
// data length, a value outside what the PID can carry, a malformed code.
class CodecError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One quantity a parameter carries.
struct SensorDefinition {
    std::string name;  // e.g. "Engine Speed"
    MeasurementUnit unit = MeasurementUnit::None;
    // Numeric sensors have the SAE J1979 range as limits; bit fields and
    // enumerations (fuel system status, OBD standard, ...) have none.
    bool numeric = true;
    float minimum = 0;
    float maximum = 0;
};

// A parameter (service 01 PID) the codec knows.
struct PidDefinition {
    std::uint8_t pid = 0;
    std::string name;           // e.g. "Engine Speed"
    std::size_t dataBytes = 0;  // data bytes after the PID byte
    std::vector<SensorDefinition> sensors;
};

// One decoded quantity. Value texts are locale independent: integer
// quantities (times, counts, distances, engine speed) as plain integers,
// others with a fixed number of decimals per sensor. A sensor that the PID's
// leading support byte (most PIDs from 0x65 on) marks as absent decodes to
// number 0 and an empty text.
struct DecodedSensor {
    double number = 0;  // the physical value; meaningful for numeric sensors
                        // and 0 for the others
    std::string text;   // the value as shown, without unit (e.g. "850", "14.5",
                        // "Closed loop", "OBD-II as defined by the CARB")
};

// The definition of `pid`, or nullptr when the codec does not know it. Knows
// every PID from 0x00 to 0x7F, the support bitmaps 0x80, 0xA0 and 0xC0, the
// numeric PIDs above 0x7F listed in PidTable.cpp (odometer 0xA6 among them)
// and the core's battery voltage 0xF4 (2 bytes, millivolts: 0..65.535 V,
// like the control module voltage 0x42). The definitions live for the whole
// process.
const PidDefinition* FindPid(std::uint8_t pid);

// The number of data bytes that follow `pid` in a service 01 answer: 4 for
// the support bitmaps (0x00, 0x20, ... 0xE0), the definition's length for
// the PIDs the codec knows; 0 when unknown (such a PID cannot be found in a
// multi-PID answer).
std::size_t CurrentDataLength(std::uint8_t pid);

// The length of one ECU's service 01 answer to all of `pids` (41, then each
// PID with its data bytes); 0 when the length of one of them is unknown.
std::size_t CurrentDataAnswerLength(const std::vector<std::uint8_t>& pids);

// The ISO 15765-2 frames that answer takes: what a response count digit
// counts on CAN. 0 when its length is unknown.
std::size_t CurrentDataAnswerFrames(const std::vector<std::uint8_t>& pids);

// Decodes the data bytes of `pid` (without service and PID bytes) into one
// value per sensor of its definition, in the same order.
// Throws CodecError for an unknown PID or a data length that does not match.
std::vector<DecodedSensor> DecodePid(std::uint8_t pid, const Bytes& data);

// Encodes one physical value per numeric sensor of `pid` (in definition
// order) into its data bytes. PIDs with non-numeric sensors are given as raw
// data bytes instead (see EncodeRawPid). Throws CodecError for an unknown PID,
// a wrong number of values or a value outside the sensor's range. Values are
// rounded to the nearest step the PID can carry; a leading support byte marks
// every sensor present; reserved bytes are 0.
Bytes EncodePid(std::uint8_t pid, const std::vector<double>& values);

// Checks raw data bytes for `pid` (length) and returns them.
Bytes EncodeRawPid(std::uint8_t pid, const Bytes& data);

// Trouble codes: two bytes <-> "P0301" (first letter P, C, B or U).
std::string DecodeTroubleCode(std::uint16_t raw);
std::uint16_t EncodeTroubleCode(const std::string& code);  // throws CodecError

// True when `vin` is 17 valid characters (no I, O, Q) with a correct check
// digit in position 9.
bool IsVinValid(const std::string& vin);

// A service 06 test result as sent on CAN: MID, TID, unit and scaling id,
// then value, minimum and maximum as 16-bit numbers.
struct MonitorTestResult {
    std::uint8_t monitorId = 0;
    std::uint8_t testId = 0;
    std::uint8_t unitAndScalingId = 0;
    MeasurementUnit unit = MeasurementUnit::None;
    double value = 0;
    double minimum = 0;
    double maximum = 0;
    // False when the unit and scaling id is not one the codec knows: the
    // three numbers are then the raw 16-bit numbers and the unit is None.
    bool scaled = true;
};

// Decodes one 9-byte record; throws CodecError for a short record only. A
// record with an unknown unit and scaling id is kept unscaled, never lost.
MonitorTestResult DecodeMonitorTestResult(const std::uint8_t* record, std::size_t size);
// Encodes a result with physical values; throws CodecError when a value does
// not fit the unit and scaling id, or a scaled result's id is unknown. An
// unscaled result goes back as the raw numbers it was decoded from.
Bytes EncodeMonitorTestResult(const MonitorTestResult& result);
// The name of an on-board monitor id, e.g. 0x21 "Catalyst Monitor Bank 1";
// ids without a standard name give "Monitor 0x5A".
std::string MonitorName(std::uint8_t monitorId);

}  // namespace obd::j1979
