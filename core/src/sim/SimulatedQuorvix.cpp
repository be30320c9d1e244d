#include "obd/sim/SimulatedQuorvix.h"

#include "Root.h"
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
          root(std::make_shared<SimulatedBus>(*scenario.model()),
               std::make_shared<SimulatedAdapter>(scenario.model()->adapter,
                                                  scenario.model()->protocol),
               scenario.model()->protocol) {}

    const Scenario scenario;
    detail::Root root;
};

std::shared_ptr<SimulatedQuorvix> SimulatedQuorvix::create(const Scenario& scenario) {
    return std::shared_ptr<SimulatedQuorvix>(new SimulatedQuorvix(scenario));
}

SimulatedQuorvix::SimulatedQuorvix(const Scenario& scenario)
    : impl_(std::make_unique<Impl>(scenario)) {}

SimulatedQuorvix::~SimulatedQuorvix() = default;

bool SimulatedQuorvix::openConnection() {
    return impl_->root.manager()->openConnection(nullptr, DataLinkProtocol::Automatic, true);
}

void SimulatedQuorvix::closeConnection() {
    impl_->root.manager()->closeConnection();
}

bool SimulatedQuorvix::isConnectionOpen() const {
    return impl_->root.connection()->isOpen();
}

std::vector<std::uint32_t> SimulatedQuorvix::getEcuAddresses() const {
    return impl_->root.connection()->ecus();
}

bool SimulatedQuorvix::selectEcu(std::uint32_t address) {
    return impl_->root.connection()->selectEcu(address);
}

void SimulatedQuorvix::setMultiPidRequests(bool enabled) {
    impl_->root.connection()->setMultiPidRequests(enabled);
}

void SimulatedQuorvix::beginSnapshot() {
    impl_->root.connection()->answerMemo().hold();
}

void SimulatedQuorvix::endSnapshot() {
    impl_->root.connection()->answerMemo().release();
}

std::uint32_t SimulatedQuorvix::getSelectedEcu() const {
    return impl_->root.connection()->selectedEcu();
}

const Scenario& SimulatedQuorvix::getScenario() const {
    return impl_->scenario;
}

std::shared_ptr<IConnectionManager> SimulatedQuorvix::getConnectionManager() {
    return impl_->root.manager();
}

std::shared_ptr<IConnectionService> SimulatedQuorvix::createConnectionService() {
    return impl_->root.createConnectionService();
}

std::shared_ptr<IEcuService> SimulatedQuorvix::createEcuService(
    std::shared_ptr<IConnectionService> connection) {
    return impl_->root.createEcuService(connection);
}

std::shared_ptr<ISensorService> SimulatedQuorvix::createSensorService(
    std::shared_ptr<IConnectionService> connection) {
    return impl_->root.createSensorService(connection);
}

std::shared_ptr<ITroubleCodeService> SimulatedQuorvix::createTroubleCodeService(
    std::shared_ptr<IConnectionService> connection) {
    return impl_->root.createTroubleCodeService(connection);
}

std::shared_ptr<IDiagnosticsService> SimulatedQuorvix::createDiagnosticsService(
    std::shared_ptr<IConnectionService> connection) {
    return impl_->root.createDiagnosticsService(connection);
}

std::shared_ptr<IRoutineService> SimulatedQuorvix::createRoutineService(
    std::shared_ptr<IConnectionService> connection) {
    return impl_->root.createRoutineService(connection);
}

std::shared_ptr<ITroubleshootingService> SimulatedQuorvix::createTroubleshootingService(
    std::shared_ptr<IConnectionService> connection) {
    return impl_->root.createTroubleshootingService(connection);
}

void SimulatedQuorvix::setProfile(std::shared_ptr<const VehicleProfile> profile) {
    impl_->root.profiles()->setProfile(std::move(profile));
}

std::shared_ptr<const VehicleProfile> SimulatedQuorvix::getProfile() const {
    return impl_->root.profiles()->getProfile();
}

std::string SimulatedQuorvix::getMissingReason(ParameterIdentifier::Id pid) const {
    return impl_->root.profiles()->getMissingReason(pid);
}

ModuleCodes SimulatedQuorvix::readModuleCodes(std::size_t ecu) {
    return impl_->root.profiles()->readModuleCodes(ecu);
}

ModuleClearing SimulatedQuorvix::clearModuleCodes(std::size_t ecu) {
    return impl_->root.profiles()->clearModuleCodes(ecu);
}

}  // namespace obd::sim
