#include <algorithm>
#include <map>

#include "j1979/Codec.h"
#include "services/Services.h"

namespace obd::detail {

namespace {

constexpr std::uint8_t kBatteryVoltage = 0xF4;
// The adapter's readings are kept apart from every ECU's in the statistics.
constexpr std::uint32_t kAdapterAddress = 0;

}  // namespace

SensorService::SensorService(std::shared_ptr<VehicleConnection> connection,
                             std::shared_ptr<ProfileParameters> profiles)
    : client_(std::move(connection)), profiles_(std::move(profiles)) {}

std::vector<std::shared_ptr<ParameterDataModel>> SensorService::readParameters(
    const std::vector<ParameterIdentifier::Id>& pids) {
    std::vector<std::shared_ptr<ParameterDataModel>> parameters;
    const std::uint32_t ecu = client_.selectedEcu();
    // The ECU's PIDs are read together first; the parameters are then built
    // in the order asked, as if each had been read on its own.
    std::vector<std::uint8_t> ids;
    for (ParameterIdentifier::Id pid : pids) {
        const int number = static_cast<int>(pid);
        if (number >= 0 && number <= 0xFF && number != kBatteryVoltage) {
            ids.push_back(static_cast<std::uint8_t>(number));
        }
    }
    const std::map<std::uint8_t, Bytes> data = client_.currentData(ecu, ids);
    std::map<ParameterIdentifier::Id, std::shared_ptr<ParameterDataModel>> fromProfile;
    if (profiles_) {
        for (auto& parameter : profiles_->read(pids)) {
            fromProfile.emplace(parameter->pid, std::move(parameter));
        }
    }
    for (ParameterIdentifier::Id pid : pids) {
        const int number = static_cast<int>(pid);
        std::shared_ptr<ParameterDataModel> parameter;
        if (IsProfileId(pid)) {
            const auto found = fromProfile.find(pid);
            parameter = found != fromProfile.end() ? found->second : nullptr;
        } else if (number == kBatteryVoltage) {
            parameter = batteryVoltage();
        } else if (number >= 0 && number <= 0xFF) {
            const auto found = data.find(static_cast<std::uint8_t>(number));
            if (found != data.end()) {
                parameter = BuildParameter(found->first, found->second,
                                           &client_.connection().statistics(), ecu);
            }
        }
        if (parameter) {
            parameters.push_back(std::move(parameter));
        }
    }
    return parameters;
}

std::vector<ParameterIdentifier::Id> SensorService::getPids() {
    std::vector<ParameterIdentifier::Id> pids;
    for (std::uint8_t pid : client_.supported(client_.selectedEcu(), 0x01)) {
        pids.push_back(static_cast<ParameterIdentifier::Id>(pid));
    }
    return pids;
}

std::shared_ptr<ParameterDataModel> SensorService::getParameter(ParameterIdentifier::Id pid) {
    const int number = static_cast<int>(pid);
    if (number == kBatteryVoltage) {
        return batteryVoltage();
    }
    if (IsProfileId(pid)) {
        auto read = profiles_ ? profiles_->read({pid}) : decltype(profiles_->read({pid})){};
        return read.empty() ? nullptr : read.front();
    }
    if (number < 0 || number > 0xFF) {
        return nullptr;
    }
    const std::uint32_t ecu = client_.selectedEcu();
    const std::uint8_t id = static_cast<std::uint8_t>(number);
    std::optional<Bytes> data = client_.currentData(ecu, id);
    if (!data) {
        return nullptr;
    }
    return BuildParameter(id, *data, &client_.connection().statistics(), ecu);
}

std::vector<std::shared_ptr<SensorDataModel>> SensorService::getSensors(
    ParameterIdentifier::Id pid) {
    std::shared_ptr<ParameterDataModel> parameter = getParameter(pid);
    return parameter ? parameter->sensors : std::vector<std::shared_ptr<SensorDataModel>>();
}

std::vector<std::vector<std::shared_ptr<SensorDataModel>>> SensorService::readSensors(
    const std::vector<ParameterIdentifier::Id>& pids) {
    // Each PID is read once, so that a repeated one counts once in the
    // statistics; readParameters leaves out what the vehicle lacks.
    std::vector<ParameterIdentifier::Id> distinct;
    for (ParameterIdentifier::Id pid : pids) {
        if (std::find(distinct.begin(), distinct.end(), pid) == distinct.end()) {
            distinct.push_back(pid);
        }
    }
    std::map<ParameterIdentifier::Id, std::vector<std::shared_ptr<SensorDataModel>>> read;
    for (auto& parameter : readParameters(distinct)) {
        read.emplace(parameter->pid, std::move(parameter->sensors));
    }
    std::vector<std::vector<std::shared_ptr<SensorDataModel>>> sensors;
    sensors.reserve(pids.size());
    for (ParameterIdentifier::Id pid : pids) {
        const auto found = read.find(pid);
        sensors.push_back(found != read.end() ? found->second
                                              : std::vector<std::shared_ptr<SensorDataModel>>());
    }
    return sensors;
}

bool SensorService::isSupported(ParameterIdentifier::Id pid) {
    if (IsProfileId(pid)) {
        const auto profile = profiles_ ? profiles_->getProfile() : nullptr;
        return profile && profile->find(pid) != nullptr;
    }
    return client_.isPidSupported(client_.selectedEcu(), static_cast<int>(pid));
}

std::shared_ptr<ParameterDataModel> SensorService::batteryVoltage() {
    const std::optional<double> volts = client_.connection().batteryVoltage();
    const j1979::PidDefinition* definition = j1979::FindPid(kBatteryVoltage);
    if (!volts || definition == nullptr || definition->sensors.empty()) {
        return nullptr;
    }
    const j1979::SensorDefinition& sensor = definition->sensors.front();
    const double value = std::clamp(*volts, static_cast<double>(sensor.minimum),
                                    static_cast<double>(sensor.maximum));
    Bytes data;
    try {
        data = j1979::EncodePid(kBatteryVoltage, {value});
    } catch (const j1979::CodecError&) {
        return nullptr;
    }
    return BuildParameter(kBatteryVoltage, data, &client_.connection().statistics(),
                          kAdapterAddress);
}

}  // namespace obd::detail
