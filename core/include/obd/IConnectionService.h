#pragma once

// The vehicle connection as the services see it, and the notifier through
// which observers learn that it opened, closed or changed its ECU.
//
// Thread safety: every operation may be called from any thread. Events reach
// observers on the core's event thread, one at a time and in the order they
// happened, never from inside a service call; after detach() has returned an
// observer hears nothing more.
//
// Ownership: built from the root by ConnectionServiceBuilder and owned through
// shared pointers by whoever holds it; every service built from it keeps it
// alive. Observers are not owned: detach an observer before destroying it
// (orvane::Observer does this in its destructor).

#include <cstdint>
#include <memory>

#include "Export.h"
#include "IAdapter.h"
#include "IConnectionServiceObserver.h"
#include "orvane/Notifier.h"

namespace obd {

// The vehicle connection as the services see it. Observers attached through
// the notifier base learn when the connection opens, closes or another ECU is
// selected.
class OBD_API IConnectionService : public virtual orvane::INotifier<IConnectionServiceObserver> {
public:
    ~IConnectionService() override;

    // True while the vehicle connection is open.
    virtual bool isConnected() const = 0;
    // The address of the ECU the services talk to, e.g. 0x7E8; 0 when none.
    virtual std::uint32_t getSelectedEcu() const = 0;
    // The adapter of the open connection; null when none is known.
    virtual std::shared_ptr<IAdapter> getAdapter() = 0;
};

}  // namespace obd
