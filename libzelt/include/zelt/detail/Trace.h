#pragma once

#include <ostream>

namespace zelt::detail {

// The text a getter traces when it answers from its cache.
inline constexpr const char* kReturnFromCache = "-return from cache";

// Writes `text` to a repository's trace stream. A trace stream is built
// without a stream buffer, so it is failed from the start and discards what it
// gets; checking that first keeps the cost of a trace at one read and avoids
// updating the state of a stream that many threads share.
inline void Trace(std::ostream& stream, const char* text) {
    if (stream.good()) {
        stream << text;
    }
}

}  // namespace zelt::detail
