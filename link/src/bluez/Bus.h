#pragma once

// The little of sd-bus that talking to BlueZ needs: the system bus, method
// calls to org.bluez with their errors kept apart, and the object tree.
//
// sd-bus (libsystemd) rather than a C++ binding: it is a C API in every
// Debian release, its runtime (libsystemd0) is on every Debian system
// already, and it honours DBUS_SYSTEM_BUS_ADDRESS.
//
// Thread safety: a Bus is used by one thread at a time.

#include <systemd/sd-bus.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace zelt::link::bluez {

// A method call BlueZ answered with an error: its D-Bus name
// ("org.bluez.Error.NotPermitted") and BlueZ's own words.
class BusError : public std::runtime_error {
public:
    BusError(std::string name, const std::string& message)
        : std::runtime_error(message), name_(std::move(name)) {}
    const std::string& name() const { return name_; }

private:
    std::string name_;
};

// A property's value, of the few types BlueZ's properties here have: text
// (s, o), lists of text (as, ao), numbers (b, n, q, y, i, u).
struct Property {
    std::string text;
    std::vector<std::string> list;
    long long number = 0;
};
using Properties = std::map<std::string, Property>;
using Interfaces = std::map<std::string, Properties>;
// Object path to its interfaces; ordered, so a device's GATT objects come
// in handle order (BlueZ names them with fixed-width hexadecimal).
using Objects = std::map<std::string, Interfaces>;

// A message reference owned.
struct MessageDeleter {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageDeleter>;

class Bus {
public:
    // Opens the system bus; throws std::runtime_error when there is none.
    Bus();
    ~Bus();
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    sd_bus* get() const { return bus_; }

    // Calls `member` of `interface` on BlueZ's object `path`, with the
    // arguments `append` adds, waiting at most `timeout`. Throws BusError.
    Message call(const std::string& path, const char* interface, const char* member,
                 std::chrono::milliseconds timeout,
                 const std::function<void(sd_bus_message*)>& append = {});

    // BlueZ's whole object tree. Throws BusError.
    Objects managedObjects();

private:
    sd_bus* bus_ = nullptr;
};

// Reads an a{sv} at the message's position.
Properties ReadProperties(sd_bus_message* message);

// Throws std::runtime_error for a negative sd-bus result, naming `what`.
int Check(int result, const char* what);

// Appends a{sv} with one string entry (`key`: <`value`>).
void AppendStringOption(sd_bus_message* message, const char* key, const char* value);

constexpr const char* kService = "org.bluez";
constexpr const char* kAdapterInterface = "org.bluez.Adapter1";
constexpr const char* kDeviceInterface = "org.bluez.Device1";
constexpr const char* kServiceInterface = "org.bluez.GattService1";
constexpr const char* kCharacteristicInterface = "org.bluez.GattCharacteristic1";

}  // namespace zelt::link::bluez
