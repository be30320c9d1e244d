#include "../BleDiscovery.h"

#include <algorithm>
#include <thread>

#include "../GattLayout.h"
#include "Devices.h"

namespace zelt::link::detail {

void DiscoverBleDevices(std::chrono::milliseconds listening, Discovery& into) {
    try {
        bluez::Bus bus;
        const std::string adapter = bluez::FindAdapter(bluez::ReadObjects(bus));
        bluez::StartLeDiscovery(bus, adapter);
        std::this_thread::sleep_for(listening);
        auto devices = bluez::DevicesOf(bluez::ReadObjects(bus), adapter);
        bluez::StopDiscovery(bus, adapter);
        // Strongest signal first: the dongle in the car beats the neighbours'.
        std::stable_sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) {
            return a.rssi.value_or(-1000) > b.rssi.value_or(-1000);
        });
        for (const auto& device : devices) {
            if (!device.rssi && !device.connected) {
                continue;  // remembered, not heard now
            }
            DiscoveredAdapter found;
            found.kind = DiscoveredAdapter::Kind::Ble;
            found.address = "ble://" + device.address;
            found.name = device.name;
            found.rssi = device.rssi;
            found.layout = KnownLayoutOf(device.uuids);
            into.adapters.push_back(std::move(found));
        }
    } catch (const std::exception& error) {
        into.problems.emplace_back(std::string("Bluetooth LE: ") + error.what());
    }
}

}  // namespace zelt::link::detail
