#pragma once

#include <memory>
#include <vector>

#include "Export.h"
#include "TestRoutineDataModel.h"

namespace obd {

// On-board test routines of the selected ECU (service 08).
class OBD_API IRoutineService {
public:
    virtual ~IRoutineService();

    virtual bool isTestRoutineSupported(int id) = 0;
    // One record per routine the vehicle offers; empty when none.
    virtual std::vector<std::shared_ptr<TestRoutineDataModel>> getTestRoutines() = 0;
    // The routine's record after the activation; null when nothing was activated.
    virtual std::shared_ptr<TestRoutineDataModel> activateTestRoutine(int id) = 0;
};

}  // namespace obd
