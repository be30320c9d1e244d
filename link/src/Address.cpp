#include "zelt/link/Address.h"

#include <algorithm>
#include <cctype>

namespace zelt::link {

namespace {

constexpr const char* kForms = "give tcp://HOST:PORT, serial:DEVICE[:BAUD] or ble://ADDRESS|NAME";

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// A decimal number of at most `digits` digits; -1 for anything else.
long Decimal(const std::string& text, std::size_t digits) {
    if (text.empty() || text.size() > digits ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return -1;
    }
    return std::stol(text);
}

Address ParseTcp(const std::string& text, const std::string& rest) {
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size()) {
        throw AddressError("invalid adapter address '" + text + "': give tcp://HOST:PORT");
    }
    std::string host = rest.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);  // [::1]
    }
    const std::string port = rest.substr(colon + 1);
    const long number = Decimal(port, 5);
    if (number < 1 || number > 65535) {
        throw AddressError("invalid port '" + port + "' in '" + text + "': give 1 to 65535");
    }
    Address address;
    address.kind = Address::Kind::Tcp;
    address.host = host;
    address.port = static_cast<std::uint16_t>(number);
    return address;
}

Address ParseSerial(const std::string& text, const std::string& rest) {
    Address address;
    address.kind = Address::Kind::Serial;
    address.device = rest;
    address.baudRate = kDefaultBaudRate;
    address.detectBaudRate = true;
    const auto colon = rest.rfind(':');
    if (colon != std::string::npos) {
        address.device = rest.substr(0, colon);
        const std::string rate = rest.substr(colon + 1);
        const auto supported = SupportedBaudRates();
        const long number = Decimal(rate, 7);
        if (std::find(supported.begin(), supported.end(), number) == supported.end()) {
            std::string list;
            for (int each : supported) {
                list += (list.empty() ? "" : ", ") + std::to_string(each);
            }
            throw AddressError("unsupported baud rate '" + rate + "' in '" + text +
                               "': give one of " + list);
        }
        address.baudRate = static_cast<int>(number);
        address.detectBaudRate = false;
    }
    if (address.device.empty()) {
        throw AddressError("invalid adapter address '" + text + "': give serial:DEVICE[:BAUD]");
    }
    return address;
}

// AA:BB:CC:DD:EE:FF in either case.
bool IsBluetoothAddress(const std::string& text) {
    if (text.size() != 17) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool separator = i % 3 == 2;
        if (separator ? text[i] != ':' : std::isxdigit(static_cast<unsigned char>(text[i])) == 0) {
            return false;
        }
    }
    return true;
}

Address ParseBle(const std::string& text, const std::string& rest) {
    // A name is at most 248 bytes (the Bluetooth core's limit) and printable.
    if (rest.empty() || rest.size() > 248 || std::any_of(rest.begin(), rest.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        })) {
        throw AddressError("invalid adapter address '" + text +
                           "': give ble://AA:BB:CC:DD:EE:FF or ble://NAME");
    }
    Address address;
    address.kind = Address::Kind::Ble;
    address.device = rest;
    address.bleByName = !IsBluetoothAddress(rest);
    if (!address.bleByName) {
        std::transform(rest.begin(), rest.end(), address.device.begin(), [](char c) {
            return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        });
    }
    return address;
}

}  // namespace

std::vector<int> SupportedBaudRates() {
    std::vector<int> rates{9600, 19200, 38400, 57600, 115200};
#if defined(_WIN32) || defined(__linux__)
    rates.push_back(230400);
    rates.push_back(500000);
#endif
    return rates;
}

Address Address::Parse(const std::string& text) {
    if (StartsWith(text, "tcp://")) {
        return ParseTcp(text, text.substr(6));
    }
    if (StartsWith(text, "serial:")) {
        return ParseSerial(text, text.substr(7));
    }
    if (StartsWith(text, "ble://")) {
        return ParseBle(text, text.substr(6));
    }
    throw AddressError("unknown adapter '" + text + "': " + kForms);
}

}  // namespace zelt::link
