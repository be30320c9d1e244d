#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <thread>
#include <vector>

#include "orvane/Mutex.h"
#include "orvane/ThreadAnnotations.h"

namespace obd::detail {

// The observers of one notifier, with the guarantee the notifier interface
// promises: once remove() has returned, the removed observer is not called
// again. remove() waits while the observer is being called on another
// thread; called from inside the observer's own handler it does not wait
// (that would never end), and the running call is the last one.
//
// Thread safety: every operation may be called from any thread. deliver()
// calls the observers without holding the lock, so handlers may add and
// remove observers, this one included.
template <typename T>
class ObserverList {
public:
    ObserverList() = default;
    ObserverList(const ObserverList&) = delete;
    ObserverList& operator=(const ObserverList&) = delete;

    // Adding an observer twice calls it twice per event.
    void add(T* observer) ORVANE_EXCLUDES(mutex_) {
        orvane::MutexLock lock(mutex_);
        observers_.push_back(observer);
    }

    void remove(T* observer) ORVANE_EXCLUDES(mutex_) {
        orvane::UniqueLock lock(mutex_);
        observers_.erase(std::remove(observers_.begin(), observers_.end(), observer),
                         observers_.end());
        // No delivery is ever to a null observer; waiting for one to end
        // would never return.
        if (observer != nullptr && deliveringThread_ != std::this_thread::get_id()) {
            while (delivering_ == observer) {
                lock.wait(delivered_);
            }
        }
    }

    std::size_t size() const ORVANE_EXCLUDES(mutex_) {
        orvane::MutexLock lock(mutex_);
        return observers_.size();
    }

    std::vector<T*> snapshot() const ORVANE_EXCLUDES(mutex_) {
        orvane::MutexLock lock(mutex_);
        return observers_;
    }

    // Calls `event(observer)` for every observer listed when delivery starts
    // and still listed when its turn comes. Exceptions from a handler are
    // swallowed so that the other observers still hear of the event.
    // REQUIRES: deliveries of one list do not overlap (one dispatcher thread).
    template <typename Event>
    void deliver(Event&& event) ORVANE_EXCLUDES(mutex_) {
        orvane::UniqueLock lock(mutex_);
        const std::vector<T*> listed = observers_;
        for (std::size_t i = 0; i < listed.size(); ++i) {
            T* observer = listed[i];
            // An observer listed n times hears the event n times, as long as
            // it is still listed that often.
            const auto seen =
                static_cast<std::size_t>(std::count(listed.begin(), listed.begin() + i, observer));
            if (static_cast<std::size_t>(
                    std::count(observers_.begin(), observers_.end(), observer)) <= seen) {
                continue;
            }
            delivering_ = observer;
            deliveringThread_ = std::this_thread::get_id();
            lock.unlock();
            try {
                event(*observer);
            } catch (...) {
            }
            lock.lock();
            delivering_ = nullptr;
            deliveringThread_ = std::thread::id();
            delivered_.notify_all();
        }
    }

private:
    mutable orvane::Mutex mutex_;
    // Notified each time a call of an observer has ended.
    std::condition_variable delivered_;
    std::vector<T*> observers_ ORVANE_GUARDED_BY(mutex_);
    // The observer being called, and on which thread.
    T* delivering_ ORVANE_GUARDED_BY(mutex_) = nullptr;
    std::thread::id deliveringThread_ ORVANE_GUARDED_BY(mutex_);
};

}  // namespace obd::detail
