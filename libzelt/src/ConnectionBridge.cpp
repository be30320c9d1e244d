#include "zelt/ConnectionBridge.h"

#include <utility>

namespace zelt {

// Interfaces' key functions: their type information lives in the library.
IReadableBridge::~IReadableBridge() = default;
IWritableBridge::~IWritableBridge() = default;
IDuplexBridge::~IDuplexBridge() = default;

namespace {

// What one bridge registered with the manager, undone when the last bridge
// sharing it lets go. It keeps its own references, so undoing works even after
// the bridge that made it was assigned another manager.
class Registration {
public:
    Registration(std::shared_ptr<obd::IConnectionManager> manager,
                 obd::IConnectionPhaseListener* listener,
                 std::shared_ptr<obd::IDataBridge> dataBridge)
        : manager_(std::move(manager)), listener_(listener), dataBridge_(std::move(dataBridge)) {}

    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

    // Undoes only the steps of registerAll() that succeeded.
    ~Registration() {
        if (listenerAdded_) {
            manager_->removePhaseListener(listener_);
        }
        if (bridgeAttached_) {
            manager_->detachBridge(dataBridge_);
        }
    }

    void registerAll() {
        manager_->attachBridge(dataBridge_);
        bridgeAttached_ = true;
        manager_->addPhaseListener(listener_);
        listenerAdded_ = true;
    }

private:
    const std::shared_ptr<obd::IConnectionManager> manager_;
    obd::IConnectionPhaseListener* const listener_;
    const std::shared_ptr<obd::IDataBridge> dataBridge_;
    bool bridgeAttached_ = false;
    bool listenerAdded_ = false;
};

}  // namespace

ConnectionBridge::ConnectionBridge(std::shared_ptr<obd::IConnectionManager> manager,
                                   obd::IConnectionPhaseListener* listener)
    : manager_(std::move(manager)),
      listener_(listener),
      dataBridge_(std::make_shared<obd::DataBridge>()) {
    // Made before the manager is called, so that nothing is registered when
    // memory runs out.
    auto registration = std::make_shared<Registration>(manager_, listener_, dataBridge_);
    registration_ = registration;
    registration->registerAll();
}

ConnectionBridge::ConnectionBridge(const ConnectionBridge& other) = default;

// The registration this bridge shared is released last, after the members
// have taken the other's, and undone if no other bridge still shares it.
ConnectionBridge& ConnectionBridge::operator=(const ConnectionBridge& other) = default;

ConnectionBridge::~ConnectionBridge() = default;

bool ConnectionBridge::connect(obd::DataLinkProtocol protocol, bool flag) {
    return manager_->openConnection(getConnection(), protocol, flag);
}

void ConnectionBridge::disconnect() {
    manager_->closeConnection();
}

std::shared_ptr<obd::IDataConnection> ConnectionBridge::getConnection() const {
    return dataBridge_;
}

bool ConnectionBridge::invalidate() {
    return dataBridge_->invalidate();
}

bool ConnectionBridge::isValid() const {
    return dataBridge_->isValid();
}

bool ConnectionBridge::read(std::vector<std::uint8_t>& data) {
    return dataBridge_->get(data);
}

void ConnectionBridge::write(const std::vector<std::uint8_t>& data) {
    dataBridge_->set(data);
}

}  // namespace zelt
