#include "BoundedServer.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

#include "orvane/Mutex.h"

namespace zelt::scan {

namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting connection looks whether the server stops.
constexpr auto kStopCheck = std::chrono::milliseconds(100);

// Set on the accepting thread while it runs a connection the pool had no
// room for: that connection is refused instead of served.
thread_local bool tRefuseConnection = false;

// Waits until `socket` is ready for `events`, `deadline` passes or the
// server stops, whichever comes first.
bool Ready(int socket, short events, Clock::time_point deadline, const std::atomic<bool>& stop) {
    while (!stop) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd watched{socket, events, 0};
        const int ready = poll(&watched, 1, static_cast<int>(std::min(left, kStopCheck).count()));
        if (ready != 0) {
            return ready > 0 && (watched.revents & events) != 0;
        }
    }
    return false;
}

// The stream httplib reads one request from and writes its answer to.
class BoundedStream : public httplib::Stream {
public:
    BoundedStream(int socket, const ServerBounds& bounds, const std::atomic<bool>& stop)
        : socket_(socket),
          unread_(bounds.maxRequestBytes),
          readDeadline_(Clock::now() + bounds.requestDeadline),
          writeTimeout_(bounds.writeTimeout),
          stop_(stop) {}

    bool is_readable() const override { return Ready(socket_, POLLIN, readDeadline_, stop_); }
    bool is_writable() const override {
        return Ready(socket_, POLLOUT, Clock::now() + writeTimeout_, stop_);
    }

    ssize_t read(char* data, std::size_t size) override {
        if (unread_ == 0 || !is_readable()) {
            return -1;  // over the bound, past the deadline, or stopping
        }
        const ssize_t got = recv(socket_, data, std::min(size, unread_), 0);
        if (got > 0) {
            unread_ -= static_cast<std::size_t>(got);
        }
        return got;
    }

    ssize_t write(const char* data, std::size_t size) override {
        // MSG_NOSIGNAL: a viewer that went away is an error, not SIGPIPE.
        return is_writable() ? send(socket_, data, size, MSG_NOSIGNAL) : -1;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        address(getpeername, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        address(getsockname, ip, port);
    }
    socket_t socket() const override { return socket_; }

private:
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
    const Clock::time_point readDeadline_;
    const std::chrono::milliseconds writeTimeout_;
    const std::atomic<bool>& stop_;
};

// A fixed pool of workers with a bounded line of connections waiting for
// them. A connection beyond the line runs on the accepting thread, marked
// to be refused, which costs one short write.
class BoundedPool : public httplib::TaskQueue {
public:
    BoundedPool(std::size_t workers, std::size_t waiting) : maxWaiting_(waiting) {
        for (std::size_t i = 0; i < workers; ++i) {
            workers_.emplace_back([this] { work(); });
        }
    }
    ~BoundedPool() override { shutdown(); }

    BoundedPool(const BoundedPool&) = delete;
    BoundedPool& operator=(const BoundedPool&) = delete;

    void enqueue(std::function<void()> task) override {
        {
            orvane::MutexLock lock(mutex_);
            if (tasks_.size() < maxWaiting_) {
                tasks_.push_back(std::move(task));
                changed_.notify_one();
                return;
            }
        }
        tRefuseConnection = true;
        task();
        tRefuseConnection = false;
    }

    void shutdown() override {
        {
            orvane::MutexLock lock(mutex_);
            stopping_ = true;
            changed_.notify_all();
        }
        for (auto& worker : workers_) {
            if (worker.joinable()) {
                worker.join();
            }
        }
    }

private:
    void work() {
        for (;;) {
            std::function<void()> task;
            {
                orvane::UniqueLock lock(mutex_);
                while (!stopping_ && tasks_.empty()) {
                    lock.wait(changed_);
                }
                if (tasks_.empty()) {
                    return;
                }
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();  // after stopping too: each accepted connection is closed
        }
    }

    const std::size_t maxWaiting_;
    orvane::Mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_ ORVANE_GUARDED_BY(mutex_);
    bool stopping_ ORVANE_GUARDED_BY(mutex_) = false;
    std::vector<std::thread> workers_;  // last: they start once the above is set
};

void Refuse(int socket) {
    static const std::string kBody = R"({"error": "too many connections; try again soon"})";
    static const std::string kBusy =
        "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\n"
        "Retry-After: 1\r\nConnection: close\r\nContent-Length: " +
        std::to_string(kBody.size()) + "\r\n\r\n" + kBody;
    // Never waits: a client that does not read gets nothing.
    (void)send(socket, kBusy.data(), kBusy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// Reads what the client sent and nobody read (the rest of a refused
// request) without waiting, so that closing does not reset the connection
// before the client read the answer.
void Drain(int socket, std::size_t bound) {
    char buffer[1024];
    ssize_t got = 0;
    while (bound > 0 && (got = recv(socket, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
        bound -= std::min(bound, static_cast<std::size_t>(got));
    }
}

}  // namespace

BoundedServer::BoundedServer(const ServerBounds& bounds) : bounds_(bounds) {
    new_task_queue = [this] { return new BoundedPool(bounds_.workers, bounds_.waiting); };
}

void BoundedServer::stopNow() {
    stopping_ = true;
    stop();
}

bool BoundedServer::process_and_close_socket(socket_t socket) {
    bool processed = false;
    if (tRefuseConnection || stopping_) {
        Refuse(socket);
    } else {
        bool closed = false;
        BoundedStream stream(socket, bounds_, stopping_);
        processed = process_request(stream, true, closed, nullptr);
    }
    shutdown(socket, SHUT_WR);
    Drain(socket, bounds_.maxRequestBytes);
    close(socket);
    return processed;
}

}  // namespace zelt::scan
