#include "zelt/ParameterRepository.h"

#include <algorithm>
#include <ostream>
#include <utility>

#include "obd/ServiceBuilders.h"
#include "zelt/ModelBuilders.h"

namespace zelt {

namespace {
// This file's trace stream, like every repository's. No getter here writes to
// it: the PID list and parameter cache hits are the normal path of a live
// data screen and would only be noise.
std::ostream trace(nullptr);
}  // namespace

ParameterRepository::ParameterRepository(const std::shared_ptr<obd::IQuorvix>& root)
    : connection_(obd::ConnectionServiceBuilder::create(root)),
      sensorService_(obd::SensorServiceBuilder::create(root, connection_)) {
    attachTo(connection_.get());
}

ParameterRepository::~ParameterRepository() {
    detachFrom(connection_.get());
}

void ParameterRepository::clearCache() {
    pids_.clear();
    parameters_.clear();
    values_.clear();
    numbers_.clear();
}

bool ParameterRepository::isConnected() const {
    return connection_->isConnected();
}

std::vector<obd::ParameterIdentifier::Id> ParameterRepository::getPids() {
    // An empty list is not stored: the next call asks again.
    return pids_.getUsable(false, detail::NoTrace(), [this] { return sensorService_->getPids(); });
}

std::shared_ptr<ParameterModel> ParameterRepository::getParameter(
    obd::ParameterIdentifier::Id pid) {
    return parameters_.getKeyed(pid, false, detail::NoTrace(),
                                [&]() -> std::shared_ptr<ParameterModel> {
                                    const auto data = sensorService_->getParameter(pid);
                                    if (data == nullptr) {
                                        return nullptr;
                                    }
                                    keepNumbers(data->sensors);
                                    // Stored only once built: a value that
                                    // fails to format leaves nothing behind.
                                    return ParameterModelBuilder::build(data);
                                });
}

std::vector<std::shared_ptr<ParameterModel>> ParameterRepository::getParametersOf(
    const std::vector<obd::ParameterIdentifier::Id>& pids) {
    using Kept = std::map<obd::ParameterIdentifier::Id, std::shared_ptr<ParameterModel>>;
    return parameters_.withLock([&](Kept& kept) {
        std::vector<obd::ParameterIdentifier::Id> missing;
        for (obd::ParameterIdentifier::Id pid : pids) {
            if (kept.count(pid) == 0 &&
                std::find(missing.begin(), missing.end(), pid) == missing.end()) {
                missing.push_back(pid);
            }
        }
        if (!missing.empty()) {
            // Built aside first: a value that fails to format leaves the
            // cache as it was.
            Kept built;
            for (const auto& data : sensorService_->readParameters(missing)) {
                if (data != nullptr &&
                    std::find(missing.begin(), missing.end(), data->pid) != missing.end()) {
                    built[data->pid] = ParameterModelBuilder::build(data);
                    keepNumbers(data->sensors);
                }
            }
            kept.merge(built);
        }
        std::vector<std::shared_ptr<ParameterModel>> parameters;
        parameters.reserve(pids.size());
        for (obd::ParameterIdentifier::Id pid : pids) {
            const auto found = kept.find(pid);
            parameters.push_back(found != kept.end() ? found->second : nullptr);
        }
        return parameters;
    });
}

// `refresh` changes nothing: values are live, so a cached reading would only
// ever be stale, and a caller passing false still expects the current one.
std::vector<std::shared_ptr<SensorModel>> ParameterRepository::getValues(
    obd::ParameterIdentifier::Id pid, bool /*refresh*/) {
    return values_.withLock([&](std::map<obd::ParameterIdentifier::Id, SensorList>&) {
        const auto answer = sensorService_->getSensors(pid);
        keepNumbers(answer);
        SensorList sensors;
        sensors.reserve(answer.size());
        for (const auto& data : answer) {
            sensors.push_back(SensorModelBuilder::build(data));
        }
        return sensors;
    });
}

std::vector<std::vector<std::shared_ptr<SensorModel>>> ParameterRepository::getValuesOf(
    const std::vector<obd::ParameterIdentifier::Id>& pids) {
    return values_.withLock([&](std::map<obd::ParameterIdentifier::Id, SensorList>&) {
        std::vector<std::vector<std::shared_ptr<obd::SensorDataModel>>> answers;
        if (batchReader_) {
            answers = batchReader_->readSensors(pids);
        } else {
            for (obd::ParameterIdentifier::Id pid : pids) {
                answers.push_back(sensorService_->getSensors(pid));
            }
        }
        answers.resize(pids.size());  // one list per PID asked, whatever the core sent
        std::vector<SensorList> values;
        values.reserve(answers.size());
        for (const auto& answer : answers) {
            keepNumbers(answer);
            SensorList sensors;
            sensors.reserve(answer.size());
            for (const auto& data : answer) {
                sensors.push_back(SensorModelBuilder::build(data));
            }
            values.push_back(std::move(sensors));
        }
        return values;
    });
}

std::map<std::int32_t, double> ParameterRepository::getNumbersOf(
    const std::vector<obd::ParameterIdentifier::Id>& pids) {
    return numbers_.withLock([&](const std::map<std::int32_t, double>& kept) {
        std::map<std::int32_t, double> numbers;
        for (const auto& [uid, number] : kept) {
            if (std::find(pids.begin(), pids.end(), obd::Uid2Pid(uid)) != pids.end()) {
                numbers.emplace(uid, number);
            }
        }
        return numbers;
    });
}

void ParameterRepository::keepNumbers(
    const std::vector<std::shared_ptr<obd::SensorDataModel>>& sensors) {
    numbers_.withLock([&](std::map<std::int32_t, double>& kept) {
        for (const auto& sensor : sensors) {
            if (sensor == nullptr) {
                continue;
            }
            if (sensor->value && sensor->value->number) {
                kept[sensor->uid] = *sensor->value->number;
            } else {
                kept.erase(sensor->uid);  // never a number from an older reading
            }
        }
    });
}

void ParameterRepository::onConnectionOpened() {
    clearCache();
}
void ParameterRepository::onEcuChanged() {
    clearCache();
}
void ParameterRepository::onConnectionClosed() {
    clearCache();
}

}  // namespace zelt
