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

// What the keyed caches accept: a record or a non-empty list. Anything else
// means the vehicle had nothing to give for the key.
template <typename T>
bool IsUsable(const std::shared_ptr<T>& answer) {
    return answer != nullptr;
}
template <typename T>
bool IsUsable(const std::vector<T>& answer) {
    return !answer.empty();
}

// The procedure of the keyed caches. A hit is answered unless `refresh` is
// set. Otherwise `fetch()` asks the core; a usable answer is stored under
// `key`, replacing any entry, while an unusable one is returned as it is and
// leaves the stored entry alone: a refresh that finds nothing must neither
// lose the last good answer nor pass it off as current.
template <typename Map, typename Fetch>
typename Map::mapped_type GetKeyed(detail::CacheSlot<Map>& slot, const typename Map::key_type& key,
                                   bool refresh, Fetch&& fetch) {
    return slot.withLock([&](Map& cached) -> typename Map::mapped_type {
        if (!refresh) {
            const auto entry = cached.find(key);
            if (entry != cached.end()) {
                detail::Trace(trace, detail::kReturnFromCache);
                return entry->second;
            }
        }
        typename Map::mapped_type answer = fetch();
        if (IsUsable(answer)) {
            cached[key] = answer;
        }
        return answer;
    });
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
    return milStatus_.withLock(
        [&](std::optional<std::shared_ptr<MilStatus>>& cached) -> std::shared_ptr<MilStatus> {
            if (!refresh && cached) {
                detail::Trace(trace, detail::kReturnFromCache);
                return *cached;
            }
            // A new record each time: holders of the earlier one keep its value.
            if (const auto indicator = troubleCodeService_->readMilIndicator()) {
                cached =
                    std::make_shared<MilStatus>(*indicator != 0 ? MilStatus::On : MilStatus::Off);
            }
            // No answer keeps the last known state.
            return cached.value_or(nullptr);
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
    return GetKeyed(freezeFrameTroubleCodes_, frame, refresh,
                    [&] { return troubleCodeService_->readFreezeFrameTroubleCode(frame); });
}

std::vector<obd::ParameterIdentifier::Id> TroubleCodeRepository::getFreezeFramePids(
    std::uint8_t frame, bool refresh) {
    TraceParts("getFreezeFramePids #", static_cast<unsigned>(frame));
    return GetKeyed(freezeFramePids_, frame, refresh,
                    [&] { return troubleCodeService_->readFreezeFramePids(frame); });
}

std::shared_ptr<ParameterModel> TroubleCodeRepository::getFreezeFrameParameter(
    std::uint8_t frame, obd::ParameterIdentifier::Id id, bool refresh) {
    TraceParts("getFreezeFrameParameter #", static_cast<unsigned>(frame), ": ",
               static_cast<std::int32_t>(id));
    return GetKeyed(freezeFrameParameters_, FreezeFrameParameterKey(frame, id), refresh,
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
    return GetKeyed(sensors_, id, refresh, [&]() -> std::shared_ptr<SensorModel> {
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
