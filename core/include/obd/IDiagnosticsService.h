#pragma once

// The diagnostics service: readiness, on-board monitor test results,
// performance counters, oxygen sensor monitors and vehicle operation data of
// the selected ECU.
//
// Thread safety: every operation may be called from any thread; requests to
// the vehicle are serialised by the connection, and the service keeps no
// cache. A closed connection reads as no data (empty vectors, null, false).
//
// Ownership: built from the root and a connection service by
// DiagnosticsServiceBuilder; it keeps the connection alive. Every call returns
// new records that belong to the caller.

#include <cstdint>
#include <memory>
#include <vector>

#include "DiagnosticsDataModels.h"
#include "Export.h"

namespace obd {

// On-board monitoring results of the selected ECU (services 01, 06 and 09).
class OBD_API IDiagnosticsService {
public:
    virtual ~IDiagnosticsService();

    // The on-board monitor ids (MIDs) the ECU supports.
    virtual std::vector<std::uint8_t> getSupportedMonitorIds() = 0;

    // The readiness monitors since the codes were last cleared (PID 01).
    virtual std::vector<std::shared_ptr<ReadinessMonitorDataModel>>
    getReadinessMonitorsSinceReset() = 0;
    // The readiness monitors of this driving cycle (PID 41).
    virtual std::vector<std::shared_ptr<ReadinessMonitorDataModel>>
    getReadinessMonitorsThisCycle() = 0;
    // The on-board monitor test results (service 06).
    virtual std::vector<std::shared_ptr<DiagnosticMonitorDataModel>> getDiagnosticMonitors() = 0;
    // The in-use performance tracking counters (service 09).
    virtual std::vector<std::shared_ptr<PerformanceCounterDataModel>> getPerformanceCounters() = 0;
    // The oxygen sensors the vehicle has.
    virtual std::vector<OxygenSensorLocation> getOxygenSensorLocations() = 0;
    // The monitor test results of the oxygen sensor at `location`.
    virtual std::vector<std::shared_ptr<OxygenSensorMonitorDataModel>> getOxygenSensorMonitors(
        OxygenSensorLocation location) = 0;
    // True when the oxygen sensor monitors have completed.
    virtual bool areOxygenSensorMonitorsComplete() = 0;
    // Vehicle operation data records; null when the ECU has no such record.
    virtual std::shared_ptr<VehicleOperationDataModel> getVodEngineRunIdleTime() = 0;
    // Vehicle operation data: fuel used and distance travelled; null when the ECU has no such
    // record.
    virtual std::shared_ptr<VehicleOperationDataModel> getVodFuelDistanceUsed() = 0;
    // Vehicle operation data: positive kinetic energy and engine output energy; null when the ECU
    // has no such record.
    virtual std::shared_ptr<VehicleOperationDataModel> getVodPkeEoe() = 0;
    // Vehicle operation data: propulsion system active time; null when the ECU has no such record.
    virtual std::shared_ptr<VehicleOperationDataModel> getVodPsa() = 0;
};

}  // namespace obd
