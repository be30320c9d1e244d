// Where zelt_link is built without BlueZ (not Linux, or libsystemd absent):
// Bluetooth LE addresses are refused, saying what works instead.

#ifndef ZELT_LINK_HAVE_BLUEZ

#include <stdexcept>

#include "BleDiscovery.h"
#include "zelt/link/Transport.h"

namespace zelt::link {

namespace {
#ifdef __linux__
constexpr const char* kUnavailable =
    "this build has no Bluetooth LE (libsystemd was missing when it was built); use tcp:// or a "
    "serial port";
#else
constexpr const char* kUnavailable =
    "Bluetooth LE adapters are supported on Linux only; use tcp:// or a serial port";
#endif
}  // namespace

std::unique_ptr<ITransport> OpenBleTransport(const std::string&, bool, std::chrono::milliseconds) {
    throw std::runtime_error(kUnavailable);
}

void detail::DiscoverBleDevices(std::chrono::milliseconds, Discovery& into) {
    into.problems.emplace_back(kUnavailable);
}

}  // namespace zelt::link

#endif
