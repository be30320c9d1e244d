#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "orvane/ThreadAnnotations.h"

namespace orvane {

// A plain, non-recursive std::mutex that clang's thread-safety analysis knows
// as a capability (libstdc++'s std::mutex carries no annotations).
class ORVANE_CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // Throws std::system_error when the mutex cannot be locked.
    void lock() ORVANE_ACQUIRE() { mutex_.lock(); }
    // Releases the mutex.
    void unlock() ORVANE_RELEASE() { mutex_.unlock(); }

private:
    friend class UniqueLock;
    std::mutex mutex_;
};

// Holds a Mutex for the lifetime of the scope, exceptions included.
class ORVANE_SCOPED_CAPABILITY MutexLock {
public:
    // Locks `mutex` until the guard goes out of scope.
    explicit MutexLock(Mutex& mutex) ORVANE_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() ORVANE_RELEASE() { mutex_.unlock(); }

    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& mutex_;
};

// Holds a Mutex like MutexLock, but may release it for a while and wait on a
// condition variable. Wait in a loop that tests the condition in the caller,
// so the analysis sees the guarded values read with the mutex held:
//     while (!ready_) lock.wait(changed_);
class ORVANE_SCOPED_CAPABILITY UniqueLock {
public:
    // Locks `mutex` until the scope ends.
    explicit UniqueLock(Mutex& mutex) ORVANE_ACQUIRE(mutex) : lock_(mutex.mutex_) {}
    ~UniqueLock() ORVANE_RELEASE() {}

    UniqueLock(const UniqueLock&) = delete;
    UniqueLock& operator=(const UniqueLock&) = delete;

    // Takes the mutex again after unlock().
    void lock() ORVANE_ACQUIRE() { lock_.lock(); }
    // Releases the mutex before the scope ends.
    void unlock() ORVANE_RELEASE() { lock_.unlock(); }

    // Releases the mutex until `condition` is notified (or wakes
    // spuriously), then holds it again.
    void wait(std::condition_variable& condition) { condition.wait(lock_); }
    // As wait(), but gives up at `deadline`; false when it was reached.
    template <typename Clock, typename Duration>
    bool waitUntil(std::condition_variable& condition,
                   const std::chrono::time_point<Clock, Duration>& deadline) {
        return condition.wait_until(lock_, deadline) == std::cv_status::no_timeout;
    }

private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace orvane
