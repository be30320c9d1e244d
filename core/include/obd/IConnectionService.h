#pragma once

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
