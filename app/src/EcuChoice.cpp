#include "zelt/app/EcuChoice.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <system_error>

#include "zelt/app/Errors.h"
#include "zelt/app/Printable.h"
#include "zelt/app/Report.h"

namespace zelt::app {

namespace {

// The value of `digits` in `base`; nothing unless they are all digits of
// that base (no sign, no prefix, no space) and the value is at most `limit`.
std::optional<unsigned long long> Number(const std::string& digits, int base,
                                         unsigned long long limit) {
    unsigned long long value = 0;
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value, base);
    if (digits.empty() || stop != end || error != std::errc() || value > limit) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

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
    const auto value =
        Number(digits, choice.byAddress ? 16 : 10, choice.byAddress ? kMaxAddress : kMaxIndex);
    if (!value) {
        throw InputError("invalid ECU " + Quoted(text) +
                         ": give an address such as 7E9 or an index such as @1");
    }
    choice.value = static_cast<std::uint32_t>(*value);
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
    throw InputError("unknown ECU " + Quoted(text) + "; the vehicle has " +
                     (known.empty() ? "no answering ECU" : known));
}

}  // namespace zelt::app
