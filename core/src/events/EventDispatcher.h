#pragma once

#include <functional>
#include <memory>
#include <thread>

namespace obd::detail {

// Runs posted tasks one after another, in the order they were posted, on a
// thread of its own. The core delivers every event through one dispatcher per
// root, so observers never run inside a service call and see events in the
// order they happened.
//
// Thread safety: post() may be called from any thread, the dispatcher thread
// included. A task that throws is abandoned; later tasks still run.
//
// Lifetime: destroying the dispatcher drops the tasks not yet started and
// waits for a running one, unless the destructor itself runs on the
// dispatcher thread (a task released the last owner), in which case the
// thread finishes on its own.
class EventDispatcher {
public:
    EventDispatcher();
    ~EventDispatcher();

    EventDispatcher(const EventDispatcher&) = delete;
    EventDispatcher& operator=(const EventDispatcher&) = delete;

    void post(std::function<void()> task);

    // Returns once every task posted before the call has run (or was
    // dropped because the dispatcher stopped). On the dispatcher's own
    // thread it returns at once: the tasks before it cannot run until the
    // running one ends.
    void flush();

    // True on the dispatcher's own thread.
    bool isDispatcherThread() const;

private:
    struct State;

    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace obd::detail
