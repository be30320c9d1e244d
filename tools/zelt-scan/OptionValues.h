#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelt::scan {

// A command line the user got wrong (a bad option value, options that do
// not go together). The message is one line meant for the user. Input the
// application library refuses (zelt::app::InputError) is shown the same way.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A decimal whole number from `minimum` to `maximum` given as the value of
// `option`. Signs, leading zeros that would read as octal elsewhere ("010"
// is ten), hexadecimal and numbers out of range are refused: throws
// UsageError naming the option and the range.
long long ParseDecimal(const std::string& option, const std::string& text, long long minimum,
                       long long maximum);

}  // namespace zelt::scan
