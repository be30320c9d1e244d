#include "zelt/app/Profiles.h"

#include <sstream>

#include "zelt/ModelBuilders.h"
#include "zelt/app/Printable.h"

namespace zelt::app {

namespace {

using obd::ParameterIdentifier::Id;

std::shared_ptr<obd::IProfileHost> HostOf(Session& session) {
    return std::dynamic_pointer_cast<obd::IProfileHost>(session.root());
}

}  // namespace

void UseProfile(Session& session, const std::shared_ptr<const obd::VehicleProfile>& profile) {
    if (!profile) {
        return;
    }
    const auto host = HostOf(session);
    if (!host) {
        throw InputError("this vehicle connection does not read profiles");
    }
    host->setProfile(profile);
}

std::shared_ptr<const obd::VehicleProfile> ProfileOf(Session& session) {
    const auto host = HostOf(session);
    return host ? host->getProfile() : nullptr;
}

std::string MissingReason(Session& session, Id pid) {
    const auto host = HostOf(session);
    return host ? host->getMissingReason(pid) : std::string();
}

void ScanProfile(Session& session, Report& report) {
    const auto host = HostOf(session);
    const auto profile = host ? host->getProfile() : nullptr;
    if (!profile) {
        return;
    }
    report.profile = profile->source();
    // All parameters in one call, so that an ECU's identifiers may share
    // requests.
    std::vector<Id> pids;
    for (const auto& parameter : profile->parameters()) {
        pids.push_back(parameter.pid);
    }
    const auto values = session.parameters().getValuesOf(pids);
    for (std::size_t ecu = 0; ecu < profile->ecus().size(); ++ecu) {
        ModuleReport module;
        module.ecu = profile->ecus()[ecu];
        for (std::size_t i = 0; i < pids.size(); ++i) {
            const obd::ProfileParameter& parameter = profile->parameters()[i];
            if (parameter.ecu != ecu) {
                continue;
            }
            ProfileReading reading;
            reading.name = parameter.name;
            reading.unit = parameter.unit;
            if (values[i].empty()) {
                reading.missing = host->getMissingReason(parameter.pid);
            } else {
                reading.parameter =
                    ParameterModelBuilder::build(parameter.pid, parameter.name, values[i]);
            }
            module.data.push_back(std::move(reading));
        }
        module.codes = host->readModuleCodes(ecu);
        report.modules.push_back(std::move(module));
    }
}

void ClearProfileCodes(Session& session, Report& report) {
    const auto host = HostOf(session);
    if (!host) {
        return;
    }
    for (std::size_t ecu = 0; ecu < report.modules.size(); ++ecu) {
        ModuleReport& module = report.modules[ecu];
        module.codesCleared = true;
        module.clearing = host->clearModuleCodes(ecu);
        module.codesAfterClear = host->readModuleCodes(ecu);
    }
}

}  // namespace zelt::app
