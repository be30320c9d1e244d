#pragma once

// The core's root object, from which the service builders make every
// service.
//
// Thread safety: every operation may be called from any thread.
//
// Ownership: the application creates the root and keeps it as a shared
// pointer. Services built from it keep what they need alive, so the root may
// go before them; each service built from a connection service reports on that
// service's connection.

#include <memory>

#include "Export.h"
#include "IConnectionManager.h"
#include "IConnectionService.h"
#include "IDiagnosticsService.h"
#include "IEcuService.h"
#include "IRoutineService.h"
#include "ISensorService.h"
#include "ITroubleCodeService.h"
#include "ITroubleshootingService.h"

namespace obd {

// The core's root object. The application creates one and keeps it; the
// service builders ask it for services. Every service built from a connection
// service reports on that service's connection.
class OBD_API IQuorvix {
public:
    virtual ~IQuorvix();

    // The connection manager of the root's vehicle connection.
    virtual std::shared_ptr<IConnectionManager> getConnectionManager() = 0;
    // A new connection service (see ConnectionServiceBuilder).
    virtual std::shared_ptr<IConnectionService> createConnectionService() = 0;
    // A new ECU service over `connection`.
    virtual std::shared_ptr<IEcuService> createEcuService(
        std::shared_ptr<IConnectionService> connection) = 0;
    // A new sensor service over `connection`.
    virtual std::shared_ptr<ISensorService> createSensorService(
        std::shared_ptr<IConnectionService> connection) = 0;
    // A new trouble code service over `connection`.
    virtual std::shared_ptr<ITroubleCodeService> createTroubleCodeService(
        std::shared_ptr<IConnectionService> connection) = 0;
    // A new diagnostics service over `connection`.
    virtual std::shared_ptr<IDiagnosticsService> createDiagnosticsService(
        std::shared_ptr<IConnectionService> connection) = 0;
    // A new routine service over `connection`.
    virtual std::shared_ptr<IRoutineService> createRoutineService(
        std::shared_ptr<IConnectionService> connection) = 0;
    // A new troubleshooting service over `connection`.
    virtual std::shared_ptr<ITroubleshootingService> createTroubleshootingService(
        std::shared_ptr<IConnectionService> connection) = 0;
};

}  // namespace obd
