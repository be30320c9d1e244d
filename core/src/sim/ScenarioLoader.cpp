#include "sim/ScenarioLoader.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "bus/Addressing.h"
#include "bus/Hex.h"
#include "bus/IsoTp.h"
#include "j1979/Codec.h"
#include "j1979/InfoTypes.h"
#include "j1979/Numbers.h"
#include "j1979/ReadinessMonitors.h"
#include "j1979/VehicleOperationData.h"
#include "json/PathReader.h"
#include "obd/ParameterIdentifier.h"
#include "obd/sim/Scenario.h"

namespace obd::sim {

namespace {

using Json = nlohmann::json;
namespace info = detail::info;

constexpr std::size_t kCalidSize = 16;
constexpr std::size_t kShortTextSize = 17;  // VIN, ESN, EROTAN
constexpr std::size_t kLongTextSize = 32;   // the other texts this core carries
constexpr std::size_t kMaxRoutineData = 5;

// What the protocol can carry. PID 0x01 counts confirmed codes in 7 bits; a
// code answer leads with a one-byte count; a freeze frame number is a byte;
// a service 06 answer (46 and 9 bytes per record) is one ISO-TP message.
constexpr std::size_t kMaxConfirmedCodes = 0x7F;
constexpr std::size_t kMaxCodes = 0xFF;
constexpr std::size_t kMaxFreezeFrames = 0x100;
constexpr std::size_t kTestRecordSize = 9;
constexpr std::size_t kMaxTestRecordsPerMonitor = (bus::kMaxIsoTpMessage - 1) / kTestRecordSize;

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

using j1979::detail::FormatShortest;

const char* TypeName(const Json& value) {
    switch (value.type()) {
        case Json::value_t::null:
            return "null";
        case Json::value_t::object:
            return "an object";
        case Json::value_t::array:
            return "an array";
        case Json::value_t::string:
            return "a string";
        case Json::value_t::boolean:
            return "a boolean";
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned:
        case Json::value_t::number_float:
            return "a number";
        default:
            return "an unexpected value";
    }
}

// Walks the document and reports the first fault with its path.
class Reader : public detail::JsonPathReader<ScenarioError> {
public:
    using JsonPathReader::JsonPathReader;

    void expect(const Json& value, Json::value_t type, const std::string& path,
                const char* wanted) const {
        const bool numeric = type == Json::value_t::number_float && value.is_number();
        if (value.type() != type && !numeric) {
            fail(path, std::string("expected ") + wanted + ", found " + TypeName(value));
        }
    }

    void keys(const Json& object, const std::string& path,
              std::initializer_list<const char*> allowed) const {
        expect(object, Json::value_t::object, path, "an object");
        onlyKeys(object, path, allowed);
    }

    std::string text(const Json& value, const std::string& path, std::size_t maxLength) const {
        expect(value, Json::value_t::string, path, "a string");
        std::string result = value.get<std::string>();
        if (result.size() > maxLength) {
            fail(path, "text longer than " + std::to_string(maxLength) + " characters");
        }
        for (char c : result) {
            if (c < 0x20 || c > 0x7E) {
                fail(path, "text holds a character other than printable ASCII");
            }
        }
        return result;
    }

    std::string anyText(const Json& value, const std::string& path) const {
        expect(value, Json::value_t::string, path, "a string");
        return value.get<std::string>();
    }

    bool boolean(const Json& value, const std::string& path) const {
        expect(value, Json::value_t::boolean, path, "true or false");
        return value.get<bool>();
    }

    double number(const Json& value, const std::string& path) const {
        expect(value, Json::value_t::number_float, path, "a number");
        const double result = value.get<double>();
        if (!std::isfinite(result)) {
            fail(path, "number is not finite");
        }
        return result;
    }

    // A whole number, written as a JSON number or as a string in hex ("0x7E8")
    // or decimal.
    std::uint32_t integer(const Json& value, const std::string& path, std::uint32_t max) const {
        if (value.is_string()) {
            return integerText(value.get<std::string>(), path, max);
        }
        if (!value.is_number_integer() && !value.is_number_unsigned()) {
            fail(path, std::string("expected a whole number, found ") + TypeName(value));
        }
        if (value.is_number_integer() && value.get<std::int64_t>() < 0) {
            fail(path, "number " + value.dump() + " is negative");
        }
        const std::uint64_t result = value.get<std::uint64_t>();
        if (result > max) {
            fail(path, "number " + value.dump() + " is greater than " + std::to_string(max));
        }
        return static_cast<std::uint32_t>(result);
    }

    std::uint32_t integerText(const std::string& text, const std::string& path,
                              std::uint32_t max) const {
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        const std::string_view digits = std::string_view(text).substr(hex ? 2 : 0);
        const std::optional<std::uint64_t> parsed =
            j1979::detail::ParseUnsigned(digits, hex ? 16 : 10);
        // from_chars takes a leading minus for signed types only, and spaces never.
        if (!parsed || digits.size() > 8) {
            fail(path, "\"" + text + "\" is not a number (write hex as 0x7E8)");
        }
        const std::uint64_t result = *parsed;
        if (result > max) {
            fail(path, "number " + text + " is greater than " + std::to_string(max));
        }
        return static_cast<std::uint32_t>(result);
    }

    Bytes hex(const Json& value, const std::string& path) const {
        expect(value, Json::value_t::string, path, "a hex string");
        const std::string text = value.get<std::string>();
        if (auto bytes = bus::ParseHex(text)) {
            return *bytes;
        }
        const auto bad = text.find_first_not_of("0123456789ABCDEFabcdef \t");
        if (bad != std::string::npos) {
            fail(path, "bad hex \"" + text + "\": '" + std::string(1, text[bad]) +
                           "' is not a hex digit");
        }
        fail(path, "bad hex \"" + text + "\": odd number of digits");
    }
};

// One numeric sensor of a PID: its place among the PID's sensors.
struct SensorOfPid {
    std::uint8_t pid;
    std::size_t index;
};

class Loader {
public:
    explicit Loader(const Reader& reader) : r_(reader) {}

