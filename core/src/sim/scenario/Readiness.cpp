#include <string>

#include "j1979/ReadinessMonitors.h"
#include "sim/scenario/Sections.h"

namespace obd::sim::scenario {

namespace {

MonitorState ReadMonitorState(const Reader& r, const Json& json, const std::string& path) {
    const std::string state = r.anyText(json, path);
    if (state == "complete") {
        return MonitorState::Complete;
    }
    if (state == "incomplete") {
        return MonitorState::Incomplete;
    }
    r.fail(path, "expected \"complete\" or \"incomplete\", found \"" + state + "\"");
}

MonitorSet ReadMonitors(const Reader& r, const Json& json, const std::string& path,
                        Ignition ignition) {
    r.expect(json, Json::value_t::object, path, "an object");
    const auto& continuous = j1979::ContinuousMonitors();
    const auto& nonContinuous = j1979::NonContinuousMonitors(ignition);
    MonitorSet set;
    for (auto it = json.begin(); it != json.end(); ++it) {
        const std::string itemPath = path + "/" + it.key();
        bool known = false;
        for (std::size_t i = 0; i < continuous.size(); ++i) {
            if (it.key() == continuous[i].key) {
                set.continuous[i] = ReadMonitorState(r, it.value(), itemPath);
                known = true;
            }
        }
        for (std::size_t i = 0; i < nonContinuous.size(); ++i) {
            if (nonContinuous[i].key != nullptr && it.key() == nonContinuous[i].key) {
                set.nonContinuous[i] = ReadMonitorState(r, it.value(), itemPath);
                known = true;
            }
        }
        if (!known) {
            r.fail(itemPath, std::string("unknown monitor for ") +
                                 (ignition == Ignition::Spark ? "spark" : "compression") +
                                 " ignition");
        }
    }
    return set;
}

}  // namespace

void ReadReadiness(const Reader& r, const Json& json, const std::string& path, EcuModel& ecu) {
    r.object(json, path, {"ignition", "sinceReset", "thisCycle"});
    if (const Json* ignition = r.optional(json, "ignition")) {
        const std::string kind = r.anyText(*ignition, path + "/ignition");
        if (kind == "compression") {
            ecu.ignition = Ignition::Compression;
        } else if (kind != "spark") {
            r.fail(path + "/ignition",
                   "expected \"spark\" or \"compression\", found \"" + kind + "\"");
        }
    }
    if (const Json* since = r.optional(json, "sinceReset")) {
        ecu.sinceReset = ReadMonitors(r, *since, path + "/sinceReset", ecu.ignition);
    }
    if (const Json* cycle = r.optional(json, "thisCycle")) {
        ecu.hasThisCycle = true;
        ecu.thisCycle = ReadMonitors(r, *cycle, path + "/thisCycle", ecu.ignition);
    }
}

}  // namespace obd::sim::scenario
