#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>

namespace zelt::scan {

// What one connection may cost the server, at most.
struct ServerBounds {
    // The request line, headers and body together; a request that goes on
    // is cut off once it is over the bound.
    std::size_t maxRequestBytes = 0;
    // From the first byte waited for to the last byte of the request, for
    // the whole request, not per read: a client that trickles is cut off.
    std::chrono::milliseconds requestDeadline{0};
    // How long one write of the answer may wait for the client to read.
    std::chrono::milliseconds writeTimeout{0};
    // Connections served at once, and accepted ones that wait for a worker;
    // beyond both, a connection is answered 503 at once and closed.
    std::size_t workers = 0;
    std::size_t waiting = 0;
};

// An httplib server whose connections each carry one request and then
// close, within the bounds above. The library bounds each header line, not
// their number nor the time a client takes; here both are bounded.
//
// POSIX sockets (the dashboard is built on Debian only).
class BoundedServer : public httplib::Server {
public:
    explicit BoundedServer(const ServerBounds& bounds);

    // Stops listening and has every connection give up within a tenth of a
    // second, whatever its client does; returns at once (the listening
    // thread returns once the workers are done).
    void stopNow();

private:
    bool process_and_close_socket(socket_t socket) override;

    const ServerBounds bounds_;
    std::atomic<bool> stopping_{false};
};

}  // namespace zelt::scan
