#include "zelt/DiagnosticsRepository.h"

#include <ostream>
#include <utility>

#include "obd/ServiceBuilders.h"

namespace zelt {

namespace {
std::ostream trace(nullptr);

using VehicleOperationItem = std::shared_ptr<obd::VehicleOperationDataModel>;

// The cache slot procedure for one vehicle operation data item. A null answer
// is cached too. Unlike the other getters these leave no trace when they
// answer from the cache: getVehicleOperationData asks all four at once.
template <typename Fetch>
VehicleOperationItem GetVehicleOperationItem(
    detail::CacheSlot<std::optional<VehicleOperationItem>>& slot, bool refresh, Fetch&& fetch) {
    return slot.withLock([&](std::optional<VehicleOperationItem>& cached) {
        if (refresh || !cached) {
            cached = fetch();
        }
        return *cached;
    });
}
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
    return oxygenSensorMonitors_.withLock(
        [&](std::map<obd::OxygenSensorLocation, OxygenSensorMonitors>& cached) {
            if (refresh) {
                cached.clear();
            } else {
                const auto entry = cached.find(location);
                if (entry != cached.end()) {
                    detail::Trace(trace, detail::kReturnFromCache);
                    return entry->second;
                }
            }
            OxygenSensorMonitors monitors = diagnosticsService_->getOxygenSensorMonitors(location);
            if (!monitors.empty()) {
                cached[location] = monitors;
            }
            return monitors;
        });
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

VehicleOperationItem DiagnosticsRepository::getVodEngineRunIdleTime(bool refresh) {
    return GetVehicleOperationItem(vodEngineRunIdleTime_, refresh,
                                   [&] { return diagnosticsService_->getVodEngineRunIdleTime(); });
}

VehicleOperationItem DiagnosticsRepository::getVodFuelDistanceUsed(bool refresh) {
    return GetVehicleOperationItem(vodFuelDistanceUsed_, refresh,
                                   [&] { return diagnosticsService_->getVodFuelDistanceUsed(); });
}

VehicleOperationItem DiagnosticsRepository::getVodPkeEoe(bool refresh) {
    return GetVehicleOperationItem(vodPkeEoe_, refresh,
                                   [&] { return diagnosticsService_->getVodPkeEoe(); });
}

VehicleOperationItem DiagnosticsRepository::getVodPsa(bool refresh) {
    return GetVehicleOperationItem(vodPsa_, refresh,
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
