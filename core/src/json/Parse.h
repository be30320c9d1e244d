#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>

namespace obd::detail {

// Parses `text` into `root`. A fault comes back as its JSON path ("" for
// the document) and what is wrong: invalid JSON (the parser's words), or a
// key an object holds twice, which the parser alone would resolve silently
// to its last value.
std::optional<std::pair<std::string, std::string>> ParseJson(const std::string& text,
                                                             nlohmann::json& root);

}  // namespace obd::detail
