#pragma once

// The records the diagnostics service returns: readiness monitors, on-board
// monitor test results, performance counters, oxygen sensor monitors and
// vehicle operation data.
//
// Thread safety and ownership: plain structures without synchronisation. The
// service builds new records for every call and hands them over as shared
// pointers; the core keeps no reference, so the caller owns them and may
// share them between threads as long as nobody changes them.

#include <cstdint>
#include <string>
#include <vector>

#include "Export.h"
#include "MeasurementUnit.h"

namespace obd {

// One readiness monitor (service 01 PID 01 or PID 41).
struct OBD_API ReadinessMonitorDataModel {
    std::string name;        // e.g. "Catalyst"
    bool supported = false;  // true when the vehicle has this monitor
    bool complete = false;   // true when the monitor has completed
};

// One on-board monitor test result (service 06): monitor id, test id, the
// unit and scaling id and the scaled value with its limits.
struct OBD_API DiagnosticMonitorDataModel {
    std::uint8_t monitorId = 0;         // MID
    std::uint8_t testId = 0;            // TID
    std::string monitorName;            // e.g. "Catalyst Monitor Bank 1"
    std::string testName;               // e.g. "Test 0x83"
    std::uint8_t unitAndScalingId = 0;  // the SAE J1979 unit and scaling id (UASID) of the test
    MeasurementUnit unit = MeasurementUnit::None;  // the unit of `value`, `minimum` and `maximum`
    double value = 0;                              // the test value, scaled
    double minimum = 0;                            // the lowest value that passes, scaled
    double maximum = 0;                            // the highest value that passes, scaled
    bool passed = false;                           // minimum <= value <= maximum
};

// One in-use performance tracking counter (service 09). For a monitor the
// counter is a ratio numerator/denominator; for the general counters (OBD
// monitoring conditions, ignition cycles) the denominator is 0.
struct OBD_API PerformanceCounterDataModel {
    std::string name;               // the counter's name
    std::uint32_t numerator = 0;    // how often the monitor ran
    std::uint32_t denominator = 0;  // how often its conditions were met
};

// Where an oxygen sensor sits: bank 1 to 4, sensor 1 to 4 counted from the
// engine. The value is (bank - 1) * 4 + (sensor - 1).
enum class OxygenSensorLocation : std::int32_t {
    Bank1Sensor1 = 0,
    Bank1Sensor2 = 1,
    Bank1Sensor3 = 2,
    Bank1Sensor4 = 3,
    Bank2Sensor1 = 4,
    Bank2Sensor2 = 5,
    Bank2Sensor3 = 6,
    Bank2Sensor4 = 7,
    Bank3Sensor1 = 8,
    Bank3Sensor2 = 9,
    Bank3Sensor3 = 10,
    Bank3Sensor4 = 11,
    Bank4Sensor1 = 12,
    Bank4Sensor2 = 13,
    Bank4Sensor3 = 14,
    Bank4Sensor4 = 15,
};

// One oxygen sensor monitor test result of one sensor location.
struct OBD_API OxygenSensorMonitorDataModel {
    // The oxygen sensor the result belongs to.
    OxygenSensorLocation location = OxygenSensorLocation::Bank1Sensor1;
    std::uint8_t testId = 0;                       // the test id (TID)
    std::string name;                              // e.g. "Rich to lean sensor threshold voltage"
    MeasurementUnit unit = MeasurementUnit::None;  // the unit of `value`, `minimum` and `maximum`
    double value = 0;                              // the test value
    double minimum = 0;                            // the lowest value that passes
    double maximum = 0;                            // the highest value that passes
    bool passed = false;                           // true when `value` lies within the limits
};

// One labelled value of a vehicle operation data record.
struct OBD_API VehicleOperationDataEntry {
    std::string label;                             // what the value counts
    std::string value;                             // the value as text
    MeasurementUnit unit = MeasurementUnit::None;  // the unit of `value`
};

// One vehicle operation data record (engine run and idle time, fuel and
// distance used, positive kinetic energy and engine output energy, propulsion
// system active time), each a list of labelled values.
struct OBD_API VehicleOperationDataModel {
    std::string name;                                // the record's name
    std::vector<VehicleOperationDataEntry> entries;  // the record's values in the vehicle's order
};

}  // namespace obd
