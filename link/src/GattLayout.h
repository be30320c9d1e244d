#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zelt::link::detail {

// What a Bluetooth LE adapter's GATT database offers, as far as choosing
// where to write commands and where answers arrive goes.
struct GattCharacteristicInfo {
    std::string path;                // its object (BlueZ) or handle
    std::string uuid;                // as the stack gives it, any case
    std::vector<std::string> flags;  // "read", "write", "write-without-response", "notify", ...
};

struct GattServiceInfo {
    std::string uuid;
    std::vector<GattCharacteristicInfo> characteristics;  // in handle order
};

// The characteristic commands are written to and the one answers are
// notified on (often the same), and the layout's name for messages.
struct GattLayout {
    std::string name;
    GattCharacteristicInfo write;
    GattCharacteristicInfo notify;
};

// A UUID as adapter makers write it: the 16-bit form ("FFF0") for one on
// the Bluetooth base UUID, else the full form in upper case.
std::string ShortUuid(const std::string& uuid);

// The layout of `services` (in handle order): the first service of the
// four that OBD adapters use (FFF0, FFE0, 18F0 and the E7810A71 one) with
// both its characteristics; failing those, the first service with a
// notifying and a writable characteristic. Empty when no service has both.
std::optional<GattLayout> ChooseGattLayout(const std::vector<GattServiceInfo>& services);

// The known layout among the service UUIDs a device advertises ("FFF0"),
// empty when none is one.
std::string KnownLayoutOf(const std::vector<std::string>& serviceUuids);

// Whether a write to `characteristic` can wait for the device's
// acknowledgement ("write" among its flags); else it is written without.
bool WritesWithResponse(const GattCharacteristicInfo& characteristic);

}  // namespace zelt::link::detail
