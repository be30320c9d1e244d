#include <algorithm>
#include <string>
#include <vector>

#include "j1979/InfoTypes.h"
#include "sim/scenario/Sections.h"

namespace obd::sim::scenario {

namespace {

namespace info = detail::info;

const std::vector<const char*> kSparkCounterKeys = {"catalystBank1",
                                                    "catalystBank2",
                                                    "oxygenSensorBank1",
                                                    "oxygenSensorBank2",
                                                    "egrVvt",
                                                    "secondaryAir",
                                                    "evap",
                                                    "secondaryOxygenSensorBank1",
                                                    "secondaryOxygenSensorBank2"};
const std::vector<const char*> kCompressionCounterKeys = {
    "nmhcCatalyst",     "noxCatalyst", "noxAdsorber",   "pmFilter",
    "exhaustGasSensor", "egrVvt",      "boostPressure", "fuelMonitor"};

void ReadCounter(const Reader& r, const Json& json, const std::string& path, Bytes& data,
                 bool pair) {
    auto put = [&](const Json& value, const std::string& where) {
        const std::uint32_t number = r.integer(value, where, 0xFFFF);
        data.push_back(static_cast<std::uint8_t>(number >> 8));
        data.push_back(static_cast<std::uint8_t>(number & 0xFF));
    };
    if (!pair) {
        put(json, path);
        return;
    }
    r.expect(json, Json::value_t::array, path, "[numerator, denominator]");
    if (json.size() != 2) {
        r.fail(path, "expected [numerator, denominator]");
    }
    put(json[0], path + "/0");
    put(json[1], path + "/1");
}

}  // namespace

void ReadInUsePerformance(const Reader& r, const Json& json, const std::string& path,
                          EcuModel& ecu) {
    const auto& keys =
        ecu.ignition == Ignition::Spark ? kSparkCounterKeys : kCompressionCounterKeys;
    r.expect(json, Json::value_t::object, path, "an object");
    for (auto it = json.begin(); it != json.end(); ++it) {
        if (it.key() != "obdMonitoringConditions" && it.key() != "ignitionCycles" &&
            std::none_of(keys.begin(), keys.end(),
                         [&](const char* key) { return it.key() == key; })) {
            r.fail(path + "/" + it.key(),
                   std::string("unknown counter for ") +
                       (ecu.ignition == Ignition::Spark ? "spark" : "compression") + " ignition");
        }
    }
    Bytes data;
    for (const char* key : {"obdMonitoringConditions", "ignitionCycles"}) {
        const Json* value = r.optional(json, key);
        ReadCounter(r, value ? *value : Json(0), path + "/" + key, data, false);
    }
    for (const char* key : keys) {
        const Json* value = r.optional(json, key);
        ReadCounter(r, value ? *value : Json::array({0, 0}), path + "/" + key, data, true);
    }
    const std::uint8_t type =
        ecu.ignition == Ignition::Spark ? info::kPerformanceSpark : info::kPerformanceCompression;
    ecu.info[type] = InfoItem{static_cast<std::uint8_t>(data.size() / 2), data};
}

}  // namespace obd::sim::scenario
