#pragma once

// The troubleshooting service: commands sent to the adapter as text, and a
// data log of every request and answer for the attached observers.
//
// Thread safety: every operation may be called from any thread. Log entries
// reach observers on the core's event thread in the order of the exchanges,
// never from inside a call; after detach() has returned an observer hears
// nothing more.
//
// Ownership: built from the root and a connection service by
// TroubleshootingServiceBuilder; it keeps the connection alive. Observers are
// not owned and must be detached before they are destroyed.

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
    // Starts reporting every request and answer to the observers.
    virtual void enableDataLog() = 0;
    // True while the data log is enabled.
    virtual bool isDataLogEnabled() const = 0;
    // Stops the data log.
    virtual void disableDataLog() = 0;
};

}  // namespace obd
