#include "obd/ITroubleshootingServiceObserver.h"

namespace obd {

void ITroubleshootingServiceObserver::onLogEntryAdded(const std::shared_ptr<MessageDataModel>&) {}

}  // namespace obd
