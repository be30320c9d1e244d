#pragma once

#include <ostream>

#include "Report.h"

namespace zelt::scan {

// Writes the report as readable text, one section per subject, tables
// aligned, values in `units`; each scanned ECU in turn. With `colour` the
// section headings are highlighted with ANSI escapes (for terminals only).
void WriteTextReport(const Report& report, std::ostream& out, bool colour, UnitSystem units);

}  // namespace zelt::scan