    std::shared_ptr<VehicleModel> vehicle(const Json& root, const std::string& source) {
        r_.keys(root, "", {"name", "description", "protocol", "adapter", "ecus", "profileEcus"});
        auto model = std::make_shared<VehicleModel>();
        model->source = source;
        model->name = r_.anyText(r_.required(root, "name", ""), "/name");
        // The name titles every report.
        if (model->name.find_first_not_of(" \t") == std::string::npos) {
            r_.fail("/name", "the vehicle's name is empty; give it one");
        }
        if (const Json* description = r_.optional(root, "description")) {
            model->description = r_.anyText(*description, "/description");
        }
        if (const Json* protocol = r_.optional(root, "protocol")) {
            const std::uint32_t number = r_.integer(*protocol, "/protocol", 0xFF);
            // The bus speaks 11-bit CAN.
            if (number != static_cast<std::uint32_t>(DataLinkProtocol::Iso15765Can11Bit500k) &&
                number != static_cast<std::uint32_t>(DataLinkProtocol::Iso15765Can11Bit250k)) {
                r_.fail("/protocol", "protocol " + std::to_string(number) +
                                         " is not simulated (6: CAN 11/500, 8: CAN 11/250)");
            }
            model->protocol = static_cast<DataLinkProtocol>(number);
        }
        model->adapter = adapter(r_.optional(root, "adapter"));
        const Json& ecus = r_.required(root, "ecus", "");
        r_.expect(ecus, Json::value_t::array, "/ecus", "an array");
        if (ecus.empty()) {
            r_.fail("/ecus", "a vehicle needs at least one ECU");
        }
        std::set<std::uint32_t> addresses;
        for (std::size_t i = 0; i < ecus.size(); ++i) {
            const std::string path = "/ecus/" + std::to_string(i);
            EcuModel ecu = this->ecu(ecus[i], path);
            if (!addresses.insert(ecu.address).second) {
                r_.fail(path + "/address",
                        "address " + bus::HexNumber(ecu.address) + " is used twice");
            }
            model->ecus.push_back(std::move(ecu));
        }
        std::sort(model->ecus.begin(), model->ecus.end(),
                  [](const EcuModel& a, const EcuModel& b) { return a.address < b.address; });
        if (const Json* modules = r_.optional(root, "profileEcus")) {
            profileEcus(*modules, "/profileEcus", addresses, *model);
        }
        return model;
    }

private:
    AdapterModel adapter(const Json* json) {
        AdapterModel adapter;
        adapter.name = "ELM327";
        adapter.description = "OBDII to RS232 Interpreter";
        adapter.identification = "ELM327 v1.5";
        adapter.batteryVoltage.constant = 12.6;
        if (json == nullptr) {
            return adapter;
        }
        r_.keys(*json, "/adapter", {"name", "description", "identification", "batteryVoltage"});
        if (const Json* name = r_.optional(*json, "name")) {
            adapter.name = r_.anyText(*name, "/adapter/name");
        }
        if (const Json* description = r_.optional(*json, "description")) {
            adapter.description = r_.anyText(*description, "/adapter/description");
        }
        if (const Json* identification = r_.optional(*json, "identification")) {
            adapter.identification = r_.anyText(*identification, "/adapter/identification");
        }
        if (const Json* voltage = r_.optional(*json, "batteryVoltage")) {
            const SensorOfPid batteryVoltage{0xF4, 0};
            adapter.batteryVoltage =
                liveValue(*voltage, "/adapter/batteryVoltage", &batteryVoltage);
        }
        return adapter;
    }

    EcuModel ecu(const Json& json, const std::string& path) {
        r_.keys(json, path,
                {"address", "padding", "name", "description", "pids", "mil", "codes", "readiness",
                 "freezeFrames", "clearCodes", "testResults", "routines", "info",
                 "vehicleOperationData"});
        EcuModel ecu;
        ecu.address = r_.integer(r_.required(json, "address", path), path + "/address", 0xFFFF);
        if (ecu.address < 0x7E8 || ecu.address > 0x7EF) {
            r_.fail(path + "/address",
                    "address " + bus::HexNumber(ecu.address) +
                        " is not an 11-bit OBD response address (0x7E8 to 0x7EF)");
        }
        if (const Json* padding = r_.optional(json, "padding")) {
            ecu.padding = static_cast<std::uint8_t>(r_.integer(*padding, path + "/padding", 0xFF));
        }
        if (const Json* mil = r_.optional(json, "mil")) {
            ecu.mil = r_.boolean(*mil, path + "/mil");
        }
        if (const Json* pids = r_.optional(json, "pids")) {
            ecu.pids = livePids(*pids, path + "/pids");
        }
        if (const Json* codes = r_.optional(json, "codes")) {
            troubleCodes(*codes, path + "/codes", ecu);
        }
        if (const Json* readiness = r_.optional(json, "readiness")) {
            this->readiness(*readiness, path + "/readiness", ecu);
        }
        if (const Json* frames = r_.optional(json, "freezeFrames")) {
            freezeFrames(*frames, path + "/freezeFrames", ecu);
        }
        if (const Json* clear = r_.optional(json, "clearCodes")) {
            clearCodes(*clear, path + "/clearCodes", ecu);
        }
        if (const Json* results = r_.optional(json, "testResults")) {
            testResults(*results, path + "/testResults", ecu);
        }
        if (const Json* routines = r_.optional(json, "routines")) {
            this->routines(*routines, path + "/routines", ecu);
        }
        ecuName(json, path, ecu);
        if (const Json* information = r_.optional(json, "info")) {
            vehicleInformation(*information, path + "/info", ecu);
        }
        if (const Json* vod = r_.optional(json, "vehicleOperationData")) {
            vehicleOperationData(*vod, path + "/vehicleOperationData", ecu);
        }
        return ecu;
    }

