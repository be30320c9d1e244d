#pragma once

#include <gmock/gmock.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "orvane/Notifier.h"

namespace zelt::testing {

// A mocked notifier that also keeps a real observer list, so a test can both
// check attach/detach calls and fire events at whoever is attached.
template <typename Observer>
class NotifierMock : public virtual orvane::INotifier<Observer> {
public:
    NotifierMock() {
        ON_CALL(*this, attach).WillByDefault([this](Observer* observer) {
            std::lock_guard<std::mutex> lock(mutex_);
            observers_.push_back(observer);
        });
        ON_CALL(*this, detach).WillByDefault([this](Observer* observer) {
            std::lock_guard<std::mutex> lock(mutex_);
            observers_.erase(std::remove(observers_.begin(), observers_.end(), observer),
                             observers_.end());
        });
        ON_CALL(*this, getObserverCount).WillByDefault([this] {
            std::lock_guard<std::mutex> lock(mutex_);
            return observers_.size();
        });
    }

    MOCK_METHOD(std::size_t, getObserverCount, (), (const, override));
    MOCK_METHOD(void, attach, (Observer*), (override));
    MOCK_METHOD(void, detach, (Observer*), (override));

    std::vector<Observer*> observers() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return observers_;
    }

    // Calls `event` on every attached observer, outside the list's lock.
    template <typename Event>
    void notify(Event event) {
        for (Observer* observer : observers()) {
            event(*observer);
        }
    }

private:
    mutable std::mutex mutex_;
    std::vector<Observer*> observers_;
};

}  // namespace zelt::testing
