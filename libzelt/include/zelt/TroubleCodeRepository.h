#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "obd/DtcDataModel.h"
#include "obd/IConnectionService.h"
#include "obd/IQuorvix.h"
#include "obd/ISensorService.h"
#include "obd/ITroubleCodeService.h"
#include "obd/ParameterIdentifier.h"
#include "zelt/Export.h"
#include "zelt/Models.h"
#include "zelt/Observers.h"
#include "zelt/detail/CacheSlot.h"

namespace zelt {

// The trouble codes of the selected ECU and what belongs to them: the
// confirmed, pending and permanent codes, the freeze frames, the state of the
// malfunction indicator lamp (MIL), the distance and run time since the MIL
// came on or the codes were cleared, and the clearing of the codes. Trouble
// code records are the core's own; parameters and sensors are built into
// presentation records. Every record is shared with every caller and never
// changed.
//
// Getters answer from their cache unless `refresh` is set or nothing is
// cached. The code lists cache an empty answer; the keyed caches (freeze
// frames, sensors) store only usable answers, never let an unusable one erase
// an entry, and return the unusable answer, not the entry, in that case.
//
// Thread safety: every public operation may be called from any thread. Each
// cache has its own mutex, held across the call into the core; no operation
// holds two of them at once. All caches are emptied when the connection opens
// or closes or the ECU changes. Not copyable or movable: it holds mutexes and a
// registration.
class ZELT_API TroubleCodeRepository : public orvane::Observer<obd::IConnectionServiceObserver> {
public:
    // A list of trouble codes as the core reports them.
    using TroubleCodes = std::vector<std::shared_ptr<obd::DtcDataModel>>;

    // Builds the repository's services from `root` and attaches to its connection.
    explicit TroubleCodeRepository(const std::shared_ptr<obd::IQuorvix>& root);
    ~TroubleCodeRepository() override;

    TroubleCodeRepository(const TroubleCodeRepository&) = delete;
    TroubleCodeRepository& operator=(const TroubleCodeRepository&) = delete;

    // Empties every cache.
    void clearCache();
    // True while the vehicle connection is open.
    bool isConnected() const;

    // Every trouble code the core's catalogue knows, independent of the
    // vehicle. Not cached.
    TroubleCodes getAllTroubleCodes();

    // The stored (confirmed) codes.
    TroubleCodes getConfirmedCodes(bool refresh);
    // The pending codes.
    TroubleCodes getPendingCodes(bool refresh);
    // The permanent codes.
    TroubleCodes getPermanentCodes(bool refresh);
    // One of the three lists above; empty for a value that names none of them.
    TroubleCodes getTroubleCodes(TroubleCodeType type, bool refresh);

    // The lamp's state; null when it was never read. A read that gets no
    // answer returns the last known state.
    std::shared_ptr<MilStatus> getMilStatus(bool refresh);

    // Distance travelled with the MIL on (`On`) or since the codes were
    // cleared (any other value); null when the vehicle does not report it.
    std::shared_ptr<SensorModel> getDistanceSince(MilStatus status, bool refresh);
    // Engine run time with the MIL on (`On`) or since the codes were cleared
    // (any other value); null when the vehicle does not report it.
    std::shared_ptr<SensorModel> getRuntimeSince(MilStatus status, bool refresh);

    // The code that caused freeze frame `frame` to be stored; null if none.
    std::shared_ptr<obd::DtcDataModel> getFreezeFrameTroubleCode(std::uint8_t frame, bool refresh);
    // The parameters stored in freeze frame `frame`; empty if none.
    std::vector<obd::ParameterIdentifier::Id> getFreezeFramePids(std::uint8_t frame, bool refresh);
    // Parameter `id` as stored in freeze frame `frame`; null if none.
    std::shared_ptr<ParameterModel> getFreezeFrameParameter(std::uint8_t frame,
                                                            obd::ParameterIdentifier::Id id,
                                                            bool refresh);

    // Clears the trouble codes in the vehicle and returns whether it
    // succeeded. Every cache is emptied whatever the answer. The vehicle is
    // asked with no lock held.
    bool resetTroubleCodes();

private:
    using Pids = std::vector<obd::ParameterIdentifier::Id>;
    using FreezeFrameParameterKey = std::pair<std::uint8_t, obd::ParameterIdentifier::Id>;

    void onConnectionOpened() override;
    void onEcuChanged() override;
    void onConnectionClosed() override;

    // The first sensor of parameter `id`; null when the vehicle does not
    // support the parameter or reports no sensor for it.
    std::shared_ptr<SensorModel> getSensor(obd::ParameterIdentifier::Id id, bool refresh);

    // Constant after construction.
    std::shared_ptr<obd::IConnectionService> connection_;
    std::shared_ptr<obd::ITroubleCodeService> troubleCodeService_;
    std::shared_ptr<obd::ISensorService> sensorService_;

    detail::CacheSlot<std::optional<TroubleCodes>> confirmedCodes_;
    detail::CacheSlot<std::optional<TroubleCodes>> pendingCodes_;
    detail::CacheSlot<std::optional<TroubleCodes>> permanentCodes_;
    detail::CacheSlot<std::map<std::uint8_t, std::shared_ptr<obd::DtcDataModel>>>
        freezeFrameTroubleCodes_;
    detail::CacheSlot<std::map<std::uint8_t, Pids>> freezeFramePids_;
    detail::CacheSlot<std::map<FreezeFrameParameterKey, std::shared_ptr<ParameterModel>>>
        freezeFrameParameters_;
    detail::CacheSlot<std::optional<std::shared_ptr<MilStatus>>> milStatus_;
    detail::CacheSlot<std::map<obd::ParameterIdentifier::Id, std::shared_ptr<SensorModel>>>
        sensors_;
};

}  // namespace zelt
