#pragma once

#include "Options.h"
#include "zelt/app/Report.h"
#include "zelt/app/Session.h"

namespace zelt::scan {

// The scan: reads everything the vehicle offers (clearing its trouble codes
// on the way with --clear-codes) and writes the report.
int RunScan(const Options& options);

// --clear-codes: clears the trouble codes after `report` was read, and adds
// what the vehicle holds afterwards (modes/Clear.cpp).
void ClearCodes(app::Session& session, app::Report& report);

}  // namespace zelt::scan
