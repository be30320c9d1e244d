#include "Door.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "Dashboard.h"

namespace zelt::scan {

namespace {

// 128 bits from the system's entropy, as hex.
std::string NewToken() {
    std::random_device entropy;
    std::string token;
    for (int i = 0; i < 4; ++i) {
        char word[9];
        std::snprintf(word, sizeof word, "%08x", static_cast<unsigned>(entropy()));
        token += word;
    }
    return token;
}

bool IsDecimalByte(const std::string& text) {
    return !text.empty() && text.size() <= 3 &&
           text.find_first_not_of("0123456789") == std::string::npos && std::stoi(text) <= 255 &&
           (text.size() == 1 || text.front() != '0');
}

}  // namespace

bool IsLoopbackHost(const std::string& host) {
    if (host == "localhost" || host == "::1") {
        return true;
    }
    // 127.a.b.c, each a decimal byte; "127.0.0.1.attacker.example" is not.
    std::vector<std::string> parts(1);
    for (const char c : host) {
        if (c == '.') {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts.size() == 4 && parts[0] == "127" &&
           std::all_of(parts.begin(), parts.end(), IsDecimalByte);
}

Door::Door(const ListenAddress& bound) : clearToken_(NewToken()) {
    if (!IsLoopbackHost(bound.host)) {
        return;  // the user named a host: the network decides who comes
    }
    const std::string port = ":" + std::to_string(bound.port);
    const bool ipv6 = bound.host.find(':') != std::string::npos;
    for (const std::string& name :
         {std::string("localhost"), std::string("127.0.0.1"), std::string("[::1]"),
          ipv6 ? "[" + bound.host + "]" : bound.host}) {
        hosts_.push_back(name + port);
        if (bound.port == 80) {
            hosts_.push_back(name);  // a browser leaves out the default port
        }
    }
}

bool Door::admits(const std::string& hostHeader) const {
    return hosts_.empty() || std::find(hosts_.begin(), hosts_.end(), hostHeader) != hosts_.end();
}

bool Door::sameOrigin(const std::string& origin, const std::string& host) const {
    return origin.empty() || (admits(host) && origin == "http://" + host);
}

}  // namespace zelt::scan
