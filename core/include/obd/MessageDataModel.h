#pragma once

// An entry of the troubleshooting data log.
//
// Thread safety and ownership: a plain structure without synchronisation; the
// core builds each entry once, never changes it afterwards and shares it with
// the observers, which may keep it.

#include <cstdint>
#include <string>

#include "Export.h"

namespace obd {

// Which way a troubleshooting data log entry went.
enum class MessageDirection : std::int32_t {
    Request = 0,   // sent to the adapter or vehicle
    Response = 1,  // received from it
    Info = 2,      // a note of the core's own
};

// One entry of the troubleshooting data log.
struct OBD_API MessageDataModel {
    std::uint64_t sequence = 0;  // increases by one per entry of one service
    MessageDirection direction = MessageDirection::Info;  // which way the entry went
    std::string text;                                     // the request or answer as text
};

}  // namespace obd
