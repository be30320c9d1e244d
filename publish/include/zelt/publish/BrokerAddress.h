#pragma once

#include <stdexcept>
#include <string>

namespace zelt::publish {

// A broker address or a file the user got wrong; the message is one line
// for the user.
class SettingsError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// Where the publisher sends: mqtt://[USER[:PASSWORD]@]HOST[:PORT]/TOPIC, or
// mqtts:// for TLS.
struct BrokerAddress {
    bool tls = false;
    std::string host;  // an IPv6 address without its brackets
    int port = 0;      // 1883 for mqtt://, 8883 for mqtts:// unless given
    std::string topic;
    std::string username;  // empty: none given
    std::string password;
};

// Parses `url`. USER and PASSWORD may hold %XX escapes (for ':', '@', '/').
// The topic is the whole path: one or more levels without the wildcards
// '+' and '#', none of them empty. Throws SettingsError naming what is wrong.
BrokerAddress ParseBrokerAddress(const std::string& url);

}  // namespace zelt::publish
