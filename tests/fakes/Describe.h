#pragma once

// Text descriptions of the core's records and of the library's, with every
// field that identifies an answer, so that equal texts mean equal answers.
// Live sensor readings are left out unless asked for: they change with
// every reading. A description reads every field of the record, so that a
// freed record shows under AddressSanitizer.

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "obd/DiagnosticsDataModels.h"
#include "obd/DtcDataModel.h"
#include "obd/MessageDataModel.h"
#include "obd/ParameterDataModel.h"
#include "obd/TestRoutineDataModel.h"
#include "zelt/Models.h"

namespace zelt::testing {

enum class Readings { Left, Included };

inline std::string Number(double value) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}

inline std::string Describe(const std::string& text) {
    return "\"" + text + "\"";
}

inline std::string Describe(const std::shared_ptr<std::string>& text) {
    return text ? Describe(*text) : "null";
}

inline std::string Describe(obd::ParameterIdentifier::Id pid) {
    return std::to_string(static_cast<int>(pid));
}

inline std::string Describe(obd::OxygenSensorLocation location) {
    return std::to_string(static_cast<int>(location));
}

inline std::string Describe(const std::shared_ptr<obd::DtcDataModel>& code) {
    if (!code) {
        return "null";
    }
    return code->code + "|" + code->description + "|" + std::to_string(code->rawValue) + "|" +
           std::to_string(code->ecuAddress) + "|" + std::to_string(static_cast<int>(code->status));
}

inline std::string Describe(const std::shared_ptr<obd::ReadinessMonitorDataModel>& monitor) {
    if (!monitor) {
        return "null";
    }
    return monitor->name + "|" + std::to_string(monitor->supported) + "|" +
           std::to_string(monitor->complete);
}

inline std::string Describe(const std::shared_ptr<obd::DiagnosticMonitorDataModel>& monitor) {
    if (!monitor) {
        return "null";
    }
    return std::to_string(monitor->monitorId) + "|" + std::to_string(monitor->testId) + "|" +
           monitor->monitorName + "|" + monitor->testName + "|" +
           std::to_string(monitor->unitAndScalingId) + "|" +
           std::to_string(static_cast<int>(monitor->unit)) + "|" + Number(monitor->value) + "|" +
           Number(monitor->minimum) + "|" + Number(monitor->maximum) + "|" +
           std::to_string(monitor->passed);
}

inline std::string Describe(const std::shared_ptr<obd::PerformanceCounterDataModel>& counter) {
    if (!counter) {
        return "null";
    }
    return counter->name + "|" + std::to_string(counter->numerator) + "|" +
           std::to_string(counter->denominator);
}

inline std::string Describe(const std::shared_ptr<obd::OxygenSensorMonitorDataModel>& monitor) {
    if (!monitor) {
        return "null";
    }
    return std::to_string(static_cast<int>(monitor->location)) + "|" +
           std::to_string(monitor->testId) + "|" + monitor->name + "|" +
           std::to_string(static_cast<int>(monitor->unit)) + "|" + Number(monitor->value) + "|" +
           Number(monitor->minimum) + "|" + Number(monitor->maximum) + "|" +
           std::to_string(monitor->passed);
}

inline std::string Describe(const std::shared_ptr<obd::VehicleOperationDataModel>& data) {
    if (!data) {
        return "null";
    }
    std::string text = data->name;
    for (const obd::VehicleOperationDataEntry& entry : data->entries) {
        text += "|" + entry.label + "=" + entry.value + " " +
                std::to_string(static_cast<int>(entry.unit));
    }
    return text;
}

inline std::string Describe(const std::shared_ptr<obd::TestRoutineDataModel>& routine) {
    if (!routine) {
        return "null";
    }
    return std::to_string(routine->id) + "|" + routine->name + "|" + routine->description + "|" +
           std::to_string(static_cast<int>(routine->status)) + "|" + routine->result;
}

inline std::string Describe(const std::shared_ptr<obd::MessageDataModel>& entry) {
    if (!entry) {
        return "null";
    }
    return std::to_string(entry->sequence) + "|" +
           std::to_string(static_cast<int>(entry->direction)) + "|" + entry->text;
}

// A sensor of the core and the library's sensor built from it describe
// alike: id, name, unit, limits and, if asked for, the reading's value text.
inline std::string Describe(const std::shared_ptr<obd::SensorDataModel>& sensor,
                            Readings readings) {
    if (!sensor) {
        return "null";
    }
    std::string text = std::to_string(sensor->uid) + "|" + sensor->name + "|" +
                       std::to_string(static_cast<int>(sensor->unit));
    if (sensor->limits) {
        text += "|" + Number(sensor->limits->minimum) + ".." + Number(sensor->limits->maximum);
    }
    if (readings == Readings::Included && sensor->value) {
        text += "|=" + sensor->value->value;
    }
    return text;
}

inline std::string Describe(const std::shared_ptr<SensorModel>& sensor, Readings readings) {
    if (!sensor) {
        return "null";
    }
    std::string text = std::to_string(sensor->uid) + "|" + sensor->name + "|" +
                       std::to_string(static_cast<int>(sensor->unit));
    if (sensor->limits) {
        text += "|" + Number(sensor->limits->minimum) + ".." + Number(sensor->limits->maximum);
    }
    if (sensor->value) {
        const SensorValueModel& value = *sensor->value;
        if (readings == Readings::Included) {
            text += "|=" + value.rawValue;
        }
        // Every text is read, so that a freed record shows.
        static std::atomic<std::size_t> read{0};
        read.fetch_add(value.rawValue.size() + value.formattedValue.size() +
                           value.formattedValue2.size() + value.formattedValue3.size() +
                           value.formattedValue4.size() + (sensor->additional ? 1 : 0),
                       std::memory_order_relaxed);
    }
    return text;
}

inline std::string Describe(const std::shared_ptr<obd::ParameterDataModel>& parameter,
                            Readings readings) {
    if (!parameter) {
        return "null";
    }
    std::string text = Describe(parameter->pid) + "|" + parameter->name + "{";
    for (const auto& sensor : parameter->sensors) {
        text += Describe(sensor, readings) + ";";
    }
    return text + "}";
}

inline std::string Describe(const std::shared_ptr<ParameterModel>& parameter, Readings readings) {
    if (!parameter) {
        return "null";
    }
    std::string text = Describe(parameter->pid) + "|" + parameter->name + "{";
    for (const auto& sensor : parameter->sensors) {
        text += Describe(sensor, readings) + ";";
    }
    return text + "}";
}

inline std::string Describe(const std::shared_ptr<InfoDataModel>& item) {
    if (!item) {
        return "null";
    }
    return std::to_string(item->id) + "|" + item->name + "|" + item->value + "|" +
           std::to_string(item->fromVehicle);
}

// A list as one text: its length and its elements in order.
template <typename T, typename... Options>
std::string DescribeList(const std::vector<T>& list, Options... options) {
    std::string text = "[" + std::to_string(list.size()) + "]";
    for (const T& element : list) {
        text += " " + Describe(element, options...);
    }
    return text;
}

}  // namespace zelt::testing
