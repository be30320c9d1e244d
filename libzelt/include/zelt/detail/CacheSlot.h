#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <type_traits>
#include <utility>

#include "orvane/Mutex.h"
#include "orvane/ThreadAnnotations.h"
#include "zelt/detail/Trace.h"

namespace zelt::detail {

// The caching policies of the repositories, each written once. They work on
// a held value (a whole slot, or one field of a slot that guards several) and
// must run with that value's mutex held; CacheSlot's named operations below
// take the mutex and call them.
//
// A getter answers from the cache when `refresh` is false and something is
// cached, writing "-return from cache" to `trace` (pass NoTrace() for the
// getters that leave none). Otherwise `fetch()` asks the core. If it throws,
// the cached value stays as it was.

// A usable answer is a non-null pointer or a non-empty container; anything
// else means the vehicle had nothing to give.
template <typename T>
bool IsUsable(const std::shared_ptr<T>& answer) {
    return answer != nullptr;
}
template <typename Container>
bool IsUsable(const Container& answer) {
    return !answer.empty();
}

// A trace stream for the getters that leave no trace: failed from the start.
inline std::ostream& NoTrace() {
    static std::ostream silent(nullptr);
    return silent;
}

// Cache every answer: whatever `fetch()` returns replaces the cached value,
// an empty list or a null pointer too. Returns a copy of the cached value.
template <typename V, typename Fetch>
V CacheEveryAnswer(std::optional<V>& cached, bool refresh, std::ostream& trace, Fetch&& fetch) {
    if (refresh || !cached) {
        cached = std::forward<Fetch>(fetch)();
    } else {
        Trace(trace, kReturnFromCache);
    }
    return *cached;
}

// Store only usable answers: an unusable answer is returned as it is and
// leaves the cached value alone, so the next call asks the core again.
template <typename V, typename Fetch>
V StoreUsableAnswer(std::optional<V>& cached, bool refresh, std::ostream& trace, Fetch&& fetch) {
    if (!refresh && cached) {
        Trace(trace, kReturnFromCache);
        return *cached;
    }
    V answer = std::forward<Fetch>(fetch)();
    if (IsUsable(answer)) {
        cached = answer;
    }
    return answer;
}

// Keep the last known value: as StoreUsableAnswer, but an unusable answer
// returns what is cached (an empty value when nothing is).
template <typename V, typename Fetch>
V KeepLastKnown(std::optional<V>& cached, bool refresh, std::ostream& trace, Fetch&& fetch) {
    if (!refresh && cached) {
        Trace(trace, kReturnFromCache);
        return *cached;
    }
    V answer = std::forward<Fetch>(fetch)();
    if (IsUsable(answer)) {
        cached = std::move(answer);
    }
    return cached.value_or(V());
}

// What a refresh of a keyed slot drops: the asked key's entry only when a
// usable answer replaces it, or every entry before the core is asked.
enum class KeyedRefresh { ReplaceEntry, DropAll };

// Keyed lookup: an entry for `key` is the cached answer. Only usable answers
// are stored; an unusable one is returned as it is, neither erasing the
// stored entry nor passed off by it.
template <typename Map, typename Fetch>
typename Map::mapped_type LookUpKeyed(Map& cached, const typename Map::key_type& key, bool refresh,
                                      std::ostream& trace, Fetch&& fetch,
                                      KeyedRefresh scope = KeyedRefresh::ReplaceEntry) {
    if (!refresh) {
        const auto entry = cached.find(key);
        if (entry != cached.end()) {
            Trace(trace, kReturnFromCache);
            return entry->second;
        }
    } else if (scope == KeyedRefresh::DropAll) {
        cached.clear();
    }
    typename Map::mapped_type answer = std::forward<Fetch>(fetch)();
    if (IsUsable(answer)) {
        cached[key] = answer;
    }
    return answer;
}

// Whether `Result` could point into a `Held` value: a raw pointer, a
// reference wrapper, or one of its iterators.
template <typename Result, typename Held, typename = void>
struct IsIteratorOf : std::false_type {};
template <typename Result, typename Held>
struct IsIteratorOf<Result, Held, std::void_t<typename Held::iterator>>
    : std::bool_constant<std::is_same_v<Result, typename Held::iterator> ||
                         std::is_same_v<Result, typename Held::const_iterator>> {};
template <typename T>
struct IsReferenceWrapper : std::false_type {};
template <typename T>
struct IsReferenceWrapper<std::reference_wrapper<T>> : std::true_type {};
template <typename Result, typename Held>
inline constexpr bool kMayPointIntoHeld =
    std::is_pointer_v<Result> || IsReferenceWrapper<Result>::value ||
    IsIteratorOf<Result, Held>::value;

// One cache slot: a mutex and the value (or values) it guards. `Held` is
// std::optional<V> for a single value (empty optional: nothing cached), a
// std::map for a keyed value, a struct of such values, or a plain container
// filled by events.
//
// The held value is reachable only through withLock() and the policy
// operations, so it is never touched without the mutex. Getters hold the
// mutex for their whole run, the call into the core included: concurrent
// calls on one slot are serialised, calls on different slots run in parallel.
//
// Thread safety: every operation is safe to call from any thread. The mutex is
// not recursive: `fn` and `fetch` must not reach this slot again.
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
    //
    // The held value must not outlive the lock. Clang's analysis follows no
    // pointer, so an annotation cannot flag a pointer used after the lock is
    // gone; instead a result that could point into the held value (a
    // pointer, a reference wrapper, an iterator) does not compile, with any
    // compiler.
    template <typename Fn>
    auto withLock(Fn&& fn) ORVANE_EXCLUDES(mutex_) {
        using Result = std::decay_t<std::invoke_result_t<Fn, Held&>>;
        static_assert(!kMayPointIntoHeld<Result, Held>,
                      "withLock: the result must not point into the guarded value; return a copy");
        orvane::MutexLock lock(mutex_);
        return std::forward<Fn>(fn)(held_);
    }

