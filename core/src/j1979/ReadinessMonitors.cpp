#include "j1979/ReadinessMonitors.h"

namespace obd::j1979 {

namespace {

constexpr std::array<ReadinessMonitor, 3> kContinuous = {{
    {"Misfire", "misfire"},
    {"Fuel System", "fuelSystem"},
    {"Comprehensive Components", "components"},
}};

constexpr std::array<ReadinessMonitor, 8> kSpark = {{
    {"Catalyst", "catalyst"},
    {"Heated Catalyst", "heatedCatalyst"},
    {"Evaporative System", "evaporativeSystem"},
    {"Secondary Air System", "secondaryAirSystem"},
    {"A/C Refrigerant", "acRefrigerant"},
    {"Oxygen Sensor", "oxygenSensor"},
    {"Oxygen Sensor Heater", "oxygenSensorHeater"},
    {"EGR System", "egrSystem"},
}};

// Bits 2 and 4 are reserved for compression ignition.
constexpr std::array<ReadinessMonitor, 8> kCompression = {{
    {"NMHC Catalyst", "nmhcCatalyst"},
    {"NOx/SCR Aftertreatment", "noxScrMonitor"},
    {nullptr, nullptr},
    {"Boost Pressure", "boostPressure"},
    {nullptr, nullptr},
    {"Exhaust Gas Sensor", "exhaustGasSensor"},
    {"PM Filter", "pmFilter"},
    {"EGR/VVT System", "egrVvtSystem"},
}};

}  // namespace

const std::array<ReadinessMonitor, 3>& ContinuousMonitors() {
    return kContinuous;
}

const std::array<ReadinessMonitor, 8>& NonContinuousMonitors(IgnitionType ignition) {
    return ignition == IgnitionType::Compression ? kCompression : kSpark;
}

IgnitionType IgnitionOf(std::uint8_t byteB) {
    return (byteB >> kIgnitionTypeBit & 1) != 0 ? IgnitionType::Compression : IgnitionType::Spark;
}

}  // namespace obd::j1979
