#pragma once

#include <cstddef>
#include <ostream>
#include <utility>

#include "orvane/Mutex.h"
#include "orvane/ThreadAnnotations.h"
#include "zelt/detail/Trace.h"

namespace zelt::detail {

// One cache slot: a mutex and the value (or values) it guards. `Held` is
// std::optional<V> for a single value (empty optional: nothing cached), a
// std::map for a keyed value, or a plain container filled by events.
//
// The held value is reachable only through withLock(), so it is never touched
// without the mutex. Getters hold the mutex for their whole run, the call
// into the core included: concurrent calls on one slot are serialised, calls
// on different slots run in parallel.
//
// Thread safety: every operation is safe to call from any thread. The mutex is
// not recursive: `fn` must not reach this slot again.
// Slots are aligned to their own cache line: neighbouring slots of one
// repository are used by different threads at once, and a mutex sharing a
// line with another slot's would make them contend although they guard
// unrelated values.
inline constexpr std::size_t kCacheLineSize = 64;

template <typename Held>
class alignas(kCacheLineSize) CacheSlot {
public:
    CacheSlot() = default;
    // A slot that starts filled with `initial`.
    explicit CacheSlot(Held initial) : held_(std::move(initial)) {}

    CacheSlot(const CacheSlot&) = delete;
    CacheSlot& operator=(const CacheSlot&) = delete;

    // Runs `fn(held)` with the mutex held and returns a copy of its result.
    // The mutex is released on every exit, exceptions included.
    template <typename Fn>
    auto withLock(Fn&& fn) {
        orvane::MutexLock lock(mutex_);
        return std::forward<Fn>(fn)(held_);
    }

    // The common getter for a single value: answers from the cache unless
    // `refresh` is set or nothing is cached; otherwise stores what `fetch()`
    // returns, replacing what was there. Returns a copy of the cached value.
    // If `fetch` throws, the slot keeps what it held.
    template <typename Fetch>
    auto get(bool refresh, std::ostream& trace, Fetch&& fetch) {
        return withLock([&](Held& cached) {
            if (refresh || !cached) {
                cached = std::forward<Fetch>(fetch)();
            } else {
                Trace(trace, kReturnFromCache);
            }
            return *cached;
        });
    }

    // Empties the slot: an optional is reset, a container loses every entry.
    void clear() {
        orvane::MutexLock lock(mutex_);
        held_ = Held();
    }

private:
    orvane::Mutex mutex_;
    Held held_ ORVANE_GUARDED_BY(mutex_);
};

}  // namespace zelt::detail
