#include "obd/VehicleRoot.h"

#include "root/Root.h"

namespace obd {

VehicleRoot::VehicleRoot(std::unique_ptr<detail::Root> root) : root_(std::move(root)) {}

VehicleRoot::~VehicleRoot() = default;

void VehicleRoot::closeConnection() {
    root_->manager()->closeConnection();
}

bool VehicleRoot::isConnectionOpen() const {
    return root_->connection()->isOpen();
}

std::vector<std::uint32_t> VehicleRoot::getEcuAddresses() const {
    return root_->connection()->ecus();
}

bool VehicleRoot::selectEcu(std::uint32_t address) {
    const auto& connection = root_->connection();
    const bool selected = connection->selectEcu(address);
    // The caches of the previous ECU are emptied before the caller reads.
    // Selecting the selected ECU again changes nothing and waits for nothing,
    // unless another call's change is still on its way to the observers.
    if (connection->eventsUnderway()) {
        connection->dispatcher()->flush();
    }
    return selected;
}

std::uint32_t VehicleRoot::getSelectedEcu() const {
    return root_->connection()->selectedEcu();
}

void VehicleRoot::setMultiPidRequests(bool enabled) {
    root_->connection()->setMultiPidRequests(enabled);
}

void VehicleRoot::beginSnapshot() {
    root_->connection()->answerMemo().hold();
}

void VehicleRoot::endSnapshot() {
    root_->connection()->answerMemo().release();
}

std::shared_ptr<IConnectionManager> VehicleRoot::getConnectionManager() {
    return root_->manager();
}

std::shared_ptr<IConnectionService> VehicleRoot::createConnectionService() {
    return root_->createConnectionService();
}

std::shared_ptr<IEcuService> VehicleRoot::createEcuService(
    std::shared_ptr<IConnectionService> connection) {
    return root_->createEcuService(connection);
}

std::shared_ptr<ISensorService> VehicleRoot::createSensorService(
    std::shared_ptr<IConnectionService> connection) {
    return root_->createSensorService(connection);
}

std::shared_ptr<ITroubleCodeService> VehicleRoot::createTroubleCodeService(
    std::shared_ptr<IConnectionService> connection) {
    return root_->createTroubleCodeService(connection);
}

std::shared_ptr<IDiagnosticsService> VehicleRoot::createDiagnosticsService(
    std::shared_ptr<IConnectionService> connection) {
    return root_->createDiagnosticsService(connection);
}

std::shared_ptr<IRoutineService> VehicleRoot::createRoutineService(
    std::shared_ptr<IConnectionService> connection) {
    return root_->createRoutineService(connection);
}

std::shared_ptr<ITroubleshootingService> VehicleRoot::createTroubleshootingService(
    std::shared_ptr<IConnectionService> connection) {
    return root_->createTroubleshootingService(connection);
}

void VehicleRoot::setProfile(std::shared_ptr<const VehicleProfile> profile) {
    root_->profiles()->setProfile(std::move(profile));
}

std::shared_ptr<const VehicleProfile> VehicleRoot::getProfile() const {
    return root_->profiles()->getProfile();
}

std::string VehicleRoot::getMissingReason(ParameterIdentifier::Id pid) const {
    return root_->profiles()->getMissingReason(pid);
}

ModuleCodes VehicleRoot::readModuleCodes(std::size_t ecu) {
    return root_->profiles()->readModuleCodes(ecu);
}

ModuleClearing VehicleRoot::clearModuleCodes(std::size_t ecu) {
    return root_->profiles()->clearModuleCodes(ecu);
}

}  // namespace obd
