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

// Parses `url`. USER and PASSWORD may hold %XX escapes (for ':', '@', '/'),
// but not %00. The topic is the whole path, one a client may publish on (see
// TopicProblem). Throws SettingsError naming what is wrong.
BrokerAddress ParseBrokerAddress(const std::string& url);

// Why a client cannot publish on `topic`, empty when it can: it needs one or
// more levels, none empty, valid UTF-8 without NUL, no wildcard ('+', '#')
// and no '$' at the start (the broker's own topics, which it would drop).
std::string TopicProblem(const std::string& topic);

}  // namespace zelt::publish
