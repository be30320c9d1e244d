#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "events/EventDispatcher.h"
#include "events/ObserverList.h"
#include "obd/ITroubleshootingServiceObserver.h"
#include "obd/MessageDataModel.h"
#include "orvane/Mutex.h"
#include "orvane/ThreadAnnotations.h"

namespace obd::detail {

// The data log of one troubleshooting service: while enabled, every entry
// gets the next sequence number and is delivered to the service's observers
// on the dispatcher thread, in the order the entries were added.
//
// Thread safety: all operations may be called from any thread.
class DataLog {
public:
    using Observers = ObserverList<ITroubleshootingServiceObserver>;

    explicit DataLog(std::shared_ptr<EventDispatcher> dispatcher);

    void enable();
    void disable();
    bool isEnabled() const;

    Observers& observers() { return *observers_; }

    // Ignored while the log is disabled.
    void add(MessageDirection direction, const std::string& text);

private:
    const std::shared_ptr<EventDispatcher> dispatcher_;
    // Shared with the delivery tasks, which must not keep the log alive.
    const std::shared_ptr<Observers> observers_;
    mutable orvane::Mutex mutex_;
    bool enabled_ ORVANE_GUARDED_BY(mutex_) = false;
    // The last number given.
    std::uint64_t sequence_ ORVANE_GUARDED_BY(mutex_) = 0;
};

}  // namespace obd::detail
