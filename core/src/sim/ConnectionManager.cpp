#include "sim/ConnectionManager.h"

#include <algorithm>

namespace obd::sim {

ConnectionManager::ConnectionManager(std::shared_ptr<detail::VehicleConnection> vehicle,
                                     DataLinkProtocol vehicleProtocol)
    : vehicle_(std::move(vehicle)),
      vehicleProtocol_(vehicleProtocol),
      listeners_(std::make_shared<Listeners>()) {}

ConnectionManager::~ConnectionManager() = default;

ConnectionPhase ConnectionManager::getPhase() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return phase_;
}

void ConnectionManager::addPhaseListener(IConnectionPhaseListener* listener) {
    if (listener != nullptr) {
        listeners_->add(listener);
    }
}

void ConnectionManager::removePhaseListener(IConnectionPhaseListener* listener) {
    listeners_->remove(listener);
}

void ConnectionManager::setPhase(ConnectionPhase phase) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        phase_ = phase;
    }
    std::weak_ptr<Listeners> listeners = listeners_;
    vehicle_->dispatcher()->post([listeners, phase] {
        if (std::shared_ptr<Listeners> alive = listeners.lock()) {
            alive->deliver(
                [phase](IConnectionPhaseListener& listener) { listener.onPhaseChanged(phase); });
        }
    });
}

bool ConnectionManager::openConnection(const std::shared_ptr<IDataConnection>& connection,
                                       DataLinkProtocol protocol, bool searchOtherProtocols) {
    std::lock_guard<std::mutex> open(openMutex_);
    if (vehicle_->isOpen()) {
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dataConnection_ = connection;
    }
    setPhase(ConnectionPhase::InitialisingAdapter);
    if (protocol != vehicleProtocol_) {
        if (protocol != DataLinkProtocol::Automatic && !searchOtherProtocols) {
            // The vehicle does not answer on the protocol asked for.
            setPhase(ConnectionPhase::Failed);
            return false;
        }
        setPhase(ConnectionPhase::SearchingProtocol);
    }
    const bool opened = vehicle_->open();
    setPhase(opened ? ConnectionPhase::Open : ConnectionPhase::Failed);
    return opened;
}

bool ConnectionManager::isConnectionOpen() const {
    return vehicle_->isOpen();
}

void ConnectionManager::closeConnection() {
    std::lock_guard<std::mutex> open(openMutex_);
    if (!vehicle_->isOpen()) {
        return;
    }
    setPhase(ConnectionPhase::Closing);
    vehicle_->close();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dataConnection_.reset();
    }
    setPhase(ConnectionPhase::Closed);
}

DataLinkProtocol ConnectionManager::getProtocol() const {
    return vehicle_->isOpen() ? vehicleProtocol_ : DataLinkProtocol::Automatic;
}

void ConnectionManager::setTimeout(std::int32_t milliseconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    timeout_ = milliseconds;
}

std::int32_t ConnectionManager::getTimeout() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timeout_;
}

std::shared_ptr<IAdapter> ConnectionManager::getAdapter() const {
    return vehicle_->adapter();
}

void ConnectionManager::attachBridge(const std::shared_ptr<IDataBridge>& bridge) {
    std::lock_guard<std::mutex> lock(mutex_);
    bridges_.push_back(bridge);
}

void ConnectionManager::detachBridge(const std::shared_ptr<IDataBridge>& bridge) {
    std::lock_guard<std::mutex> lock(mutex_);
    bridges_.erase(std::remove(bridges_.begin(), bridges_.end(), bridge), bridges_.end());
}

}  // namespace obd::sim
