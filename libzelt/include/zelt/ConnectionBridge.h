#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "obd/DataBridge.h"
#include "obd/DataLinkProtocol.h"
#include "obd/IConnectionManager.h"
#include "zelt/Export.h"
#include "zelt/IDuplexBridge.h"

namespace zelt {

// Lets the application carry the raw bytes of a vehicle connection itself:
// the bridge owns a core data bridge, registers it and the application's
// phase listener with the connection manager, and hands the data bridge's
// connection end to the manager on connect(). The application moves bytes
// with read() (towards the vehicle) and write() (from the vehicle).
//
// Copies share the manager, the listener and the data bridge, and also the
// one registration: it is undone (removePhaseListener, then detachBridge)
// when the last bridge that shares it is destroyed or assigned over. Copying
// calls nothing on the manager. The listener (not owned) must stay alive
// until then.
//
// Thread safety: the bridge holds no lock and no state of its own; concurrent
// calls meet in the core's data bridge and manager. One bridge object must not
// be assigned while another thread uses it.
class ZELT_API ConnectionBridge : public IDuplexBridge {
public:
    // Creates the data bridge, then attaches it to `manager` and adds
    // `listener` (null too) as a phase listener, in that order. If the
    // listener cannot be added, the data bridge is detached again.
    // REQUIRES: manager != nullptr.
    ConnectionBridge(std::shared_ptr<obd::IConnectionManager> manager,
                     obd::IConnectionPhaseListener* listener);
    // A copy that shares the manager, the listener, the data bridge and the registration.
    ConnectionBridge(const ConnectionBridge& other);
    // Shares `other`'s manager, listener, data bridge and registration; drops this bridge's share.
    ConnectionBridge& operator=(const ConnectionBridge& other);
    ~ConnectionBridge() override;

    // Opens the vehicle connection over this bridge's data connection; the
    // manager's answer, unchanged.
    bool connect(obd::DataLinkProtocol protocol, bool flag);
    // Closes the vehicle connection.
    void disconnect();

    std::shared_ptr<obd::IDataConnection> getConnection() const override;
    // Marks the data bridge dead; whether it was valid before.
    bool invalidate();
    bool isValid() const override;
    bool read(std::vector<std::uint8_t>& data) override;
    void write(const std::vector<std::uint8_t>& data) override;

private:
    std::shared_ptr<obd::IConnectionManager> manager_;
    obd::IConnectionPhaseListener* listener_;
    std::shared_ptr<obd::DataBridge> dataBridge_;
    // What the constructor registered with the manager, shared by every copy
    // and undone when the last one lets go. Its type is private to the
    // library, so that none of its machinery is exported.
    std::shared_ptr<void> registration_;
};

}  // namespace zelt
