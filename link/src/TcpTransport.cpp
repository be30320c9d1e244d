// The TCP transport: a Wi-Fi ELM327 adapter, or the emulator. The socket is
// non-blocking; receive() waits for it and for the wake-up together.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>
#else
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include "SystemErrorText.h"
#include "Wakeup.h"
#include "zelt/link/Transport.h"

namespace zelt::link {

namespace {

constexpr std::size_t kReadChunk = 4096;

#ifdef _WIN32

using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;

std::string LastSocketError() {
    return SystemErrorText(static_cast<unsigned long>(::WSAGetLastError()), "socket error");
}

bool WouldBlock() {
    const int error = ::WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
}

bool Interrupted() {
    return false;
}

void CloseSocket(Socket socket) {
    ::closesocket(socket);
}

// Winsock must be started once per process before the first socket call;
// it stays started until the process ends.
void StartSockets() {
    static std::once_flag once;
    static int status = 0;
    std::call_once(once, [] {
        WSADATA data;
        status = ::WSAStartup(MAKEWORD(2, 2), &data);
    });
    if (status != 0) {
        throw std::runtime_error("cannot start Windows sockets (error " + std::to_string(status) +
                                 ")");
    }
}

void SetNonBlocking(Socket socket) {
    u_long on = 1;
    ::ioctlsocket(socket, FIONBIO, &on);
}

// > 0 when `socket` can be written, 0 on timeout, < 0 on failure.
int WaitWritable(Socket socket, int timeoutMilliseconds) {
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval timeout{timeoutMilliseconds / 1000, (timeoutMilliseconds % 1000) * 1000};
    const int ready = ::select(0, nullptr, &writable, &failed, &timeout);
    return ready > 0 && FD_ISSET(socket, &failed) ? -1 : ready;
}

int SendSome(Socket socket, const std::uint8_t* data, std::size_t size) {
    return ::send(socket, reinterpret_cast<const char*>(data), static_cast<int>(size), 0);
}

int ReceiveSome(Socket socket, std::uint8_t* buffer, std::size_t size) {
    return ::recv(socket, reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
}

#else

using Socket = int;
constexpr Socket kNoSocket = -1;

std::string LastSocketError() {
    return std::strerror(errno);
}

bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINPROGRESS;
}

bool Interrupted() {
    return errno == EINTR;
}

void CloseSocket(Socket socket) {
    ::close(socket);
}

void StartSockets() {}

void SetNonBlocking(Socket socket) {
    ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) | O_NONBLOCK);
    ::fcntl(socket, F_SETFD, FD_CLOEXEC);
}

int WaitWritable(Socket socket, int timeoutMilliseconds) {
    pollfd ready{socket, POLLOUT, 0};
    int events;
    do {
        events = ::poll(&ready, 1, timeoutMilliseconds);
    } while (events < 0 && errno == EINTR);
    return events;
}

ssize_t SendSome(Socket socket, const std::uint8_t* data, std::size_t size) {
    // A vanished peer must not kill the process with SIGPIPE.
    return ::send(socket, data, size, MSG_NOSIGNAL);
}

ssize_t ReceiveSome(Socket socket, std::uint8_t* buffer, std::size_t size) {
    return ::recv(socket, buffer, size, 0);
}

#endif

// The pending error of a socket whose non-blocking connect has finished.
std::string ConnectError(Socket socket) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
        return LastSocketError();
    }
    if (error == 0) {
        return {};
    }
#ifdef _WIN32
    return SystemErrorText(static_cast<unsigned long>(error), "socket error");
#else
    return std::strerror(error);
#endif
}

class TcpTransport : public ITransport {
public:
    explicit TcpTransport(Socket socket) : socket_(socket) {
#ifdef _WIN32
        socketEvent_ = ::WSACreateEvent();
        if (socketEvent_ == WSA_INVALID_EVENT ||
            ::WSAEventSelect(socket_, socketEvent_, FD_READ | FD_CLOSE) != 0) {
            const std::string why = LastSocketError();
            CloseSocket(socket_);
            throw std::runtime_error("cannot watch the adapter's socket: " + why);
        }
#endif
    }
    ~TcpTransport() override {
        CloseSocket(socket_);
#ifdef _WIN32
        ::WSACloseEvent(socketEvent_);
#endif
    }
    TcpTransport(const TcpTransport&) = delete;
    TcpTransport& operator=(const TcpTransport&) = delete;

