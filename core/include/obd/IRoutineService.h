#pragma once

// The routine service: the on-board test routines of the selected ECU
// (service 08).
//
// Thread safety: every operation may be called from any thread; requests to
// the vehicle are serialised by the connection. The connection remembers each
// routine's last activation until it closes.
//
// Ownership: built from the root and a connection service by
// RoutineServiceBuilder; it keeps the connection alive. Every call returns new
// records that belong to the caller.

#include <memory>
#include <vector>

#include "Export.h"
#include "TestRoutineDataModel.h"

namespace obd {

// On-board test routines of the selected ECU (service 08).
class OBD_API IRoutineService {
public:
    virtual ~IRoutineService();

    // True when the vehicle offers the routine with test id `id`.
    virtual bool isTestRoutineSupported(int id) = 0;
    // One record per routine the vehicle offers; empty when none.
    virtual std::vector<std::shared_ptr<TestRoutineDataModel>> getTestRoutines() = 0;
    // The routine's record after the activation; null when nothing was activated.
    virtual std::shared_ptr<TestRoutineDataModel> activateTestRoutine(int id) = 0;
};

}  // namespace obd
