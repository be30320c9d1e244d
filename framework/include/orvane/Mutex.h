#pragma once

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
    void unlock() ORVANE_RELEASE() { mutex_.unlock(); }

private:
    std::mutex mutex_;
};

// Holds a Mutex for the lifetime of the scope, exceptions included.
class ORVANE_SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ORVANE_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() ORVANE_RELEASE() { mutex_.unlock(); }

    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& mutex_;
};

}  // namespace orvane
