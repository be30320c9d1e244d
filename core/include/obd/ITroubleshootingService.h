#pragma once

#include <string>

#include "Export.h"
#include "ITroubleshootingServiceObserver.h"
#include "orvane/Notifier.h"

namespace obd {

// Direct access to the adapter for troubleshooting: commands sent as text,
// and a data log of every request and answer, reported to the attached
// observers while it is enabled.
class OBD_API ITroubleshootingService
    : public virtual orvane::INotifier<ITroubleshootingServiceObserver> {
public:
    ~ITroubleshootingService() override;

    // Sends a command (an adapter command such as "ATI" or a request in hex
    // such as "01 0C") and returns the answer text; waits at most
    // `timeoutMilliseconds` for it.
    virtual std::string sendMessage(const std::string& message,
                                    unsigned int timeoutMilliseconds) = 0;
    virtual void enableDataLog() = 0;
    virtual bool isDataLogEnabled() const = 0;
    virtual void disableDataLog() = 0;
};

}  // namespace obd
