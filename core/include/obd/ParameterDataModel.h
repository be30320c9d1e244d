#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Export.h"
#include "ParameterIdentifier.h"
#include "SensorDataModel.h"

namespace obd {

// One parameter (PID) with its sensors in a fixed order. The core never puts a
// null element into `sensors`.
struct OBD_API ParameterDataModel {
    ParameterIdentifier::Id pid = ParameterIdentifier::Id::SupportedPids01To20;
    std::string name;
    std::vector<std::shared_ptr<SensorDataModel>> sensors;
};

}  // namespace obd
