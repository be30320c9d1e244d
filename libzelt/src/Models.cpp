#include "zelt/Models.h"

#include <algorithm>

namespace zelt {

// The special members live here so that the library exports them. Every data
// member is const, so the defaulted move constructors copy each member: a
// moved-from record keeps its values, which holders of a shared record rely on.

InfoDataModel::InfoDataModel(const InfoDataModel& other) = default;
// NOLINTNEXTLINE(performance-noexcept-move-constructor): copies, may allocate
InfoDataModel::InfoDataModel(InfoDataModel&& other) = default;
InfoDataModel::~InfoDataModel() = default;

SensorValueModel::SensorValueModel() = default;
SensorValueModel::SensorValueModel(const SensorValueModel& other) = default;
// NOLINTNEXTLINE(performance-noexcept-move-constructor): copies, may allocate
SensorValueModel::SensorValueModel(SensorValueModel&& other) = default;
SensorValueModel::~SensorValueModel() = default;

SensorModel::SensorModel(const SensorModel& other) = default;
// NOLINTNEXTLINE(performance-noexcept-move-constructor): copies, may allocate
SensorModel::SensorModel(SensorModel&& other) = default;
SensorModel::~SensorModel() = default;

ParameterModel::ParameterModel(const ParameterModel& other) = default;
// NOLINTNEXTLINE(performance-noexcept-move-constructor): copies, may allocate
ParameterModel::ParameterModel(ParameterModel&& other) = default;
ParameterModel::~ParameterModel() = default;

bool IsNumeric(const std::shared_ptr<SensorModel>& sensor) {
    return sensor->limits != nullptr;
}

bool IsNumeric(const std::shared_ptr<ParameterModel>& parameter) {
    const auto& sensors = parameter->sensors;
    return std::any_of(
        sensors.begin(), sensors.end(),
        [](const std::shared_ptr<SensorModel>& sensor) { return IsNumeric(sensor); });
}

}  // namespace zelt
