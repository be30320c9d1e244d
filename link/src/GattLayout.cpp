#include "GattLayout.h"

#include <algorithm>
#include <cctype>

namespace zelt::link::detail {

namespace {

// Service, write and notify characteristic of the layouts OBD adapters
// ship with (short form where the UUID is on the Bluetooth base).
struct KnownLayout {
    const char* service;
    const char* write;
    const char* notify;
};

constexpr KnownLayout kKnownLayouts[] = {
    {"FFF0", "FFF2", "FFF1"},
    {"FFE0", "FFE1", "FFE1"},
    {"18F0", "2AF1", "2AF0"},
    {"E7810A71-73AE-499D-8C15-FAA9AEF0C3F2", "BEF8D6C9-9C21-4C9E-B632-BD58C1009F9F",
     "BEF8D6C9-9C21-4C9E-B632-BD58C1009F9F"},
};

// 0000xxxx-0000-1000-8000-00805F9B34FB: the Bluetooth base UUID.
constexpr const char* kBaseUuidTail = "-0000-1000-8000-00805F9B34FB";

bool HasFlag(const GattCharacteristicInfo& characteristic, const char* flag) {
    return std::find(characteristic.flags.begin(), characteristic.flags.end(), flag) !=
           characteristic.flags.end();
}

bool Notifies(const GattCharacteristicInfo& characteristic) {
    return HasFlag(characteristic, "notify") || HasFlag(characteristic, "indicate");
}

bool Writable(const GattCharacteristicInfo& characteristic) {
    return HasFlag(characteristic, "write") || HasFlag(characteristic, "write-without-response");
}

const GattCharacteristicInfo* Find(const GattServiceInfo& service, const char* uuid) {
    for (const auto& characteristic : service.characteristics) {
        if (ShortUuid(characteristic.uuid) == uuid) {
            return &characteristic;
        }
    }
    return nullptr;
}

}  // namespace

std::string ShortUuid(const std::string& uuid) {
    std::string upper = uuid;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    });
    if (upper.size() == 36 && upper.compare(0, 4, "0000") == 0 &&
        upper.compare(8, std::string::npos, kBaseUuidTail) == 0) {
        return upper.substr(4, 4);
    }
    return upper;
}

std::optional<GattLayout> ChooseGattLayout(const std::vector<GattServiceInfo>& services) {
    for (const KnownLayout& known : kKnownLayouts) {
        for (const auto& service : services) {
            if (ShortUuid(service.uuid) != known.service) {
                continue;
            }
            const auto* write = Find(service, known.write);
            const auto* notify = Find(service, known.notify);
            if (write != nullptr && notify != nullptr) {
                return GattLayout{known.service, *write, *notify};
            }
        }
    }
    for (const auto& service : services) {
        const auto& all = service.characteristics;
        const auto write = std::find_if(all.begin(), all.end(), Writable);
        const auto notify = std::find_if(all.begin(), all.end(), Notifies);
        if (write != all.end() && notify != all.end()) {
            return GattLayout{ShortUuid(service.uuid), *write, *notify};
        }
    }
    return std::nullopt;
}

std::string KnownLayoutOf(const std::vector<std::string>& serviceUuids) {
    for (const std::string& uuid : serviceUuids) {
        std::string shortUuid = ShortUuid(uuid);
        for (const KnownLayout& known : kKnownLayouts) {
            if (shortUuid == known.service) {
                return shortUuid;
            }
        }
    }
    return {};
}

bool WritesWithResponse(const GattCharacteristicInfo& characteristic) {
    return HasFlag(characteristic, "write");
}

}  // namespace zelt::link::detail
