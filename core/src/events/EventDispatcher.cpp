#include "events/EventDispatcher.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <utility>

#include "orvane/Mutex.h"
#include "orvane/ThreadAnnotations.h"

namespace obd::detail {

struct EventDispatcher::State {
    orvane::Mutex mutex;
    // Notified when a task is posted and when the dispatcher stops.
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks ORVANE_GUARDED_BY(mutex);
    bool stopping ORVANE_GUARDED_BY(mutex) = false;
};

EventDispatcher::EventDispatcher() : state_(std::make_shared<State>()) {
    // The thread owns a reference to the state so that it can outlive the
    // dispatcher when the dispatcher dies on its own thread.
    std::shared_ptr<State> state = state_;
    thread_ = std::thread([state] {
        orvane::UniqueLock guard(state->mutex);
        for (;;) {
            while (!state->stopping && state->tasks.empty()) {
                guard.wait(state->wake);
            }
            if (state->stopping) {
                return;
            }
            std::function<void()> task = std::move(state->tasks.front());
            state->tasks.pop_front();
            guard.unlock();
            try {
                task();
            } catch (...) {
                // An observer's failure must not stop the delivery of later
                // events to everybody else.
            }
            // Release whatever the task held before taking the lock again: its
            // captures may own the dispatcher itself.
            task = nullptr;
            guard.lock();
        }
    });
}

EventDispatcher::~EventDispatcher() {
    std::deque<std::function<void()>> dropped;
    {
        orvane::MutexLock lock(state_->mutex);
        state_->stopping = true;
        dropped.swap(state_->tasks);
    }
    state_->wake.notify_all();
    if (std::this_thread::get_id() == thread_.get_id()) {
        thread_.detach();
    } else {
        thread_.join();
    }
    // `dropped` dies here, outside the lock: the captures of a task may post.
}

void EventDispatcher::post(std::function<void()> task) {
    {
        orvane::MutexLock lock(state_->mutex);
        if (state_->stopping) {
            return;
        }
        state_->tasks.push_back(std::move(task));
    }
    state_->wake.notify_one();
}

void EventDispatcher::flush() {
    if (isDispatcherThread()) {
        return;
    }
    // Tasks run in order, so once this one has run, so have all before it.
    // Only the task holds the promise: a task dropped (or refused) by a
    // stopping dispatcher destroys it, which also ends the wait.
    std::promise<void> promise;
    std::future<void> done = promise.get_future();
    post([reached = std::make_shared<std::promise<void>>(std::move(promise))] {
        reached->set_value();
    });
    done.wait();
}

bool EventDispatcher::isDispatcherThread() const {
    return std::this_thread::get_id() == thread_.get_id();
}

}  // namespace obd::detail
