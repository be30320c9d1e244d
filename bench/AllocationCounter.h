#pragma once

#include <cstdint>

namespace zelt::bench {

// Number of calls of the global operator new made so far by the calling
// thread. The benchmark binary replaces operator new to count them.
std::uint64_t AllocationCount();

}  // namespace zelt::bench
