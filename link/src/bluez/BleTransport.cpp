// The Bluetooth LE transport through BlueZ: commands are written to one
// characteristic, answers arrive as its (or another's) notifications. The
// adapter dialogue above reads up to the prompt, so an answer cut across
// notifications, even mid-line, is whole again there.

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "../GattLayout.h"
#include "../Wakeup.h"
#include "Bus.h"
#include "Devices.h"
#include "zelt/link/Transport.h"

namespace zelt::link {

namespace {

using bluez::Bus;
using bluez::BusError;
using bluez::SeenDevice;
using Clock = std::chrono::steady_clock;

// ATT's default MTU (23) less its 3-byte header: what one write carries
// unless the link negotiated more.
constexpr std::size_t kDefaultWriteSize = 20;
constexpr auto kCallTimeout = std::chrono::seconds(5);

// Waits for BlueZ to resolve the services of `found` (it shows the GATT
// objects then) and chooses its layout; sets `writeSize` from the MTU.
detail::GattLayout ResolveLayout(Bus& bus, const SeenDevice& found,
                                 std::chrono::milliseconds searchTimeout, std::size_t& writeSize) {
    const auto resolvedBy = Clock::now() + searchTimeout;
    bluez::Objects objects;
    for (;;) {
        objects = bluez::ReadObjects(bus);
        const auto& properties = objects[found.path][bluez::kDeviceInterface];
        if (properties.count("ServicesResolved") && properties.at("ServicesResolved").number) {
            break;
        }
        if (properties.empty() || Clock::now() >= resolvedBy) {
            throw std::runtime_error("the adapter " + found.address +
                                     (properties.empty() ? " went away while connecting"
                                                         : " connected but showed no services"));
        }
        std::this_thread::sleep_for(bluez::kPollInterval);
    }
    const auto services = bluez::GattOf(objects, found.path);
    const auto layout = detail::ChooseGattLayout(services);
    if (!layout) {
        std::string uuids;
        for (const auto& service : services) {
            uuids += (uuids.empty() ? "" : ", ") + detail::ShortUuid(service.uuid);
        }
        throw std::runtime_error("the device " + found.address +
                                 " is no OBD adapter: none of its services (" +
                                 (uuids.empty() ? "none" : uuids) +
                                 ") has a characteristic to write and one that notifies");
    }
    const auto& write = objects[layout->write.path][bluez::kCharacteristicInterface];
    if (const auto mtu = write.find("MTU"); mtu != write.end() && mtu->second.number > 23) {
        writeSize = static_cast<std::size_t>(mtu->second.number) - 3;
    }
    return *layout;
}

void Disconnect(Bus& bus, const std::string& device) {
    try {
        bus.call(device, bluez::kDeviceInterface, "Disconnect", std::chrono::seconds(2));
    } catch (const std::exception&) {
        // Gone already.
    }
}

class BleTransport : public ITransport {
public:
    BleTransport(std::unique_ptr<Bus> bus, std::string address, std::string devicePath,
                 detail::GattLayout layout, std::size_t writeSize)
        : bus_(std::move(bus)),
          address_(std::move(address)),
          device_(std::move(devicePath)),
          layout_(std::move(layout)),
          writeSize_(writeSize) {}

    ~BleTransport() override {
        // Politely, so that the dongle is free for the next client at once.
        try {
            bus_->call(layout_.notify.path, bluez::kCharacteristicInterface, "StopNotify",
                       std::chrono::seconds(2));
        } catch (const std::exception&) {
            // Gone already.
        }
        Disconnect(*bus_, device_);
    }
    BleTransport(const BleTransport&) = delete;
    BleTransport& operator=(const BleTransport&) = delete;

