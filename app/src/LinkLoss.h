#pragma once

#include <algorithm>
#include <cctype>
#include <string>

namespace zelt::app {

// Why the link to the adapter went, as the user reads it: `lost`, the
// transport's reason ("the adapter closed the connection"), after what the
// adapter printed just before (`adapterError`: "BUSY", "LV RESET") when
// that is one of its own status texts, which an ELM327 writes in capitals;
// the core's own words for a drop add nothing to `lost`.
inline std::string LinkLoss(const std::string& lost, const std::string& adapterError) {
    const bool statusText =
        !adapterError.empty() && std::none_of(adapterError.begin(), adapterError.end(), [](char c) {
            return std::islower(static_cast<unsigned char>(c));
        });
    if (lost.empty() || !statusText) {
        return lost.empty() ? adapterError : lost;
    }
    return adapterError + ", then " + lost;
}

}  // namespace zelt::app
