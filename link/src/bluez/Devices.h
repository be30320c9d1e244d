#pragma once

// BlueZ's adapters and the Bluetooth LE devices it has seen, and what its
// errors mean to the person holding the dongle.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "../GattLayout.h"
#include "Bus.h"

namespace zelt::link::bluez {

struct SeenDevice {
    std::string path;
    std::string address;             // AA:BB:CC:DD:EE:FF
    std::string name;                // advertised, else BlueZ's alias
    std::optional<int> rssi;         // present while it is being heard
    std::vector<std::string> uuids;  // the services it advertises
    bool connected = false;
};

// BlueZ's object tree; throws std::runtime_error saying Bluetooth is not
// running when nothing answers as org.bluez.
Objects ReadObjects(Bus& bus);

// The first powered adapter's object path; throws std::runtime_error when
// there is none, or none powered (with how to switch it on).
std::string FindAdapter(const Objects& objects);

// The devices of `adapter` in `objects`.
std::vector<SeenDevice> DevicesOf(const Objects& objects, const std::string& adapter);

// How often BlueZ's tree is read again while waiting for it to change.
constexpr std::chrono::milliseconds kPollInterval{100};

// The device `wanted` (its address, or with `byName` its name, in any
// case) among those `adapter` hears or is connected to, discovering LE
// devices for at most `searchTimeout`. Throws std::runtime_error naming
// the devices heard when it is not among them.
SeenDevice FindDevice(Bus& bus, const std::string& adapter, const std::string& wanted, bool byName,
                      std::chrono::milliseconds searchTimeout);

// The GATT services and characteristics of `device`, in handle order.
std::vector<detail::GattServiceInfo> GattOf(const Objects& objects, const std::string& device);

// Starts discovery of Bluetooth LE devices only on `adapter`.
void StartLeDiscovery(Bus& bus, const std::string& adapter);
// Stops it; errors are ignored (another client may still be discovering).
void StopDiscovery(Bus& bus, const std::string& adapter);

// BlueZ's error as the user's message about the device at `address`:
// pairing needed (with the bluetoothctl commands), another client holding
// it, or BlueZ's own words, after `doing` ("connecting to").
std::string Explain(const BusError& error, const std::string& doing, const std::string& address);

}  // namespace zelt::link::bluez
