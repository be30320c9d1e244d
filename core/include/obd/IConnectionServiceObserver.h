#pragma once

#include "Export.h"

namespace obd {

// Receives the vehicle connection's events. The core delivers them on a
// thread of its own, never from inside a service call.
class OBD_API IConnectionServiceObserver {
public:
    virtual ~IConnectionServiceObserver();

    virtual void onConnectionOpened() = 0;
    // Another ECU of the vehicle was selected; what the services report now
    // comes from it.
    virtual void onEcuChanged() = 0;
    virtual void onConnectionClosed() = 0;
};

}  // namespace obd
