// A build without the dashboard's packages (the Windows cross build, or
// libcpp-httplib-dev or libjs-dygraphs missing): no --serve option, so the
// command line refuses it as an unknown one.

#include "Options.h"

namespace zelt::scan {

const Mode kServeMode{nullptr, nullptr, [](const Options&) { return false; }, nullptr};

}  // namespace zelt::scan
