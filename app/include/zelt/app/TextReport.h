#pragma once

#include <ostream>

#include "zelt/app/Export.h"
#include "zelt/app/Report.h"

namespace zelt::app {

// Writes the report as readable text, one section per subject, tables
// aligned, values in `units`; each scanned ECU in turn. With `colour` the
// section headings are highlighted with ANSI escapes (for terminals only).
ZELT_APP_API void WriteTextReport(const Report& report, std::ostream& out, bool colour,
                                  UnitSystem units);

}  // namespace zelt::app
