#pragma once

#include <memory>
#include <vector>

#include "elm327/AdapterChannel.h"
#include "events/EventDispatcher.h"
#include "events/ObserverList.h"
#include "obd/IConnectionManager.h"
#include "orvane/Mutex.h"
#include "orvane/ThreadAnnotations.h"
#include "services/VehicleConnection.h"

namespace obd::detail {

// The connection manager of every root. It keeps the data connection
// it is given and the bridges attached to it (the simulated vehicle needs
// neither: requests travel over the in-process bus), reports each phase of
// opening and closing to its listeners on the dispatcher thread, and opens
// and closes the root's vehicle connection.
//
// Protocols: Automatic always finds the vehicle's protocol; another one
// succeeds only when it is the vehicle's, or with searchOtherProtocols.
//
// With an adapter channel, requests travel through an ELM327-compatible
// adapter on the data connection given to openConnection() instead: opening
// initialises the adapter (and fails without a data connection), the
// protocol is the one the adapter found, and when the adapter stops
// answering the connection is closed as if closeConnection() were called.
//
// Opening and closing return once the connection events they caused have
// reached every observer (see EventDispatcher::flush), so that nobody reads
// a cache filled before the change; the wait happens outside the opening
// lock, so an observer that closes the connection does not deadlock.
//
// Thread safety: every operation may be called from any thread; opening and
// closing are serialised. After removePhaseListener() has returned the
// listener is not called again.
class ConnectionManager : public IConnectionManager,
                          public std::enable_shared_from_this<ConnectionManager> {
public:
    ConnectionManager(std::shared_ptr<VehicleConnection> vehicle, DataLinkProtocol vehicleProtocol,
                      std::shared_ptr<elm327::AdapterChannel> adapter = nullptr);
    ~ConnectionManager() override;

    ConnectionPhase getPhase() const override;
    void addPhaseListener(IConnectionPhaseListener* listener) override;
    void removePhaseListener(IConnectionPhaseListener* listener) override;
    bool openConnection(const std::shared_ptr<IDataConnection>& connection,
                        DataLinkProtocol protocol, bool searchOtherProtocols) override
        ORVANE_EXCLUDES(openMutex_);
    bool isConnectionOpen() const override;
    void closeConnection() override ORVANE_EXCLUDES(openMutex_);
    DataLinkProtocol getProtocol() const override;
    void setTimeout(std::int32_t milliseconds) override;
    std::int32_t getTimeout() const override;
    std::shared_ptr<IAdapter> getAdapter() const override;
    void attachBridge(const std::shared_ptr<IDataBridge>& bridge) override;
    void detachBridge(const std::shared_ptr<IDataBridge>& bridge) override;

private:
    using Listeners = ObserverList<IConnectionPhaseListener>;

    void setPhase(ConnectionPhase phase) ORVANE_REQUIRES(openMutex_);
    bool openLocked(const std::shared_ptr<IDataConnection>& connection, DataLinkProtocol protocol,
                    bool searchOtherProtocols) ORVANE_REQUIRES(openMutex_);
    void closeLocked() ORVANE_REQUIRES(openMutex_);
    bool openAdapter(const std::shared_ptr<IDataConnection>& connection, DataLinkProtocol protocol,
                     bool searchOtherProtocols) ORVANE_REQUIRES(openMutex_);

    const std::shared_ptr<VehicleConnection> vehicle_;
    const DataLinkProtocol vehicleProtocol_;
    const std::shared_ptr<Listeners> listeners_;
    const std::shared_ptr<elm327::AdapterChannel> adapter_;  // null: the in-process bus

    orvane::Mutex openMutex_;  // serialises opening and closing

    mutable orvane::Mutex mutex_ ORVANE_ACQUIRED_AFTER(openMutex_);
    ConnectionPhase phase_ ORVANE_GUARDED_BY(mutex_) = ConnectionPhase::Closed;
    std::shared_ptr<IDataConnection> dataConnection_ ORVANE_GUARDED_BY(mutex_);
    std::vector<std::shared_ptr<IDataBridge>> bridges_ ORVANE_GUARDED_BY(mutex_);
    std::int32_t timeout_ ORVANE_GUARDED_BY(mutex_) = 1000;
};

}  // namespace obd::detail
