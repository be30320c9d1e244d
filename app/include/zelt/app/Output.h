#pragma once

// The one way reports and readings reach their reader: written, flushed,
// and checked, so that a report that did not arrive is never taken for one
// that did.

#include <functional>
#include <ostream>
#include <string>

#include "zelt/app/Export.h"

namespace zelt::app {

// Runs `write`, which writes to `out`, then flushes `out`. Throws ReaderGone
// when the reader went away (a closed pipe), std::runtime_error "cannot
// write the WHAT: REASON" (`what`: "report", "readings") when the text did
// not reach its file for another reason.
ZELT_APP_API void WriteFlushed(std::ostream& out, const std::string& what,
                               const std::function<void()>& write);

}  // namespace zelt::app
