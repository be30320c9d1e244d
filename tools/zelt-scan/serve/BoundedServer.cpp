#include "BoundedServer.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace zelt::scan {

namespace {

// The stream httplib reads one request from and writes its answer to.
class BoundedStream : public httplib::Stream {
public:
    BoundedStream(int socket, std::size_t maxRead, std::chrono::seconds timeout)
        : socket_(socket), unread_(maxRead), timeoutMs_(static_cast<int>(timeout.count() * 1000)) {}

    bool is_readable() const override { return ready(POLLIN); }
    bool is_writable() const override { return ready(POLLOUT); }

    ssize_t read(char* data, std::size_t size) override {
        if (unread_ == 0 || !ready(POLLIN)) {
            return -1;  // over the bound, or the peer went quiet
        }
        const ssize_t got = recv(socket_, data, std::min(size, unread_), 0);
        if (got > 0) {
            unread_ -= static_cast<std::size_t>(got);
        }
        return got;
    }

    ssize_t write(const char* data, std::size_t size) override {
        // MSG_NOSIGNAL: a viewer that went away is an error, not SIGPIPE.
        return ready(POLLOUT) ? send(socket_, data, size, MSG_NOSIGNAL) : -1;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        address(getpeername, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        address(getsockname, ip, port);
    }
    socket_t socket() const override { return socket_; }

private:
    bool ready(short events) const {
        pollfd watched{socket_, events, 0};
        return poll(&watched, 1, timeoutMs_) > 0 && (watched.revents & events) != 0;
    }

    template <typename Name>
    void address(Name name, std::string& ip, int& port) const {
        sockaddr_storage storage{};
        socklen_t length = sizeof storage;
        char host[NI_MAXHOST] = "";
        char service[NI_MAXSERV] = "";
        if (name(socket_, reinterpret_cast<sockaddr*>(&storage), &length) == 0 &&
            getnameinfo(reinterpret_cast<sockaddr*>(&storage), length, host, sizeof host, service,
                        sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
            ip = host;
            port = std::atoi(service);
        }
    }

    const int socket_;
    std::size_t unread_;
    const int timeoutMs_;
};

}  // namespace

bool BoundedServer::process_and_close_socket(socket_t socket) {
    bool closed = false;
    bool processed = false;
    {
        BoundedStream stream(socket, maxRequestBytes_, timeout_);
        processed = process_request(stream, true, closed, nullptr);
    }
    shutdown(socket, SHUT_RDWR);
    close(socket);
    return processed;
}

}  // namespace zelt::scan
