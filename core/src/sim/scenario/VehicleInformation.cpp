#include <algorithm>
#include <string>

#include "j1979/Codec.h"
#include "j1979/InfoTypes.h"
#include "sim/scenario/Sections.h"

namespace obd::sim::scenario {

namespace {

namespace info = detail::info;

constexpr std::size_t kCalidSize = 16;

void ReadTextItem(const Reader& r, const Json& json, const char* key, const std::string& path,
                  std::uint8_t type, std::size_t maxLength, std::size_t padTo, EcuModel& ecu) {
    if (const Json* value = r.optional(json, key)) {
        const std::string text = r.text(*value, path + "/" + key, maxLength);
        ecu.info[type] = InfoItem{1, Padded(text, padTo)};
    }
}

void ReadNumberItem(const Reader& r, const Json& json, const char* key, const std::string& path,
                    std::uint8_t type, EcuModel& ecu) {
    if (const Json* value = r.optional(json, key)) {
        const std::uint32_t number = r.integer(*value, path + "/" + key, 0xFFFF);
        ecu.info[type] = InfoItem{1, Bytes{static_cast<std::uint8_t>(number >> 8),
                                           static_cast<std::uint8_t>(number & 0xFF)}};
    }
}

}  // namespace

Bytes Padded(const std::string& text, std::size_t size) {
    Bytes data(text.begin(), text.end());
    data.resize(std::max(size, data.size()), 0);
    return data;
}

void ReadEcuName(const Reader& r, const Json& json, const std::string& path, EcuModel& ecu) {
    const Json* name = r.optional(json, "name");
    const Json* description = r.optional(json, "description");
    if (name == nullptr) {
        if (description != nullptr) {
            r.fail(path + "/description", "an ECU description needs an ECU name");
        }
        return;
    }
    // Four characters of acronym, a dash and fifteen of text, zero-padded.
    Bytes data = Padded(r.text(*name, path + "/name", 4), 4);
    data.push_back('-');
    const std::string text = description ? r.text(*description, path + "/description", 15) : "";
    const Bytes rest = Padded(text, 15);
    data.insert(data.end(), rest.begin(), rest.end());
    ecu.info[info::kEcuName] = InfoItem{1, data};
}

void ReadVehicleInformation(const Reader& r, const Json& json, const std::string& path,
                            EcuModel& ecu) {
    r.object(
        json, path,
        {"vin", "calids", "cvns", "esn", "erotan", "gtrNumber", "fueledEngineOperation",
         "certificationTestGroup", "distanceSinceEvap", "motorcycleCategory", "inUsePerformance"});
    if (const Json* vin = r.optional(json, "vin")) {
        const std::string text = r.anyText(*vin, path + "/vin");
        if (!j1979::IsVinValid(text)) {
            r.fail(path + "/vin", "\"" + text +
                                      "\" is not a valid VIN (17 characters without I, O, Q "
                                      "and a correct check digit in position 9)");
        }
        ecu.info[info::kVin] = InfoItem{1, Bytes(text.begin(), text.end())};
    }
    if (const Json* calids = r.optional(json, "calids")) {
        r.expect(*calids, Json::value_t::array, path + "/calids", "an array");
        if (calids->empty() || calids->size() > 0xFF) {
            r.fail(path + "/calids", "1 to 255 calibration identifications");
        }
        Bytes data;
        for (std::size_t i = 0; i < calids->size(); ++i) {
            const Bytes one =
                Padded(r.text((*calids)[i], path + "/calids/" + std::to_string(i), kCalidSize),
                       kCalidSize);
            data.insert(data.end(), one.begin(), one.end());
        }
        ecu.info[info::kCalid] = InfoItem{static_cast<std::uint8_t>(calids->size()), data};
    }
    if (const Json* cvns = r.optional(json, "cvns")) {
        r.expect(*cvns, Json::value_t::array, path + "/cvns", "an array");
        if (cvns->empty() || cvns->size() > 0xFF) {
            r.fail(path + "/cvns", "1 to 255 calibration verification numbers");
        }
        Bytes data;
        for (std::size_t i = 0; i < cvns->size(); ++i) {
            const std::string itemPath = path + "/cvns/" + std::to_string(i);
            const Bytes one = r.hex((*cvns)[i], itemPath);
            if (one.size() != 4) {
                r.fail(itemPath, "a calibration verification number is 4 bytes (8 hex digits)");
            }
            data.insert(data.end(), one.begin(), one.end());
        }
        ecu.info[info::kCvn] = InfoItem{static_cast<std::uint8_t>(cvns->size()), data};
    }
    ReadTextItem(r, json, "esn", path, info::kEsn, kShortTextSize, kShortTextSize, ecu);
    ReadTextItem(r, json, "erotan", path, info::kErotan, kShortTextSize, kShortTextSize, ecu);
    ReadTextItem(r, json, "gtrNumber", path, info::kGtrNumber, kLongTextSize, 0, ecu);
    ReadNumberItem(r, json, "fueledEngineOperation", path, info::kFueledEngineOperation, ecu);
    ReadTextItem(r, json, "certificationTestGroup", path, info::kCertificationTestGroup,
                 kLongTextSize, 0, ecu);
    ReadNumberItem(r, json, "distanceSinceEvap", path, info::kDistanceSinceEvap, ecu);
    ReadTextItem(r, json, "motorcycleCategory", path, info::kMotorcycleCategory, kLongTextSize, 0,
                 ecu);
    if (const Json* performance = r.optional(json, "inUsePerformance")) {
        ReadInUsePerformance(r, *performance, path + "/inUsePerformance", ecu);
    }
}

}  // namespace obd::sim::scenario
