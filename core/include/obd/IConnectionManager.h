#pragma once

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
    virtual void onPhaseChanged(ConnectionPhase phase) = 0;
};

// Opens and closes the vehicle connection over a data connection that the
// application carries (see DataBridge).
class OBD_API IConnectionManager {
public:
    virtual ~IConnectionManager();

    virtual ConnectionPhase getPhase() const = 0;
    virtual void addPhaseListener(IConnectionPhaseListener* listener) = 0;
    virtual void removePhaseListener(IConnectionPhaseListener* listener) = 0;
    // Opens the connection with `protocol`; with `searchOtherProtocols` the
    // manager falls back to automatic search when that protocol fails.
    // True on success.
    virtual bool openConnection(const std::shared_ptr<IDataConnection>& connection,
                                DataLinkProtocol protocol, bool searchOtherProtocols) = 0;
    virtual bool isConnectionOpen() const = 0;
    virtual void closeConnection() = 0;
    virtual DataLinkProtocol getProtocol() const = 0;
    virtual void setTimeout(std::int32_t milliseconds) = 0;
    virtual std::int32_t getTimeout() const = 0;
    virtual std::shared_ptr<IAdapter> getAdapter() const = 0;
    virtual void attachBridge(const std::shared_ptr<IDataBridge>& bridge) = 0;
    virtual void detachBridge(const std::shared_ptr<IDataBridge>& bridge) = 0;
};

}  // namespace obd
