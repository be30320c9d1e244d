#pragma once

#include <memory>
#include <string>

#include "AdapterLink.h"

namespace zelt::scan {

// Connects to an adapter listening on `host`:`port` (a Wi-Fi ELM327, or the
// emulator). Throws std::runtime_error when the host is unknown or nothing
// accepts the connection.
std::unique_ptr<AdapterLink> OpenTcpTransport(const std::string& host, const std::string& port);

}  // namespace zelt::scan
