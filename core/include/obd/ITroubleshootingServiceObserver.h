#pragma once

#include <memory>

#include "MessageDataModel.h"

namespace obd {

// Receives the troubleshooting data log's entries while the log is enabled.
class ITroubleshootingServiceObserver {
public:
    virtual ~ITroubleshootingServiceObserver() = default;

    // Called once per entry; ignores the entry unless overridden.
    virtual void onLogEntryAdded(const std::shared_ptr<MessageDataModel>& entry);
};

}  // namespace obd
