#pragma once

#include "Report.h"
#include "Session.h"

namespace zelt::scan {

// Reads everything the six repositories offer into one report, the way a
// diagnostics application fills its screens. Live values are read afresh.
Report Scan(Session& session);

// Asks the vehicle to clear its trouble codes and adds what it reports
// afterwards to `report`.
void ClearTroubleCodes(Session& session, Report& report);

}  // namespace zelt::scan