    // The PID of an object key such as "0x0C".
    std::uint8_t pidKey(const std::string& key, const std::string& path) {
        const std::uint32_t pid = r_.integerText(key, path, 0xFF);
        if (IsSupportId(static_cast<int>(pid))) {
            r_.fail(path, "PID " + bus::HexNumber(pid) +
                              " is a support bitmap; bitmaps are derived from the PIDs present");
        }
        if (pid == 0x01 || pid == 0x41) {
            r_.fail(path, "PID " + bus::HexNumber(pid) +
                              " is derived from the codes, the MIL and the readiness");
        }
        if (pid == 0x02) {
            r_.fail(path, "PID 0x02 is derived from a freeze frame's code");
        }
        if (pid == 0xF4) {
            r_.fail(path, "PID 0xF4 is the adapter's battery voltage; set /adapter/batteryVoltage");
        }
        if (j1979::FindPid(static_cast<std::uint8_t>(pid)) == nullptr) {
            r_.fail(path, "unknown PID " + bus::HexNumber(pid));
        }
        return static_cast<std::uint8_t>(pid);
    }

    // A value is in range when the codec can encode it: compared as the raw
    // integer it becomes, the documented maximum (655.35 for PID 0x10) is
    // in, which the limits as floating point numbers put just out.
    void checkRange(double value, const SensorOfPid* of, const std::string& path) {
        if (of == nullptr) {
            return;
        }
        const auto& sensors = j1979::FindPid(of->pid)->sensors;
        std::vector<double> values;
        for (const auto& sensor : sensors) {
            values.push_back(sensor.minimum);
        }
        values[of->index] = value;
        try {
            j1979::EncodePid(of->pid, values);
        } catch (const j1979::CodecError&) {
            const auto& sensor = sensors[of->index];
            r_.fail(path, "value " + FormatShortest(value) + " is out of range for " + sensor.name +
                              " (" + FormatShortest(sensor.minimum) + " to " +
                              FormatShortest(sensor.maximum) + ")");
        }
    }

    LiveValue liveValue(const Json& json, const std::string& path, const SensorOfPid* sensor) {
        LiveValue value;
        if (json.is_number()) {
            value.kind = LiveValue::Kind::Constant;
            value.constant = r_.number(json, path);
            checkRange(value.constant, sensor, path);
            return value;
        }
        if (!json.is_object()) {
            r_.fail(path, std::string("expected a number or a live value object, found ") +
                              TypeName(json));
        }
        if (json.contains("points")) {
            r_.keys(json, path, {"points", "repeat"});
            value.kind = LiveValue::Kind::Points;
            const Json& points = json["points"];
            r_.expect(points, Json::value_t::array, path + "/points", "an array");
            if (points.empty()) {
                r_.fail(path + "/points", "a profile needs at least one point");
            }
            for (std::size_t i = 0; i < points.size(); ++i) {
                const std::string pointPath = path + "/points/" + std::to_string(i);
                r_.expect(points[i], Json::value_t::array, pointPath, "[seconds, value]");
                if (points[i].size() != 2) {
                    r_.fail(pointPath, "expected [seconds, value]");
                }
                const double t = r_.number(points[i][0], pointPath + "/0");
                const double v = r_.number(points[i][1], pointPath + "/1");
                if (!value.points.empty() && t <= value.points.back().first) {
                    r_.fail(pointPath + "/0", "times must increase");
                }
                checkRange(v, sensor, pointPath + "/1");
                value.points.emplace_back(t, v);
            }
            if (const Json* repeat = r_.optional(json, "repeat")) {
                value.repeat = r_.boolean(*repeat, path + "/repeat");
            }
            return value;
        }
        r_.keys(json, path, {"start", "rate"});
        value.kind = LiveValue::Kind::Ramp;
        value.start = r_.number(r_.required(json, "start", path), path + "/start");
        value.rate = r_.number(r_.required(json, "rate", path), path + "/rate");
        checkRange(value.start, sensor, path + "/start");
        return value;
    }

    // A PID's value in a scenario: hex data bytes, or physical values.
    PidSource pidSource(std::uint8_t pid, const Json& json, const std::string& path,
                        bool constantOnly) {
        const j1979::PidDefinition& definition = *j1979::FindPid(pid);
        PidSource source;
        if (json.is_string()) {
            source.raw = true;
            try {
                source.data = j1979::EncodeRawPid(pid, r_.hex(json, path));
            } catch (const j1979::CodecError& error) {
                r_.fail(path, error.what());
            }
            return source;
        }
        const bool allNumeric = std::all_of(definition.sensors.begin(), definition.sensors.end(),
                                            [](const auto& sensor) { return sensor.numeric; });
        if (!allNumeric || definition.sensors.empty()) {
            r_.fail(path, "PID " + bus::HexNumber(pid) + " (" + definition.name +
                              ") carries bits or codes: give its data bytes as a hex string");
        }
        const std::size_t count = definition.sensors.size();
        std::vector<std::pair<const Json*, std::string>> items;
        if (json.is_array()) {
            if (json.size() != count) {
                r_.fail(path, "PID " + bus::HexNumber(pid) + " (" + definition.name + ") has " +
                                  std::to_string(count) + " values, found " +
                                  std::to_string(json.size()));
            }
            for (std::size_t i = 0; i < json.size(); ++i) {
                items.emplace_back(&json[i], path + "/" + std::to_string(i));
            }
        } else if (count == 1) {
            items.emplace_back(&json, path);
        } else {
            r_.fail(path, "PID " + bus::HexNumber(pid) + " (" + definition.name + ") has " +
                              std::to_string(count) + " values: give an array");
        }
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (constantOnly && !items[i].first->is_number()) {
                r_.fail(items[i].second,
                        std::string("expected a number, found ") + TypeName(*items[i].first));
            }
            const SensorOfPid sensor{pid, i};
            source.values.push_back(liveValue(*items[i].first, items[i].second, &sensor));
        }
        // The codec has the last word on what fits the PID's bytes.
        std::vector<double> first;
        for (const LiveValue& value : source.values) {
            first.push_back(value.at(0));
        }
        try {
            Bytes data = j1979::EncodePid(pid, first);
            if (constantOnly) {
                source.raw = true;
                source.data = std::move(data);
                source.values.clear();
            }
        } catch (const j1979::CodecError& error) {
            r_.fail(path, error.what());
        }
        return source;
    }

