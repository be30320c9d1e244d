#include "OptionValues.h"

#include <cctype>
#include <charconv>
#include <system_error>

#include "zelt/app/Printable.h"
#include "zelt/app/Report.h"
#include "zelt/app/Session.h"

namespace zelt::scan {

// The command line is an application of the application library.
using namespace app;  // NOLINT(google-build-using-namespace)

long long ParseDecimal(const std::string& option, const std::string& text, long long minimum,
                       long long maximum) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    // Digits only: from_chars would take a minus sign.
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) || stop != end ||
        error != std::errc() || value < minimum || value > maximum) {
        throw UsageError("invalid value " + Quoted(text) + " for " + option +
                         ": give a number from " + std::to_string(minimum) + " to " +
                         std::to_string(maximum));
    }
    return value;
}

}  // namespace zelt::scan
