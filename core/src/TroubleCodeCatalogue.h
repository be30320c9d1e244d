#pragma once

#include <map>
#include <string>

namespace obd::detail {

// The trouble codes the core knows a description for, keyed by code: the
// generic codes met most often, with their SAE J2012 titles.
const std::map<std::string, std::string>& TroubleCodeCatalogue();

// The description of `code` ("P0301"): its title when the catalogue has it;
// otherwise, for a generic code, the system group SAE J2012 files it under
// with the group's code range, e.g. "Ignition System or Misfire (P03xx)";
// empty for manufacturer-controlled and malformed codes.
std::string DescribeTroubleCode(const std::string& code);

}  // namespace obd::detail
