#pragma once

// Records of the core, as the unit tests hand them to the repositories
// through the mocked services: only the fields a test looks at are set.

#include <cstdint>
#include <memory>
#include <string>

#include "obd/DiagnosticsDataModels.h"
#include "obd/DtcDataModel.h"
#include "obd/MeasurementUnit.h"
#include "obd/MessageDataModel.h"
#include "obd/ParameterDataModel.h"
#include "obd/ParameterIdentifier.h"
#include "obd/SensorDataModel.h"
#include "obd/TestRoutineDataModel.h"

namespace zelt::testing {

inline std::shared_ptr<obd::TestRoutineDataModel> MakeRoutine(int id,
                                                              const std::string& name = "routine") {
    auto routine = std::make_shared<obd::TestRoutineDataModel>();
    routine->id = id;
    routine->name = name;
    return routine;
}

inline std::shared_ptr<obd::ReadinessMonitorDataModel> MakeReadiness(const std::string& name) {
    auto monitor = std::make_shared<obd::ReadinessMonitorDataModel>();
    monitor->name = name;
    return monitor;
}

inline std::shared_ptr<obd::OxygenSensorMonitorDataModel> MakeOxygenMonitor(
    obd::OxygenSensorLocation at) {
    auto monitor = std::make_shared<obd::OxygenSensorMonitorDataModel>();
    monitor->location = at;
    return monitor;
}

inline std::shared_ptr<obd::VehicleOperationDataModel> MakeVod(const std::string& name) {
    auto item = std::make_shared<obd::VehicleOperationDataModel>();
    item->name = name;
    return item;
}

inline std::shared_ptr<obd::MessageDataModel> MakeMessage(std::uint64_t sequence,
                                                          const std::string& text = "ATRV") {
    auto message = std::make_shared<obd::MessageDataModel>();
    message->sequence = sequence;
    message->text = text;
    return message;
}

inline std::shared_ptr<obd::DtcDataModel> MakeCode(const std::string& text) {
    auto code = std::make_shared<obd::DtcDataModel>();
    code->code = text;
    return code;
}

// A sensor of parameter `pid` named `name`, reading `value`.
inline std::shared_ptr<obd::SensorDataModel> MakeSensorData(
    obd::ParameterIdentifier::Id pid, const std::string& name, const std::string& value = "1",
    MeasurementUnit unit = MeasurementUnit::None) {
    auto sensor = std::make_shared<obd::SensorDataModel>();
    sensor->uid = obd::Pid2Uid(pid);
    sensor->name = name;
    sensor->unit = unit;
    sensor->value = std::make_shared<obd::SensorValueDataModel>();
    sensor->value->value = value;
    return sensor;
}

// Parameter `pid` named `name`, with one sensor of the same name reading
// `value`.
inline std::shared_ptr<obd::ParameterDataModel> MakeParameterData(
    obd::ParameterIdentifier::Id pid, const std::string& name, const std::string& value = "1",
    MeasurementUnit unit = MeasurementUnit::None) {
    auto parameter = std::make_shared<obd::ParameterDataModel>();
    parameter->pid = pid;
    parameter->name = name;
    parameter->sensors = {MakeSensorData(pid, name, value, unit)};
    return parameter;
}

}  // namespace zelt::testing
