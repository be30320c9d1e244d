// Trouble code texts. Titles are those of the SAE J2012 code list, kept as
// data in src/data/generic-trouble-codes.tsv; a code without a title is
// described by the system group J2012's structure files it under: the
// letter names the system, the first digit tells generic (ISO/SAE
// controlled) codes from manufacturer-controlled ones, and for generic codes
// the next digit names the group.

#include "j1979/TroubleCodeCatalogue.h"

#include <algorithm>
#include <cstddef>

namespace obd::detail {

namespace {

// A range of generic (ISO/SAE controlled) codes in SAE J2012: codes whose
// first three characters are `system`, `digit` and one of `groupDigits`
// (any group when null). The first range that holds a code names it.
struct CodeGroup {
    char system;
    char digit;
    const char* groupDigits;
    const char* name;
};

constexpr CodeGroup kCodeGroups[] = {
    {'P', '0', "0", "Fuel and Air Metering and Auxiliary Emission Controls"},
    {'P', '0', "1", "Fuel and Air Metering"},
    {'P', '0', "2", "Fuel and Air Metering (Injector Circuit)"},
    {'P', '0', "3", "Ignition System or Misfire"},
    {'P', '0', "4", "Auxiliary Emission Controls"},
    {'P', '0', "5", "Vehicle Speed, Idle Control and Auxiliary Inputs"},
    {'P', '0', "6", "Computer and Auxiliary Outputs"},
    {'P', '0', "789", "Transmission"},
    {'P', '0', "A", "Hybrid Propulsion"},
    {'P', '2', "012", "Fuel and Air Metering and Auxiliary Emission Controls"},
    {'P', '2', "3", "Ignition System or Misfire"},
    {'P', '2', "4", "Auxiliary Emission Controls"},
    {'P', '2', "5", "Auxiliary Inputs"},
    {'P', '2', "6", "Computer and Auxiliary Outputs"},
    {'P', '2', "7", "Transmission"},
    {'P', '2', "9A", "Fuel and Air Metering and Auxiliary Emission Controls"},
    {'P', '3', "4", "Cylinder Deactivation"},
    {'U', '0', "0", "Network Electrical"},
    {'U', '0', "12", "Network Communication"},
    {'U', '0', "3", "Network Software"},
    {'U', '0', "4", "Network Data"},
    // Generic codes in groups without a name of their own.
    {'P', '0', nullptr, "Powertrain, Generic Code"},
    {'P', '2', nullptr, "Powertrain, Generic Code"},
    {'P', '3', "56789", "Powertrain, Generic Code"},
    {'C', '0', nullptr, "Chassis, Generic Code"},
    {'B', '0', nullptr, "Body, Generic Code"},
    {'U', '0', nullptr, "Network Communication, Generic Code"},
};

bool Contains(const char* digits, char digit) {
    for (std::size_t i = 0; digits[i] != '\0'; ++i) {
        if (digits[i] == digit) {
            return true;
        }
    }
    return false;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool IsWellFormed(const std::string& code) {
    return code.size() == 5 && Contains("PCBU", code[0]) && code[1] >= '0' && code[1] <= '3' &&
           IsHexDigit(code[2]) && IsHexDigit(code[3]) && IsHexDigit(code[4]);
}

// "Ignition System or Misfire (P03xx)" for P0301; empty for codes no
// generic range holds.
std::string DescribeGroup(const std::string& code) {
    const std::string range = code.substr(0, 3) + "xx";
    for (const CodeGroup& group : kCodeGroups) {
        if (group.system == code[0] && group.digit == code[1] &&
            (group.groupDigits == nullptr || Contains(group.groupDigits, code[2]))) {
            return std::string(group.name) + " (" + range + ")";
        }
    }
    return {};
}

// The rows of the table: "code<TAB>title" lines, kept in the order the file
// gives them (sorted by code); lines starting with '#' are comments.
std::vector<TroubleCodeTitle> ReadTable(std::string_view text) {
    std::vector<TroubleCodeTitle> rows;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') {  // a checkout with CRLF line ends
            line.remove_suffix(1);
        }
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t tab = line.find('\t');
        if (line.empty() || line.front() == '#' || tab == std::string_view::npos) {
            continue;
        }
        rows.push_back({line.substr(0, tab), line.substr(tab + 1)});
    }
    return rows;
}

}  // namespace

const std::vector<TroubleCodeTitle>& TroubleCodeCatalogue() {
    static const std::vector<TroubleCodeTitle> catalogue = ReadTable(GenericTroubleCodeTable());
    return catalogue;
}

std::string DescribeTroubleCode(const std::string& code) {
    const auto& catalogue = TroubleCodeCatalogue();
    auto found = std::lower_bound(
        catalogue.begin(), catalogue.end(), code,
        [](const TroubleCodeTitle& entry, const std::string& key) { return entry.code < key; });
    if (found != catalogue.end() && found->code == code) {
        return std::string(found->title);
    }
    return IsWellFormed(code) ? DescribeGroup(code) : std::string();
}

}  // namespace obd::detail
