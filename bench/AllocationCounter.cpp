#include "AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace {
// One counter per thread: a single shared counter would be a cache line that
// every allocation of every thread writes, and the thread benchmarks would
// measure that line bouncing between cores instead of the repositories.
thread_local std::uint64_t allocations = 0;
}  // namespace

namespace zelt::bench {
std::uint64_t AllocationCount() {
    return allocations;
}
}  // namespace zelt::bench

// Replacing the global allocation functions counts every allocation of the
// process, those inside the shared libraries included.
void* operator new(std::size_t size) {
    ++allocations;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
