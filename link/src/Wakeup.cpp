#include "Wakeup.h"

#include <stdexcept>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace zelt::link::detail {

#ifdef _WIN32

Wakeup::Wakeup() : event_(::CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    if (event_ == nullptr) {
        throw std::runtime_error("cannot create an event (error " +
                                 std::to_string(::GetLastError()) + ")");
    }
}

Wakeup::~Wakeup() {
    ::CloseHandle(event_);
}

void Wakeup::signal() {
    ::SetEvent(event_);
}

#else

Wakeup::Wakeup() {
    if (::pipe(pipe_) != 0) {
        throw std::runtime_error(std::string("cannot create a pipe: ") + std::strerror(errno));
    }
    for (int end : pipe_) {
        ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
    }
}

Wakeup::~Wakeup() {
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void Wakeup::signal() {
    const char byte = 1;
    // A full pipe already holds a signal: nothing is lost.
    [[maybe_unused]] const ssize_t written = ::write(pipe_[1], &byte, 1);
}

void Wakeup::drain() {
    char bytes[64];
    while (::read(pipe_[0], bytes, sizeof bytes) > 0) {
    }
}

#endif

}  // namespace zelt::link::detail
