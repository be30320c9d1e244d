#pragma once

#include "zelt/app/Export.h"
#include "zelt/app/Report.h"
#include "zelt/app/Session.h"

namespace zelt::app {

// Reads everything the six repositories offer from each ECU of `ecus` (all
// that answered when empty) into one report, the way a diagnostics
// application fills its screens. Live values are read afresh.
ZELT_APP_API Report Scan(Session& session, const std::vector<std::uint32_t>& ecus = {},
                         bool overAdapter = false);

// Asks each scanned ECU to clear its trouble codes and adds what it reports
// afterwards to `report`.
ZELT_APP_API void ClearTroubleCodes(Session& session, Report& report);

}  // namespace zelt::app
