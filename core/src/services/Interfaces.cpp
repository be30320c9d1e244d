// The key functions of the core's interfaces: their type information and
// virtual tables live in the core library, once, and every other library
// refers to them there instead of carrying copies of its own.

#include "obd/DataBridge.h"
#include "obd/IAdapter.h"
#include "obd/IConnectionManager.h"
#include "obd/IConnectionService.h"
#include "obd/IConnectionServiceObserver.h"
#include "obd/IDiagnosticsService.h"
#include "obd/IEcuService.h"
#include "obd/IQuorvix.h"
#include "obd/IRoutineService.h"
#include "obd/ISensorService.h"
#include "obd/ITroubleCodeService.h"
#include "obd/ITroubleshootingService.h"
#include "obd/ITroubleshootingServiceObserver.h"

namespace obd {

IConnectionLogger::~IConnectionLogger() = default;
IDataBridge::~IDataBridge() = default;
IDataConnection::~IDataConnection() = default;
IAdapter::~IAdapter() = default;
IConnectionPhaseListener::~IConnectionPhaseListener() = default;
IConnectionManager::~IConnectionManager() = default;
IConnectionService::~IConnectionService() = default;
IConnectionServiceObserver::~IConnectionServiceObserver() = default;
IDiagnosticsService::~IDiagnosticsService() = default;
IEcuService::~IEcuService() = default;
IQuorvix::~IQuorvix() = default;
IRoutineService::~IRoutineService() = default;
ISensorService::~ISensorService() = default;
ITroubleCodeService::~ITroubleCodeService() = default;
ITroubleshootingService::~ITroubleshootingService() = default;
ITroubleshootingServiceObserver::~ITroubleshootingServiceObserver() = default;

}  // namespace obd
