#include "zelt/DiagnosticsRepository.h"

#include <ostream>
#include <utility>

#include "obd/ServiceBuilders.h"

namespace zelt {

namespace {
std::ostream trace(nullptr);

using VehicleOperationItem = std::shared_ptr<obd::VehicleOperationDataModel>;

}  // namespace

DiagnosticsRepository::DiagnosticsRepository(const std::shared_ptr<obd::IQuorvix>& root)
    : connection_(obd::ConnectionServiceBuilder::create(root)),
      diagnosticsService_(obd::DiagnosticsServiceBuilder::create(root, connection_)),
      oxygenSensorMonitorsComplete_(std::optional<bool>(false)) {
    attachTo(connection_.get());
}

DiagnosticsRepository::~DiagnosticsRepository() {
    detachFrom(connection_.get());
}

void DiagnosticsRepository::clearCache() {
    readinessSinceReset_.clear();
    readinessThisCycle_.clear();
    diagnosticMonitors_.clear();
    performanceCounters_.clear();
    oxygenSensorLocations_.clear();
    oxygenSensorMonitors_.clear();
    oxygenSensorMonitorsComplete_.clear();
    vodEngineRunIdleTime_.clear();
    vodFuelDistanceUsed_.clear();
    vodPkeEoe_.clear();
    vodPsa_.clear();
}

bool DiagnosticsRepository::isConnected() const {
    return connection_->isConnected();
}

DiagnosticsRepository::ReadinessMonitors DiagnosticsRepository::getReadinessMonitorsSinceReset(
    bool refresh) {
    return readinessSinceReset_.get(
        refresh, trace, [&] { return diagnosticsService_->getReadinessMonitorsSinceReset(); });
}

DiagnosticsRepository::ReadinessMonitors DiagnosticsRepository::getReadinessMonitorsThisCycle(
    bool refresh) {
    // Runs to completion before this cycle's slot is locked, so no two of the
    // repository's mutexes are ever held together.
    getReadinessMonitorsSinceReset(false);
    return readinessThisCycle_.get(
        refresh, trace, [&] { return diagnosticsService_->getReadinessMonitorsThisCycle(); });
}

DiagnosticsRepository::DiagnosticMonitors DiagnosticsRepository::getDiagnosticMonitors(
    bool refresh) {
    return diagnosticMonitors_.get(refresh, trace,
                                   [&] { return diagnosticsService_->getDiagnosticMonitors(); });
}

DiagnosticsRepository::PerformanceCounters DiagnosticsRepository::getPerformanceCounters(
    bool refresh) {
    return performanceCounters_.get(refresh, trace,
                                    [&] { return diagnosticsService_->getPerformanceCounters(); });
}

DiagnosticsRepository::OxygenSensorLocations DiagnosticsRepository::getOxygenSensorLocations(
    bool refresh) {
    return oxygenSensorLocations_.get(
        refresh, trace, [&] { return diagnosticsService_->getOxygenSensorLocations(); });
}

DiagnosticsRepository::OxygenSensorMonitors DiagnosticsRepository::getOxygenSensorMonitors(
    obd::OxygenSensorLocation location, bool refresh) {
    // A refresh drops the lists of every location; an empty answer is not
    // stored, so that location is asked again.
    return oxygenSensorMonitors_.getKeyed(
        location, refresh, trace,
        [&] { return diagnosticsService_->getOxygenSensorMonitors(location); },
        detail::KeyedRefresh::DropAll);
}

bool DiagnosticsRepository::areOxygenSensorMonitorsComplete(bool refresh) {
    return oxygenSensorMonitorsComplete_.get(
        refresh, trace, [&] { return diagnosticsService_->areOxygenSensorMonitorsComplete(); });
}

DiagnosticsRepository::VehicleOperationData DiagnosticsRepository::getVehicleOperationData(
    bool refresh) {
    VehicleOperationData items;
    const auto append = [&items](VehicleOperationItem item) {
        if (item) {
            items.push_back(std::move(item));
        }
    };
    // One item after the other, each under its own lock only.
    append(getVodEngineRunIdleTime(refresh));
    append(getVodFuelDistanceUsed(refresh));
    append(getVodPkeEoe(refresh));
    append(getVodPsa(refresh));
    return items;
}

// A null item is cached too. These leave no trace when they answer from the
// cache: getVehicleOperationData asks all four at once.
VehicleOperationItem DiagnosticsRepository::getVodEngineRunIdleTime(bool refresh) {
    return vodEngineRunIdleTime_.get(
        refresh, detail::NoTrace(), [&] { return diagnosticsService_->getVodEngineRunIdleTime(); });
}

VehicleOperationItem DiagnosticsRepository::getVodFuelDistanceUsed(bool refresh) {
    return vodFuelDistanceUsed_.get(refresh, detail::NoTrace(),
                                    [&] { return diagnosticsService_->getVodFuelDistanceUsed(); });
}

VehicleOperationItem DiagnosticsRepository::getVodPkeEoe(bool refresh) {
    return vodPkeEoe_.get(refresh, detail::NoTrace(),
                          [&] { return diagnosticsService_->getVodPkeEoe(); });
}

VehicleOperationItem DiagnosticsRepository::getVodPsa(bool refresh) {
    return vodPsa_.get(refresh, detail::NoTrace(),
                       [&] { return diagnosticsService_->getVodPsa(); });
}

void DiagnosticsRepository::onConnectionOpened() {
    clearCache();
}
void DiagnosticsRepository::onEcuChanged() {
    clearCache();
}
void DiagnosticsRepository::onConnectionClosed() {
    clearCache();
}

}  // namespace zelt
