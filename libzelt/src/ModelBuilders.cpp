#include "zelt/ModelBuilders.h"

#include <cstdint>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "zelt/MeasurementUnitNames.h"

namespace zelt {

namespace {

using obd::ParameterIdentifier::Id;

static_assert(std::numeric_limits<long long>::digits == 63,
              "64-bit value texts are read through std::stoll");

// Both readers take what std::stol and std::stoll take: leading white space, a
// sign and decimal digits, ignoring whatever follows ("12.7" reads as 12,
// "90 km" as 90). A text that does not begin with a number throws
// std::invalid_argument, a number outside the range std::out_of_range. The
// ranges are fixed at 32 and 64 bits: `long` is 32 bits wide on Windows and 64
// on Linux, so std::stol itself would read differently per platform.
std::int32_t ReadInt32(const std::string& text) {
    const long long number = std::stoll(text);
    if (number < std::numeric_limits<std::int32_t>::min() ||
        number > std::numeric_limits<std::int32_t>::max()) {
        throw std::out_of_range("value text does not fit into 32 bits: " + text);
    }
    return static_cast<std::int32_t>(number);
}

std::int64_t ReadInt64(const std::string& text) {
    return std::stoll(text);
}

// "<major> <majorUnit> <minor> <minorUnit>", the numbers written by a fresh
// stream with default formatting: plain digits, no grouping.
template <typename Number>
std::string JoinTimeParts(Number major, MeasurementUnit majorUnit, Number minor,
                          MeasurementUnit minorUnit) {
    std::ostringstream out;
    out << major << ' ' << ConvertMeasurementUnitToString(majorUnit) << ' ' << minor << ' '
        << ConvertMeasurementUnitToString(minorUnit);
    return out.str();
}

// The display text of one value of the sensor `uid`. Times are split with
// truncating division, so negative numbers give negative parts (-61 minutes
// is "-1 hrs -1 min"). Only times need a stream; other values are joined to
// their unit directly.
std::string FormatSensorValue(int uid, const std::string& text, MeasurementUnit unit) {
    if (text.empty()) {
        return std::string();
    }
    switch (obd::Uid2Pid(uid)) {
        case Id::TimeRunWithMilOn:
        case Id::TimeSinceCodesCleared: {  // minutes
            const std::int32_t minutes = ReadInt32(text);
            return JoinTimeParts(minutes / 60, MeasurementUnit::Hour, minutes % 60,
                                 MeasurementUnit::Minute);
        }
        case Id::RunTimeSinceEngineStart: {  // seconds; no hours part
            const std::int32_t seconds = ReadInt32(text);
            return JoinTimeParts(seconds / 60, MeasurementUnit::Minute, seconds % 60,
                                 MeasurementUnit::Second);
        }
        case Id::EngineRunTime: {  // seconds, shown without them
            const std::int64_t minutes = ReadInt64(text) / 60;
            return JoinTimeParts(minutes / 60, MeasurementUnit::Hour, minutes % 60,
                                 MeasurementUnit::Minute);
        }
        default:
            if (unit == MeasurementUnit::None) {
                return text;
            }
            return text + ' ' + ConvertMeasurementUnitToString(unit);
    }
}

// The sensors of the parameters every application shows first.
bool IsPrimarySensor(std::int32_t uid) {
    for (const Id pid : {Id::EngineCoolantTemperature, Id::EngineSpeed, Id::VehicleSpeed,
                         Id::IntakeAirTemperature}) {
        if (uid == obd::Pid2Uid(pid)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::shared_ptr<SensorModel> SensorModelBuilder::build(
    const std::shared_ptr<obd::SensorDataModel>& data) {
    const std::int32_t uid = data->uid;
    const bool additional = !IsPrimarySensor(uid);

    std::shared_ptr<SensorValueModel> value;
    if (data->value != nullptr) {
        const obd::SensorValueDataModel& texts = *data->value;
        // Formatted one after another: the order of constructor arguments'
        // evaluation is unspecified.
        std::string formatted = FormatSensorValue(uid, texts.value, data->unit);
        std::string formatted2 = FormatSensorValue(uid, texts.lowest, data->unit);
        std::string formatted3 = FormatSensorValue(uid, texts.highest, data->unit);
        std::string formatted4 = FormatSensorValue(uid, texts.average, data->unit);
        value = std::make_shared<SensorValueModel>(texts.value, std::move(formatted),
                                                   std::move(formatted2), std::move(formatted3),
                                                   std::move(formatted4));
    }

    std::shared_ptr<SensorLimits> limits;
    if (data->limits != nullptr) {
        limits = std::make_shared<SensorLimits>(data->limits->minimum, data->limits->maximum);
    }

    return std::make_shared<SensorModel>(additional, uid, data->name, data->unit, std::move(limits),
                                         std::move(value));
}

std::shared_ptr<ParameterModel> ParameterModelBuilder::build(
    const std::shared_ptr<obd::ParameterDataModel>& data) {
    std::vector<std::shared_ptr<SensorModel>> sensors;
    sensors.reserve(data->sensors.size());
    for (const auto& sensor : data->sensors) {
        sensors.push_back(SensorModelBuilder::build(sensor));
    }
    return build(data->pid, data->name, sensors);
}

std::shared_ptr<ParameterModel> ParameterModelBuilder::build(
    obd::ParameterIdentifier::Id pid, const std::string& name,
    const std::vector<std::shared_ptr<SensorModel>>& sensors) {
    return std::make_shared<ParameterModel>(pid, name, sensors);
}

}  // namespace zelt
