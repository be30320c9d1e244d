#include "AdapterLink.h"

#include <cstdlib>
#include <stdexcept>

#include "Session.h"

#ifndef _WIN32
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace zelt::scan {

namespace {

#ifndef _WIN32

class TcpLink : public AdapterLink {
public:
    explicit TcpLink(int socket) : socket_(socket) {}
    ~TcpLink() override { ::close(socket_); }
    TcpLink(const TcpLink&) = delete;
    TcpLink& operator=(const TcpLink&) = delete;

    bool send(const std::vector<std::uint8_t>& data) override {
        std::size_t sent = 0;
        while (sent < data.size()) {
            const ssize_t n = ::send(socket_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
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
        pollfd ready{socket_, POLLIN, 0};
        const int events = ::poll(&ready, 1, timeoutMilliseconds);
        if (events < 0) {
            return errno == EINTR;
        }
        if (events == 0) {
            return true;
        }
        std::uint8_t buffer[4096];
        const ssize_t n = ::recv(socket_, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            return true;
        }
        if (n <= 0) {
            return false;  // closed by the adapter, or broken
        }
        data.assign(buffer, buffer + n);
        return true;
    }

private:
    const int socket_;
};

std::unique_ptr<AdapterLink> OpenTcp(const std::string& host, const std::string& port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int status = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (status != 0) {
        throw std::runtime_error("cannot find the adapter host '" + host + "': " + gai_strerror(status));
    }
    std::string failure = "no address";
    for (addrinfo* address = found; address != nullptr; address = address->ai_next) {
        const int fd = ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (fd < 0) {
            failure = std::strerror(errno);
            continue;
        }
        if (::connect(fd, address->ai_addr, address->ai_addrlen) == 0) {
            ::freeaddrinfo(found);
            return std::make_unique<TcpLink>(fd);
        }
        failure = std::strerror(errno);
        ::close(fd);
    }
    ::freeaddrinfo(found);
    throw std::runtime_error("cannot connect to the adapter at " + host + ":" + port + ": " + failure);
}

#endif

}  // namespace

std::unique_ptr<AdapterLink> AdapterLink::Open(const std::string& address) {
    const std::string tcp = "tcp://";
    if (address.compare(0, tcp.size(), tcp) != 0) {
        throw UsageError("unknown adapter '" + address + "': give tcp://HOST:PORT");
    }
    const std::string rest = address.substr(tcp.size());
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size()) {
        throw UsageError("invalid adapter address '" + address + "': give tcp://HOST:PORT");
    }
    const std::string host = rest.substr(0, colon);
    const std::string port = rest.substr(colon + 1);
    char* end = nullptr;
    const long number = std::strtol(port.c_str(), &end, 10);
    if (*end != '\0' || number < 1 || number > 65535) {
        throw UsageError("invalid port '" + port + "' in '" + address + "'");
    }
#ifndef _WIN32
    return OpenTcp(host, port);
#else
    throw UsageError("this build of zelt-scan cannot reach adapters over TCP");
#endif
}

}  // namespace zelt::scan