    std::map<std::uint8_t, PidSource> livePids(const Json& json, const std::string& path) {
        r_.expect(json, Json::value_t::object, path, "an object");
        std::map<std::uint8_t, PidSource> pids;
        for (auto it = json.begin(); it != json.end(); ++it) {
            const std::string itemPath = path + "/" + it.key();
            const std::uint8_t pid = pidKey(it.key(), itemPath);
            if (pids.count(pid) != 0) {
                r_.fail(itemPath, "PID " + bus::HexNumber(pid) + " is given twice");
            }
            pids[pid] = pidSource(pid, it.value(), itemPath, false);
        }
        return pids;
    }

    std::vector<std::uint16_t> codeList(const Json& json, const std::string& path,
                                        std::size_t limit, const char* why) {
        r_.expect(json, Json::value_t::array, path, "an array of codes");
        if (json.size() > limit) {
            r_.fail(path, std::to_string(json.size()) + " codes: " + why);
        }
        std::vector<std::uint16_t> codes;
        for (std::size_t i = 0; i < json.size(); ++i) {
            codes.push_back(code(json[i], path + "/" + std::to_string(i)));
        }
        return codes;
    }

    std::uint16_t code(const Json& json, const std::string& path) {
        const std::string text = r_.anyText(json, path);
        try {
            const std::uint16_t raw = j1979::EncodeTroubleCode(text);
            if (raw == 0) {
                r_.fail(path, "P0000 is no trouble code");
            }
            return raw;
        } catch (const j1979::CodecError&) {
            r_.fail(path, "\"" + text + "\" is not a trouble code like P0301");
        }
    }

    void troubleCodes(const Json& json, const std::string& path, EcuModel& ecu) {
        r_.keys(json, path, {"confirmed", "pending", "permanent"});
        if (const Json* list = r_.optional(json, "confirmed")) {
            ecu.confirmed = codeList(*list, path + "/confirmed", kMaxConfirmedCodes,
                                     "PID 0x01 counts at most 127 confirmed codes");
        }
        if (const Json* list = r_.optional(json, "pending")) {
            ecu.pending = codeList(*list, path + "/pending", kMaxCodes,
                                   "an answer carries at most 255 codes");
        }
        if (const Json* list = r_.optional(json, "permanent")) {
            ecu.permanent = codeList(*list, path + "/permanent", kMaxCodes,
                                     "an answer carries at most 255 codes");
        }
    }

    MonitorState monitorState(const Json& json, const std::string& path) {
        const std::string state = r_.anyText(json, path);
        if (state == "complete") {
            return MonitorState::Complete;
        }
        if (state == "incomplete") {
            return MonitorState::Incomplete;
        }
        r_.fail(path, "expected \"complete\" or \"incomplete\", found \"" + state + "\"");
    }

    MonitorSet monitors(const Json& json, const std::string& path, Ignition ignition) {
        r_.expect(json, Json::value_t::object, path, "an object");
        const auto& continuous = j1979::ContinuousMonitors();
        const auto& nonContinuous = j1979::NonContinuousMonitors(ignition);
        MonitorSet set;
        for (auto it = json.begin(); it != json.end(); ++it) {
            const std::string itemPath = path + "/" + it.key();
            bool known = false;
            for (std::size_t i = 0; i < continuous.size(); ++i) {
                if (it.key() == continuous[i].key) {
                    set.continuous[i] = monitorState(it.value(), itemPath);
                    known = true;
                }
            }
            for (std::size_t i = 0; i < nonContinuous.size(); ++i) {
                if (nonContinuous[i].key != nullptr && it.key() == nonContinuous[i].key) {
                    set.nonContinuous[i] = monitorState(it.value(), itemPath);
                    known = true;
                }
            }
            if (!known) {
                r_.fail(itemPath, std::string("unknown monitor for ") +
                                      (ignition == Ignition::Spark ? "spark" : "compression") +
                                      " ignition");
            }
        }
        return set;
    }

    void readiness(const Json& json, const std::string& path, EcuModel& ecu) {
        r_.keys(json, path, {"ignition", "sinceReset", "thisCycle"});
        if (const Json* ignition = r_.optional(json, "ignition")) {
            const std::string kind = r_.anyText(*ignition, path + "/ignition");
            if (kind == "compression") {
                ecu.ignition = Ignition::Compression;
            } else if (kind != "spark") {
                r_.fail(path + "/ignition",
                        "expected \"spark\" or \"compression\", found \"" + kind + "\"");
            }
        }
        if (const Json* since = r_.optional(json, "sinceReset")) {
            ecu.sinceReset = monitors(*since, path + "/sinceReset", ecu.ignition);
        }
        if (const Json* cycle = r_.optional(json, "thisCycle")) {
            ecu.hasThisCycle = true;
            ecu.thisCycle = monitors(*cycle, path + "/thisCycle", ecu.ignition);
        }
    }

