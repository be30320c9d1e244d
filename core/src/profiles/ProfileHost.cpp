#include "profiles/ProfileHost.h"

#include <cmath>

#include "j1979/Numbers.h"
#include "j1979/TroubleCodeCatalogue.h"
#include "profiles/ProfileUnits.h"
#include "uds/UdsClient.h"

namespace obd {

IProfileHost::~IProfileHost() = default;

namespace detail {

namespace {

uds::PhysicalAddress AddressOf(const ProfileEcu& ecu) {
    return {ecu.requestId, ecu.responseId, ecu.extended};
}

}  // namespace

ProfileHost::ProfileHost(std::shared_ptr<uds::IPhysicalChannel> channel,
                         std::shared_ptr<VehicleConnection> connection)
    : channel_(std::move(channel)), connection_(std::move(connection)) {}

void ProfileHost::setProfile(std::shared_ptr<const VehicleProfile> profile) {
    orvane::MutexLock lock(mutex_);
    profile_ = std::move(profile);
    reasons_.clear();
    sharedRefused_.clear();
}

std::shared_ptr<const VehicleProfile> ProfileHost::getProfile() const {
    orvane::MutexLock lock(mutex_);
    return profile_;
}

std::string ProfileHost::getMissingReason(ParameterIdentifier::Id pid) const {
    orvane::MutexLock lock(mutex_);
    const auto found = reasons_.find(pid);
    return found == reasons_.end() ? std::string() : found->second;
}

void ProfileHost::setReason(ParameterIdentifier::Id pid, std::string why) {
    orvane::MutexLock lock(mutex_);
    if (why.empty()) {
        reasons_.erase(pid);
    } else {
        reasons_[pid] = std::move(why);
    }
}

bool ProfileHost::usable(std::string& why) const {
    if (!channel_) {
        why = "this connection cannot address one module";
        return false;
    }
    if (!connection_->isOpen()) {
        why = "the connection is closed";
        return false;
    }
    return true;
}

std::vector<ParameterIdentifier::Id> ProfileHost::ids() const {
    const auto profile = getProfile();
    std::vector<ParameterIdentifier::Id> ids;
    if (profile) {
        for (const ProfileParameter& parameter : profile->parameters()) {
            ids.push_back(parameter.pid);
        }
    }
    return ids;
}

std::shared_ptr<ParameterDataModel> ProfileHost::build(const VehicleProfile& profile,
                                                       const ProfileParameter& parameter,
                                                       const uds::Bytes& data) {
    const std::optional<double> value = profile.evaluate(parameter, data);
    if (!value) {
        setReason(parameter.pid, "the formula cannot be evaluated for the answer's " +
                                     std::to_string(data.size()) + " data bytes");
        return nullptr;
    }
    setReason(parameter.pid, {});
    auto sensor = std::make_shared<SensorDataModel>();
    sensor->uid = Pid2Uid(parameter.pid);
    sensor->name = parameter.name;
    sensor->unit = profiles::UnitOf(parameter.unit);
    if (parameter.minimum || parameter.maximum) {
        sensor->limits = std::make_shared<SensorLimitsDataModel>();
        sensor->limits->minimum = static_cast<float>(parameter.minimum.value_or(*value));
        sensor->limits->maximum = static_cast<float>(parameter.maximum.value_or(*value));
    }
    // Three decimals at most: formulas divide (A/2.55) and a display wants
    // the reading, not the double's last digits.
    const double rounded = std::round(*value * 1000) / 1000;
    const std::string text = j1979::detail::FormatShortest(rounded);
    const std::uint32_t ecu = profile.ecus()[parameter.ecu].responseId;
    sensor->value = connection_->statistics().record(ecu, sensor->uid, rounded, text);
    auto model = std::make_shared<ParameterDataModel>();
    model->pid = parameter.pid;
    model->name = parameter.name;
    model->sensors.push_back(std::move(sensor));
    return model;
}

std::vector<std::shared_ptr<ParameterDataModel>> ProfileHost::read(
    const std::vector<ParameterIdentifier::Id>& pids) {
    std::shared_ptr<const VehicleProfile> profile;
    std::set<std::uint32_t> refused;
    {
        orvane::MutexLock lock(mutex_);
        profile = profile_;
        refused = sharedRefused_;
    }
    std::vector<std::shared_ptr<ParameterDataModel>> parameters;
    if (!profile) {
        return parameters;
    }
    std::string why;
    if (!usable(why)) {
        for (ParameterIdentifier::Id pid : pids) {
            if (profile->find(pid) != nullptr) {
                setReason(pid, why);
            }
        }
        return parameters;
    }
    uds::UdsClient client(*channel_);
    // Service 22 identifiers go per ECU, so that one request may carry several.
    std::map<std::size_t, std::vector<uds::Identifier>> perEcu;
    for (ParameterIdentifier::Id pid : pids) {
        const ProfileParameter* parameter = profile->find(pid);
        if (parameter != nullptr && parameter->service == 0x22) {
            perEcu[parameter->ecu].push_back({parameter->id, parameter->length});
        }
    }
    std::map<std::size_t, std::map<std::uint16_t, uds::Reply>> identifiers;
    for (const auto& [ecu, ids] : perEcu) {
        const ProfileEcu& module = profile->ecus()[ecu];
        bool sharedRefused = refused.count(module.requestId) != 0;
        identifiers[ecu] = client.readIdentifiers(AddressOf(module), ids, sharedRefused);
        if (sharedRefused) {
            orvane::MutexLock lock(mutex_);
            sharedRefused_.insert(module.requestId);
        }
    }
    for (ParameterIdentifier::Id pid : pids) {
        const ProfileParameter* parameter = profile->find(pid);
        if (parameter == nullptr) {
            continue;
        }
        uds::Reply reply;
        if (parameter->service == 0x22) {
            reply = identifiers[parameter->ecu][parameter->id];
        } else {
            reply = client.readLocal(AddressOf(profile->ecus()[parameter->ecu]), parameter->service,
                                     static_cast<std::uint8_t>(parameter->id));
        }
        if (!reply.ok()) {
            setReason(pid, reply.why.empty() ? "no answer" : reply.why);
            continue;
        }
        if (auto model = build(*profile, *parameter, *reply.data)) {
            parameters.push_back(std::move(model));
        }
    }
    return parameters;
}

std::optional<uds::PhysicalAddress> ProfileHost::moduleAddress(std::size_t ecu,
                                                               std::string& why) const {
    const auto profile = getProfile();
    if (!profile || ecu >= profile->ecus().size()) {
        why = "no such profile ECU";
        return std::nullopt;
    }
    if (!usable(why)) {
        return std::nullopt;
    }
    return AddressOf(profile->ecus()[ecu]);
}

ModuleCodes ProfileHost::readModuleCodes(std::size_t ecu) {
    ModuleCodes result;
    const auto profile = getProfile();
    const auto address = moduleAddress(ecu, result.why);
    if (!address) {
        return result;
    }
    uds::UdsClient client(*channel_);
    const auto codes = client.readCodes(*address, result.why);
    if (!codes) {
        return result;
    }
    result.answered = true;
    for (const uds::ModuleCode& code : *codes) {
        ModuleTroubleCode record;
        record.code = code.code;
        record.baseCode = code.baseCode;
        record.failureType = static_cast<std::uint8_t>(code.raw);
        record.status = code.status;
        record.statusText = uds::StatusText(code.status);
        record.description = profile->describeCode(code.baseCode);
        if (record.description.empty()) {
            record.description = DescribeTroubleCode(code.baseCode);
        }
        result.codes.push_back(std::move(record));
    }
    return result;
}

ModuleClearing ProfileHost::clearModuleCodes(std::size_t ecu) {
    ModuleClearing result;
    const auto address = moduleAddress(ecu, result.why);
    if (!address) {
        return result;
    }
    uds::UdsClient client(*channel_);
    const uds::Reply reply = client.clearCodes(*address);
    result.confirmed = reply.ok();
    result.why = reply.why;
    return result;
}

}  // namespace detail

}  // namespace obd
