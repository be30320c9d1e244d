#include "root/ConnectionManager.h"

#include <algorithm>

namespace obd::detail {

ConnectionManager::ConnectionManager(std::shared_ptr<VehicleConnection> vehicle,
                                     DataLinkProtocol vehicleProtocol,
                                     std::shared_ptr<elm327::AdapterChannel> adapter)
    : vehicle_(std::move(vehicle)),
      vehicleProtocol_(vehicleProtocol),
      listeners_(std::make_shared<Listeners>()),
      adapter_(std::move(adapter)) {}

ConnectionManager::~ConnectionManager() = default;

ConnectionPhase ConnectionManager::getPhase() const {
    orvane::MutexLock lock(mutex_);
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
        orvane::MutexLock lock(mutex_);
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
    bool opened = false;
    {
        orvane::MutexLock open(openMutex_);
        opened = openLocked(connection, protocol, searchOtherProtocols);
    }
    vehicle_->dispatcher()->flush();
    return opened;
}

bool ConnectionManager::openLocked(const std::shared_ptr<IDataConnection>& connection,
                                   DataLinkProtocol protocol, bool searchOtherProtocols) {
    if (vehicle_->isOpen()) {
        return true;
    }
    {
        orvane::MutexLock lock(mutex_);
        dataConnection_ = connection;
    }
    setPhase(ConnectionPhase::InitialisingAdapter);
    if (adapter_) {
        return openAdapter(connection, protocol, searchOtherProtocols);
    }
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

bool ConnectionManager::openAdapter(const std::shared_ptr<IDataConnection>& connection,
                                    DataLinkProtocol protocol, bool searchOtherProtocols) {
    // The adapter may stop answering in the middle of any request; the
    // connection is then closed from the dispatcher thread, never from
    // inside the request that noticed.
    std::weak_ptr<ConnectionManager> self = weak_from_this();
    std::weak_ptr<EventDispatcher> dispatcher = vehicle_->dispatcher();
    adapter_->setDropHandler([self, dispatcher](const std::string&) {
        if (auto alive = dispatcher.lock()) {
            alive->post([self] {
                if (auto manager = self.lock()) {
                    manager->closeConnection();
                }
            });
        }
    });
    if (protocol == DataLinkProtocol::Automatic) {
        setPhase(ConnectionPhase::SearchingProtocol);
    }
    if (!adapter_->start(connection, protocol, searchOtherProtocols, getTimeout())) {
        setPhase(ConnectionPhase::Failed);
        return false;
    }
    const bool opened = vehicle_->open();
    if (!opened) {
        adapter_->stop();
    }
    setPhase(opened ? ConnectionPhase::Open : ConnectionPhase::Failed);
    return opened;
}

bool ConnectionManager::isConnectionOpen() const {
    return vehicle_->isOpen();
}

void ConnectionManager::closeConnection() {
    {
        orvane::MutexLock open(openMutex_);
        closeLocked();
    }
    vehicle_->dispatcher()->flush();
}

void ConnectionManager::closeLocked() {
    if (!vehicle_->isOpen()) {
        return;
    }
    setPhase(ConnectionPhase::Closing);
    vehicle_->close();
    if (adapter_) {
        adapter_->stop();
    }
    {
        orvane::MutexLock lock(mutex_);
        dataConnection_.reset();
    }
    setPhase(ConnectionPhase::Closed);
}

DataLinkProtocol ConnectionManager::getProtocol() const {
    if (!vehicle_->isOpen()) {
        return DataLinkProtocol::Automatic;
    }
    return adapter_ ? vehicle_->adapter()->getProtocol() : vehicleProtocol_;
}

void ConnectionManager::setTimeout(std::int32_t milliseconds) {
    {
        orvane::MutexLock lock(mutex_);
        timeout_ = milliseconds;
    }
    if (adapter_) {
        adapter_->setTimeout(milliseconds);
    }
}

std::int32_t ConnectionManager::getTimeout() const {
    orvane::MutexLock lock(mutex_);
    return timeout_;
}

std::shared_ptr<IAdapter> ConnectionManager::getAdapter() const {
    return vehicle_->adapter();
}

void ConnectionManager::attachBridge(const std::shared_ptr<IDataBridge>& bridge) {
    orvane::MutexLock lock(mutex_);
    bridges_.push_back(bridge);
}

void ConnectionManager::detachBridge(const std::shared_ptr<IDataBridge>& bridge) {
    orvane::MutexLock lock(mutex_);
    bridges_.erase(std::remove(bridges_.begin(), bridges_.end(), bridge), bridges_.end());
}

}  // namespace obd::detail
