#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

namespace zelt::link::detail {

// What a transport's waiting receive() listens to besides its link, so that
// another thread can make it return: a pipe on POSIX (its read end sits in
// the poll() set), an auto-reset event on Windows. A signal is not lost:
// one given while nobody waits ends the next wait.
//
// Thread safety: signal() from any thread; the rest from the waiting one.
class Wakeup {
public:
    Wakeup();  // throws std::runtime_error when the system has no pipe/event left
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    void signal();
#ifdef _WIN32
    HANDLE event() const {
        return event_;
    }
#else
    int fd() const {
        return pipe_[0];
    }
    // Takes every signal given so far.
    void drain();
#endif

private:
#ifdef _WIN32
    HANDLE event_;
#else
    int pipe_[2];
#endif
};

}  // namespace zelt::link::detail
