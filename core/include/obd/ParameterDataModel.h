#pragma once

// A parameter (PID) with its sensors, as the ECU and sensor services return
// it.
//
// Thread safety and ownership: a plain structure without synchronisation. The
// services build new records for every call and keep no reference; the caller
// owns them and may share them between threads as long as nobody changes
// them.

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
    // The parameter's identifier.
    ParameterIdentifier::Id pid = ParameterIdentifier::Id::SupportedPids01To20;
    std::string name;  // the parameter's name, e.g. "Engine Speed"
    std::vector<std::shared_ptr<SensorDataModel>> sensors;  // the parameter's sensors, never null
};

}  // namespace obd
