#include "zelt/publish/BrokerAddress.h"

#include <mosquitto.h>

#include <cctype>

namespace zelt::publish {

namespace {

constexpr int kPlainPort = 1883;
constexpr int kTlsPort = 8883;
constexpr int kMaxPort = 65535;
constexpr std::size_t kMaxTopicBytes = 65535;  // an MQTT string's length field

// The address is not repeated: it may hold a password.
[[noreturn]] void Refuse(const std::string& why) {
    throw SettingsError("invalid broker address: " + why +
                        " (give mqtt://[USER:PASSWORD@]HOST[:PORT]/TOPIC)");
}

int HexDigit(char c) {
    if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
        return c - '0';
    }
    if (std::isxdigit(static_cast<unsigned char>(c)) != 0) {
        return std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    }
    return -1;
}

// Undoes %XX escapes.
std::string Unescape(const std::string& text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            plain += text[i];
            continue;
        }
        const int high = i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int low = high >= 0 ? HexDigit(text[i + 2]) : -1;
        if (low < 0) {
            Refuse("a '%' in the credentials needs two hexadecimal digits");
        }
        if (high == 0 && low == 0) {
            Refuse("the credentials cannot hold %00");
        }
        plain += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return plain;
}

int ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        Refuse("the port must be a number from 1 to 65535");
    }
    const int port = std::stoi(text);
    if (port < 1 || port > kMaxPort) {
        Refuse("the port must be a number from 1 to 65535");
    }
    return port;
}

}  // namespace

std::string TopicProblem(const std::string& topic) {
    if (topic.empty()) {
        return "no topic";
    }
    if (topic.size() > kMaxTopicBytes) {
        return "the topic is longer than MQTT allows";
    }
    if (topic.find_first_of("+#") != std::string::npos) {
        return "a topic to publish on cannot hold the wildcards '+' or '#'";
    }
    if (topic.front() == '$') {
        return "a topic starting with '$' belongs to the broker";
    }
    if (topic.find('\0') != std::string::npos || topic.front() == '/' || topic.back() == '/' ||
        topic.find("//") != std::string::npos) {
        return "the topic has an empty level";
    }
    if (mosquitto_validate_utf8(topic.data(), static_cast<int>(topic.size())) != MOSQ_ERR_SUCCESS) {
        return "the topic is not valid UTF-8";
    }
    return "";
}

BrokerAddress ParseBrokerAddress(const std::string& url) {
    BrokerAddress address;
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        address.tls = true;
        rest = url.substr(8);
    } else {
        Refuse("it must start with mqtt:// or mqtts://");
    }
    const std::size_t slash = rest.find('/');
    if (slash == std::string::npos) {
        Refuse("no topic after the host");
    }
    std::string authority = rest.substr(0, slash);
    address.topic = rest.substr(slash + 1);

    const std::size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        const std::string credentials = authority.substr(0, at);
        const std::size_t colon = credentials.find(':');
        address.username = Unescape(credentials.substr(0, colon));
        if (colon != std::string::npos) {
            address.password = Unescape(credentials.substr(colon + 1));
        }
        if (address.username.empty()) {
            Refuse("an empty user name before '@'");
        }
        authority = authority.substr(at + 1);
    }

    std::string port;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos) {
            Refuse("an IPv6 address needs its closing ']'");
        }
        address.host = authority.substr(1, close - 1);
        const std::string after = authority.substr(close + 1);
        if (!after.empty() && after.front() != ':') {
            Refuse("unexpected text after the IPv6 address");
        }
        port = after.empty() ? "" : after.substr(1);
        if (after == ":") {
            Refuse("the port must be a number from 1 to 65535");
        }
    } else {
        const std::size_t colon = authority.find(':');
        address.host = authority.substr(0, colon);
        if (colon != std::string::npos) {
            port = authority.substr(colon + 1);
            ParsePort(port);  // refuses an empty one too
        }
    }
    if (address.host.empty()) {
        Refuse("no host");
    }
    address.port = port.empty() ? (address.tls ? kTlsPort : kPlainPort) : ParsePort(port);
    if (address.topic.empty()) {
        Refuse("no topic after the host");
    }
    const std::string problem = TopicProblem(address.topic);
    if (!problem.empty()) {
        Refuse(problem);
    }
    return address;
}

}  // namespace zelt::publish
