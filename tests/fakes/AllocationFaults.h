#pragma once

// Makes one chosen allocation of the current thread fail with std::bad_alloc,
// to check that code which allocates part-way through an update leaves its
// state as it was.
//
// Include this header in exactly one source file of a test binary: it
// replaces the global operator new and delete of that binary. Allocations
// made inside a shared library reach the replacement only where the dynamic
// linker lets the executable's definitions take precedence (ELF); elsewhere
// (a Windows DLL) the armed failure never fires, which fired() tells.

#include <cstddef>
#include <cstdlib>
#include <new>

namespace zelt::testing {

namespace allocation_faults {
// Allocations of this thread left before the one that fails; 0: none armed.
inline thread_local int countdown = 0;
inline thread_local bool fired = false;
}  // namespace allocation_faults

// Arms the `nth` allocation of this thread from now on (1: the next one) to
// throw std::bad_alloc; disarms on destruction.
class FailingAllocation {
public:
    explicit FailingAllocation(int nth) {
        allocation_faults::fired = false;
        allocation_faults::countdown = nth;
    }
    ~FailingAllocation() { allocation_faults::countdown = 0; }

    FailingAllocation(const FailingAllocation&) = delete;
    FailingAllocation& operator=(const FailingAllocation&) = delete;

    // Whether the armed allocation has failed.
    bool fired() const { return allocation_faults::fired; }
};

}  // namespace zelt::testing

void* operator new(std::size_t size) {
    namespace faults = zelt::testing::allocation_faults;
    if (faults::countdown > 0 && --faults::countdown == 0) {
        faults::fired = true;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Not inlined, so that GCC sees new paired with delete rather than with free.
[[gnu::noinline]] void operator delete(void* memory) noexcept {
    std::free(memory);
}

[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

[[gnu::noinline]] void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
