#pragma once

#include <memory>

#include "Export.h"
#include "IQuorvix.h"

// Free functions that build the core's services from its root object.
namespace obd {

namespace ConnectionServiceBuilder {
OBD_API std::shared_ptr<IConnectionService> create(const std::shared_ptr<IQuorvix>& root);
}

namespace EcuServiceBuilder {
OBD_API std::shared_ptr<IEcuService> create(const std::shared_ptr<IQuorvix>& root,
                                            std::shared_ptr<IConnectionService> connection);
}

namespace SensorServiceBuilder {
OBD_API std::shared_ptr<ISensorService> create(const std::shared_ptr<IQuorvix>& root,
                                               std::shared_ptr<IConnectionService> connection);
}

namespace TroubleCodeServiceBuilder {
OBD_API std::shared_ptr<ITroubleCodeService> create(const std::shared_ptr<IQuorvix>& root,
                                                    std::shared_ptr<IConnectionService> connection);
}

namespace DiagnosticsServiceBuilder {
OBD_API std::shared_ptr<IDiagnosticsService> create(const std::shared_ptr<IQuorvix>& root,
                                                    std::shared_ptr<IConnectionService> connection);
}

namespace RoutineServiceBuilder {
OBD_API std::shared_ptr<IRoutineService> create(const std::shared_ptr<IQuorvix>& root,
                                                std::shared_ptr<IConnectionService> connection);
}

namespace TroubleshootingServiceBuilder {
OBD_API std::shared_ptr<ITroubleshootingService> create(
    const std::shared_ptr<IQuorvix>& root, std::shared_ptr<IConnectionService> connection);
}

}  // namespace obd
