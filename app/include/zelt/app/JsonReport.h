#pragma once

#include <nlohmann/json.hpp>
#include <ostream>

#include "zelt/app/Export.h"
#include "zelt/app/Report.h"
#include "zelt/app/Units.h"

namespace zelt::app {

// The version of the report's JSON shape, written as "schema"; the shape is
// described by report.schema.json beside this file. A change that removes or
// retypes a key raises it.
constexpr int kJsonSchemaVersion = 1;

// The report as one JSON document in schema kJsonSchemaVersion: every key is
// always present (null where the vehicle reported nothing), numbers are JSON
// numbers with their unit and formatted text beside, identifiers (PIDs,
// monitor and test ids, ECU addresses) are numbers.
ZELT_APP_API nlohmann::ordered_json ToJson(const Report& report,
                                           UnitSystem units = UnitSystem::Metric);

// One parameter with its sensors, as in the report's live data; each
// sensor's number is the decoded one where `numbers` holds it; `ownUnit`
// (a profile's unit text) as for Present().
ZELT_APP_API nlohmann::ordered_json ToJson(const ParameterModel& parameter, UnitSystem units,
                                           const DecodedNumbers& numbers = {},
                                           const std::string& ownUnit = {});

// Writes `json` as JSON text: indented with `indent` >= 0, on one line
// otherwise. Text that is not valid UTF-8 (an adapter's banner in Latin-1)
// gets U+FFFD for each bad byte, so the document is still written.
ZELT_APP_API void WriteJson(const nlohmann::ordered_json& json, std::ostream& out, int indent);

}  // namespace zelt::app
