#pragma once

// The interface through which the troubleshooting data log's entries arrive.
//
// Thread safety: the core calls onLogEntryAdded() on its own event thread, one
// entry at a time, never from inside a service call.
//
// Ownership: the observer belongs to whoever attached it; each entry is a new
// record shared with the observer, which may keep it.

#include <memory>

#include "Export.h"
#include "MessageDataModel.h"

namespace obd {

// Receives the troubleshooting data log's entries while the log is enabled.
class OBD_API ITroubleshootingServiceObserver {
public:
    virtual ~ITroubleshootingServiceObserver();

    // Called once per entry; ignores the entry unless overridden.
    virtual void onLogEntryAdded(const std::shared_ptr<MessageDataModel>& entry);
};

}  // namespace obd
