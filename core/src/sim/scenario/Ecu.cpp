#include <string>

#include "bus/Hex.h"
#include "sim/scenario/Sections.h"

namespace obd::sim::scenario {

EcuModel ReadEcu(const Reader& r, const Json& json, const std::string& path) {
    r.object(
        json, path,
        {"address", "padding", "name", "description", "pids", "mil", "codes", "readiness",
         "freezeFrames", "clearCodes", "testResults", "routines", "info", "vehicleOperationData"});
    EcuModel ecu;
    ecu.address = r.integer(r.required(json, "address", path), path + "/address", 0xFFFF);
    if (ecu.address < 0x7E8 || ecu.address > 0x7EF) {
        r.fail(path + "/address", "address " + bus::HexNumber(ecu.address) +
                                      " is not an 11-bit OBD response address (0x7E8 to 0x7EF)");
    }
    if (const Json* padding = r.optional(json, "padding")) {
        ecu.padding = static_cast<std::uint8_t>(r.integer(*padding, path + "/padding", 0xFF));
    }
    if (const Json* mil = r.optional(json, "mil")) {
        ecu.mil = r.boolean(*mil, path + "/mil");
    }
    if (const Json* pids = r.optional(json, "pids")) {
        ecu.pids = ReadLivePids(r, *pids, path + "/pids");
    }
    if (const Json* codes = r.optional(json, "codes")) {
        ReadTroubleCodes(r, *codes, path + "/codes", ecu);
    }
    if (const Json* readiness = r.optional(json, "readiness")) {
        ReadReadiness(r, *readiness, path + "/readiness", ecu);
    }
    if (const Json* frames = r.optional(json, "freezeFrames")) {
        ReadFreezeFrames(r, *frames, path + "/freezeFrames", ecu);
    }
    if (const Json* clear = r.optional(json, "clearCodes")) {
        ReadClearCodes(r, *clear, path + "/clearCodes", ecu);
    }
    if (const Json* results = r.optional(json, "testResults")) {
        ReadTestResults(r, *results, path + "/testResults", ecu);
    }
    if (const Json* routines = r.optional(json, "routines")) {
        ReadRoutines(r, *routines, path + "/routines", ecu);
    }
    ReadEcuName(r, json, path, ecu);
    if (const Json* information = r.optional(json, "info")) {
        ReadVehicleInformation(r, *information, path + "/info", ecu);
    }
    if (const Json* vod = r.optional(json, "vehicleOperationData")) {
        ReadVehicleOperationData(r, *vod, path + "/vehicleOperationData", ecu);
    }
    return ecu;
}

}  // namespace obd::sim::scenario
