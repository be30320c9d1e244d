#pragma once

#include <memory>

#include "IQuorvix.h"

namespace obd {

// An optional capability of a core root: snapshots. While a snapshot is
// held, each datum of each ECU is asked of the vehicle once; reading it again
// (the status PID for the MIL, then for the readiness, then as live data)
// gives the first answer without another request. A report that holds one
// costs fewer round trips over a slow link, and its sections agree with
// each other.
//
// Snapshots nest. The answers are forgotten when the last snapshot ends,
// when the connection opens or closes, and after a request that changes what
// the vehicle reports (clearing the trouble codes, running a routine).
// Outside a snapshot every read asks the vehicle.
//
// A client finds it with std::dynamic_pointer_cast on its IQuorvix, or holds
// a SnapshotScope, which does nothing for a root without it.
//
// Thread safety: any thread. A snapshot is the connection's, not the
// caller's: while one is held, every reader of the root gets its answers (a
// live data screen would see the values stand still), so hold one only
// around a report.
class IAnswerSnapshot {
public:
    virtual ~IAnswerSnapshot() = default;

    // Begins a snapshot, or nests one in the snapshot already held.
    virtual void beginSnapshot() = 0;
    // Ends a snapshot begun with beginSnapshot().
    virtual void endSnapshot() = 0;
};

// Holds a snapshot of `root` from construction to destruction, when the root
// offers snapshots.
class SnapshotScope {
public:
    // Begins a snapshot of `root`; nothing for a root without snapshots.
    explicit SnapshotScope(const std::shared_ptr<IQuorvix>& root)
        : snapshot_(std::dynamic_pointer_cast<IAnswerSnapshot>(root)) {
        if (snapshot_) {
            snapshot_->beginSnapshot();
        }
    }
    // Ends the snapshot begun by the constructor.
    ~SnapshotScope() {
        if (snapshot_) {
            snapshot_->endSnapshot();
        }
    }
    SnapshotScope(const SnapshotScope&) = delete;
    SnapshotScope& operator=(const SnapshotScope&) = delete;

private:
    const std::shared_ptr<IAnswerSnapshot> snapshot_;
};

}  // namespace obd
