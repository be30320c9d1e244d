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

// What --ecu names: a response address in hex ("7E9", "0x7E9", "18DAF110",
// the K-line's "10") or, after "@", an index among the answering ECUs
// ("@1"), which cannot be read as an address.
struct EcuChoice {
    bool byAddress = false;
    std::uint32_t value = 0;
};

// Throws UsageError for anything but a hex address or "@" and a decimal index.
EcuChoice ParseEcu(const std::string& text);

// The response address `choice` names among `addresses` (the answering
// ECUs, in the vehicle's order); throws UsageError, listing them, for an
// ECU that did not answer.
std::uint32_t ResolveEcu(const EcuChoice& choice, const std::string& text,
                         const std::vector<std::uint32_t>& addresses);

}  // namespace zelt::scan
