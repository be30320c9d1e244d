#include "sim/ScenarioLoader.h"

#include <algorithm>
#include <set>
#include <string>
#include <utility>

#include "bus/Hex.h"
#include "sim/scenario/Sections.h"

// The top of a scenario: the vehicle and its adapter. Each section below
// them is read in sim/scenario/.

namespace obd::sim {

namespace {

using scenario::Json;
using scenario::Reader;

AdapterModel ReadAdapter(const Reader& r, const Json* json) {
    AdapterModel adapter;
    adapter.name = "ELM327";
    adapter.description = "OBDII to RS232 Interpreter";
    adapter.identification = "ELM327 v1.5";
    adapter.batteryVoltage.constant = 12.6;
    if (json == nullptr) {
        return adapter;
    }
    r.object(*json, "/adapter", {"name", "description", "identification", "batteryVoltage"});
    if (const Json* name = r.optional(*json, "name")) {
        adapter.name = r.anyText(*name, "/adapter/name");
    }
    if (const Json* description = r.optional(*json, "description")) {
        adapter.description = r.anyText(*description, "/adapter/description");
    }
    if (const Json* identification = r.optional(*json, "identification")) {
        adapter.identification = r.anyText(*identification, "/adapter/identification");
    }
    if (const Json* voltage = r.optional(*json, "batteryVoltage")) {
        const scenario::SensorOfPid batteryVoltage{0xF4, 0};
        adapter.batteryVoltage =
            scenario::ReadLiveValue(r, *voltage, "/adapter/batteryVoltage", &batteryVoltage);
    }
    return adapter;
}

std::shared_ptr<VehicleModel> ReadVehicle(const Reader& r, const Json& root,
                                          const std::string& source) {
    r.object(root, "", {"name", "description", "protocol", "adapter", "ecus", "profileEcus"});
    auto model = std::make_shared<VehicleModel>();
    model->source = source;
    model->name = r.anyText(r.required(root, "name", ""), "/name");
    // The name titles every report.
    if (model->name.find_first_not_of(" \t") == std::string::npos) {
        r.fail("/name", "the vehicle's name is empty; give it one");
    }
    if (const Json* description = r.optional(root, "description")) {
        model->description = r.anyText(*description, "/description");
    }
    if (const Json* protocol = r.optional(root, "protocol")) {
        const std::uint32_t number = r.integer(*protocol, "/protocol", 0xFF);
        // The bus speaks 11-bit CAN.
        if (number != static_cast<std::uint32_t>(DataLinkProtocol::Iso15765Can11Bit500k) &&
            number != static_cast<std::uint32_t>(DataLinkProtocol::Iso15765Can11Bit250k)) {
            r.fail("/protocol", "protocol " + std::to_string(number) +
                                    " is not simulated (6: CAN 11/500, 8: CAN 11/250)");
        }
        model->protocol = static_cast<DataLinkProtocol>(number);
    }
    model->adapter = ReadAdapter(r, r.optional(root, "adapter"));
    const Json& ecus = r.required(root, "ecus", "");
    r.expect(ecus, Json::value_t::array, "/ecus", "an array");
    if (ecus.empty()) {
        r.fail("/ecus", "a vehicle needs at least one ECU");
    }
    std::set<std::uint32_t> addresses;
    for (std::size_t i = 0; i < ecus.size(); ++i) {
        const std::string path = "/ecus/" + std::to_string(i);
        EcuModel ecu = scenario::ReadEcu(r, ecus[i], path);
        if (!addresses.insert(ecu.address).second) {
            r.fail(path + "/address", "address " + bus::HexNumber(ecu.address) + " is used twice");
        }
        model->ecus.push_back(std::move(ecu));
    }
    std::sort(model->ecus.begin(), model->ecus.end(),
              [](const EcuModel& a, const EcuModel& b) { return a.address < b.address; });
    if (const Json* modules = r.optional(root, "profileEcus")) {
        scenario::ReadProfileEcus(r, *modules, "/profileEcus", addresses, *model);
    }
    return model;
}

}  // namespace

std::shared_ptr<const VehicleModel> LoadScenario(const std::string& text,
                                                 const std::string& source) {
    const Reader reader(source);
    const Json root = reader.parse(text);
    return ReadVehicle(reader, root, source);
}

}  // namespace obd::sim
