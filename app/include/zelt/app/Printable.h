#pragma once

#include <string>

#include "zelt/app/Export.h"

namespace zelt::app {

// `text` safe to show on a terminal in one line: control bytes (a line feed,
// an escape sequence) and bytes that are not valid UTF-8 are written as
// "\xHH"; valid UTF-8 ("°C") is kept. Text that comes
// from a vehicle or an adapter passes through this before it is shown.
ZELT_APP_API std::string Printable(const std::string& text);

// A user's argument as an error line quotes it: Printable, and cut to its
// first 80 bytes ("...", and how long it was) so that the line stays one.
ZELT_APP_API std::string Quoted(const std::string& text);

}  // namespace zelt::app
