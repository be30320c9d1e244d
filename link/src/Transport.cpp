#include "zelt/link/Transport.h"

namespace zelt::link {

ITransport::~ITransport() = default;

std::unique_ptr<ITransport> OpenTransport(const Address& address, const TransportOptions& options) {
    if (address.kind == Address::Kind::Tcp) {
        return OpenTcpTransport(address.host, address.port, options.connectTimeout);
    }
    return OpenSerialTransport(address.device, address.baudRate);
}

std::unique_ptr<ITransport> OpenTransport(const std::string& address,
                                          const TransportOptions& options) {
    return OpenTransport(Address::Parse(address), options);
}

}  // namespace zelt::link
