#pragma once

#include <map>
#include <string>

namespace obd::detail {

// The trouble codes the core knows a description for, keyed by code.
const std::map<std::string, std::string>& TroubleCodeCatalogue();

// The description of `code`, empty when the catalogue lacks it.
std::string DescribeTroubleCode(const std::string& code);

}  // namespace obd::detail