    // The policies above, each under the slot's mutex.
    template <typename Fetch>
    auto get(bool refresh, std::ostream& trace, Fetch&& fetch) ORVANE_EXCLUDES(mutex_) {
        orvane::MutexLock lock(mutex_);
        return CacheEveryAnswer(held_, refresh, trace, std::forward<Fetch>(fetch));
    }
    template <typename Fetch>
    auto getUsable(bool refresh, std::ostream& trace, Fetch&& fetch) ORVANE_EXCLUDES(mutex_) {
        orvane::MutexLock lock(mutex_);
        return StoreUsableAnswer(held_, refresh, trace, std::forward<Fetch>(fetch));
    }
    template <typename Fetch>
    auto getLastKnown(bool refresh, std::ostream& trace, Fetch&& fetch) ORVANE_EXCLUDES(mutex_) {
        orvane::MutexLock lock(mutex_);
        return KeepLastKnown(held_, refresh, trace, std::forward<Fetch>(fetch));
    }
    template <typename Key, typename Fetch>
    auto getKeyed(const Key& key, bool refresh, std::ostream& trace, Fetch&& fetch,
                  KeyedRefresh scope = KeyedRefresh::ReplaceEntry) ORVANE_EXCLUDES(mutex_) {
        orvane::MutexLock lock(mutex_);
        return LookUpKeyed(held_, key, refresh, trace, std::forward<Fetch>(fetch), scope);
    }

    // Empties the slot: an optional is reset, a container loses every entry.
    void clear() ORVANE_EXCLUDES(mutex_) {
        orvane::MutexLock lock(mutex_);
        held_ = Held();
    }

private:
    orvane::Mutex mutex_;
    Held held_ ORVANE_GUARDED_BY(mutex_);
};

}  // namespace zelt::detail
