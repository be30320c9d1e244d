#include <string>
#include <vector>

#include "bus/Hex.h"
#include "bus/IsoTp.h"
#include "j1979/Codec.h"
#include "obd/ParameterIdentifier.h"
#include "sim/scenario/Sections.h"

namespace obd::sim::scenario {

namespace {

// A service 06 answer (46 and 9 bytes per record) is one ISO-TP message.
constexpr std::size_t kTestRecordSize = 9;
constexpr std::size_t kMaxTestRecordsPerMonitor = (bus::kMaxIsoTpMessage - 1) / kTestRecordSize;
constexpr std::size_t kMaxRoutineData = 5;

}  // namespace

void ReadTestResults(const Reader& r, const Json& json, const std::string& path, EcuModel& ecu) {
    r.expect(json, Json::value_t::array, path, "an array");
    for (std::size_t i = 0; i < json.size(); ++i) {
        const std::string itemPath = path + "/" + std::to_string(i);
        r.object(json[i], itemPath,
                 {"mid", "tid", "unitAndScaling", "value", "minimum", "maximum"});
        j1979::MonitorTestResult result;
        result.monitorId = static_cast<std::uint8_t>(
            r.integer(r.required(json[i], "mid", itemPath), itemPath + "/mid", 0xFF));
        if (IsSupportId(result.monitorId)) {
            r.fail(itemPath + "/mid", "MID " + bus::HexNumber(result.monitorId) +
                                          " is a support bitmap; bitmaps are derived");
        }
        result.testId = static_cast<std::uint8_t>(
            r.integer(r.required(json[i], "tid", itemPath), itemPath + "/tid", 0xFF));
        result.unitAndScalingId = static_cast<std::uint8_t>(r.integer(
            r.required(json[i], "unitAndScaling", itemPath), itemPath + "/unitAndScaling", 0xFF));
        result.value = r.number(r.required(json[i], "value", itemPath), itemPath + "/value");
        result.minimum = r.number(r.required(json[i], "minimum", itemPath), itemPath + "/minimum");
        result.maximum = r.number(r.required(json[i], "maximum", itemPath), itemPath + "/maximum");
        if (result.minimum > result.maximum) {
            r.fail(itemPath, "minimum is greater than maximum");
        }
        std::vector<Bytes>& records = ecu.testResults[result.monitorId];
        if (records.size() == kMaxTestRecordsPerMonitor) {
            r.fail(itemPath, "monitor " + bus::HexNumber(result.monitorId) + " has more than " +
                                 std::to_string(kMaxTestRecordsPerMonitor) +
                                 " test records: a service 06 answer carries at most " +
                                 std::to_string(bus::kMaxIsoTpMessage) + " bytes");
        }
        try {
            records.push_back(j1979::EncodeMonitorTestResult(result));
        } catch (const j1979::CodecError& error) {
            r.fail(itemPath, error.what());
        }
    }
}

void ReadRoutines(const Reader& r, const Json& json, const std::string& path, EcuModel& ecu) {
    r.expect(json, Json::value_t::array, path, "an array");
    for (std::size_t i = 0; i < json.size(); ++i) {
        const std::string itemPath = path + "/" + std::to_string(i);
        r.object(json[i], itemPath, {"tid", "accepted", "refusalCode", "data"});
        const std::uint32_t tid =
            r.integer(r.required(json[i], "tid", itemPath), itemPath + "/tid", 0xFF);
        if (IsSupportId(static_cast<int>(tid))) {
            r.fail(itemPath + "/tid",
                   "TID " + bus::HexNumber(tid) + " is a support bitmap; bitmaps are derived");
        }
        RoutineModel routine;
        routine.data = Bytes(kMaxRoutineData, 0);
        if (const Json* accepted = r.optional(json[i], "accepted")) {
            routine.accepted = r.boolean(*accepted, itemPath + "/accepted");
        }
        if (const Json* code = r.optional(json[i], "refusalCode")) {
            routine.refusalCode =
                static_cast<std::uint8_t>(r.integer(*code, itemPath + "/refusalCode", 0xFF));
        }
        if (const Json* data = r.optional(json[i], "data")) {
            routine.data = r.hex(*data, itemPath + "/data");
            if (routine.data.size() > kMaxRoutineData) {
                r.fail(itemPath + "/data", "at most 5 data bytes");
            }
        }
        if (!ecu.routines.emplace(static_cast<std::uint8_t>(tid), routine).second) {
            r.fail(itemPath + "/tid", "TID " + bus::HexNumber(tid) + " is given twice");
        }
    }
}

}  // namespace obd::sim::scenario
