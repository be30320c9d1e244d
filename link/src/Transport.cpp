#include "zelt/link/Transport.h"

namespace zelt::link {

ITransport::~ITransport() = default;

std::unique_ptr<ITransport> OpenTransport(const Address& address, const TransportOptions& options) {
    if (address.kind == Address::Kind::Tcp) {
        return OpenTcpTransport(address.host, address.port, options.connectTimeout);
    }
    if (address.kind == Address::Kind::Ble) {
        return OpenBleTransport(address.device, address.bleByName, options.bleSearchTimeout);
    }
    if (!address.detectBaudRate) {
        return OpenSerialTransport(address.device, address.baudRate);
    }
    int found = 0;
    auto transport = OpenSerialTransportFindingRate(address.device, options.probeTimeout, found);
    if (options.baudRateFound) {
        options.baudRateFound(found);
    }
    return transport;
}

std::unique_ptr<ITransport> OpenTransport(const std::string& address,
                                          const TransportOptions& options) {
    return OpenTransport(Address::Parse(address), options);
}

}  // namespace zelt::link
