#pragma once

// The connection manager: opens and closes the vehicle connection over a data
// connection that the application carries, and reports the phases of opening
// and closing.
//
// Thread safety: every operation may be called from any thread; opening and
// closing are serialised. Phase listeners are called on a thread of the
// core's, never from inside a call of the manager, and not again once
// removePhaseListener() has returned.
//
// Ownership: the root owns the manager and hands it out as a shared pointer.
// The manager shares the data connection until the connection closes and
// each attached bridge until it is detached; listeners are not owned and must
// stay alive until they are removed.

#include <cstdint>
#include <memory>

#include "DataBridge.h"
#include "DataLinkProtocol.h"
#include "Export.h"
#include "IAdapter.h"

namespace obd {

// The phases a vehicle connection passes through.
enum class ConnectionPhase : std::int32_t {
    Closed = 0,
    InitialisingAdapter = 1,
    SearchingProtocol = 2,
    Open = 3,
    Closing = 4,
    Failed = 5,
};

// Learns of the connection's phases, on a thread of the core's choosing.
class OBD_API IConnectionPhaseListener {
public:
    virtual ~IConnectionPhaseListener();
    // Called when the connection enters `phase`.
    virtual void onPhaseChanged(ConnectionPhase phase) = 0;
};

// Opens and closes the vehicle connection over a data connection that the
// application carries (see DataBridge).
class OBD_API IConnectionManager {
public:
    virtual ~IConnectionManager();

    // The phase the connection is in now.
    virtual ConnectionPhase getPhase() const = 0;
    // Adds a listener for the phases of opening and closing; not owned.
    virtual void addPhaseListener(IConnectionPhaseListener* listener) = 0;
    // Removes a listener; it is not called again once this returns.
    virtual void removePhaseListener(IConnectionPhaseListener* listener) = 0;
    // Opens the connection with `protocol`; with `searchOtherProtocols` the
    // manager falls back to automatic search when that protocol fails.
    // True on success.
    virtual bool openConnection(const std::shared_ptr<IDataConnection>& connection,
                                DataLinkProtocol protocol, bool searchOtherProtocols) = 0;
    // True while the vehicle connection is open.
    virtual bool isConnectionOpen() const = 0;
    // Closes the vehicle connection; nothing happens when it is closed.
    virtual void closeConnection() = 0;
    // The data link protocol of the connection.
    virtual DataLinkProtocol getProtocol() const = 0;
    // How long to wait for a vehicle's answer, in milliseconds.
    virtual void setTimeout(std::int32_t milliseconds) = 0;
    // How long the manager waits for a vehicle's answer, in milliseconds.
    virtual std::int32_t getTimeout() const = 0;
    // The adapter of the open connection; null when none is known.
    virtual std::shared_ptr<IAdapter> getAdapter() const = 0;
    // Registers a data bridge whose traffic the manager may log; shared until detached.
    virtual void attachBridge(const std::shared_ptr<IDataBridge>& bridge) = 0;
    // Undoes attachBridge().
    virtual void detachBridge(const std::shared_ptr<IDataBridge>& bridge) = 0;
};

}  // namespace obd
