#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "zelt/link/Export.h"

namespace zelt::link {

// An adapter that DiscoverAdapters() found, with the address that reaches
// it (for OpenTransport() and zelt-scan --adapter).
struct ZELT_LINK_API DiscoveredAdapter {
    // How the adapter is reached.
    enum class Kind { Ble, Serial };
    Kind kind = Kind::Serial;  // Bluetooth LE or a serial port
    std::string address;       // ble://AA:BB:CC:DD:EE:FF, serial:/dev/ttyUSB0
    std::string name;          // Ble: what it advertises; may be empty
    std::optional<int> rssi;   // Ble: its signal, dBm
    // Ble: the OBD adapters' service it advertises ("FFF0"); empty when it
    // advertises none of them (it may still have one: connecting tells).
    std::string layout;
};

// What DiscoverAdapters() found and what it could not look for.
struct ZELT_LINK_API Discovery {
    std::vector<DiscoveredAdapter> adapters;  // Bluetooth LE first, then serial ports
    // Why a kind of adapter could not be looked for ("Bluetooth is not
    // running ..."), one line each.
    std::vector<std::string> problems;
};

// Lists the adapters within reach: Bluetooth LE devices heard while
// listening for `bleListening` (Linux, through BlueZ), then the serial
// ports adapters appear as (/dev/rfcomm*, /dev/ttyUSB*, /dev/ttyACM*).
// Takes `bleListening` at most beyond BlueZ's own answers; never throws
// for an absent kind, which is named in `problems` instead.
ZELT_LINK_API Discovery DiscoverAdapters(std::chrono::milliseconds bleListening);

}  // namespace zelt::link
