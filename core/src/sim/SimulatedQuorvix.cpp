#include "obd/sim/SimulatedQuorvix.h"

#include "elm327/AdapterChannel.h"
#include "services/Services.h"
#include "sim/ConnectionManager.h"
#include "sim/SimulatedBus.h"
#include "sim/VehicleModel.h"

namespace obd::sim {

namespace {

class SimulatedAdapter : public IAdapter {
public:
    SimulatedAdapter(AdapterModel model, DataLinkProtocol protocol)
        : model_(std::move(model)), protocol_(protocol) {}

    DataLinkProtocol getProtocol() const override { return protocol_; }
    std::string getName() const override { return model_.name; }
    std::string getDescription() const override { return model_.description; }
    std::string getIdentification() const override { return model_.identification; }

private:
    const AdapterModel model_;
    const DataLinkProtocol protocol_;
};

}  // namespace

struct SimulatedQuorvix::Impl {
    explicit Impl(const Scenario& scenario)
        : scenario(scenario),
          dispatcher(std::make_shared<detail::EventDispatcher>()),
          connection(std::make_shared<detail::VehicleConnection>(
              std::make_shared<SimulatedBus>(*scenario.model()),
              std::make_shared<SimulatedAdapter>(scenario.model()->adapter,
                                                 scenario.model()->protocol),
              scenario.model()->protocol, dispatcher)),
          manager(std::make_shared<ConnectionManager>(connection, scenario.model()->protocol)) {}

    // Over an adapter: the channel and what the adapter reports of itself
    // are filled in when the connection opens.
    Impl(const Scenario& scenario, const std::shared_ptr<elm327::AdapterInfo>& info)
        : Impl(scenario, info, std::make_shared<elm327::AdapterChannel>(info)) {}

    Impl(const Scenario& scenario, const std::shared_ptr<elm327::AdapterInfo>& info,
         const std::shared_ptr<elm327::AdapterChannel>& channel)
        : scenario(scenario),
          dispatcher(std::make_shared<detail::EventDispatcher>()),
          connection(std::make_shared<detail::VehicleConnection>(
              channel, info, DataLinkProtocol::Automatic, dispatcher)),
          manager(std::make_shared<ConnectionManager>(connection, DataLinkProtocol::Automatic,
                                                      channel)),
          adapter(channel) {}

    // The connection a service reports on: that of the connection service it
    // was built with, when that is one of the core's, else the root's own.
    std::shared_ptr<detail::VehicleConnection> resolve(
        const std::shared_ptr<IConnectionService>& service) const {
        if (auto* ours = dynamic_cast<detail::ConnectionService*>(service.get())) {
            return ours->connection();
        }
        return connection;
    }

    const Scenario scenario;
    const std::shared_ptr<detail::EventDispatcher> dispatcher;
    const std::shared_ptr<detail::VehicleConnection> connection;
    const std::shared_ptr<ConnectionManager> manager;
    const std::shared_ptr<elm327::AdapterChannel> adapter;  // null: the in-process vehicle
};

std::shared_ptr<SimulatedQuorvix> SimulatedQuorvix::create(const Scenario& scenario) {
    return std::shared_ptr<SimulatedQuorvix>(new SimulatedQuorvix(scenario, false));
}

std::shared_ptr<SimulatedQuorvix> SimulatedQuorvix::createForAdapter() {
    return std::shared_ptr<SimulatedQuorvix>(new SimulatedQuorvix(Scenario::builtIn(), true));
}

SimulatedQuorvix::SimulatedQuorvix(const Scenario& scenario, bool adapter)
    : impl_(adapter ? std::make_unique<Impl>(scenario, std::make_shared<elm327::AdapterInfo>())
                    : std::make_unique<Impl>(scenario)) {}

SimulatedQuorvix::~SimulatedQuorvix() = default;

bool SimulatedQuorvix::openConnection() {
    return impl_->manager->openConnection(nullptr, DataLinkProtocol::Automatic, true);
}

void SimulatedQuorvix::closeConnection() {
    impl_->manager->closeConnection();
}

bool SimulatedQuorvix::isConnectionOpen() const {
    return impl_->connection->isOpen();
}

std::vector<std::uint32_t> SimulatedQuorvix::getEcuAddresses() const {
    return impl_->connection->ecus();
}

bool SimulatedQuorvix::selectEcu(std::uint32_t address) {
    return impl_->connection->selectEcu(address);
}

void SimulatedQuorvix::setMultiPidRequests(bool enabled) {
    impl_->connection->setMultiPidRequests(enabled);
}

std::uint32_t SimulatedQuorvix::getSelectedEcu() const {
    return impl_->connection->selectedEcu();
}

const Scenario& SimulatedQuorvix::getScenario() const {
    return impl_->scenario;
}

std::string SimulatedQuorvix::lastAdapterError() const {
    return impl_->adapter ? impl_->adapter->lastError() : std::string();
}

bool SimulatedQuorvix::isAdapterLost() const {
    return impl_->adapter && impl_->adapter->dropped();
}

std::shared_ptr<IConnectionManager> SimulatedQuorvix::getConnectionManager() {
    return impl_->manager;
}

std::shared_ptr<IConnectionService> SimulatedQuorvix::createConnectionService() {
    return std::make_shared<detail::ConnectionService>(impl_->connection);
}

std::shared_ptr<IEcuService> SimulatedQuorvix::createEcuService(
    std::shared_ptr<IConnectionService> connection) {
    return std::make_shared<detail::EcuService>(impl_->resolve(connection));
}

std::shared_ptr<ISensorService> SimulatedQuorvix::createSensorService(
    std::shared_ptr<IConnectionService> connection) {
    return std::make_shared<detail::SensorService>(impl_->resolve(connection));
}

std::shared_ptr<ITroubleCodeService> SimulatedQuorvix::createTroubleCodeService(
    std::shared_ptr<IConnectionService> connection) {
    return std::make_shared<detail::TroubleCodeService>(impl_->resolve(connection));
}

std::shared_ptr<IDiagnosticsService> SimulatedQuorvix::createDiagnosticsService(
    std::shared_ptr<IConnectionService> connection) {
    return std::make_shared<detail::DiagnosticsService>(impl_->resolve(connection));
}

std::shared_ptr<IRoutineService> SimulatedQuorvix::createRoutineService(
    std::shared_ptr<IConnectionService> connection) {
    return std::make_shared<detail::RoutineService>(impl_->resolve(connection));
}

std::shared_ptr<ITroubleshootingService> SimulatedQuorvix::createTroubleshootingService(
    std::shared_ptr<IConnectionService> connection) {
    return std::make_shared<detail::TroubleshootingService>(impl_->resolve(connection));
}

}  // namespace obd::sim