    // Subscribes to the answers and to the device's going; throws
    // std::runtime_error (pairing needed, device held) when it cannot.
    void subscribe() {
        const std::string deviceGone =
            "type='signal',sender='org.bluez',path='/',"
            "interface='org.freedesktop.DBus.ObjectManager',"
            "member='InterfacesRemoved'";
        bluez::Check(
            sd_bus_match_signal(bus_->get(), nullptr, bluez::kService, layout_.notify.path.c_str(),
                                "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                &BleTransport::onValueChanged, this),
            "watch the answers");
        bluez::Check(sd_bus_match_signal(bus_->get(), nullptr, bluez::kService, device_.c_str(),
                                         "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                         &BleTransport::onDeviceChanged, this),
                     "watch the device");
        bluez::Check(sd_bus_add_match(bus_->get(), nullptr, deviceGone.c_str(),
                                      &BleTransport::onRemoved, this),
                     "watch the device");
        bluez::Check(sd_bus_match_signal(bus_->get(), nullptr, "org.freedesktop.DBus",
                                         "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                         "NameOwnerChanged", &BleTransport::onOwnerChanged, this),
                     "watch BlueZ");
        try {
            bus_->call(layout_.notify.path, bluez::kCharacteristicInterface, "StartNotify",
                       kCallTimeout);
        } catch (const BusError& error) {
            throw std::runtime_error(bluez::Explain(error, "subscribing to", address_));
        }
    }

    bool send(const std::uint8_t* data, std::size_t size) override {
        const char* type = detail::WritesWithResponse(layout_.write) ? "request" : "command";
        for (std::size_t at = 0; at < size && !lost_; at += writeSize_) {
            const std::size_t piece = std::min(writeSize_, size - at);
            try {
                bus_->call(layout_.write.path, bluez::kCharacteristicInterface, "WriteValue",
                           kCallTimeout, [&](sd_bus_message* message) {
                               bluez::Check(
                                   sd_bus_message_append_array(message, 'y', data + at, piece),
                                   "append the bytes");
                               bluez::AppendStringOption(message, "type", type);
                           });
            } catch (const std::exception&) {
                return false;
            }
        }
        return !lost_;
    }

    bool receive(std::vector<std::uint8_t>& data) override {
        data.clear();
        for (;;) {
            if (!pending_.empty()) {
                data.swap(pending_);
                return true;
            }
            if (lost_) {
                return false;
            }
            const int processed = sd_bus_process(bus_->get(), nullptr);
            if (processed < 0) {
                return false;
            }
            if (processed > 0) {
                continue;
            }
            const int ready = waitBus();
            if (ready < 0) {
                return false;
            }
            if (ready == 0 && pending_.empty()) {
                return true;  // woken
            }
        }
    }

    void wake() override { wakeup_.signal(); }

private:
    // 1 when the bus has something, 0 when woken, < 0 on failure.
    int waitBus() {
        const int events = sd_bus_get_events(bus_->get());
        if (events < 0) {
            return events;
        }
        pollfd ready[2] = {{sd_bus_get_fd(bus_->get()), static_cast<short>(events), 0},
                           {wakeup_.fd(), POLLIN, 0}};
        std::uint64_t until = 0;
        int timeout = -1;
        if (sd_bus_get_timeout(bus_->get(), &until) > 0 && until != UINT64_MAX) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const std::uint64_t nowUs = static_cast<std::uint64_t>(now.tv_sec) * 1000000 +
                                        static_cast<std::uint64_t>(now.tv_nsec) / 1000;
            timeout = until > nowUs ? static_cast<int>((until - nowUs + 999) / 1000) : 0;
        }
        int result;
        do {
            result = ::poll(ready, 2, timeout);
        } while (result < 0 && errno == EINTR);
        if (result < 0) {
            return -errno;
        }
        if (ready[1].revents != 0) {
            wakeup_.drain();
            return 0;
        }
        return 1;
    }

    static int onValueChanged(sd_bus_message* message, void* self, sd_bus_error*) {
        auto* transport = static_cast<BleTransport*>(self);
        const auto changed = transport->changedProperties(message, bluez::kCharacteristicInterface);
        if (const auto value = changed.find("Value"); value != changed.end()) {
            transport->pending_.insert(transport->pending_.end(), value->second.text.begin(),
                                       value->second.text.end());
        }
        return 0;
    }

    static int onDeviceChanged(sd_bus_message* message, void* self, sd_bus_error*) {
        auto* transport = static_cast<BleTransport*>(self);
        const auto changed = transport->changedProperties(message, bluez::kDeviceInterface);
        if (const auto connected = changed.find("Connected");
            connected != changed.end() && connected->second.number == 0) {
            transport->lost_ = true;
        }
        return 0;
    }

    static int onRemoved(sd_bus_message* message, void* self, sd_bus_error*) {
        auto* transport = static_cast<BleTransport*>(self);
        const char* path = nullptr;
        if (sd_bus_message_read_basic(message, 'o', &path) > 0 && transport->device_ == path) {
            transport->lost_ = true;
        }
        return 0;
    }

    static int onOwnerChanged(sd_bus_message* message, void* self, sd_bus_error*) {
        const char* name = nullptr;
        const char* before = nullptr;
        const char* after = nullptr;
        if (sd_bus_message_read(message, "sss", &name, &before, &after) > 0 &&
            std::strcmp(name, bluez::kService) == 0 && after[0] == '\0') {
            static_cast<BleTransport*>(self)->lost_ = true;  // BlueZ stopped
        }
        return 0;
    }

    // The properties a PropertiesChanged of `interface` changed; none for
    // another interface or a message that cannot be read.
    bluez::Properties changedProperties(sd_bus_message* message, const char* interface) {
        try {
            const char* name = nullptr;
            if (sd_bus_message_read_basic(message, 's', &name) <= 0 ||
                std::strcmp(name, interface) != 0) {
                return {};
            }
            return bluez::ReadProperties(message);
        } catch (const std::exception&) {
            return {};
        }
    }

    const std::unique_ptr<Bus> bus_;
    const std::string address_;
    const std::string device_;
    const detail::GattLayout layout_;
    const std::size_t writeSize_;
    detail::Wakeup wakeup_;
    // The receiving thread only (callbacks run inside its sd_bus_process).
    std::vector<std::uint8_t> pending_;
    bool lost_ = false;
};

}  // namespace

std::unique_ptr<ITransport> OpenBleTransport(const std::string& device, bool byName,
                                             std::chrono::milliseconds searchTimeout) {
    auto bus = std::make_unique<Bus>();
    const std::string adapter = bluez::FindAdapter(bluez::ReadObjects(*bus));
    const SeenDevice found = bluez::FindDevice(*bus, adapter, device, byName, searchTimeout);
    if (!found.connected) {
        try {
            bus->call(found.path, bluez::kDeviceInterface, "Connect", searchTimeout);
        } catch (const BusError& error) {
            throw std::runtime_error(bluez::Explain(error, "connecting to", found.address));
        }
    }
    detail::GattLayout layout;
    std::size_t writeSize = kDefaultWriteSize;
    try {
        layout = ResolveLayout(*bus, found, searchTimeout, writeSize);
    } catch (const std::exception&) {
        // Not left connected: the dongle stays free for the next try.
        Disconnect(*bus, found.path);
        throw;
    }
    auto transport = std::make_unique<BleTransport>(std::move(bus), found.address, found.path,
                                                    layout, writeSize);
    transport->subscribe();
    return transport;
}

}  // namespace zelt::link
