#pragma once

#include <mutex>

#include "zelt/detail/ThreadAnnotations.h"

namespace zelt::detail {

// A plain, non-recursive std::mutex that clang's thread-safety analysis knows
// as a capability (libstdc++'s std::mutex carries no annotations).
class ZELT_CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // Throws std::system_error when the mutex cannot be locked.
    void lock() ZELT_ACQUIRE() { mutex_.lock(); }
    void unlock() ZELT_RELEASE() { mutex_.unlock(); }

private:
    std::mutex mutex_;
};

// Holds a Mutex for the lifetime of the scope, exceptions included.
class ZELT_SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ZELT_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() ZELT_RELEASE() { mutex_.unlock(); }

    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& mutex_;
};

}  // namespace zelt::detail
