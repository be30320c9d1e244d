#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "obd/IConnectionService.h"
#include "obd/IQuorvix.h"
#include "obd/ISensorBatchReader.h"
#include "obd/ISensorService.h"
#include "obd/ParameterIdentifier.h"
#include "zelt/Export.h"
#include "zelt/Models.h"
#include "zelt/Observers.h"
#include "zelt/detail/CacheSlot.h"

namespace zelt {

// The vehicle's live parameters: which parameters it offers, the description
// of one parameter with its sensors, and the current values of one
// parameter's sensors.
//
// The parameter list and the descriptions are kept until the next clearing;
// values are read from the vehicle on every call.
//
// Thread safety: every public operation may be called from any thread. Each
// getter has its own mutex and holds it for its whole run, the core call
// included, so calls of one getter never overlap while different getters run
// in parallel. The caches are emptied when the connection opens or closes or
// the ECU changes; records handed out before stay valid.
// Not copyable or movable: it holds mutexes and a registration.
class ZELT_API ParameterRepository : public orvane::Observer<obd::IConnectionServiceObserver> {
public:
    // Builds the repository's services from `root` and attaches to its connection.
    explicit ParameterRepository(const std::shared_ptr<obd::IQuorvix>& root);
    ~ParameterRepository() override;

    ParameterRepository(const ParameterRepository&) = delete;
    ParameterRepository& operator=(const ParameterRepository&) = delete;

    // Empties every cache.
    void clearCache();
    // True while the vehicle connection is open.
    bool isConnected() const;

    // The parameters the vehicle offers, in the core's order. An empty answer
    // is not kept, so the vehicle is asked again on the next call.
    std::vector<obd::ParameterIdentifier::Id> getPids();

    // The parameter with its sensors; null when the vehicle has no such
    // parameter, which is not kept. A built parameter is kept, so later calls
    // return the same record.
    std::shared_ptr<ParameterModel> getParameter(obd::ParameterIdentifier::Id pid);

    // What getParameter(pid) returns for each of `pids`, in the order asked
    // (null where the vehicle has no such parameter), with the parameters
    // not kept yet read together: on CAN, up to six PIDs share a vehicle
    // request. The records built are kept as getParameter keeps them.
    std::vector<std::shared_ptr<ParameterModel>> getParametersOf(
        const std::vector<obd::ParameterIdentifier::Id>& pids);

    // The parameter's sensors with the values read now: every call asks the
    // vehicle and returns newly built records, whatever `refresh` says. An
    // empty answer gives an empty vector.
    std::vector<std::shared_ptr<SensorModel>> getValues(obd::ParameterIdentifier::Id pid,
                                                        bool refresh);

    // The sensors of each of `pids`, read now, in the order asked: for each
    // PID what getValues(pid, true) would return (empty where the vehicle has
    // no such parameter). Where the core can read several parameters at once
    // (obd::ISensorBatchReader), they share vehicle requests: on CAN, four
    // PIDs cost one request instead of four. Holds getValues' mutex for its
    // whole run, so it never overlaps a getValues call.
    std::vector<std::vector<std::shared_ptr<SensorModel>>> getValuesOf(
        const std::vector<obd::ParameterIdentifier::Id>& pids);

    // The decoded numbers of the sensors of `pids`, by sensor uid, from the
    // core's answers that the records this repository last returned were
    // built from: exact, where a SensorValueModel holds them as texts
    // rounded for display. Asks the vehicle nothing. A sensor the core gave
    // no number is absent; emptied with the cache.
    std::map<std::int32_t, double> getNumbersOf(
        const std::vector<obd::ParameterIdentifier::Id>& pids);

private:
    using SensorList = std::vector<std::shared_ptr<SensorModel>>;

    // Keeps the numbers of `sensors` for getNumbersOf.
    void keepNumbers(const std::vector<std::shared_ptr<obd::SensorDataModel>>& sensors);

    void onConnectionOpened() override;
    void onEcuChanged() override;
    void onConnectionClosed() override;

    // Constant after construction.
    std::shared_ptr<obd::IConnectionService> connection_;
    std::shared_ptr<obd::ISensorService> sensorService_;
    // The sensor service's batch reading; null when the core has none.
    std::shared_ptr<obd::ISensorBatchReader> batchReader_ =
        std::dynamic_pointer_cast<obd::ISensorBatchReader>(sensorService_);

    detail::CacheSlot<std::optional<std::vector<obd::ParameterIdentifier::Id>>> pids_;
    detail::CacheSlot<std::map<obd::ParameterIdentifier::Id, std::shared_ptr<ParameterModel>>>
        parameters_;
    // Serialises getValues. Live values are never answered from a cache, so
    // nothing is stored here; clearCache empties it like every other slot.
    detail::CacheSlot<std::map<obd::ParameterIdentifier::Id, SensorList>> values_;
    // Locked inside the slots above, never around them.
    detail::CacheSlot<std::map<std::int32_t, double>> numbers_;
};

}  // namespace zelt
