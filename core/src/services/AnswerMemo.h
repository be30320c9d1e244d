#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "orvane/Mutex.h"
#include "orvane/ThreadAnnotations.h"

namespace obd::detail {

// The vehicle's answers of one snapshot, per ECU and request: while a
// snapshot is held, a report whose sections read the same datum (the status
// PID for the MIL, the readiness and the live data; the ECU name for two
// info items) asks the vehicle once, and its sections agree.
//
// Snapshots nest; the answers go when the last one ends, when forget() is
// called (the connection opened or closed, a request changed the vehicle)
// and are never kept outside a snapshot. A reader notes generation() before
// it asks the vehicle and hands it back with the answer, so that an answer
// asked for before a forget() is not kept after it.
//
// Thread safety: every operation may be called from any thread.
class AnswerMemo {
public:
    using Bytes = std::vector<std::uint8_t>;

    void hold();
    void release();
    // Whether a snapshot is held: reading ahead pays only then.
    bool held() const;

    std::uint64_t generation() const;
    // The answer `ecu` gave to `request` in this snapshot; nothing outside
    // one or when not asked yet.
    std::optional<Bytes> find(std::uint32_t ecu, const Bytes& request) const;
    void store(std::uint64_t generation, std::uint32_t ecu, const Bytes& request, Bytes answer);
    void forget();

private:
    mutable orvane::Mutex mutex_;
    int holders_ ORVANE_GUARDED_BY(mutex_) = 0;
    std::uint64_t generation_ ORVANE_GUARDED_BY(mutex_) = 0;
    std::map<std::pair<std::uint32_t, Bytes>, Bytes> answers_ ORVANE_GUARDED_BY(mutex_);
};

}  // namespace obd::detail
