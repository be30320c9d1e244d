#pragma once

#include <ostream>

namespace zelt::scan {

// --discover: lists the adapters within reach, each with the --adapter
// address that reaches it, on `out`; what could not be looked for on
// `err`. Returns the exit code (0).
int Discover(std::ostream& out, std::ostream& err);

}  // namespace zelt::scan
