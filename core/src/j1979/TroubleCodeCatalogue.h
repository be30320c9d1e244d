#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace obd::detail {

// A code the core knows the SAE J2012 title of.
struct TroubleCodeTitle {
    std::string_view code;  // "P0301"
    std::string_view title;
};

// Every generic code with its J2012 title, sorted by code: the rows of
// src/data/generic-trouble-codes.tsv, read once on first use.
const std::vector<TroubleCodeTitle>& TroubleCodeCatalogue();

// The text of src/data/generic-trouble-codes.tsv, compiled in by the build.
std::string_view GenericTroubleCodeTable();

// The description of `code` ("P0301"): its title when the catalogue has it;
// otherwise, for a generic code, the system group SAE J2012 files it under
// with the group's code range, e.g. "Ignition System or Misfire (P03xx)";
// empty for manufacturer-controlled and malformed codes.
std::string DescribeTroubleCode(const std::string& code);

}  // namespace obd::detail
