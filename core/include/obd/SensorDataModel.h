#pragma once

// A sensor of a parameter with its limits and its value texts.
//
// Thread safety and ownership: plain structures without synchronisation. The
// services build new records for every call and keep no reference; the caller
// owns them and may share them between threads as long as nobody changes
// them.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Export.h"
#include "MeasurementUnit.h"

namespace obd {

// The range a numeric sensor can report, as SAE J1979 defines it.
struct OBD_API SensorLimitsDataModel {
    float minimum = 0;  // the lowest value the sensor can report
    float maximum = 0;  // the highest value the sensor can report
};

// The value texts of one sensor reading, without unit. `value` is the reading
// itself; `lowest`, `highest` and `average` summarise the readings of this
// sensor since the connection opened and are empty where no summary applies
// (freeze frames, texts that are not numbers).
struct OBD_API SensorValueDataModel {
    std::string value;    // the reading
    std::string lowest;   // the lowest reading since the connection opened
    std::string highest;  // the highest reading since the connection opened
    std::string average;  // the average of the readings since the connection opened
    // The reading as decoded, exactly: `value` is rounded for display (an
    // engine speed of 0.25 RPM reads "0"). Empty for texts that are no
    // number (a fuel system status) and for an absent sensor.
    std::optional<double> number;
};

// One measured quantity of a parameter.
struct OBD_API SensorDataModel {
    std::int32_t uid = 0;                           // see Pid2Uid()
    std::string name;                               // the sensor's name
    MeasurementUnit unit = MeasurementUnit::None;   // the unit of the sensor's values
    std::shared_ptr<SensorLimitsDataModel> limits;  // null for non-numeric sensors
    std::shared_ptr<SensorValueDataModel> value;    // null when there is no reading
};

}  // namespace obd
