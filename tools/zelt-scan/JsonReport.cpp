#include "JsonReport.h"

#include "zelt/MeasurementUnitNames.h"

namespace zelt::scan {

namespace {

using Json = nlohmann::ordered_json;

Json Text(const std::shared_ptr<std::string>& text) {
    return text ? Json(*text) : Json(nullptr);
}

Json Sensor(const std::shared_ptr<SensorModel>& sensor) {
    return sensor ? ToJson(*sensor) : Json(nullptr);
}

Json Codes(const TroubleCodes& codes) {
    Json list = Json::array();
    for (const auto& code : codes) {
        list.push_back({{"code", code->code},
                        {"description", code->description},
                        {"ecu", EcuAddressText(code->ecuAddress)}});
    }
    return list;
}

Json Parameters(const std::vector<std::shared_ptr<ParameterModel>>& parameters) {
    Json list = Json::array();
    for (const auto& parameter : parameters) {
        Json sensors = Json::array();
        for (const auto& sensor : parameter->sensors) {
            sensors.push_back(ToJson(*sensor));
        }
        list.push_back(
            {{"pid", PidText(parameter->pid)}, {"name", parameter->name}, {"sensors", sensors}});
    }
    return list;
}

Json Readiness(const std::vector<std::shared_ptr<obd::ReadinessMonitorDataModel>>& monitors) {
    Json list = Json::array();
    for (const auto& monitor : monitors) {
        list.push_back({{"name", monitor->name},
                        {"supported", monitor->supported},
                        {"complete", monitor->complete}});
    }
    return list;
}

std::string Unit(MeasurementUnit unit) {
    return ConvertMeasurementUnitToString(unit);
}

}  // namespace

void WriteJson(const Json& json, std::ostream& out, int indent) {
    out << json.dump(indent, ' ', false, Json::error_handler_t::replace) << '\n';
}

Json ToJson(const SensorModel& sensor) {
    Json json{{"name", sensor.name}, {"unit", Unit(sensor.unit)}};
    json["value"] = sensor.value ? Json(sensor.value->rawValue) : Json(nullptr);
    json["formatted"] = sensor.value ? Json(sensor.value->formattedValue) : Json(nullptr);
    if (sensor.limits) {
        json["limits"] = {{"minimum", sensor.limits->minimum}, {"maximum", sensor.limits->maximum}};
    } else {
        json["limits"] = nullptr;
    }
    return json;
}

Json ToJson(const Report& report) {
    Json json;
    json["tool"] = {{"name", "zelt-scan"}, {"version", ZELT_VERSION}};
    Json ecus = Json::array();
    for (auto address : report.ecus) {
        ecus.push_back(EcuAddressText(address));
    }
    json["vehicle"] = {
        {"scenario", report.scenario}, {"ecu", EcuAddressText(report.selectedEcu)}, {"ecus", ecus}};

    Json info = Json::array();
    for (const auto& item : report.ecuInfo) {
        info.push_back({{"id", item->id},
                        {"name", item->name},
                        {"value", item->value},
                        {"fromVehicle", item->fromVehicle}});
    }
    json["ecuInfo"] = info;

    json["mil"] = {
        {"status", !report.mil ? Json(nullptr) : Json(*report.mil == MilStatus::On ? "on" : "off")},
        {"distanceSince", Sensor(report.distanceSince)},
        {"runTimeSince", Sensor(report.runTimeSince)}};

    json["troubleCodes"] = {{"confirmed", Codes(report.confirmed)},
                            {"pending", Codes(report.pending)},
                            {"permanent", Codes(report.permanent)}};
    if (report.codesCleared) {
        json["clearCodes"] = {{"accepted", report.clearAccepted},
                              {"confirmed", Codes(report.confirmedAfterClear)},
                              {"pending", Codes(report.pendingAfterClear)},
                              {"permanent", Codes(report.permanentAfterClear)}};
    } else {
        json["clearCodes"] = nullptr;
    }

    Json frames = Json::array();
    for (const auto& frame : report.freezeFrames) {
        frames.push_back({{"frame", frame.frame},
                          {"troubleCode", frame.troubleCode->code},
                          {"parameters", Parameters(frame.parameters)}});
    }
    json["freezeFrames"] = frames;

    json["readiness"] = {{"sinceReset", Readiness(report.readinessSinceReset)},
                         {"thisCycle", Readiness(report.readinessThisCycle)}};

    Json tests = Json::array();
    for (const auto& test : report.monitorTests) {
        tests.push_back({{"monitorId", test->monitorId},
                         {"testId", test->testId},
                         {"monitor", test->monitorName},
                         {"test", test->testName},
                         {"value", test->value},
                         {"minimum", test->minimum},
                         {"maximum", test->maximum},
                         {"unit", Unit(test->unit)},
                         {"passed", test->passed}});
    }
    json["monitorTests"] = tests;

    Json sensors = Json::array();
    for (const auto& sensor : report.oxygenSensors) {
        Json results = Json::array();
        for (const auto& test : sensor.tests) {
            results.push_back({{"testId", test->testId},
                               {"name", test->name},
                               {"value", test->value},
                               {"minimum", test->minimum},
                               {"maximum", test->maximum},
                               {"unit", Unit(test->unit)},
                               {"passed", test->passed}});
        }
        sensors.push_back({{"location", LocationText(sensor.location)}, {"tests", results}});
    }
    json["oxygenSensors"] = {{"monitorsComplete", report.oxygenSensorMonitorsComplete},
                             {"sensors", sensors}};

    Json counters = Json::array();
    for (const auto& counter : report.performanceCounters) {
        counters.push_back({{"name", counter->name},
                            {"numerator", counter->numerator},
                            {"denominator", counter->denominator}});
    }
    json["performanceCounters"] = counters;

    Json operation = Json::array();
    for (const auto& record : report.vehicleOperationData) {
        Json entries = Json::array();
        for (const auto& entry : record->entries) {
            entries.push_back(
                {{"label", entry.label}, {"value", entry.value}, {"unit", Unit(entry.unit)}});
        }
        operation.push_back({{"name", record->name}, {"entries", entries}});
    }
    json["vehicleOperationData"] = operation;

    Json routines = Json::array();
    for (const auto& routine : report.testRoutines) {
        routines.push_back({{"id", routine->id},
                            {"name", routine->name},
                            {"description", routine->description},
                            {"status", RoutineStatusText(routine->status)},
                            {"result", routine->result}});
    }
    json["testRoutines"] = routines;

    json["liveData"] = Parameters(report.liveData);

    json["adapter"] = {{"name", Text(report.adapterName)},
                       {"description", Text(report.adapterDescription)},
                       {"identification", Text(report.adapterIdentification)},
                       {"batteryVoltage", Text(report.batteryVoltage)}};
    return json;
}

}  // namespace zelt::scan
