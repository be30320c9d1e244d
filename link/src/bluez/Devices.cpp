#include "Devices.h"

#include <algorithm>
#include <thread>

namespace zelt::link::bluez {

namespace {

using Clock = std::chrono::steady_clock;

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

bool Matches(const SeenDevice& device, const std::string& wanted, bool byName) {
    if (!byName) {
        return device.address == wanted;
    }
    return device.name.size() == wanted.size() &&
           std::equal(device.name.begin(), device.name.end(), wanted.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

std::string Seen(const std::vector<SeenDevice>& devices) {
    std::string list;
    for (const auto& device : devices) {
        if (device.rssi) {
            list += (list.empty() ? "" : ", ") + device.address +
                    (device.name.empty() ? "" : " (" + device.name + ")");
        }
    }
    return list.empty() ? "none" : list;
}

const Property* Find(const Properties& properties, const char* name) {
    const auto found = properties.find(name);
    return found == properties.end() ? nullptr : &found->second;
}

std::string TextOf(const Properties& properties, const char* name) {
    const Property* property = Find(properties, name);
    return property == nullptr ? std::string() : property->text;
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
        if (TextOf(properties, "Adapter") != adapter) {
            continue;
        }
        SeenDevice seen;
        seen.path = path;
        seen.address = TextOf(properties, "Address");
        seen.name = TextOf(properties, "Name");
        if (seen.name.empty()) {
            seen.name = TextOf(properties, "Alias");
        }
        if (const Property* rssi = Find(properties, "RSSI")) {
            seen.rssi = static_cast<int>(rssi->number);
        }
        if (const Property* uuids = Find(properties, "UUIDs")) {
            seen.uuids = uuids->list;
        }
        const Property* connected = Find(properties, "Connected");
        seen.connected = connected != nullptr && connected->number != 0;
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
               "); close the other program, or bluetoothctl disconnect " + address +
               ", and try again";
    }
    return doing + " the adapter " + address + " failed: " + said;
}

// Looks for the device among those BlueZ hears (or is connected to) for
// `searchTimeout`, discovering LE devices meanwhile.
SeenDevice FindDevice(Bus& bus, const std::string& adapter, const std::string& wanted, bool byName,
                      std::chrono::milliseconds searchTimeout) {
    const auto deadline = Clock::now() + searchTimeout;
    bool discovering = false;
    std::vector<SeenDevice> devices;
    for (;;) {
        devices = DevicesOf(ReadObjects(bus), adapter);
        for (const auto& device : devices) {
            // A device only remembered (no signal) may be far away.
            if (Matches(device, wanted, byName) && (device.rssi || device.connected)) {
                if (discovering) {
                    StopDiscovery(bus, adapter);
                }
                return device;
            }
        }
        if (Clock::now() >= deadline) {
            break;
        }
        if (!discovering) {
            StartLeDiscovery(bus, adapter);
            discovering = true;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    if (discovering) {
        StopDiscovery(bus, adapter);
    }
    throw std::runtime_error("no Bluetooth LE device " + std::string(byName ? "named " : "") +
                             wanted + " was seen within " + std::to_string(searchTimeout.count()) +
                             " ms; seen: " + Seen(devices));
}

// The device's services and characteristics in handle order.
std::vector<detail::GattServiceInfo> GattOf(const Objects& objects, const std::string& device) {
    std::vector<detail::GattServiceInfo> services;
    std::vector<std::string> servicePaths;
    for (const auto& [path, interfaces] : objects) {
        if (path.compare(0, device.size() + 1, device + "/") != 0) {
            continue;
        }
        if (const auto service = interfaces.find(kServiceInterface); service != interfaces.end()) {
            services.push_back({TextOf(service->second, "UUID"), {}});
            servicePaths.push_back(path);
        }
        if (const auto characteristic = interfaces.find(kCharacteristicInterface);
            characteristic != interfaces.end() && !services.empty()) {
            const auto& properties = characteristic->second;
            const auto at =
                std::find(servicePaths.begin(), servicePaths.end(), TextOf(properties, "Service"));
            if (at == servicePaths.end()) {
                continue;
            }
            auto& into = services[static_cast<std::size_t>(at - servicePaths.begin())];
            const Property* flags = Find(properties, "Flags");
            into.characteristics.push_back(
                {path, TextOf(properties, "UUID"),
                 flags != nullptr ? flags->list : std::vector<std::string>{}});
        }
    }
    return services;
}

}  // namespace zelt::link::bluez
