#pragma once

#include <string>

#include "obd/MeasurementUnit.h"

namespace obd::profiles {

// The unit a profile's unit text names ("°C", "km/h", "%"); None for a text
// the unit list lacks, whose readings then carry no unit of the list.
MeasurementUnit UnitOf(const std::string& text);

}  // namespace obd::profiles
