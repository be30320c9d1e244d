#pragma once

#include <nlohmann/json.hpp>

#include "Report.h"

namespace zelt::scan {

// The report as one JSON document. Its shape is stable: every key is always
// present (null or empty where the vehicle reported nothing), so scripts can
// rely on it.
nlohmann::ordered_json ToJson(const Report& report);

// One sensor as JSON: name, raw value text, formatted text and unit name.
nlohmann::ordered_json ToJson(const SensorModel& sensor);

}  // namespace zelt::scan
