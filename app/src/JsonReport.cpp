#include "zelt/app/JsonReport.h"

#include <cstdlib>

namespace zelt::app {

namespace {

using Json = nlohmann::ordered_json;

Json OrNull(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

Json Text(const std::shared_ptr<std::string>& text) {
    return text ? Json(*text) : Json(nullptr);
}

Json Number(const std::optional<double>& number) {
    return number ? Json(*number) : Json(nullptr);
}

Json ToJson(const Quantity& quantity) {
    return {{"value", Number(quantity.number)},
            {"unit", quantity.unit},
            {"text", OrNull(quantity.text)}};
}

Json Sensor(const SensorModel& sensor, UnitSystem units, const DecodedNumbers& numbers,
            const std::string& ownUnit = {}) {
    const Quantity quantity = Present(sensor, ownUnit, units, numbers);
    Json json{{"name", sensor.name},
              {"value", Number(quantity.number)},
              {"unit", quantity.unit},
              {"text", OrNull(quantity.text)}};
    if (sensor.limits) {
        json["limits"] = {
            {"minimum", Number(Present(sensor.limits->minimum, sensor.unit, units).number)},
            {"maximum", Number(Present(sensor.limits->maximum, sensor.unit, units).number)}};
    } else {
        json["limits"] = nullptr;
    }
    return json;
}

Json Sensor(const std::shared_ptr<SensorModel>& sensor, UnitSystem units,
            const DecodedNumbers& numbers) {
    return sensor ? Sensor(*sensor, units, numbers) : Json(nullptr);
}

Json Codes(const TroubleCodes& codes) {
    Json list = Json::array();
    for (const auto& code : codes) {
        list.push_back({{"code", code->code},
                        {"description", OrNull(code->description)},
                        {"ecu", code->ecuAddress}});
    }
    return list;
}

Json Parameters(const std::vector<std::shared_ptr<ParameterModel>>& parameters, UnitSystem units,
                const DecodedNumbers& numbers = {}) {
    Json list = Json::array();
    for (const auto& parameter : parameters) {
        list.push_back(ToJson(*parameter, units, numbers));
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

// Items up to the ECU description are the adapter's and the ECU's own; above
// it an item the vehicle did not report holds only a placeholder text.
constexpr auto kLastLocalInfoItem = static_cast<std::int32_t>(InfoItem::EcuDescription);

Json Info(const std::vector<std::shared_ptr<InfoDataModel>>& items) {
    Json list = Json::array();
    for (const auto& item : items) {
        const bool absent = !item->fromVehicle && item->id > kLastLocalInfoItem;
        list.push_back({{"id", item->id},
                        {"name", item->name},
                        {"value", absent ? Json(nullptr) : Json(item->value)}});
    }
    return list;
}

Json Measured(double value, MeasurementUnit unit, UnitSystem units) {
    return ToJson(Present(value, unit, units));
}

Json Ecu(const EcuReport& ecu, UnitSystem units) {
    Json json{{"address", ecu.address}, {"info", Info(ecu.ecuInfo)}};
    json["mil"] = {
        {"status", !ecu.mil ? Json(nullptr) : Json(*ecu.mil == MilStatus::On ? "on" : "off")},
        {"distanceSince", Sensor(ecu.distanceSince, units, ecu.numbers)},
        {"runTimeSince", Sensor(ecu.runTimeSince, units, ecu.numbers)}};
    json["troubleCodes"] = {{"confirmed", Codes(ecu.confirmed)},
                            {"pending", Codes(ecu.pending)},
                            {"permanent", Codes(ecu.permanent)}};
    if (ecu.codesCleared) {
        json["clearCodes"] = {{"accepted", ecu.clearAccepted},
                              {"confirmed", Codes(ecu.confirmedAfterClear)},
                              {"pending", Codes(ecu.pendingAfterClear)},
                              {"permanent", Codes(ecu.permanentAfterClear)}};
    } else {
        json["clearCodes"] = nullptr;
    }

    Json frames = Json::array();
    for (const auto& frame : ecu.freezeFrames) {
        frames.push_back({{"frame", frame.frame},
                          {"troubleCode", frame.troubleCode->code},
                          {"parameters", Parameters(frame.parameters, units)}});
    }
    json["freezeFrames"] = frames;

    json["readiness"] = {{"sinceReset", Readiness(ecu.readinessSinceReset)},
                         {"thisCycle", Readiness(ecu.readinessThisCycle)}};

    Json tests = Json::array();
    for (const auto& test : ecu.monitorTests) {
        tests.push_back({{"monitorId", test->monitorId},
                         {"testId", test->testId},
                         {"monitor", test->monitorName},
                         {"test", test->testName},
                         {"value", Measured(test->value, test->unit, units)},
                         {"minimum", Measured(test->minimum, test->unit, units)},
                         {"maximum", Measured(test->maximum, test->unit, units)},
                         {"passed", test->passed}});
    }
    json["monitorTests"] = tests;

    Json sensors = Json::array();
    for (const auto& sensor : ecu.oxygenSensors) {
        Json results = Json::array();
        for (const auto& test : sensor.tests) {
            results.push_back({{"testId", test->testId},
                               {"name", test->name},
                               {"value", Measured(test->value, test->unit, units)},
                               {"minimum", Measured(test->minimum, test->unit, units)},
                               {"maximum", Measured(test->maximum, test->unit, units)},
                               {"passed", test->passed}});
        }
        sensors.push_back({{"location", LocationText(sensor.location)}, {"tests", results}});
    }
    json["oxygenSensors"] = {{"monitorsComplete", ecu.oxygenSensorMonitorsComplete},
                             {"sensors", sensors}};

    Json counters = Json::array();
    for (const auto& counter : ecu.performanceCounters) {
        counters.push_back({{"name", counter->name},
                            {"numerator", counter->numerator},
                            {"denominator", counter->denominator}});
    }
    json["performanceCounters"] = counters;

    Json operation = Json::array();
    for (const auto& record : ecu.vehicleOperationData) {
        Json entries = Json::array();
        for (const auto& entry : record->entries) {
            Json quantity{{"label", entry.label}};
            quantity.update(ToJson(Present(entry.value, entry.unit, units)));
            entries.push_back(quantity);
        }
        operation.push_back({{"name", record->name}, {"entries", entries}});
    }
    json["vehicleOperationData"] = operation;

    Json routines = Json::array();
    for (const auto& routine : ecu.testRoutines) {
        routines.push_back({{"id", routine->id},
                            {"name", routine->name},
                            {"description", routine->description},
                            {"status", RoutineStatusText(routine->status)},
                            {"result", OrNull(routine->result)}});
    }
    json["testRoutines"] = routines;

    json["liveData"] = Parameters(ecu.liveData, units, ecu.numbers);
    return json;
}

// "14.2 V" as a number with its unit; a text that is no voltage keeps only
// its text.
Json Voltage(const std::shared_ptr<std::string>& text) {
    if (!text) {
        return nullptr;
    }
    char* end = nullptr;
    const double volts = std::strtod(text->c_str(), &end);
    const bool numeric = end != text->c_str() && std::string(end) == " V";
    return {{"value", numeric ? Json(volts) : Json(nullptr)}, {"unit", "V"}, {"text", *text}};
}

}  // namespace

Json ToJson(const ParameterModel& parameter, UnitSystem units, const DecodedNumbers& numbers,
            const std::string& ownUnit) {
    Json sensors = Json::array();
    for (const auto& sensor : parameter.sensors) {
        sensors.push_back(Sensor(*sensor, units, numbers, ownUnit));
    }
    return {
        {"pid", static_cast<int>(parameter.pid)}, {"name", parameter.name}, {"sensors", sensors}};
}

void WriteJson(const Json& json, std::ostream& out, int indent) {
    out << json.dump(indent, ' ', false, Json::error_handler_t::replace) << '\n';
}

Json ModuleCodes(const obd::ModuleCodes& codes) {
    if (!codes.answered) {
        return nullptr;
    }
    Json list = Json::array();
    for (const auto& code : codes.codes) {
        list.push_back({{"code", code.code},
                        {"description", OrNull(code.description)},
                        {"status", code.status},
                        {"statusText", code.statusText}});
    }
    return list;
}

Json Module(const ModuleReport& module, UnitSystem units) {
    Json data = Json::array();
    for (const ProfileReading& reading : module.data) {
        const bool read = reading.parameter && !reading.parameter->sensors.empty();
        Json entry{{"name", reading.name}};
        Json sensor = read ? Sensor(*reading.parameter->sensors.front(), units, {}, reading.unit)
                           : Json(nullptr);
        entry["value"] = read ? sensor["value"] : Json(nullptr);
        entry["unit"] = read ? sensor["unit"] : Json(reading.unit);
        entry["text"] = read ? sensor["text"] : Json(nullptr);
        entry["missing"] =
            read ? Json(nullptr) : Json(reading.missing.empty() ? "no answer" : reading.missing);
        data.push_back(entry);
    }
    Json json{{"name", module.ecu.name},
              {"request", module.ecu.requestId},
              {"response", module.ecu.responseId},
              {"manufacturerData", data},
              {"troubleCodes", ModuleCodes(module.codes)},
              {"troubleCodesError", OrNull(module.codes.why)}};
    if (module.codesCleared) {
        json["clear"] = {{"confirmed", module.clearing.confirmed},
                         {"error", OrNull(module.clearing.why)},
                         {"troubleCodesAfter", ModuleCodes(module.codesAfterClear)}};
    } else {
        json["clear"] = nullptr;
    }
    return json;
}

Json ToJson(const Report& report, UnitSystem units) {
    Json json{{"schema", kJsonSchemaVersion}};
    json["tool"] = {{"name", "zelt-scan"}, {"version", ZELT_VERSION}};
    json["units"] = units == UnitSystem::Metric ? "metric" : "imperial";
    json["source"] = {{"kind", report.overAdapter ? "adapter" : "simulation"},
                      {"title", report.title},
                      {"scenario", OrNull(report.scenario)},
                      {"protocol", OrNull(report.protocol)},
                      {"vin", OrNull(report.vin)}};
    json["answeringEcus"] = report.answering;
    Json ecus = Json::array();
    for (const auto& ecu : report.ecus) {
        ecus.push_back(Ecu(ecu, units));
    }
    json["ecus"] = ecus;
    if (report.profile.empty()) {
        json["profile"] = nullptr;
    } else {
        Json modules = Json::array();
        for (const auto& module : report.modules) {
            modules.push_back(Module(module, units));
        }
        json["profile"] = {{"file", report.profile}, {"ecus", modules}};
    }
    json["adapter"] = {{"name", Text(report.adapterName)},
                       {"description", Text(report.adapterDescription)},
                       {"identification", Text(report.adapterIdentification)},
                       {"batteryVoltage", Voltage(report.batteryVoltage)}};
    return json;
}

}  // namespace zelt::app