    bool send(const std::uint8_t* data, std::size_t size) override {
        std::size_t sent = 0;
        while (sent < size) {
            const auto n = SendSome(socket_, data + sent, size - sent);
            if (n < 0 && Interrupted()) {
                continue;
            }
            if (n < 0 && WouldBlock()) {
                // The socket's buffer is full: an adapter that reads nothing
                // for this long is gone.
                if (WaitWritable(socket_, 5000) <= 0) {
                    return false;
                }
                continue;
            }
            if (n <= 0) {
                return false;
            }
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    bool receive(std::vector<std::uint8_t>& data) override {
        data.clear();
        const int ready = waitReadable();
        if (ready < 0) {
            return false;
        }
        if (ready == 0) {
            return true;  // woken
        }
        std::uint8_t buffer[kReadChunk];
        const auto n = ReceiveSome(socket_, buffer, sizeof buffer);
        if (n < 0 && (Interrupted() || WouldBlock())) {
            return true;
        }
        if (n <= 0) {
            return false;  // closed by the adapter, or broken
        }
        data.assign(buffer, buffer + n);
        return true;
    }

    void wake() override {
        wakeup_.signal();
    }

private:
    // > 0 when the socket can be read (or has closed), 0 when woken, < 0 on
    // failure.
    int waitReadable() {
#ifdef _WIN32
        const WSAEVENT events[2] = {socketEvent_, wakeup_.event()};
        const DWORD which = ::WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
        if (which == WSA_WAIT_EVENT_0) {
            WSANETWORKEVENTS happened;
            ::WSAEnumNetworkEvents(socket_, socketEvent_, &happened);  // resets the event
            return 1;
        }
        return which == WSA_WAIT_EVENT_0 + 1 ? 0 : -1;
#else
        pollfd ready[2] = {{socket_, POLLIN, 0}, {wakeup_.fd(), POLLIN, 0}};
        for (;;) {
            const int events = ::poll(ready, 2, -1);
            if (events < 0 && errno == EINTR) {
                continue;
            }
            if (events < 0) {
                return -1;
            }
            if (ready[1].revents != 0) {
                wakeup_.drain();
            }
            return ready[0].revents != 0 ? 1 : 0;
        }
#endif
    }

    const Socket socket_;
    detail::Wakeup wakeup_;
#ifdef _WIN32
    WSAEVENT socketEvent_ = WSA_INVALID_EVENT;
#endif
};

// Connects `socket` to `address` within `timeout`; empty on success, else
// the reason.
std::string Connect(Socket socket, const addrinfo& address, std::chrono::milliseconds timeout) {
    SetNonBlocking(socket);
    if (::connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) {
        return {};
    }
    if (!WouldBlock()) {
        return LastSocketError();
    }
    const int ready = WaitWritable(socket, static_cast<int>(timeout.count()));
    if (ready == 0) {
        return "no answer within " + std::to_string(timeout.count()) + " ms";
    }
    if (ready < 0) {
        const std::string why = ConnectError(socket);
        return why.empty() ? LastSocketError() : why;
    }
    return ConnectError(socket);
}

}  // namespace

std::unique_ptr<ITransport> OpenTcpTransport(const std::string& host, std::uint16_t port,
                                             std::chrono::milliseconds connectTimeout) {
    StartSockets();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (status != 0) {
        throw std::runtime_error("cannot find the adapter host '" + host +
                                 "': " + gai_strerror(status));
    }
    std::string failure = "no address";
    for (addrinfo* address = found; address != nullptr; address = address->ai_next) {
        const Socket socket =
            ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (socket == kNoSocket) {
            failure = LastSocketError();
            continue;
        }
        failure = Connect(socket, *address, connectTimeout);
        if (failure.empty()) {
            ::freeaddrinfo(found);
            return std::make_unique<TcpTransport>(socket);
        }
        CloseSocket(socket);
    }
    ::freeaddrinfo(found);
    throw std::runtime_error("cannot connect to the adapter at " + host + ":" + service + ": " +
                             failure);
}

}  // namespace zelt::link
