#pragma once

// Counts the connection events of a core root and lets a test wait until a
// number of them arrived. Attached after the repositories under test were
// built, it hears every event after them: the core delivers one event to the
// connection services in the order they were built, all on its single
// dispatcher thread. So once the witness heard an event, every observer built
// before it heard that event and everything the core posted before it.
//
// Thread safety: waitFor() may be called from any thread.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "obd/IQuorvix.h"
#include "obd/ServiceBuilders.h"

namespace zelt::testing {

class EventWitness : public obd::IConnectionServiceObserver {
public:
    explicit EventWitness(const std::shared_ptr<obd::IQuorvix>& root)
        : service_(obd::ConnectionServiceBuilder::create(root)) {
        service_->attach(this);
    }
    ~EventWitness() override { service_->detach(this); }
    // Attached by address.
    EventWitness(const EventWitness&) = delete;
    EventWitness& operator=(const EventWitness&) = delete;

    void onConnectionOpened() override { count(); }
    void onEcuChanged() override { count(); }
    void onConnectionClosed() override { count(); }

    // Waits until `events` events in all have arrived.
    void waitFor(std::uint64_t events) {
        std::unique_lock<std::mutex> lock(mutex_);
        heard_.wait(lock, [&] { return events_ >= events; });
    }

private:
    void count() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++events_;
        heard_.notify_all();
    }

    const std::shared_ptr<obd::IConnectionService> service_;
    std::mutex mutex_;
    std::condition_variable heard_;
    std::uint64_t events_ = 0;  // guarded by mutex_
};

}  // namespace zelt::testing
