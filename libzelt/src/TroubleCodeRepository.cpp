#include "zelt/TroubleCodeRepository.h"

#include <ostream>

#include "obd/DtcReader.h"
#include "obd/ServiceBuilders.h"
#include "zelt/ModelBuilders.h"

namespace zelt {

namespace {
std::ostream trace(nullptr);

using Id = obd::ParameterIdentifier::Id;

// Writes the parts one after the other, with no line end. The stream's state
// is checked first, as detail::Trace does, so that threads sharing the failed
// stream never write its state.
template <typename... Parts>
void TraceParts(const Parts&... parts) {
    if (trace.good()) {
        (trace << ... << parts);
    }
}

}  // namespace

TroubleCodeRepository::TroubleCodeRepository(const std::shared_ptr<obd::IQuorvix>& root)
    : connection_(obd::ConnectionServiceBuilder::create(root)),
      troubleCodeService_(obd::TroubleCodeServiceBuilder::create(root, connection_)),
      sensorService_(obd::SensorServiceBuilder::create(root, connection_)) {
    attachTo(connection_.get());
}

TroubleCodeRepository::~TroubleCodeRepository() {
    detachFrom(connection_.get());
}

void TroubleCodeRepository::clearCache() {
    confirmedCodes_.clear();
    pendingCodes_.clear();
    permanentCodes_.clear();
    freezeFrameTroubleCodes_.clear();
    freezeFramePids_.clear();
    freezeFrameParameters_.clear();
    milStatus_.clear();
    sensors_.clear();
}

bool TroubleCodeRepository::isConnected() const {
    return connection_->isConnected();
}

TroubleCodeRepository::TroubleCodes TroubleCodeRepository::getAllTroubleCodes() {
    return obd::DtcReader::getTroubleCodes();
}

TroubleCodeRepository::TroubleCodes TroubleCodeRepository::getConfirmedCodes(bool refresh) {
    return confirmedCodes_.get(refresh, trace,
                               [&] { return troubleCodeService_->readConfirmedCodes(); });
}

TroubleCodeRepository::TroubleCodes TroubleCodeRepository::getPendingCodes(bool refresh) {
    return pendingCodes_.get(refresh, trace,
                             [&] { return troubleCodeService_->readPendingCodes(); });
}

TroubleCodeRepository::TroubleCodes TroubleCodeRepository::getPermanentCodes(bool refresh) {
    return permanentCodes_.get(refresh, trace,
                               [&] { return troubleCodeService_->readPermanentCodes(); });
}

TroubleCodeRepository::TroubleCodes TroubleCodeRepository::getTroubleCodes(TroubleCodeType type,
                                                                           bool refresh) {
    switch (type) {
        case TroubleCodeType::Confirmed:
            return getConfirmedCodes(refresh);
        case TroubleCodeType::Pending:
            return getPendingCodes(refresh);
        case TroubleCodeType::Permanent:
            return getPermanentCodes(refresh);
    }
    // A value cast from an integer that names no list.
    return {};
}

std::shared_ptr<MilStatus> TroubleCodeRepository::getMilStatus(bool refresh) {
    // No answer keeps the last known state.
    return milStatus_.getLastKnown(refresh, trace, [&]() -> std::shared_ptr<MilStatus> {
        const auto indicator = troubleCodeService_->readMilIndicator();
        if (!indicator) {
            return nullptr;
        }
        // A new record each time: holders of the earlier one keep its value.
        return std::make_shared<MilStatus>(*indicator != 0 ? MilStatus::On : MilStatus::Off);
    });
}

std::shared_ptr<SensorModel> TroubleCodeRepository::getDistanceSince(MilStatus status,
                                                                     bool refresh) {
    return getSensor(
        status == MilStatus::On ? Id::DistanceWithMilOn : Id::DistanceSinceCodesCleared, refresh);
}

std::shared_ptr<SensorModel> TroubleCodeRepository::getRuntimeSince(MilStatus status,
                                                                    bool refresh) {
    return getSensor(status == MilStatus::On ? Id::TimeRunWithMilOn : Id::TimeSinceCodesCleared,
                     refresh);
}

std::shared_ptr<obd::DtcDataModel> TroubleCodeRepository::getFreezeFrameTroubleCode(
    std::uint8_t frame, bool refresh) {
    // Every call is traced, answered from the cache or not, before the lock is taken.
    TraceParts("getFreezeFrameTroubleCode #", static_cast<unsigned>(frame));
    return freezeFrameTroubleCodes_.getKeyed(frame, refresh, trace, [&] {
        return troubleCodeService_->readFreezeFrameTroubleCode(frame);
    });
}

std::vector<obd::ParameterIdentifier::Id> TroubleCodeRepository::getFreezeFramePids(
    std::uint8_t frame, bool refresh) {
    TraceParts("getFreezeFramePids #", static_cast<unsigned>(frame));
    return freezeFramePids_.getKeyed(
        frame, refresh, trace, [&] { return troubleCodeService_->readFreezeFramePids(frame); });
}

std::shared_ptr<ParameterModel> TroubleCodeRepository::getFreezeFrameParameter(
    std::uint8_t frame, obd::ParameterIdentifier::Id id, bool refresh) {
    TraceParts("getFreezeFrameParameter #", static_cast<unsigned>(frame), ": ",
               static_cast<std::int32_t>(id));
    return freezeFrameParameters_.getKeyed(
        FreezeFrameParameterKey(frame, id), refresh, trace,
        [&]() -> std::shared_ptr<ParameterModel> {
            const auto data = troubleCodeService_->readFreezeFrameParameter(frame, id);
            if (!data) {
                return nullptr;
            }
            return ParameterModelBuilder::build(data);
        });
}

std::shared_ptr<SensorModel> TroubleCodeRepository::getSensor(obd::ParameterIdentifier::Id id,
                                                              bool refresh) {
    return sensors_.getKeyed(id, refresh, trace, [&]() -> std::shared_ptr<SensorModel> {
        if (!sensorService_->isSupported(id)) {
            return nullptr;
        }
        const auto sensors = sensorService_->getSensors(id);
        // Only the first sensor counts; a null one is no answer.
        if (sensors.empty() || !sensors.front()) {
            return nullptr;
        }
        return SensorModelBuilder::build(sensors.front());
    });
}

bool TroubleCodeRepository::resetTroubleCodes() {
    clearCache();
    // Asked with no lock held: clearing can take the vehicle a while, and every
    // getter may run meanwhile. A getter that does refills its cache with the
    // codes as they were before the clearing, so the caches are emptied once
    // more when the vehicle has answered (or failed to).
    bool cleared = false;
    try {
        cleared = troubleCodeService_->clearTroubleCodes();
    } catch (...) {
        clearCache();
        throw;
    }
    clearCache();
    return cleared;
}

void TroubleCodeRepository::onConnectionOpened() {
    clearCache();
}
void TroubleCodeRepository::onEcuChanged() {
    clearCache();
}
void TroubleCodeRepository::onConnectionClosed() {
    clearCache();
}

}  // namespace zelt
