#pragma once

#include <stdexcept>

#include "zelt/app/Export.h"

namespace zelt::app {

// Input the caller got wrong (an unknown ECU or PID, a unit system or an
// adapter address that is no such thing). The message is one line meant for
// the user; a front end shows it as its own kind of input error.
class ZELT_APP_API InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The report's reader went away (a pipe closed by `head`, say): nothing
// left to write to, and no failure of the scan.
class ZELT_APP_API ReaderGone : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace zelt::app