    void freezeFrames(const Json& json, const std::string& path, EcuModel& ecu) {
        r_.expect(json, Json::value_t::array, path, "an array");
        if (json.size() > kMaxFreezeFrames) {
            r_.fail(path, std::to_string(json.size()) +
                              " freeze frames: a frame number is a byte (at most 256 frames)");
        }
        for (std::size_t i = 0; i < json.size(); ++i) {
            const std::string framePath = path + "/" + std::to_string(i);
            r_.keys(json[i], framePath, {"code", "pids"});
            FreezeFrameModel frame;
            frame.code = code(r_.required(json[i], "code", framePath), framePath + "/code");
            const Json& pids = r_.required(json[i], "pids", framePath);
            r_.expect(pids, Json::value_t::object, framePath + "/pids", "an object");
            for (auto it = pids.begin(); it != pids.end(); ++it) {
                const std::string itemPath = framePath + "/pids/" + it.key();
                const std::uint8_t pid = pidKey(it.key(), itemPath);
                frame.pids[pid] = pidSource(pid, it.value(), itemPath, true).data;
            }
            ecu.freezeFrames.push_back(std::move(frame));
        }
    }

    void clearCodes(const Json& json, const std::string& path, EcuModel& ecu) {
        r_.keys(json, path,
                {"accepted", "refusalCode", "pids", "resetReadiness", "clearTestResults"});
        if (const Json* accepted = r_.optional(json, "accepted")) {
            ecu.clear.accepted = r_.boolean(*accepted, path + "/accepted");
        }
        if (const Json* code = r_.optional(json, "refusalCode")) {
            ecu.clear.refusalCode =
                static_cast<std::uint8_t>(r_.integer(*code, path + "/refusalCode", 0xFF));
        }
        if (const Json* pids = r_.optional(json, "pids")) {
            ecu.clear.pids = livePids(*pids, path + "/pids");
            for (const auto& entry : ecu.clear.pids) {
                if (ecu.pids.count(entry.first) == 0) {
                    r_.fail(path + "/pids",
                            "PID " + bus::HexNumber(entry.first) + " is not among the ECU's PIDs");
                }
            }
        }
        if (const Json* reset = r_.optional(json, "resetReadiness")) {
            ecu.clear.resetReadiness = r_.boolean(*reset, path + "/resetReadiness");
        }
        if (const Json* results = r_.optional(json, "clearTestResults")) {
            ecu.clear.clearTestResults = r_.boolean(*results, path + "/clearTestResults");
        }
    }

    void testResults(const Json& json, const std::string& path, EcuModel& ecu) {
        r_.expect(json, Json::value_t::array, path, "an array");
        for (std::size_t i = 0; i < json.size(); ++i) {
            const std::string itemPath = path + "/" + std::to_string(i);
            r_.keys(json[i], itemPath,
                    {"mid", "tid", "unitAndScaling", "value", "minimum", "maximum"});
            j1979::MonitorTestResult result;
            result.monitorId = static_cast<std::uint8_t>(
                r_.integer(r_.required(json[i], "mid", itemPath), itemPath + "/mid", 0xFF));
            if (IsSupportId(result.monitorId)) {
                r_.fail(itemPath + "/mid", "MID " + bus::HexNumber(result.monitorId) +
                                               " is a support bitmap; bitmaps are derived");
            }
            result.testId = static_cast<std::uint8_t>(
                r_.integer(r_.required(json[i], "tid", itemPath), itemPath + "/tid", 0xFF));
            result.unitAndScalingId = static_cast<std::uint8_t>(
                r_.integer(r_.required(json[i], "unitAndScaling", itemPath),
                           itemPath + "/unitAndScaling", 0xFF));
            result.value = r_.number(r_.required(json[i], "value", itemPath), itemPath + "/value");
            result.minimum =
                r_.number(r_.required(json[i], "minimum", itemPath), itemPath + "/minimum");
            result.maximum =
                r_.number(r_.required(json[i], "maximum", itemPath), itemPath + "/maximum");
            if (result.minimum > result.maximum) {
                r_.fail(itemPath, "minimum is greater than maximum");
            }
            std::vector<Bytes>& records = ecu.testResults[result.monitorId];
            if (records.size() == kMaxTestRecordsPerMonitor) {
                r_.fail(itemPath, "monitor " + bus::HexNumber(result.monitorId) +
                                      " has more than " +
                                      std::to_string(kMaxTestRecordsPerMonitor) +
                                      " test records: a service 06 answer carries at most " +
                                      std::to_string(bus::kMaxIsoTpMessage) + " bytes");
            }
            try {
                records.push_back(j1979::EncodeMonitorTestResult(result));
            } catch (const j1979::CodecError& error) {
                r_.fail(itemPath, error.what());
            }
        }
    }

    void routines(const Json& json, const std::string& path, EcuModel& ecu) {
        r_.expect(json, Json::value_t::array, path, "an array");
        for (std::size_t i = 0; i < json.size(); ++i) {
            const std::string itemPath = path + "/" + std::to_string(i);
            r_.keys(json[i], itemPath, {"tid", "accepted", "refusalCode", "data"});
            const std::uint32_t tid =
                r_.integer(r_.required(json[i], "tid", itemPath), itemPath + "/tid", 0xFF);
            if (IsSupportId(static_cast<int>(tid))) {
                r_.fail(itemPath + "/tid",
                        "TID " + bus::HexNumber(tid) + " is a support bitmap; bitmaps are derived");
            }
            RoutineModel routine;
            routine.data = Bytes(kMaxRoutineData, 0);
            if (const Json* accepted = r_.optional(json[i], "accepted")) {
                routine.accepted = r_.boolean(*accepted, itemPath + "/accepted");
            }
            if (const Json* code = r_.optional(json[i], "refusalCode")) {
                routine.refusalCode =
                    static_cast<std::uint8_t>(r_.integer(*code, itemPath + "/refusalCode", 0xFF));
            }
            if (const Json* data = r_.optional(json[i], "data")) {
                routine.data = r_.hex(*data, itemPath + "/data");
                if (routine.data.size() > kMaxRoutineData) {
                    r_.fail(itemPath + "/data", "at most 5 data bytes");
                }
            }
            if (!ecu.routines.emplace(static_cast<std::uint8_t>(tid), routine).second) {
                r_.fail(itemPath + "/tid", "TID " + bus::HexNumber(tid) + " is given twice");
            }
        }
    }

