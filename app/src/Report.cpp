#include "zelt/app/Report.h"

#include <iomanip>
#include <sstream>

namespace zelt::app {

std::string EcuAddressText(std::uint32_t address) {
    std::ostringstream text;
    text << "0x" << std::uppercase << std::hex << address;
    return text.str();
}

std::string PidText(obd::ParameterIdentifier::Id pid) {
    std::ostringstream text;
    text << "0x" << std::uppercase << std::hex << std::setw(2) << std::setfill('0')
         << static_cast<int>(pid);
    return text.str();
}

std::string LocationText(obd::OxygenSensorLocation location) {
    const int value = static_cast<int>(location);
    return "Bank " + std::to_string(value / 4 + 1) + " Sensor " + std::to_string(value % 4 + 1);
}

std::string RoutineStatusText(obd::TestRoutineStatus status) {
    switch (status) {
        case obd::TestRoutineStatus::Available:
            return "available";
        case obd::TestRoutineStatus::Completed:
            return "completed";
        case obd::TestRoutineStatus::Failed:
            return "failed";
    }
    return "unknown";
}

std::string SensorValueText(const SensorModel& sensor, UnitSystem units,
                            const std::string& ownUnit) {
    const std::string text = Present(sensor, ownUnit, units).text;
    return text.empty() ? "-" : text;
}

}  // namespace zelt::app
