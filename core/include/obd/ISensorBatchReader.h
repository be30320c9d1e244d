#pragma once

#include <memory>
#include <vector>

#include "ParameterIdentifier.h"
#include "SensorDataModel.h"

namespace obd {

// An optional capability of a sensor service: reading the sensors of several
// parameters in one call, which the service may carry in fewer vehicle
// requests than one per parameter (on CAN, up to six PIDs share a request).
// A client finds it with std::dynamic_pointer_cast on its ISensorService; a
// service without it is read one parameter at a time with getSensors, and
// the answers are the same either way.
//
// Thread safety: as the sensor service that offers it.
class ISensorBatchReader {
public:
    virtual ~ISensorBatchReader() = default;

    // For each of `pids`, in the order asked, the parameter's sensors read
    // now, as ISensorService::getSensors would give them: empty where the
    // vehicle has no such parameter. A PID asked twice is read once.
    virtual std::vector<std::vector<std::shared_ptr<SensorDataModel>>> readSensors(
        const std::vector<ParameterIdentifier::Id>& pids) = 0;
};

}  // namespace obd
