#include "zelt/link/Discovery.h"

#include <algorithm>

#include "BleDiscovery.h"

#ifndef _WIN32
#include <dirent.h>
#endif

namespace zelt::link {

namespace {

// The serial ports USB adapters (ttyUSB, ttyACM) and bound classic
// Bluetooth ones (rfcomm) appear as, sorted. Windows names its COM ports
// in the device manager; none are listed there.
std::vector<std::string> SerialPorts() {
    std::vector<std::string> ports;
#ifndef _WIN32
    DIR* dev = ::opendir("/dev");
    if (dev == nullptr) {
        return ports;
    }
    while (const dirent* entry = ::readdir(dev)) {
        const std::string name = entry->d_name;
        for (const char* prefix : {"rfcomm", "ttyUSB", "ttyACM"}) {
            if (name.rfind(prefix, 0) == 0) {
                ports.push_back("/dev/" + name);
            }
        }
    }
    ::closedir(dev);
    std::sort(ports.begin(), ports.end());
#endif
    return ports;
}

}  // namespace

Discovery DiscoverAdapters(std::chrono::milliseconds bleListening) {
    Discovery found;
    detail::DiscoverBleDevices(bleListening, found);
    for (const std::string& port : SerialPorts()) {
        DiscoveredAdapter adapter;
        adapter.kind = DiscoveredAdapter::Kind::Serial;
        adapter.address = "serial:" + port;
        found.adapters.push_back(std::move(adapter));
    }
    return found;
}

}  // namespace zelt::link
