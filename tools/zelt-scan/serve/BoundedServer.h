#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>

namespace zelt::scan {

// An httplib server whose connections each carry one request of at most
// `maxRequestBytes` (request line, headers and body together) and then
// close. The library bounds each header line, not their number; here a
// request that goes on is cut off once it is over the bound, before it costs
// more memory than that. Reads and writes give up after `timeout`.
//
// POSIX sockets (the dashboard is built on Debian only).
class BoundedServer : public httplib::Server {
public:
    BoundedServer(std::size_t maxRequestBytes, std::chrono::seconds timeout)
        : maxRequestBytes_(maxRequestBytes), timeout_(timeout) {}

private:
    bool process_and_close_socket(socket_t socket) override;

    const std::size_t maxRequestBytes_;
    const std::chrono::seconds timeout_;
};

}  // namespace zelt::scan
