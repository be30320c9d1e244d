#include "root/Root.h"

namespace obd::detail {

Root::Root(const std::shared_ptr<IRequestChannel>& vehicle, std::shared_ptr<IAdapter> adapter,
           DataLinkProtocol protocol)
    : dispatcher_(std::make_shared<EventDispatcher>()),
      connection_(
          std::make_shared<VehicleConnection>(vehicle, std::move(adapter), protocol, dispatcher_)),
      manager_(std::make_shared<ConnectionManager>(connection_, protocol)),
      profiles_(std::make_shared<ProfileHost>(
          std::dynamic_pointer_cast<uds::IPhysicalChannel>(vehicle), connection_)) {}

Root::Root(const std::shared_ptr<elm327::AdapterChannel>& channel,
           std::shared_ptr<elm327::AdapterInfo> info)
    : dispatcher_(std::make_shared<EventDispatcher>()),
      connection_(std::make_shared<VehicleConnection>(channel, std::move(info),
                                                      DataLinkProtocol::Automatic, dispatcher_)),
      manager_(
          std::make_shared<ConnectionManager>(connection_, DataLinkProtocol::Automatic, channel)),
      adapter_(channel),
      profiles_(std::make_shared<ProfileHost>(channel, connection_)) {}

std::shared_ptr<VehicleConnection> Root::resolve(
    const std::shared_ptr<IConnectionService>& service) const {
    if (auto* ours = dynamic_cast<ConnectionService*>(service.get())) {
        return ours->connection();
    }
    return connection_;
}

std::shared_ptr<IConnectionService> Root::createConnectionService() {
    return std::make_shared<ConnectionService>(connection_);
}

std::shared_ptr<IEcuService> Root::createEcuService(
    const std::shared_ptr<IConnectionService>& connection) {
    return std::make_shared<EcuService>(resolve(connection));
}

std::shared_ptr<ISensorService> Root::createSensorService(
    const std::shared_ptr<IConnectionService>& connection) {
    return std::make_shared<SensorService>(resolve(connection), profiles_);
}

std::shared_ptr<ITroubleCodeService> Root::createTroubleCodeService(
    const std::shared_ptr<IConnectionService>& connection) {
    return std::make_shared<TroubleCodeService>(resolve(connection));
}

std::shared_ptr<IDiagnosticsService> Root::createDiagnosticsService(
    const std::shared_ptr<IConnectionService>& connection) {
    return std::make_shared<DiagnosticsService>(resolve(connection));
}

std::shared_ptr<IRoutineService> Root::createRoutineService(
    const std::shared_ptr<IConnectionService>& connection) {
    return std::make_shared<RoutineService>(resolve(connection));
}

std::shared_ptr<ITroubleshootingService> Root::createTroubleshootingService(
    const std::shared_ptr<IConnectionService>& connection) {
    return std::make_shared<TroubleshootingService>(resolve(connection));
}

}  // namespace obd::detail
