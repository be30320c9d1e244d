#pragma once

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "obd/DiagnosticsDataModels.h"
#include "obd/IConnectionService.h"
#include "obd/IDiagnosticsService.h"
#include "obd/IQuorvix.h"
#include "zelt/Export.h"
#include "zelt/Observers.h"
#include "zelt/detail/CacheSlot.h"

namespace zelt {

// The on-board monitoring results of the selected ECU: readiness monitors,
// on-board monitor test results, performance counters, oxygen sensor monitors
// and vehicle operation data. Records are the core's own, handed through
// unchanged, shared with every caller and never changed.
//
// Every getter answers from its cache unless `refresh` is set or the cache is
// empty; an empty answer of the core is cached like any other unless a getter
// says otherwise.
//
// Thread safety: every public operation may be called from any thread. Each
// cache has its own mutex, held across the call into the core; no operation
// holds two of them at once. All caches are emptied when the connection opens
// or closes or the ECU changes. Not copyable or movable: it holds mutexes and a
// registration.
class ZELT_API DiagnosticsRepository : public orvane::Observer<obd::IConnectionServiceObserver> {
public:
    // The readiness monitors as the core reports them.
    using ReadinessMonitors = std::vector<std::shared_ptr<obd::ReadinessMonitorDataModel>>;
    // The on-board monitor test results as the core reports them.
    using DiagnosticMonitors = std::vector<std::shared_ptr<obd::DiagnosticMonitorDataModel>>;
    // The in-use performance counters as the core reports them.
    using PerformanceCounters = std::vector<std::shared_ptr<obd::PerformanceCounterDataModel>>;
    // The oxygen sensors the vehicle has.
    using OxygenSensorLocations = std::vector<obd::OxygenSensorLocation>;
    // The oxygen sensor monitor results as the core reports them.
    using OxygenSensorMonitors = std::vector<std::shared_ptr<obd::OxygenSensorMonitorDataModel>>;
    // One vehicle operation data record as the core reports it.
    using VehicleOperationData = std::vector<std::shared_ptr<obd::VehicleOperationDataModel>>;

    // Builds the repository's services from `root` and attaches to its connection.
    explicit DiagnosticsRepository(const std::shared_ptr<obd::IQuorvix>& root);
    ~DiagnosticsRepository() override;

    DiagnosticsRepository(const DiagnosticsRepository&) = delete;
    DiagnosticsRepository& operator=(const DiagnosticsRepository&) = delete;

    // Empties every cache.
    void clearCache();
    // True while the vehicle connection is open.
    bool isConnected() const;

    // The readiness monitors since the codes were last cleared.
    ReadinessMonitors getReadinessMonitorsSinceReset(bool refresh);
    // Makes sure the since-reset list is cached first (without refreshing it),
    // then answers this cycle's list.
    ReadinessMonitors getReadinessMonitorsThisCycle(bool refresh);
    // The on-board monitor test results.
    DiagnosticMonitors getDiagnosticMonitors(bool refresh);
    // The in-use performance counters.
    PerformanceCounters getPerformanceCounters(bool refresh);
    // The oxygen sensors the vehicle has.
    OxygenSensorLocations getOxygenSensorLocations(bool refresh);

    // The monitors of one location. An empty answer is not cached, so the next
    // call asks again. `refresh` drops the cached lists of every location, not
    // only of `location`, before asking; they stay dropped if the core throws.
    OxygenSensorMonitors getOxygenSensorMonitors(obd::OxygenSensorLocation location, bool refresh);

    // The core's verdict. A new repository answers false without asking until
    // the first clearing or the first `refresh`.
    bool areOxygenSensorMonitorsComplete(bool refresh);

    // Engine run and idle time, fuel and distance used, PKE/EOE and PSA, in
    // that order, leaving out the items the vehicle does not have. Each item
    // is cached on its own (a missing item too), so a clearing that runs at
    // the same time may mix items read at different moments.
    VehicleOperationData getVehicleOperationData(bool refresh);

private:
    using VehicleOperationItem = std::shared_ptr<obd::VehicleOperationDataModel>;

    void onConnectionOpened() override;
    void onEcuChanged() override;
    void onConnectionClosed() override;

    // One vehicle operation data item each; null when the vehicle has none.
    VehicleOperationItem getVodEngineRunIdleTime(bool refresh);
    VehicleOperationItem getVodFuelDistanceUsed(bool refresh);
    VehicleOperationItem getVodPkeEoe(bool refresh);
    VehicleOperationItem getVodPsa(bool refresh);

    // Constant after construction.
    std::shared_ptr<obd::IConnectionService> connection_;
    std::shared_ptr<obd::IDiagnosticsService> diagnosticsService_;

    detail::CacheSlot<std::optional<ReadinessMonitors>> readinessSinceReset_;
    detail::CacheSlot<std::optional<ReadinessMonitors>> readinessThisCycle_;
    detail::CacheSlot<std::optional<DiagnosticMonitors>> diagnosticMonitors_;
    detail::CacheSlot<std::optional<PerformanceCounters>> performanceCounters_;
    detail::CacheSlot<std::optional<OxygenSensorLocations>> oxygenSensorLocations_;
    detail::CacheSlot<std::map<obd::OxygenSensorLocation, OxygenSensorMonitors>>
        oxygenSensorMonitors_;
    detail::CacheSlot<std::optional<bool>> oxygenSensorMonitorsComplete_;
    detail::CacheSlot<std::optional<VehicleOperationItem>> vodEngineRunIdleTime_;
    detail::CacheSlot<std::optional<VehicleOperationItem>> vodFuelDistanceUsed_;
    detail::CacheSlot<std::optional<VehicleOperationItem>> vodPkeEoe_;
    detail::CacheSlot<std::optional<VehicleOperationItem>> vodPsa_;
};

}  // namespace zelt
