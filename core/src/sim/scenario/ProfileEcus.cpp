#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bus/Addressing.h"
#include "bus/Hex.h"
#include "bus/IsoTp.h"
#include "j1979/Codec.h"
#include "j1979/Numbers.h"
#include "sim/scenario/Sections.h"

namespace obd::sim::scenario {

namespace {

using j1979::detail::FormatShortest;

std::uint8_t ReadRefusalCode(const Reader& r, const Json& json, const std::string& path) {
    const auto code = static_cast<std::uint8_t>(r.integer(json, path, 0xFF));
    if (code == 0 || code == 0x78) {
        r.fail(path, "not a refusal (0x78 is \"response pending\"; see \"pending\")");
    }
    return code;
}

IdentifierModel ReadIdentifier(const Reader& r, const Json& json, const std::string& path) {
    r.object(json, path, {"data", "value", "bytes", "refuse", "pending"});
    IdentifierModel identifier;
    if (const Json* refuse = r.optional(json, "refuse")) {
        identifier.refusal = ReadRefusalCode(r, *refuse, path + "/refuse");
    }
    if (const Json* pending = r.optional(json, "pending")) {
        // "forever": a module that never gives its final answer.
        identifier.pending =
            pending->is_string() && pending->get<std::string>() == "forever"
                ? kPendingForever
                : static_cast<std::uint8_t>(r.integer(*pending, path + "/pending", 20));
    }
    if (const Json* bytes = r.optional(json, "bytes")) {
        identifier.size = static_cast<std::uint8_t>(r.integer(*bytes, path + "/bytes", 4));
        if (identifier.size == 0) {
            r.fail(path + "/bytes", "a value takes 1 to 4 bytes");
        }
    }
    const Json* data = r.optional(json, "data");
    const Json* value = r.optional(json, "value");
    if ((data != nullptr) == (value != nullptr) && identifier.refusal == 0) {
        r.fail(path, "give either \"data\" (hex) or \"value\" (a live value)");
    }
    if (data != nullptr) {
        identifier.data = r.hex(*data, path + "/data");
        if (identifier.data.size() > 64) {
            r.fail(path + "/data", "more than 64 bytes");
        }
    }
    if (value != nullptr) {
        identifier.live = true;
        identifier.value = ReadLiveValue(r, *value, path + "/value", nullptr);
        const double span = std::ldexp(1.0, 8 * identifier.size);
        std::vector<double> fixed{identifier.value.constant, identifier.value.start};
        for (const auto& point : identifier.value.points) {
            fixed.push_back(point.second);
        }
        for (double v : fixed) {
            if (v < -span / 2 || v > span - 1) {
                r.fail(path + "/value", "value " + FormatShortest(v) + " does not fit " +
                                            std::to_string(identifier.size) + " bytes");
            }
        }
    }
    return identifier;
}

void ReadModuleCodes(const Reader& r, const Json& json, const std::string& path,
                     ProfileEcuModel& ecu) {
    r.expect(json, Json::value_t::array, path, "an array");
    if (json.size() > kMaxCodes) {
        r.fail(path, "more than " + std::to_string(kMaxCodes) + " codes");
    }
    for (std::size_t i = 0; i < json.size(); ++i) {
        const std::string codePath = path + "/" + std::to_string(i);
        r.object(json[i], codePath, {"code", "status"});
        const std::string text =
            r.text(r.required(json[i], "code", codePath), codePath + "/code", 8);
        ModuleCodeModel code;
        std::uint16_t base = 0;
        const auto failure =
            text.size() == 8 && text[5] == '-' ? bus::ParseHex(text.substr(6)) : std::nullopt;
        try {
            base = j1979::EncodeTroubleCode(text.substr(0, 5));
        } catch (const j1979::CodecError&) {
            r.fail(codePath + "/code", "\"" + text + "\" is not a code such as C0035-11");
        }
        if (!failure || failure->size() != 1) {
            r.fail(codePath + "/code", "\"" + text + "\" is not a code such as C0035-11");
        }
        code.raw = static_cast<std::uint32_t>(base) << 8 | failure->front();
        code.status = static_cast<std::uint8_t>(
            r.integer(r.required(json[i], "status", codePath), codePath + "/status", 0xFF));
        if (code.status == 0) {
            r.fail(codePath + "/status", "a code with no status bit is not reported");
        }
        ecu.codes.push_back(code);
    }
}

}  // namespace

// Modules answering UDS to physical requests (see SimulatedProfileEcu).
void ReadProfileEcus(const Reader& r, const Json& json, const std::string& path,
                     std::set<std::uint32_t>& addresses, VehicleModel& model) {
    r.expect(json, Json::value_t::array, path, "an array");
    for (std::size_t i = 0; i < json.size(); ++i) {
        const std::string itemPath = path + "/" + std::to_string(i);
        const Json& item = json[i];
        r.object(item, itemPath,
                 {"name", "request", "response", "padding", "identifiers", "localIdentifiers",
                  "sharedRequests", "pendingMilliseconds", "codes", "clearCodes"});
        ProfileEcuModel ecu;
        ecu.name = r.text(r.required(item, "name", itemPath), itemPath + "/name", kShortTextSize);
        ecu.request =
            r.integer(r.required(item, "request", itemPath), itemPath + "/request", 0x7FF);
        ecu.response = ecu.request + bus::kRequestToResponse11;
        if (const Json* response = r.optional(item, "response")) {
            ecu.response = r.integer(*response, itemPath + "/response", 0x7FF);
        }
        if (ecu.request == bus::kFunctionalRequestId || ecu.response > 0x7FF ||
            !addresses.insert(ecu.response).second) {
            r.fail(itemPath + "/response", "response id " + bus::HexNumber(ecu.response) +
                                               " is taken or not an 11-bit identifier");
        }
        if (const Json* padding = r.optional(item, "padding")) {
            ecu.padding =
                static_cast<std::uint8_t>(r.integer(*padding, itemPath + "/padding", 0xFF));
        }
        if (const Json* shared = r.optional(item, "sharedRequests")) {
            ecu.sharedRequests = r.boolean(*shared, itemPath + "/sharedRequests");
        }
        if (const Json* pending = r.optional(item, "pendingMilliseconds")) {
            ecu.pendingSeconds =
                r.integer(*pending, itemPath + "/pendingMilliseconds", 2000) / 1000.0;
        }
        if (const Json* ids = r.optional(item, "identifiers")) {
            r.expect(*ids, Json::value_t::object, itemPath + "/identifiers", "an object");
            for (auto it = ids->begin(); it != ids->end(); ++it) {
                const std::string idPath = itemPath + "/identifiers/" + it.key();
                const auto id = static_cast<std::uint16_t>(r.integerText(it.key(), idPath, 0xFFFF));
                ecu.identifiers[id] = ReadIdentifier(r, it.value(), idPath);
            }
        }
        if (const Json* ids = r.optional(item, "localIdentifiers")) {
            r.expect(*ids, Json::value_t::object, itemPath + "/localIdentifiers", "an object");
            for (auto it = ids->begin(); it != ids->end(); ++it) {
                const std::string idPath = itemPath + "/localIdentifiers/" + it.key();
                const auto id = static_cast<std::uint8_t>(r.integerText(it.key(), idPath, 0xFF));
                ecu.localIdentifiers[id] = ReadIdentifier(r, it.value(), idPath);
            }
        }
        if (const Json* codes = r.optional(item, "codes")) {
            ReadModuleCodes(r, *codes, itemPath + "/codes", ecu);
        }
        if (const Json* clear = r.optional(item, "clearCodes")) {
            r.object(*clear, itemPath + "/clearCodes", {"accepted", "refusalCode"});
            if (const Json* accepted = r.optional(*clear, "accepted")) {
                ecu.clearAccepted = r.boolean(*accepted, itemPath + "/clearCodes/accepted");
            }
            if (const Json* code = r.optional(*clear, "refusalCode")) {
                ecu.clearRefusal = ReadRefusalCode(r, *code, itemPath + "/clearCodes/refusalCode");
            }
        }
        model.profileEcus.push_back(std::move(ecu));
    }
}

}  // namespace obd::sim::scenario
