#include "Report.h"

#include <cstdio>
#include <iomanip>
#include <sstream>

#include "zelt/MeasurementUnitNames.h"

namespace zelt::scan {

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

std::string SensorValueText(const SensorModel& sensor) {
    if (!sensor.value || sensor.value->formattedValue.empty()) {
        return "-";
    }
    return sensor.value->formattedValue;
}

std::string MeasuredText(double value, MeasurementUnit unit) {
    // Scaled test values carry binary fractions (0.450058 V); three decimals
    // without trailing zeros show what the scaling can resolve.
    std::ostringstream stream;
    stream << std::fixed << std::setprecision(3) << value;
    std::string text = stream.str();
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') {
        text.pop_back();
    }
    if (text == "-0") {
        text = "0";
    }
    const std::string unitName = ConvertMeasurementUnitToString(unit);
    if (!unitName.empty()) {
        text += ' ' + unitName;
    }
    return text;
}

}  // namespace zelt::scan
