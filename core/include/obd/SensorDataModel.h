#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Export.h"
#include "MeasurementUnit.h"

namespace obd {

// The range a numeric sensor can report, as SAE J1979 defines it.
struct OBD_API SensorLimitsDataModel {
    float minimum = 0;
    float maximum = 0;
};

// The value texts of one sensor reading, without unit. `value` is the reading
// itself; `lowest`, `highest` and `average` summarise the readings of this
// sensor since the connection opened and are empty where no summary applies
// (freeze frames, texts that are not numbers).
struct OBD_API SensorValueDataModel {
    std::string value;
    std::string lowest;
    std::string highest;
    std::string average;
};

// One measured quantity of a parameter.
struct OBD_API SensorDataModel {
    std::int32_t uid = 0;  // see Pid2Uid()
    std::string name;
    MeasurementUnit unit = MeasurementUnit::None;
    std::shared_ptr<SensorLimitsDataModel> limits;  // null for non-numeric sensors
    std::shared_ptr<SensorValueDataModel> value;    // null when there is no reading
};

}  // namespace obd