    static Bytes Padded(const std::string& text, std::size_t size) {
        Bytes data(text.begin(), text.end());
        data.resize(std::max(size, data.size()), 0);
        return data;
    }

    void ecuName(const Json& json, const std::string& path, EcuModel& ecu) {
        const Json* name = r_.optional(json, "name");
        const Json* description = r_.optional(json, "description");
        if (name == nullptr) {
            if (description != nullptr) {
                r_.fail(path + "/description", "an ECU description needs an ECU name");
            }
            return;
        }
        // Four characters of acronym, a dash and fifteen of text, zero-padded.
        Bytes data = Padded(r_.text(*name, path + "/name", 4), 4);
        data.push_back('-');
        const std::string text =
            description ? r_.text(*description, path + "/description", 15) : "";
        const Bytes rest = Padded(text, 15);
        data.insert(data.end(), rest.begin(), rest.end());
        ecu.info[info::kEcuName] = InfoItem{1, data};
    }

    void counter(const Json& json, const std::string& path, Bytes& data, bool pair) {
        auto put = [&](const Json& value, const std::string& where) {
            const std::uint32_t number = r_.integer(value, where, 0xFFFF);
            data.push_back(static_cast<std::uint8_t>(number >> 8));
            data.push_back(static_cast<std::uint8_t>(number & 0xFF));
        };
        if (!pair) {
            put(json, path);
            return;
        }
        r_.expect(json, Json::value_t::array, path, "[numerator, denominator]");
        if (json.size() != 2) {
            r_.fail(path, "expected [numerator, denominator]");
        }
        put(json[0], path + "/0");
        put(json[1], path + "/1");
    }

    void inUsePerformance(const Json& json, const std::string& path, EcuModel& ecu) {
        const auto& keys =
            ecu.ignition == Ignition::Spark ? kSparkCounterKeys : kCompressionCounterKeys;
        r_.expect(json, Json::value_t::object, path, "an object");
        for (auto it = json.begin(); it != json.end(); ++it) {
            if (it.key() != "obdMonitoringConditions" && it.key() != "ignitionCycles" &&
                std::none_of(keys.begin(), keys.end(),
                             [&](const char* key) { return it.key() == key; })) {
                r_.fail(path + "/" + it.key(),
                        std::string("unknown counter for ") +
                            (ecu.ignition == Ignition::Spark ? "spark" : "compression") +
                            " ignition");
            }
        }
        Bytes data;
        for (const char* key : {"obdMonitoringConditions", "ignitionCycles"}) {
            const Json* value = r_.optional(json, key);
            counter(value ? *value : Json(0), path + "/" + key, data, false);
        }
        for (const char* key : keys) {
            const Json* value = r_.optional(json, key);
            counter(value ? *value : Json::array({0, 0}), path + "/" + key, data, true);
        }
        const std::uint8_t type = ecu.ignition == Ignition::Spark ? info::kPerformanceSpark
                                                                  : info::kPerformanceCompression;
        ecu.info[type] = InfoItem{static_cast<std::uint8_t>(data.size() / 2), data};
    }

    void textItem(const Json& json, const char* key, const std::string& path, std::uint8_t type,
                  std::size_t maxLength, std::size_t padTo, EcuModel& ecu) {
        if (const Json* value = r_.optional(json, key)) {
            const std::string text = r_.text(*value, path + "/" + key, maxLength);
            ecu.info[type] = InfoItem{1, Padded(text, padTo)};
        }
    }

    void numberItem(const Json& json, const char* key, const std::string& path, std::uint8_t type,
                    EcuModel& ecu) {
        if (const Json* value = r_.optional(json, key)) {
            const std::uint32_t number = r_.integer(*value, path + "/" + key, 0xFFFF);
            ecu.info[type] = InfoItem{1, Bytes{static_cast<std::uint8_t>(number >> 8),
                                               static_cast<std::uint8_t>(number & 0xFF)}};
        }
    }

