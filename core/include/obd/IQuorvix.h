#pragma once

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

    virtual std::shared_ptr<IConnectionManager> getConnectionManager() = 0;
    virtual std::shared_ptr<IConnectionService> createConnectionService() = 0;
    virtual std::shared_ptr<IEcuService> createEcuService(
        std::shared_ptr<IConnectionService> connection) = 0;
    virtual std::shared_ptr<ISensorService> createSensorService(
        std::shared_ptr<IConnectionService> connection) = 0;
    virtual std::shared_ptr<ITroubleCodeService> createTroubleCodeService(
        std::shared_ptr<IConnectionService> connection) = 0;
    virtual std::shared_ptr<IDiagnosticsService> createDiagnosticsService(
        std::shared_ptr<IConnectionService> connection) = 0;
    virtual std::shared_ptr<IRoutineService> createRoutineService(
        std::shared_ptr<IConnectionService> connection) = 0;
    virtual std::shared_ptr<ITroubleshootingService> createTroubleshootingService(
        std::shared_ptr<IConnectionService> connection) = 0;
};

}  // namespace obd
