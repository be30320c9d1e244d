#pragma once

#include <stdexcept>
#include <string>
#include <utility>

#include "zelt/app/Export.h"

namespace zelt::app {

// Input the caller got wrong (an unknown ECU or PID, a unit system or an
// adapter address that is no such thing). The message is one line meant for
// the user; a front end shows it as its own kind of input error.
class ZELT_APP_API InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value the caller gave that is none the library takes (a unit system
// other than metric or imperial, a list of no parameter). The message says
// so in the library's words; a front end that names the value by its own
// setting (a command-line option, a keyword argument) words its message
// from value() and expected().
class ZELT_APP_API InvalidValue : public InputError {
public:
    // `what` is the message, `value` the value as given, `expected` what
    // would do ("metric or imperial").
    InvalidValue(const std::string& what, std::string value, std::string expected)
        : InputError(what), value_(std::move(value)), expected_(std::move(expected)) {}

    // The value as given.
    const std::string& value() const noexcept { return value_; }
    // What would do, to follow "give ": "metric or imperial".
    const std::string& expected() const noexcept { return expected_; }

private:
    std::string value_;
    std::string expected_;
};

// The report's reader went away (a pipe closed by `head`, say): nothing
// left to write to, and no failure of the scan.
class ZELT_APP_API ReaderGone : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace zelt::app
