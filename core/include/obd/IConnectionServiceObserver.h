#pragma once

// The interface through which the connection's events arrive.
//
// Thread safety: the core calls the handlers on its own event thread, one at a
// time, never from inside a service call, so a handler may call the services.
//
// Ownership: the observer belongs to whoever attached it; the notifier keeps
// only a plain pointer until detach().

#include "Export.h"

namespace obd {

// Receives the vehicle connection's events. The core delivers them on a
// thread of its own, never from inside a service call.
class OBD_API IConnectionServiceObserver {
public:
    virtual ~IConnectionServiceObserver();

    // The vehicle connection opened.
    virtual void onConnectionOpened() = 0;
    // Another ECU of the vehicle was selected; what the services report now
    // comes from it.
    virtual void onEcuChanged() = 0;
    // The vehicle connection closed.
    virtual void onConnectionClosed() = 0;
};

}  // namespace obd
