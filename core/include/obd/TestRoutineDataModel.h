#pragma once

#include <cstdint>
#include <string>

#include "Export.h"

namespace obd {

enum class TestRoutineStatus : std::int32_t {
    Available = 0,  // offered, not run in this connection
    Completed = 1,  // run and finished successfully
    Failed = 2,     // run and refused or aborted by the vehicle
};

// One on-board test routine (service 08). `id` leads the record: it is the
// routine's test id and the key the library files the routine under.
struct OBD_API TestRoutineDataModel {
    int id = 0;
    std::string name;
    std::string description;
    TestRoutineStatus status = TestRoutineStatus::Available;
    std::string result;  // the vehicle's answer to the last activation, empty before
};

}  // namespace obd
