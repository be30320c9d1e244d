#include "j1979/VehicleOperationData.h"

#include <cmath>
#include <string>

#include "j1979/Numbers.h"
#include "sim/scenario/Sections.h"

namespace obd::sim::scenario {

using j1979::detail::FormatShortest;

void ReadVehicleOperationData(const Reader& r, const Json& json, const std::string& path,
                              EcuModel& ecu) {
    r.expect(json, Json::value_t::object, path, "an object");
    for (auto it = json.begin(); it != json.end(); ++it) {
        const std::string itemPath = path + "/" + it.key();
        const detail::VodRecord* record = nullptr;
        for (const detail::VodRecord& candidate : detail::VodRecords()) {
            if (it.key() == candidate.key) {
                record = &candidate;
            }
        }
        if (record == nullptr) {
            r.fail(itemPath, "unknown key");
        }
        r.expect(it.value(), Json::value_t::array, itemPath, "an array of numbers");
        if (it.value().size() != record->fields.size()) {
            r.fail(itemPath, "expected " + std::to_string(record->fields.size()) +
                                 " numbers, found " + std::to_string(it.value().size()));
        }
        Bytes data;
        for (std::size_t i = 0; i < record->fields.size(); ++i) {
            const std::string valuePath = itemPath + "/" + std::to_string(i);
            const double value = r.number(it.value()[i], valuePath);
            const double raw = std::round(value / record->fields[i].scale);
            if (raw < 0 || raw > 4294967295.0) {
                r.fail(valuePath, "value " + FormatShortest(value) + " is out of range for " +
                                      record->fields[i].label);
            }
            const auto number = static_cast<std::uint32_t>(raw);
            for (int shift = 24; shift >= 0; shift -= 8) {
                data.push_back(static_cast<std::uint8_t>(number >> shift & 0xFF));
            }
        }
        ecu.info[record->infoType] =
            InfoItem{static_cast<std::uint8_t>(record->fields.size()), data};
    }
}

}  // namespace obd::sim::scenario
