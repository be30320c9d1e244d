#pragma once

#include <cstdint>

namespace zelt::bench {

// Number of calls of the global operator new so far in this process. The
// benchmark binary replaces operator new to count them.
std::uint64_t AllocationCount();

}  // namespace zelt::bench