    void vehicleInformation(const Json& json, const std::string& path, EcuModel& ecu) {
        r_.keys(json, path,
                {"vin", "calids", "cvns", "esn", "erotan", "gtrNumber", "fueledEngineOperation",
                 "certificationTestGroup", "distanceSinceEvap", "motorcycleCategory",
                 "inUsePerformance"});
        if (const Json* vin = r_.optional(json, "vin")) {
            const std::string text = r_.anyText(*vin, path + "/vin");
            if (!j1979::IsVinValid(text)) {
                r_.fail(path + "/vin", "\"" + text +
                                           "\" is not a valid VIN (17 characters without I, O, Q "
                                           "and a correct check digit in position 9)");
            }
            ecu.info[info::kVin] = InfoItem{1, Bytes(text.begin(), text.end())};
        }
        if (const Json* calids = r_.optional(json, "calids")) {
            r_.expect(*calids, Json::value_t::array, path + "/calids", "an array");
            if (calids->empty() || calids->size() > 0xFF) {
                r_.fail(path + "/calids", "1 to 255 calibration identifications");
            }
            Bytes data;
            for (std::size_t i = 0; i < calids->size(); ++i) {
                const Bytes one =
                    Padded(r_.text((*calids)[i], path + "/calids/" + std::to_string(i), kCalidSize),
                           kCalidSize);
                data.insert(data.end(), one.begin(), one.end());
            }
            ecu.info[info::kCalid] = InfoItem{static_cast<std::uint8_t>(calids->size()), data};
        }
        if (const Json* cvns = r_.optional(json, "cvns")) {
            r_.expect(*cvns, Json::value_t::array, path + "/cvns", "an array");
            if (cvns->empty() || cvns->size() > 0xFF) {
                r_.fail(path + "/cvns", "1 to 255 calibration verification numbers");
            }
            Bytes data;
            for (std::size_t i = 0; i < cvns->size(); ++i) {
                const std::string itemPath = path + "/cvns/" + std::to_string(i);
                const Bytes one = r_.hex((*cvns)[i], itemPath);
                if (one.size() != 4) {
                    r_.fail(itemPath,
                            "a calibration verification number is 4 bytes (8 hex digits)");
                }
                data.insert(data.end(), one.begin(), one.end());
            }
            ecu.info[info::kCvn] = InfoItem{static_cast<std::uint8_t>(cvns->size()), data};
        }
        textItem(json, "esn", path, info::kEsn, kShortTextSize, kShortTextSize, ecu);
        textItem(json, "erotan", path, info::kErotan, kShortTextSize, kShortTextSize, ecu);
        textItem(json, "gtrNumber", path, info::kGtrNumber, kLongTextSize, 0, ecu);
        numberItem(json, "fueledEngineOperation", path, info::kFueledEngineOperation, ecu);
        textItem(json, "certificationTestGroup", path, info::kCertificationTestGroup, kLongTextSize,
                 0, ecu);
        numberItem(json, "distanceSinceEvap", path, info::kDistanceSinceEvap, ecu);
        textItem(json, "motorcycleCategory", path, info::kMotorcycleCategory, kLongTextSize, 0,
                 ecu);
        if (const Json* performance = r_.optional(json, "inUsePerformance")) {
            inUsePerformance(*performance, path + "/inUsePerformance", ecu);
        }
    }

    void vehicleOperationData(const Json& json, const std::string& path, EcuModel& ecu) {
        r_.expect(json, Json::value_t::object, path, "an object");
        for (auto it = json.begin(); it != json.end(); ++it) {
            const std::string itemPath = path + "/" + it.key();
            const detail::VodRecord* record = nullptr;
            for (const detail::VodRecord& candidate : detail::VodRecords()) {
                if (it.key() == candidate.key) {
                    record = &candidate;
                }
            }
            if (record == nullptr) {
                r_.fail(itemPath, "unknown key");
            }
            r_.expect(it.value(), Json::value_t::array, itemPath, "an array of numbers");
            if (it.value().size() != record->fields.size()) {
                r_.fail(itemPath, "expected " + std::to_string(record->fields.size()) +
                                      " numbers, found " + std::to_string(it.value().size()));
            }
            Bytes data;
            for (std::size_t i = 0; i < record->fields.size(); ++i) {
                const std::string valuePath = itemPath + "/" + std::to_string(i);
                const double value = r_.number(it.value()[i], valuePath);
                const double raw = std::round(value / record->fields[i].scale);
                if (raw < 0 || raw > 4294967295.0) {
                    r_.fail(valuePath, "value " + FormatShortest(value) + " is out of range for " +
                                           record->fields[i].label);
                }
                const auto number = static_cast<std::uint32_t>(raw);
                for (int shift = 24; shift >= 0; shift -= 8) {
                    data.push_back(static_cast<std::uint8_t>(number >> shift & 0xFF));
                }
            }
            ecu.info[record->infoType] =
                InfoItem{static_cast<std::uint8_t>(record->fields.size()), data};
        }
    }

    // Modules answering UDS to physical requests (see SimulatedProfileEcu).
    void profileEcus(const Json& json, const std::string& path, std::set<std::uint32_t>& addresses,
                     VehicleModel& model) {
        r_.expect(json, Json::value_t::array, path, "an array");
        for (std::size_t i = 0; i < json.size(); ++i) {
            const std::string itemPath = path + "/" + std::to_string(i);
            const Json& item = json[i];
            r_.keys(item, itemPath,
                    {"name", "request", "response", "padding", "identifiers", "localIdentifiers",
                     "sharedRequests", "pendingMilliseconds", "codes", "clearCodes"});
            ProfileEcuModel ecu;
            ecu.name =
                r_.text(r_.required(item, "name", itemPath), itemPath + "/name", kShortTextSize);
            ecu.request =
                r_.integer(r_.required(item, "request", itemPath), itemPath + "/request", 0x7FF);
            ecu.response = ecu.request + bus::kRequestToResponse11;
            if (const Json* response = r_.optional(item, "response")) {
                ecu.response = r_.integer(*response, itemPath + "/response", 0x7FF);
            }
            if (ecu.request == bus::kFunctionalRequestId || ecu.response > 0x7FF ||
                !addresses.insert(ecu.response).second) {
                r_.fail(itemPath + "/response", "response id " + bus::HexNumber(ecu.response) +
                                                    " is taken or not an 11-bit identifier");
            }
            if (const Json* padding = r_.optional(item, "padding")) {
                ecu.padding =
                    static_cast<std::uint8_t>(r_.integer(*padding, itemPath + "/padding", 0xFF));
            }
            if (const Json* shared = r_.optional(item, "sharedRequests")) {
                ecu.sharedRequests = r_.boolean(*shared, itemPath + "/sharedRequests");
            }
            if (const Json* pending = r_.optional(item, "pendingMilliseconds")) {
                ecu.pendingSeconds =
                    r_.integer(*pending, itemPath + "/pendingMilliseconds", 2000) / 1000.0;
            }
            if (const Json* ids = r_.optional(item, "identifiers")) {
                r_.expect(*ids, Json::value_t::object, itemPath + "/identifiers", "an object");
                for (auto it = ids->begin(); it != ids->end(); ++it) {
                    const std::string idPath = itemPath + "/identifiers/" + it.key();
                    const auto id =
                        static_cast<std::uint16_t>(r_.integerText(it.key(), idPath, 0xFFFF));
                    ecu.identifiers[id] = identifier(it.value(), idPath);
                }
            }
            if (const Json* ids = r_.optional(item, "localIdentifiers")) {
                r_.expect(*ids, Json::value_t::object, itemPath + "/localIdentifiers", "an object");
                for (auto it = ids->begin(); it != ids->end(); ++it) {
                    const std::string idPath = itemPath + "/localIdentifiers/" + it.key();
                    const auto id =
                        static_cast<std::uint8_t>(r_.integerText(it.key(), idPath, 0xFF));
                    ecu.localIdentifiers[id] = identifier(it.value(), idPath);
                }
            }
            if (const Json* codes = r_.optional(item, "codes")) {
                moduleCodes(*codes, itemPath + "/codes", ecu);
            }
            if (const Json* clear = r_.optional(item, "clearCodes")) {
                r_.keys(*clear, itemPath + "/clearCodes", {"accepted", "refusalCode"});
                if (const Json* accepted = r_.optional(*clear, "accepted")) {
                    ecu.clearAccepted = r_.boolean(*accepted, itemPath + "/clearCodes/accepted");
                }
                if (const Json* code = r_.optional(*clear, "refusalCode")) {
                    ecu.clearRefusal = refusalCode(*code, itemPath + "/clearCodes/refusalCode");
                }
            }
            model.profileEcus.push_back(std::move(ecu));
        }
    }

