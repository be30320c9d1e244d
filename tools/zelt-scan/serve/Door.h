#pragma once

#include <string>
#include <vector>

namespace zelt::scan {

struct ListenAddress;

// Who the dashboard answers, and who may clear the codes.
//
// A loopback server answers only requests whose Host is exactly one of its
// loopback names with its port ("127.0.0.1:8080", "[::1]:8080",
// "localhost:8080"): a page elsewhere that points its own name at 127.0.0.1
// (DNS rebinding) is refused. A server on a host the user named answers any
// Host.
//
// Clearing the codes is a request a browser sends only from the dashboard's
// own page: its Origin, when it has one, must be exactly this server's, and
// it carries the token that only the page (or a client that asked
// /api/settings, which no other site can read) holds.
//
// Constant after construction; thread-safe.
class Door {
public:
    // `bound` is the address the server listens at, its port the real one.
    explicit Door(const ListenAddress& bound);

    bool admits(const std::string& hostHeader) const;
    // `origin` is the request's Origin header (empty when it has none),
    // `host` its Host header.
    bool sameOrigin(const std::string& origin, const std::string& host) const;
    const std::string& clearToken() const { return clearToken_; }

private:
    std::vector<std::string> hosts_;  // empty: any Host
    std::string clearToken_;
};

// True for the names of this machine's loopback interface: "localhost",
// "::1" and the addresses 127.0.0.0/8 written as four decimal numbers.
bool IsLoopbackHost(const std::string& host);

}  // namespace zelt::scan
