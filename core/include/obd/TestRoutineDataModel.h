#pragma once

// An on-board test routine (service 08) and its state.
//
// Thread safety and ownership: a plain structure without synchronisation. The
// routine service builds new records for every call and keeps no reference;
// the caller owns them and may share them between threads as long as nobody
// changes them.

#include <cstdint>
#include <string>

#include "Export.h"

namespace obd {

// Where an on-board test routine stands in this connection.
enum class TestRoutineStatus : std::int32_t {
    Available = 0,  // offered, not run in this connection
    Completed = 1,  // run and finished successfully
    Failed = 2,     // run and refused or aborted by the vehicle
};

// One on-board test routine (service 08). `id` leads the record: it is the
// routine's test id and the key the library files the routine under.
struct OBD_API TestRoutineDataModel {
    int id = 0;               // the routine's test id
    std::string name;         // the routine's name
    std::string description;  // what the routine does
    // Where the routine stands in this connection.
    TestRoutineStatus status = TestRoutineStatus::Available;
    std::string result;  // the vehicle's answer to the last activation, empty before
};

}  // namespace obd
