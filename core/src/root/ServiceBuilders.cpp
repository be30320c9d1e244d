#include "obd/ServiceBuilders.h"

#include <utility>

namespace obd {

std::shared_ptr<IConnectionService> ConnectionServiceBuilder::create(
    const std::shared_ptr<IQuorvix>& root) {
    return root->createConnectionService();
}

std::shared_ptr<IEcuService> EcuServiceBuilder::create(
    const std::shared_ptr<IQuorvix>& root, std::shared_ptr<IConnectionService> connection) {
    return root->createEcuService(std::move(connection));
}

std::shared_ptr<ISensorService> SensorServiceBuilder::create(
    const std::shared_ptr<IQuorvix>& root, std::shared_ptr<IConnectionService> connection) {
    return root->createSensorService(std::move(connection));
}

std::shared_ptr<ITroubleCodeService> TroubleCodeServiceBuilder::create(
    const std::shared_ptr<IQuorvix>& root, std::shared_ptr<IConnectionService> connection) {
    return root->createTroubleCodeService(std::move(connection));
}

std::shared_ptr<IDiagnosticsService> DiagnosticsServiceBuilder::create(
    const std::shared_ptr<IQuorvix>& root, std::shared_ptr<IConnectionService> connection) {
    return root->createDiagnosticsService(std::move(connection));
}

std::shared_ptr<IRoutineService> RoutineServiceBuilder::create(
    const std::shared_ptr<IQuorvix>& root, std::shared_ptr<IConnectionService> connection) {
    return root->createRoutineService(std::move(connection));
}

std::shared_ptr<ITroubleshootingService> TroubleshootingServiceBuilder::create(
    const std::shared_ptr<IQuorvix>& root, std::shared_ptr<IConnectionService> connection) {
    return root->createTroubleshootingService(std::move(connection));
}

}  // namespace obd
