#include <string>
#include <utility>
#include <vector>

#include "bus/Hex.h"
#include "j1979/Codec.h"
#include "sim/scenario/Sections.h"

namespace obd::sim::scenario {

namespace {

// A freeze frame number is a byte.
constexpr std::size_t kMaxFreezeFrames = 0x100;

std::vector<std::uint16_t> ReadCodeList(const Reader& r, const Json& json, const std::string& path,
                                        std::size_t limit, const char* why) {
    r.expect(json, Json::value_t::array, path, "an array of codes");
    if (json.size() > limit) {
        r.fail(path, std::to_string(json.size()) + " codes: " + why);
    }
    std::vector<std::uint16_t> codes;
    for (std::size_t i = 0; i < json.size(); ++i) {
        codes.push_back(ReadTroubleCode(r, json[i], path + "/" + std::to_string(i)));
    }
    return codes;
}

}  // namespace

std::uint16_t ReadTroubleCode(const Reader& r, const Json& json, const std::string& path) {
    const std::string text = r.anyText(json, path);
    try {
        const std::uint16_t raw = j1979::EncodeTroubleCode(text);
        if (raw == 0) {
            r.fail(path, "P0000 is no trouble code");
        }
        return raw;
    } catch (const j1979::CodecError&) {
        r.fail(path, "\"" + text + "\" is not a trouble code like P0301");
    }
}

void ReadTroubleCodes(const Reader& r, const Json& json, const std::string& path, EcuModel& ecu) {
    r.object(json, path, {"confirmed", "pending", "permanent"});
    if (const Json* list = r.optional(json, "confirmed")) {
        ecu.confirmed = ReadCodeList(r, *list, path + "/confirmed", kMaxConfirmedCodes,
                                     "PID 0x01 counts at most 127 confirmed codes");
    }
    if (const Json* list = r.optional(json, "pending")) {
        ecu.pending = ReadCodeList(r, *list, path + "/pending", kMaxCodes,
                                   "an answer carries at most 255 codes");
    }
    if (const Json* list = r.optional(json, "permanent")) {
        ecu.permanent = ReadCodeList(r, *list, path + "/permanent", kMaxCodes,
                                     "an answer carries at most 255 codes");
    }
}

void ReadFreezeFrames(const Reader& r, const Json& json, const std::string& path, EcuModel& ecu) {
    r.expect(json, Json::value_t::array, path, "an array");
    if (json.size() > kMaxFreezeFrames) {
        r.fail(path, std::to_string(json.size()) +
                         " freeze frames: a frame number is a byte (at most 256 frames)");
    }
    for (std::size_t i = 0; i < json.size(); ++i) {
        const std::string framePath = path + "/" + std::to_string(i);
        r.object(json[i], framePath, {"code", "pids"});
        FreezeFrameModel frame;
        frame.code =
            ReadTroubleCode(r, r.required(json[i], "code", framePath), framePath + "/code");
        const Json& pids = r.required(json[i], "pids", framePath);
        r.expect(pids, Json::value_t::object, framePath + "/pids", "an object");
        for (auto it = pids.begin(); it != pids.end(); ++it) {
            const std::string itemPath = framePath + "/pids/" + it.key();
            const std::uint8_t pid = ReadPidKey(r, it.key(), itemPath);
            frame.pids[pid] = ReadPidSource(r, pid, it.value(), itemPath, true).data;
        }
        ecu.freezeFrames.push_back(std::move(frame));
    }
}

void ReadClearCodes(const Reader& r, const Json& json, const std::string& path, EcuModel& ecu) {
    r.object(json, path, {"accepted", "refusalCode", "pids", "resetReadiness", "clearTestResults"});
    if (const Json* accepted = r.optional(json, "accepted")) {
        ecu.clear.accepted = r.boolean(*accepted, path + "/accepted");
    }
    if (const Json* code = r.optional(json, "refusalCode")) {
        ecu.clear.refusalCode =
            static_cast<std::uint8_t>(r.integer(*code, path + "/refusalCode", 0xFF));
    }
    if (const Json* pids = r.optional(json, "pids")) {
        ecu.clear.pids = ReadLivePids(r, *pids, path + "/pids");
        for (const auto& entry : ecu.clear.pids) {
            if (ecu.pids.count(entry.first) == 0) {
                r.fail(path + "/pids",
                       "PID " + bus::HexNumber(entry.first) + " is not among the ECU's PIDs");
            }
        }
    }
    if (const Json* reset = r.optional(json, "resetReadiness")) {
        ecu.clear.resetReadiness = r.boolean(*reset, path + "/resetReadiness");
    }
    if (const Json* results = r.optional(json, "clearTestResults")) {
        ecu.clear.clearTestResults = r.boolean(*results, path + "/clearTestResults");
    }
}

}  // namespace obd::sim::scenario
