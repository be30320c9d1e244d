#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bus/RequestChannel.h"
#include "elm327/AdapterChannel.h"
#include "events/EventDispatcher.h"
#include "obd/IAdapter.h"
#include "obd/IQuorvix.h"
#include "profiles/ProfileHost.h"
#include "root/ConnectionManager.h"
#include "services/Services.h"
#include "services/VehicleConnection.h"

namespace obd::detail {

// What every root of the core is made of: the vehicle connection over a
// request channel, its event thread, its connection manager, and the
// services built over them. The simulated root and the adapter root differ
// only in the channel they give it.
//
// Thread safety: every operation may be called from any thread.
class Root {
public:
    // Over the in-process vehicle: requests travel over `vehicle`.
    Root(const std::shared_ptr<IRequestChannel>& vehicle, std::shared_ptr<IAdapter> adapter,
         DataLinkProtocol protocol);
    // Over an ELM327-compatible adapter on a data connection the application
    // gives the connection manager.
    Root(const std::shared_ptr<elm327::AdapterChannel>& channel,
         std::shared_ptr<elm327::AdapterInfo> info);

    const std::shared_ptr<VehicleConnection>& connection() const { return connection_; }
    const std::shared_ptr<ConnectionManager>& manager() const { return manager_; }
    // Null for the in-process vehicle.
    const std::shared_ptr<elm327::AdapterChannel>& adapter() const { return adapter_; }
    // The vehicle profile and its reading, shared by the sensor services.
    const std::shared_ptr<ProfileHost>& profiles() const { return profiles_; }

    // The connection a service reports on: that of the connection service it
    // was built with, when that is one of the core's, else the root's own.
    std::shared_ptr<VehicleConnection> resolve(
        const std::shared_ptr<IConnectionService>& service) const;

    // The services of IQuorvix, each over resolve(connection).
    std::shared_ptr<IConnectionService> createConnectionService();
    std::shared_ptr<IEcuService> createEcuService(
        const std::shared_ptr<IConnectionService>& connection);
    std::shared_ptr<ISensorService> createSensorService(
        const std::shared_ptr<IConnectionService>& connection);
    std::shared_ptr<ITroubleCodeService> createTroubleCodeService(
        const std::shared_ptr<IConnectionService>& connection);
    std::shared_ptr<IDiagnosticsService> createDiagnosticsService(
        const std::shared_ptr<IConnectionService>& connection);
    std::shared_ptr<IRoutineService> createRoutineService(
        const std::shared_ptr<IConnectionService>& connection);
    std::shared_ptr<ITroubleshootingService> createTroubleshootingService(
        const std::shared_ptr<IConnectionService>& connection);

private:
    const std::shared_ptr<EventDispatcher> dispatcher_;
    const std::shared_ptr<VehicleConnection> connection_;
    const std::shared_ptr<ConnectionManager> manager_;
    const std::shared_ptr<elm327::AdapterChannel> adapter_;
    const std::shared_ptr<ProfileHost> profiles_;
};

}  // namespace obd::detail
