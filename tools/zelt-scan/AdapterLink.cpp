#include "AdapterLink.h"

#include <algorithm>
#include <cstdlib>

#include "SerialTransport.h"
#include "Session.h"
#include "TcpTransport.h"

namespace zelt::scan {

namespace {

constexpr const char* kAddressForms = "give tcp://HOST:PORT or serial:DEVICE[:BAUD]";

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool AllDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::unique_ptr<AdapterLink> OpenTcp(const std::string& address, const std::string& rest) {
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size()) {
        throw UsageError("invalid adapter address '" + address + "': give tcp://HOST:PORT");
    }
    const std::string host = rest.substr(0, colon);
    const std::string port = rest.substr(colon + 1);
    char* end = nullptr;
    const long number = std::strtol(port.c_str(), &end, 10);
    if (*end != '\0' || number < 1 || number > 65535) {
        throw UsageError("invalid port '" + port + "' in '" + address + "'");
    }
    return OpenTcpTransport(host, port);
}

// serial:/dev/ttyUSB0, serial:/dev/ttyUSB0:115200, serial:COM3:9600. A
// colon in the device name is not supported: the last colon starts the rate.
std::unique_ptr<AdapterLink> OpenSerial(const std::string& address, const std::string& rest) {
    std::string device = rest;
    int baudRate = kDefaultBaudRate;
    const auto colon = rest.rfind(':');
    if (colon != std::string::npos) {
        device = rest.substr(0, colon);
        const std::string rate = rest.substr(colon + 1);
        const auto supported = SupportedBaudRates();
        const bool known = AllDigits(rate) && rate.size() <= 7 &&
                           std::find(supported.begin(), supported.end(), std::atoi(rate.c_str())) !=
                               supported.end();
        if (!known) {
            std::string list;
            for (int each : supported) {
                list += (list.empty() ? "" : ", ") + std::to_string(each);
            }
            throw UsageError("unsupported baud rate '" + rate + "' in '" + address +
                             "': give one of " + list);
        }
        baudRate = std::atoi(rate.c_str());
    }
    if (device.empty()) {
        throw UsageError("invalid adapter address '" + address + "': give serial:DEVICE[:BAUD]");
    }
    return OpenSerialTransport(device, baudRate);
}

}  // namespace

std::unique_ptr<AdapterLink> AdapterLink::Open(const std::string& address) {
    if (StartsWith(address, "tcp://")) {
        return OpenTcp(address, address.substr(6));
    }
    if (StartsWith(address, "serial:")) {
        return OpenSerial(address, address.substr(7));
    }
    throw UsageError("unknown adapter '" + address + "': " + kAddressForms);
}

}  // namespace zelt::scan
