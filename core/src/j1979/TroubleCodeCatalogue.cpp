// Trouble code texts. Titles are those of the SAE J2012 code list, kept as
// data in a file of their own (see TroubleCodeCatalogue.h); a code without a
// title is described by the system group J2012's structure files it under:
// the letter names the system, the first digit tells generic (ISO/SAE
// controlled) codes from manufacturer-controlled ones, and for generic codes
// the next digit names the group.

#include "j1979/TroubleCodeCatalogue.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <iostream>

#include "json/BoundedFile.h"
#include "orvane/Mutex.h"
#include "orvane/ThreadAnnotations.h"

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

// The file holds some 2,300 titles in about 120 KiB; anything far larger is
// not a title file.
constexpr std::size_t kMaxTitleFileBytes = std::size_t{1} << 20;

bool IsCleanTitle(std::string_view title) {
    return !title.empty() && title.front() != ' ' && title.back() != ' ' &&
           std::all_of(title.begin(), title.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

// The rows of `titles.text`: "code<TAB>title" lines sorted by code; lines
// starting with '#' are comments. Empty rows and the reason when a line is
// not such a row.
std::string ReadRows(TroubleCodeTitles& titles) {
    std::string_view text = titles.text;
    for (std::size_t number = 1; !text.empty(); ++number) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') {  // a checkout with CRLF line ends
            line.remove_suffix(1);
        }
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t tab = line.find('\t');
        const std::string_view code = line.substr(0, tab);
        const std::string_view title =
            tab == std::string_view::npos ? std::string_view() : line.substr(tab + 1);
        const std::string where = "line " + std::to_string(number) + ": ";
        if (!IsWellFormed(std::string(code)) || !IsCleanTitle(title)) {
            titles.rows.clear();
            return where + "not a trouble code, a tab and a title";
        }
        if (!titles.rows.empty() && titles.rows.back().code >= code) {
            titles.rows.clear();
            return where + std::string(code) + " is out of order (rows are sorted by code)";
        }
        titles.rows.push_back({code, title});
    }
    return {};
}

// The title file in use and what reading it gave, once read.
struct Catalogue {
    orvane::Mutex mutex;
    std::string path ORVANE_GUARDED_BY(mutex);  // set by SetTroubleCodeTitleFile
    std::shared_ptr<const TroubleCodeTitles> titles ORVANE_GUARDED_BY(mutex);
    std::string problem ORVANE_GUARDED_BY(mutex);
};

Catalogue& TheCatalogue() {
    static Catalogue catalogue;
    return catalogue;
}

// Reads the file at `path` into `titles`; the reason when it gave none.
// `named`: the user named the file, so its absence is a problem too.
std::string ReadTitleFile(const std::string& path, bool named, TroubleCodeTitles& titles) {
    switch (ReadBoundedFile(path, kMaxTitleFileBytes, titles.text)) {
        case FileRead::Read:
            break;
        case FileRead::CannotOpen:
            return named ? "cannot open " + path : std::string();
        case FileRead::TooLarge:
            return path + " is larger than 1 MiB";
        case FileRead::CannotRead:
            return "cannot read " + path;
    }
    const std::string problem = ReadRows(titles);
    return problem.empty() ? problem : path + ": " + problem;
}

// Reads the titles if nobody has since the file was named.
std::shared_ptr<const TroubleCodeTitles> LoadedTitles(std::string* problem) {
    Catalogue& catalogue = TheCatalogue();
    orvane::MutexLock lock(catalogue.mutex);
    if (!catalogue.titles) {
        std::string path = catalogue.path;
        bool named = !path.empty();
        if (!named) {
            const char* variable = std::getenv("ZELT_TROUBLE_CODES");
            named = variable != nullptr && *variable != '\0';
            path = named ? variable : ZELT_TROUBLE_CODE_TITLE_FILE;
        }
        auto titles = std::make_shared<TroubleCodeTitles>();
        catalogue.problem = ReadTitleFile(path, named, *titles);
        if (!catalogue.problem.empty()) {
            // Told once per file: a title file that cannot be used is a
            // mistake of the install, not of the vehicle.
            std::cerr << "zelt: trouble code titles not used: " << catalogue.problem
                      << "; codes are described by their group\n";
        }
        catalogue.titles = std::move(titles);
    }
    if (problem != nullptr) {
        *problem = catalogue.problem;
    }
    return catalogue.titles;
}

}  // namespace

std::shared_ptr<const TroubleCodeTitles> TroubleCodeCatalogue() {
    return LoadedTitles(nullptr);
}

void SetTroubleCodeTitleFile(const std::string& path) {
    Catalogue& catalogue = TheCatalogue();
    orvane::MutexLock lock(catalogue.mutex);
    catalogue.path = path;
    catalogue.titles.reset();
    catalogue.problem.clear();
}

std::string TroubleCodeTitleProblem() {
    std::string problem;
    LoadedTitles(&problem);
    return problem;
}

std::string DescribeTroubleCode(const std::string& code) {
    const auto titles = TroubleCodeCatalogue();
    const auto& rows = titles->rows;
    auto found = std::lower_bound(
        rows.begin(), rows.end(), code,
        [](const TroubleCodeTitle& entry, const std::string& key) { return entry.code < key; });
    if (found != rows.end() && found->code == code) {
        return std::string(found->title);
    }
    return IsWellFormed(code) ? DescribeGroup(code) : std::string();
}

}  // namespace obd::detail
