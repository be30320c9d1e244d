#pragma once

#include "Options.h"
#include "Vehicle.h"
#include "zelt/app/Watch.h"

namespace zelt::scan {

// What --watch, --interval, --count and the output options ask for, read
// with the vehicle's profile (parameter names) and units. Throws UsageError
// or the library's InputError for a value it refuses.
app::WatchOptions ReadWatchOptions(const Options& options, const Vehicle& vehicle);

}  // namespace zelt::scan
