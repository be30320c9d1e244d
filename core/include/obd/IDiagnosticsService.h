#pragma once

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

    virtual std::vector<std::shared_ptr<ReadinessMonitorDataModel>>
    getReadinessMonitorsSinceReset() = 0;
    virtual std::vector<std::shared_ptr<ReadinessMonitorDataModel>>
    getReadinessMonitorsThisCycle() = 0;
    virtual std::vector<std::shared_ptr<DiagnosticMonitorDataModel>> getDiagnosticMonitors() = 0;
    virtual std::vector<std::shared_ptr<PerformanceCounterDataModel>> getPerformanceCounters() = 0;
    virtual std::vector<OxygenSensorLocation> getOxygenSensorLocations() = 0;
    virtual std::vector<std::shared_ptr<OxygenSensorMonitorDataModel>> getOxygenSensorMonitors(
        OxygenSensorLocation location) = 0;
    virtual bool areOxygenSensorMonitorsComplete() = 0;
    // Vehicle operation data records; null when the ECU has no such record.
    virtual std::shared_ptr<VehicleOperationDataModel> getVodEngineRunIdleTime() = 0;
    virtual std::shared_ptr<VehicleOperationDataModel> getVodFuelDistanceUsed() = 0;
    virtual std::shared_ptr<VehicleOperationDataModel> getVodPkeEoe() = 0;
    virtual std::shared_ptr<VehicleOperationDataModel> getVodPsa() = 0;
};

}  // namespace obd
