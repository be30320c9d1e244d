#pragma once

#include <ostream>
#include <string>

#include "VehicleFeed.h"

namespace zelt::scan {

// Where the dashboard listens: "[HOST:]PORT", the host in brackets for IPv6
// ("[::1]:8080"); without a host, loopback. Port 0 takes a free port.
struct ListenAddress {
    std::string host = "127.0.0.1";
    int port = 0;
};

// Throws UsageError, naming --serve, for anything but [HOST:]PORT with a
// decimal port from 0 to 65535.
ListenAddress ParseListenAddress(const std::string& text);

struct ServeSettings {
    ListenAddress address;
    // Whether viewers may clear the trouble codes (each after a
    // confirmation in the page).
    bool allowClear = false;
    FeedSettings feed;
};

// Serves the live dashboard of `session`'s vehicle over HTTP: the page, its
// files, and the endpoints documented in docs/dashboard.md. Writes
// "serving http://HOST:PORT/" to `out` once it listens, then serves until
// Ctrl-C (SIGINT) or SIGTERM, and returns when every connection is closed.
//
// Throws UsageError for an unknown watched PID, std::runtime_error when it
// cannot listen at the address.
void ServeDashboard(app::Session& session, const ServeSettings& settings, std::ostream& out);

}  // namespace zelt::scan
