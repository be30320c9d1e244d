#pragma once

#include <nlohmann/json.hpp>
#include <ostream>

#include "Report.h"

namespace zelt::scan {

// The report as one JSON document. Its shape is stable: every key is always
// present (null or empty where the vehicle reported nothing), so scripts can
// rely on it.
nlohmann::ordered_json ToJson(const Report& report);

// Writes `json` as JSON text: indented with `indent` >= 0, on one line
// otherwise. Text that is not valid UTF-8 (an adapter's banner in Latin-1)
// gets U+FFFD for each bad byte, so the document is still written.
void WriteJson(const nlohmann::ordered_json& json, std::ostream& out, int indent);

// One sensor as JSON: name, raw value text, formatted text and unit name.
nlohmann::ordered_json ToJson(const SensorModel& sensor);

}  // namespace zelt::scan
