#include "Devices.h"

#include <algorithm>

namespace zelt::link::bluez {

namespace {

bool Contains(const std::string& text, const char* part) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return lower.find(part) != std::string::npos;
}

bool EndsWith(const std::string& text, const char* tail) {
    const std::string end = tail;
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

Objects ReadObjects(Bus& bus) {
    try {
        return bus.managedObjects();
    } catch (const BusError& error) {
        if (EndsWith(error.name(), ".ServiceUnknown") ||
            EndsWith(error.name(), ".NameHasNoOwner")) {
            throw std::runtime_error(
                "Bluetooth is not running: BlueZ does not answer on the system bus; start it "
                "(sudo systemctl start bluetooth)");
        }
        throw std::runtime_error("BlueZ cannot list its devices: " + std::string(error.what()));
    }
}

std::string FindAdapter(const Objects& objects) {
    std::string unpowered;
    for (const auto& [path, interfaces] : objects) {
        const auto adapter = interfaces.find(kAdapterInterface);
        if (adapter == interfaces.end()) {
            continue;
        }
        const auto powered = adapter->second.find("Powered");
        if (powered == adapter->second.end() || powered->second.number != 0) {
            return path;
        }
        unpowered = path;
    }
    if (!unpowered.empty()) {
        throw std::runtime_error("the Bluetooth adapter " + unpowered +
                                 " is switched off: switch it on (bluetoothctl power on)");
    }
    throw std::runtime_error(
        "no Bluetooth adapter: BlueZ has none (plugged in? blocked? see rfkill list)");
}

std::vector<SeenDevice> DevicesOf(const Objects& objects, const std::string& adapter) {
    std::vector<SeenDevice> devices;
    for (const auto& [path, interfaces] : objects) {
        const auto device = interfaces.find(kDeviceInterface);
        if (device == interfaces.end()) {
            continue;
        }
        const Properties& properties = device->second;
        const auto text = [&](const char* name) {
            const auto found = properties.find(name);
            return found == properties.end() ? std::string() : found->second.text;
        };
        if (text("Adapter") != adapter) {
            continue;
        }
        SeenDevice seen;
        seen.path = path;
        seen.address = text("Address");
        seen.name = text("Name").empty() ? text("Alias") : text("Name");
        if (const auto rssi = properties.find("RSSI"); rssi != properties.end()) {
            seen.rssi = static_cast<int>(rssi->second.number);
        }
        if (const auto uuids = properties.find("UUIDs"); uuids != properties.end()) {
            seen.uuids = uuids->second.list;
        }
        if (const auto connected = properties.find("Connected"); connected != properties.end()) {
            seen.connected = connected->second.number != 0;
        }
        devices.push_back(std::move(seen));
    }
    return devices;
}

void StartLeDiscovery(Bus& bus, const std::string& adapter) {
    try {
        bus.call(adapter, kAdapterInterface, "SetDiscoveryFilter", std::chrono::seconds(5),
                 [](sd_bus_message* message) { AppendStringOption(message, "Transport", "le"); });
        bus.call(adapter, kAdapterInterface, "StartDiscovery", std::chrono::seconds(5));
    } catch (const BusError& error) {
        // Another client's discovery already running serves as well.
        if (!EndsWith(error.name(), ".InProgress")) {
            throw std::runtime_error("Bluetooth discovery cannot start: " + error.name() + ": " +
                                     error.what());
        }
    }
}

void StopDiscovery(Bus& bus, const std::string& adapter) {
    try {
        bus.call(adapter, kAdapterInterface, "StopDiscovery", std::chrono::seconds(2));
    } catch (const std::exception&) {
        // Nothing to stop, or BlueZ went: either way nothing is left running.
    }
}

std::string Explain(const BusError& error, const std::string& doing, const std::string& address) {
    const std::string said = error.name() + (error.name().empty() ? "" : ": ") + error.what();
    if (EndsWith(error.name(), ".NotPermitted") || EndsWith(error.name(), ".NotAuthorized") ||
        EndsWith(error.name(), ".AuthenticationFailed") || Contains(error.what(), "authenticat") ||
        Contains(error.what(), "encrypt")) {
        return "the adapter " + address + " must be paired first (" + doing + " it, BlueZ said " +
               said + "); pair and trust it once: bluetoothctl pair " + address +
               ", then bluetoothctl trust " + address;
    }
    if (EndsWith(error.name(), ".InProgress") || EndsWith(error.name(), ".Busy") ||
        Contains(error.what(), "in progress") || Contains(error.what(), "busy")) {
        return "the adapter " + address + " is held by another client (" + doing +
               " it, BlueZ said " + said +
               "); close the other program, or bluetoothctl "
               "disconnect " +
               address + ", and try again";
    }
    return doing + " the adapter " + address + " failed: " + said;
}

}  // namespace zelt::link::bluez
