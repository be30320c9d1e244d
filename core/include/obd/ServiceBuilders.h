#pragma once

// The builder functions that make the core's services from its root.
//
// Thread safety: every builder may be called from any thread.
//
// Ownership: each call returns a new service as a shared pointer that belongs
// to the caller. A service keeps the connection service it was built with (and
// through it the vehicle connection) alive; it does not keep the root.

#include <memory>

#include "Export.h"
#include "IQuorvix.h"

// Free functions that build the core's services from its root object.
namespace obd {

namespace ConnectionServiceBuilder {
// A new connection service over the root's vehicle connection.
OBD_API std::shared_ptr<IConnectionService> create(const std::shared_ptr<IQuorvix>& root);
}  // namespace ConnectionServiceBuilder

namespace EcuServiceBuilder {
// A new ECU service that reports on `connection`.
OBD_API std::shared_ptr<IEcuService> create(const std::shared_ptr<IQuorvix>& root,
                                            std::shared_ptr<IConnectionService> connection);
}  // namespace EcuServiceBuilder

namespace SensorServiceBuilder {
// A new sensor service that reports on `connection`.
OBD_API std::shared_ptr<ISensorService> create(const std::shared_ptr<IQuorvix>& root,
                                               std::shared_ptr<IConnectionService> connection);
}  // namespace SensorServiceBuilder

namespace TroubleCodeServiceBuilder {
// A new trouble code service that reports on `connection`.
OBD_API std::shared_ptr<ITroubleCodeService> create(const std::shared_ptr<IQuorvix>& root,
                                                    std::shared_ptr<IConnectionService> connection);
}  // namespace TroubleCodeServiceBuilder

namespace DiagnosticsServiceBuilder {
// A new diagnostics service that reports on `connection`.
OBD_API std::shared_ptr<IDiagnosticsService> create(const std::shared_ptr<IQuorvix>& root,
                                                    std::shared_ptr<IConnectionService> connection);
}  // namespace DiagnosticsServiceBuilder

namespace RoutineServiceBuilder {
// A new routine service that reports on `connection`.
OBD_API std::shared_ptr<IRoutineService> create(const std::shared_ptr<IQuorvix>& root,
                                                std::shared_ptr<IConnectionService> connection);
}  // namespace RoutineServiceBuilder

namespace TroubleshootingServiceBuilder {
// A new troubleshooting service over `connection`'s adapter.
OBD_API std::shared_ptr<ITroubleshootingService> create(
    const std::shared_ptr<IQuorvix>& root, std::shared_ptr<IConnectionService> connection);
}  // namespace TroubleshootingServiceBuilder

}  // namespace obd
