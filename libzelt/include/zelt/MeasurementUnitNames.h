#pragma once

#include <string>

#include "obd/MeasurementUnit.h"
#include "zelt/Export.h"

namespace zelt {

// The short text shown behind a value of `unit`, UTF-8 encoded ("km/h",
// "°C"). Empty for MeasurementUnit::None and for any value without a name.
// Never fails; safe to call from any number of threads.
ZELT_API std::string ConvertMeasurementUnitToString(MeasurementUnit unit);

}  // namespace zelt
