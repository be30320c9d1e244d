#pragma once

#include <memory>
#include <string>

#include "sim/VehicleModel.h"

namespace obd::sim {

// Validates scenario text and builds the vehicle model. Throws ScenarioError
// naming `source`, the JSON path and the fault; nothing is returned unless
// the whole scenario is valid.
std::shared_ptr<const VehicleModel> LoadScenario(const std::string& text,
                                                 const std::string& source);

}  // namespace obd::sim
