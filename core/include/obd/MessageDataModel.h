#pragma once

#include <cstdint>
#include <string>

#include "Export.h"

namespace obd {

enum class MessageDirection : std::int32_t {
    Request = 0,   // sent to the adapter or vehicle
    Response = 1,  // received from it
    Info = 2,      // a note of the core's own
};

// One entry of the troubleshooting data log.
struct OBD_API MessageDataModel {
    std::uint64_t sequence = 0;  // increases by one per entry of one service
    MessageDirection direction = MessageDirection::Info;
    std::string text;
};

}  // namespace obd