    std::uint8_t refusalCode(const Json& json, const std::string& path) {
        const auto code = static_cast<std::uint8_t>(r_.integer(json, path, 0xFF));
        if (code == 0 || code == 0x78) {
            r_.fail(path, "not a refusal (0x78 is \"response pending\"; see \"pending\")");
        }
        return code;
    }

    IdentifierModel identifier(const Json& json, const std::string& path) {
        r_.keys(json, path, {"data", "value", "bytes", "refuse", "pending"});
        IdentifierModel identifier;
        if (const Json* refuse = r_.optional(json, "refuse")) {
            identifier.refusal = refusalCode(*refuse, path + "/refuse");
        }
        if (const Json* pending = r_.optional(json, "pending")) {
            // "forever": a module that never gives its final answer.
            identifier.pending =
                pending->is_string() && pending->get<std::string>() == "forever"
                    ? kPendingForever
                    : static_cast<std::uint8_t>(r_.integer(*pending, path + "/pending", 20));
        }
        if (const Json* bytes = r_.optional(json, "bytes")) {
            identifier.size = static_cast<std::uint8_t>(r_.integer(*bytes, path + "/bytes", 4));
            if (identifier.size == 0) {
                r_.fail(path + "/bytes", "a value takes 1 to 4 bytes");
            }
        }
        const Json* data = r_.optional(json, "data");
        const Json* value = r_.optional(json, "value");
        if ((data != nullptr) == (value != nullptr) && identifier.refusal == 0) {
            r_.fail(path, "give either \"data\" (hex) or \"value\" (a live value)");
        }
        if (data != nullptr) {
            identifier.data = r_.hex(*data, path + "/data");
            if (identifier.data.size() > 64) {
                r_.fail(path + "/data", "more than 64 bytes");
            }
        }
        if (value != nullptr) {
            identifier.live = true;
            identifier.value = liveValue(*value, path + "/value", nullptr);
            const double span = std::ldexp(1.0, 8 * identifier.size);
            std::vector<double> fixed{identifier.value.constant, identifier.value.start};
            for (const auto& point : identifier.value.points) {
                fixed.push_back(point.second);
            }
            for (double v : fixed) {
                if (v < -span / 2 || v > span - 1) {
                    r_.fail(path + "/value", "value " + FormatShortest(v) + " does not fit " +
                                                 std::to_string(identifier.size) + " bytes");
                }
            }
        }
        return identifier;
    }

    void moduleCodes(const Json& json, const std::string& path, ProfileEcuModel& ecu) {
        r_.expect(json, Json::value_t::array, path, "an array");
        if (json.size() > kMaxCodes) {
            r_.fail(path, "more than " + std::to_string(kMaxCodes) + " codes");
        }
        for (std::size_t i = 0; i < json.size(); ++i) {
            const std::string codePath = path + "/" + std::to_string(i);
            r_.keys(json[i], codePath, {"code", "status"});
            const std::string text =
                r_.text(r_.required(json[i], "code", codePath), codePath + "/code", 8);
            ModuleCodeModel code;
            std::uint16_t base = 0;
            const auto failure =
                text.size() == 8 && text[5] == '-' ? bus::ParseHex(text.substr(6)) : std::nullopt;
            try {
                base = j1979::EncodeTroubleCode(text.substr(0, 5));
            } catch (const j1979::CodecError&) {
                r_.fail(codePath + "/code", "\"" + text + "\" is not a code such as C0035-11");
            }
            if (!failure || failure->size() != 1) {
                r_.fail(codePath + "/code", "\"" + text + "\" is not a code such as C0035-11");
            }
            code.raw = static_cast<std::uint32_t>(base) << 8 | failure->front();
            code.status = static_cast<std::uint8_t>(
                r_.integer(r_.required(json[i], "status", codePath), codePath + "/status", 0xFF));
            if (code.status == 0) {
                r_.fail(codePath + "/status", "a code with no status bit is not reported");
            }
            ecu.codes.push_back(code);
        }
    }

    const Reader& r_;
};

}  // namespace

std::shared_ptr<const VehicleModel> LoadScenario(const std::string& text,
                                                 const std::string& source) {
    const Reader reader(source);
    const Json root = reader.parse(text);
    Loader loader(reader);
    return loader.vehicle(root, source);
}

}  // namespace obd::sim
