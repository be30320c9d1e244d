#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "orvane/Mutex.h"
#include "orvane/ThreadAnnotations.h"

namespace obd::detail {

// What the ECUs of one connection announced in their support bitmaps, and
// which services refused a request for several ids at once: both are
// read once and kept, since every request costs the user a round trip over
// a slow link.
//
// A reader notes generation() before it asks the vehicle and hands it back
// with what it learnt; anything learnt before the last clear() is dropped,
// so an answer of a connection that has since closed never outlives it.
//
// Thread safety: every operation may be called from any thread.
class SupportCache {
public:
    // No freeze frame: the key of services other than 02.
    static constexpr int kNoFrame = -1;

    std::uint64_t generation() const;

    // The ids announced for `service` (and freeze `frame`), the bitmap ids
    // that answered among them (none when the ECU left the first bitmap
    // unanswered); nothing when not read yet.
    std::optional<std::set<std::uint8_t>> find(std::uint32_t ecu, std::uint8_t service,
                                               int frame) const;
    void store(std::uint64_t generation, std::uint32_t ecu, std::uint8_t service, int frame,
               std::set<std::uint8_t> ids);

    // Whether requests of `service` are to name one id each. A refusal of
    // service 01 (the adapter or vehicle takes no batch at all) holds for
    // every service; another service's refusal (a vehicle without service
    // 08, an ECU that takes one freeze frame PID at a time) for that one.
    bool multiPidRefused(std::uint8_t service) const;
    void refuseMultiPid(std::uint64_t generation, std::uint8_t service);

    // Forgets the bitmaps and the refusals (the connection opened or
    // closed).
    void clear();

private:
    using Key = std::tuple<std::uint32_t, std::uint8_t, int>;

    mutable orvane::Mutex mutex_;
    std::uint64_t generation_ ORVANE_GUARDED_BY(mutex_) = 0;
    std::map<Key, std::set<std::uint8_t>> announced_ ORVANE_GUARDED_BY(mutex_);
    std::set<std::uint8_t> multiPidRefused_ ORVANE_GUARDED_BY(mutex_);
};

}  // namespace obd::detail
