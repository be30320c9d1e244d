#include "services/DataLog.h"

#include <utility>

namespace obd::detail {

DataLog::DataLog(std::shared_ptr<EventDispatcher> dispatcher)
    : dispatcher_(std::move(dispatcher)), observers_(std::make_shared<Observers>()) {}

void DataLog::enable() {
    orvane::MutexLock lock(mutex_);
    enabled_ = true;
}

void DataLog::disable() {
    orvane::MutexLock lock(mutex_);
    enabled_ = false;
}

bool DataLog::isEnabled() const {
    orvane::MutexLock lock(mutex_);
    return enabled_;
}

void DataLog::add(MessageDirection direction, const std::string& text) {
    orvane::MutexLock lock(mutex_);
    if (!enabled_) {
        return;
    }
    auto entry = std::make_shared<MessageDataModel>();
    entry->sequence = ++sequence_;
    entry->direction = direction;
    entry->text = text;
    // Posted under the lock so that entries reach the dispatcher in
    // sequence order.
    std::weak_ptr<Observers> observers = observers_;
    dispatcher_->post([observers, entry] {
        if (std::shared_ptr<Observers> alive = observers.lock()) {
            alive->deliver([&](ITroubleshootingServiceObserver& observer) {
                observer.onLogEntryAdded(entry);
            });
        }
    });
}

}  // namespace obd::detail
