#include "OptionValues.h"

#include <algorithm>
#include <cctype>

#include "zelt/app/Printable.h"
#include "zelt/app/Report.h"
#include "zelt/app/Session.h"

namespace zelt::scan {

// The command line is an application of the application library.
using namespace app;  // NOLINT(google-build-using-namespace)

namespace {

bool AllDigits(const std::string& text, bool hex) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [hex](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return hex ? std::isxdigit(byte) != 0 : std::isdigit(byte) != 0;
    });
}

// The digits' value, or `limit` + 1 once it passes `limit` (never wraps).
unsigned long long Value(const std::string& digits, int base, unsigned long long limit) {
    unsigned long long value = 0;
    for (char c : digits) {
        const int digit = std::isdigit(static_cast<unsigned char>(c))
                              ? c - '0'
                              : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
        value = value * static_cast<unsigned long long>(base) + static_cast<unsigned>(digit);
        if (value > limit) {
            return limit + 1;
        }
    }
    return value;
}

}  // namespace

long long ParseDecimal(const std::string& option, const std::string& text, long long minimum,
                       long long maximum) {
    const unsigned long long limit = static_cast<unsigned long long>(maximum);
    if (!AllDigits(text, false) || Value(text, 10, limit) > limit ||
        static_cast<long long>(Value(text, 10, limit)) < minimum) {
        throw UsageError("invalid value " + Quoted(text) + " for " + option +
                         ": give a number from " + std::to_string(minimum) + " to " +
                         std::to_string(maximum));
    }
    return static_cast<long long>(Value(text, 10, limit));
}

EcuChoice ParseEcu(const std::string& text) {
    constexpr unsigned long long kMaxAddress = 0xFFFFFFFF;
    constexpr unsigned long long kMaxIndex = 255;
    EcuChoice choice;
    // "@1" is an index; anything else is a response address in hex, as
    // users write it ("7E9", "18DAF110", the K-line's "10"), 0x allowed.
    choice.byAddress = text.empty() || text[0] != '@';
    const bool prefixed = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = !choice.byAddress ? text.substr(1)
                               : prefixed        ? text.substr(2)
                                                 : text;
    const unsigned long long limit = choice.byAddress ? kMaxAddress : kMaxIndex;
    const int base = choice.byAddress ? 16 : 10;
    if (!AllDigits(digits, choice.byAddress) || Value(digits, base, limit) > limit) {
        throw UsageError("invalid ECU " + Quoted(text) +
                         ": give an address such as 7E9 or an index such as @1");
    }
    choice.value = static_cast<std::uint32_t>(Value(digits, base, limit));
    return choice;
}

std::uint32_t ResolveEcu(const EcuChoice& choice, const std::string& text,
                         const std::vector<std::uint32_t>& addresses) {
    if (!choice.byAddress && choice.value < addresses.size()) {
        return addresses[choice.value];
    }
    if (choice.byAddress &&
        std::find(addresses.begin(), addresses.end(), choice.value) != addresses.end()) {
        return choice.value;
    }
    std::string known;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        known += (i ? ", " : "") + ("@" + std::to_string(i)) + "=" + EcuAddressText(addresses[i]);
    }
    throw UsageError("unknown ECU " + Quoted(text) + "; the vehicle has " +
                     (known.empty() ? "no answering ECU" : known));
}

}  // namespace zelt::scan
