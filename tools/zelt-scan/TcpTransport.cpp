#include "TcpTransport.h"

#include <cstdint>
#include <stdexcept>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>
#else
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include "SystemErrorText.h"

namespace zelt::scan {

namespace {

#ifdef _WIN32

using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;

std::string LastSocketError() {
    return SystemErrorText(static_cast<unsigned long>(::WSAGetLastError()), "socket error");
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

// Waits until `socket` can be read; > 0 ready, 0 timed out, < 0 failed.
int WaitReadable(Socket socket, int timeoutMilliseconds) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval timeout{timeoutMilliseconds / 1000, (timeoutMilliseconds % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, &timeout);
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

bool Interrupted() {
    return errno == EINTR;
}

void CloseSocket(Socket socket) {
    ::close(socket);
}

void StartSockets() {}

int WaitReadable(Socket socket, int timeoutMilliseconds) {
    pollfd ready{socket, POLLIN, 0};
    return ::poll(&ready, 1, timeoutMilliseconds);
}

ssize_t SendSome(Socket socket, const std::uint8_t* data, std::size_t size) {
    // A vanished peer must not kill the tool with SIGPIPE.
    return ::send(socket, data, size, MSG_NOSIGNAL);
}

ssize_t ReceiveSome(Socket socket, std::uint8_t* buffer, std::size_t size) {
    return ::recv(socket, buffer, size, 0);
}

#endif

class TcpTransport : public AdapterLink {
public:
    explicit TcpTransport(Socket socket) : socket_(socket) {}
    ~TcpTransport() override { CloseSocket(socket_); }
    TcpTransport(const TcpTransport&) = delete;
    TcpTransport& operator=(const TcpTransport&) = delete;

    bool send(const std::vector<std::uint8_t>& data) override {
        std::size_t sent = 0;
        while (sent < data.size()) {
            const auto n = SendSome(socket_, data.data() + sent, data.size() - sent);
            if (n < 0 && Interrupted()) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    bool receive(std::vector<std::uint8_t>& data, int timeoutMilliseconds) override {
        data.clear();
        const int events = WaitReadable(socket_, timeoutMilliseconds);
        if (events < 0) {
            return Interrupted();
        }
        if (events == 0) {
            return true;
        }
        std::uint8_t buffer[4096];
        const auto n = ReceiveSome(socket_, buffer, sizeof buffer);
        if (n < 0 && Interrupted()) {
            return true;
        }
        if (n <= 0) {
            return false;  // closed by the adapter, or broken
        }
        data.assign(buffer, buffer + n);
        return true;
    }

private:
    const Socket socket_;
};

}  // namespace

std::unique_ptr<AdapterLink> OpenTcpTransport(const std::string& host, const std::string& port) {
    StartSockets();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int status = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
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
        if (::connect(socket, address->ai_addr, address->ai_addrlen) == 0) {
            ::freeaddrinfo(found);
            return std::make_unique<TcpTransport>(socket);
        }
        failure = LastSocketError();
        CloseSocket(socket);
    }
    ::freeaddrinfo(found);
    throw std::runtime_error("cannot connect to the adapter at " + host + ":" + port + ": " +
                             failure);
}

}  // namespace zelt::scan
