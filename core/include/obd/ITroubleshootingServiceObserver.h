#pragma once

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
