#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "bus/Hex.h"
#include "j1979/Codec.h"
#include "j1979/Numbers.h"
#include "obd/ParameterIdentifier.h"
#include "sim/scenario/Sections.h"

namespace obd::sim::scenario {

namespace {

using j1979::detail::FormatShortest;

// A value is in range when the codec can encode it: compared as the raw
// integer it becomes, the documented maximum (655.35 for PID 0x10) is
// in, which the limits as floating point numbers put just out.
void CheckRange(const Reader& r, double value, const SensorOfPid* of, const std::string& path) {
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
        r.fail(path, "value " + FormatShortest(value) + " is out of range for " + sensor.name +
                         " (" + FormatShortest(sensor.minimum) + " to " +
                         FormatShortest(sensor.maximum) + ")");
    }
}

}  // namespace

// The PID of an object key such as "0x0C".
std::uint8_t ReadPidKey(const Reader& r, const std::string& key, const std::string& path) {
    const std::uint32_t pid = r.integerText(key, path, 0xFF);
    if (IsSupportId(static_cast<int>(pid))) {
        r.fail(path, "PID " + bus::HexNumber(pid) +
                         " is a support bitmap; bitmaps are derived from the PIDs present");
    }
    if (pid == 0x01 || pid == 0x41) {
        r.fail(path, "PID " + bus::HexNumber(pid) +
                         " is derived from the codes, the MIL and the readiness");
    }
    if (pid == 0x02) {
        r.fail(path, "PID 0x02 is derived from a freeze frame's code");
    }
    if (pid == 0xF4) {
        r.fail(path, "PID 0xF4 is the adapter's battery voltage; set /adapter/batteryVoltage");
    }
    if (j1979::FindPid(static_cast<std::uint8_t>(pid)) == nullptr) {
        r.fail(path, "unknown PID " + bus::HexNumber(pid));
    }
    return static_cast<std::uint8_t>(pid);
}

LiveValue ReadLiveValue(const Reader& r, const Json& json, const std::string& path,
                        const SensorOfPid* sensor) {
    LiveValue value;
    if (json.is_number()) {
        value.kind = LiveValue::Kind::Constant;
        value.constant = r.number(json, path);
        CheckRange(r, value.constant, sensor, path);
        return value;
    }
    if (!json.is_object()) {
        r.fail(path, std::string("expected a number or a live value object, found ") +
                         Reader::TypeName(json));
    }
    if (json.contains("points")) {
        r.object(json, path, {"points", "repeat"});
        value.kind = LiveValue::Kind::Points;
        const Json& points = json["points"];
        r.expect(points, Json::value_t::array, path + "/points", "an array");
        if (points.empty()) {
            r.fail(path + "/points", "a profile needs at least one point");
        }
        for (std::size_t i = 0; i < points.size(); ++i) {
            const std::string pointPath = path + "/points/" + std::to_string(i);
            r.expect(points[i], Json::value_t::array, pointPath, "[seconds, value]");
            if (points[i].size() != 2) {
                r.fail(pointPath, "expected [seconds, value]");
            }
            const double t = r.number(points[i][0], pointPath + "/0");
            const double v = r.number(points[i][1], pointPath + "/1");
            if (!value.points.empty() && t <= value.points.back().first) {
                r.fail(pointPath + "/0", "times must increase");
            }
            CheckRange(r, v, sensor, pointPath + "/1");
            value.points.emplace_back(t, v);
        }
        if (const Json* repeat = r.optional(json, "repeat")) {
            value.repeat = r.boolean(*repeat, path + "/repeat");
        }
        return value;
    }
    r.object(json, path, {"start", "rate"});
    value.kind = LiveValue::Kind::Ramp;
    value.start = r.number(r.required(json, "start", path), path + "/start");
    value.rate = r.number(r.required(json, "rate", path), path + "/rate");
    CheckRange(r, value.start, sensor, path + "/start");
    return value;
}

// A PID's value in a scenario: hex data bytes, or physical values.
PidSource ReadPidSource(const Reader& r, std::uint8_t pid, const Json& json,
                        const std::string& path, bool constantOnly) {
    const j1979::PidDefinition& definition = *j1979::FindPid(pid);
    PidSource source;
    if (json.is_string()) {
        source.raw = true;
        try {
            source.data = j1979::EncodeRawPid(pid, r.hex(json, path));
        } catch (const j1979::CodecError& error) {
            r.fail(path, error.what());
        }
        return source;
    }
    const bool allNumeric = std::all_of(definition.sensors.begin(), definition.sensors.end(),
                                        [](const auto& sensor) { return sensor.numeric; });
    if (!allNumeric || definition.sensors.empty()) {
        r.fail(path, "PID " + bus::HexNumber(pid) + " (" + definition.name +
                         ") carries bits or codes: give its data bytes as a hex string");
    }
    const std::size_t count = definition.sensors.size();
    std::vector<std::pair<const Json*, std::string>> items;
    if (json.is_array()) {
        if (json.size() != count) {
            r.fail(path, "PID " + bus::HexNumber(pid) + " (" + definition.name + ") has " +
                             std::to_string(count) + " values, found " +
                             std::to_string(json.size()));
        }
        for (std::size_t i = 0; i < json.size(); ++i) {
            items.emplace_back(&json[i], path + "/" + std::to_string(i));
        }
    } else if (count == 1) {
        items.emplace_back(&json, path);
    } else {
        r.fail(path, "PID " + bus::HexNumber(pid) + " (" + definition.name + ") has " +
                         std::to_string(count) + " values: give an array");
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (constantOnly && !items[i].first->is_number()) {
            r.fail(items[i].second,
                   std::string("expected a number, found ") + Reader::TypeName(*items[i].first));
        }
        const SensorOfPid sensor{pid, i};
        source.values.push_back(ReadLiveValue(r, *items[i].first, items[i].second, &sensor));
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
        r.fail(path, error.what());
    }
    return source;
}

std::map<std::uint8_t, PidSource> ReadLivePids(const Reader& r, const Json& json,
                                               const std::string& path) {
    r.expect(json, Json::value_t::object, path, "an object");
    std::map<std::uint8_t, PidSource> pids;
    for (auto it = json.begin(); it != json.end(); ++it) {
        const std::string itemPath = path + "/" + it.key();
        const std::uint8_t pid = ReadPidKey(r, it.key(), itemPath);
        if (pids.count(pid) != 0) {
            r.fail(itemPath, "PID " + bus::HexNumber(pid) + " is given twice");
        }
        pids[pid] = ReadPidSource(r, pid, it.value(), itemPath, false);
    }
    return pids;
}

}  // namespace obd::sim::scenario
