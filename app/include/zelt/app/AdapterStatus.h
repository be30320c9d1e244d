#pragma once

#include <string>

#include "zelt/app/Export.h"
#include "zelt/app/Session.h"

namespace zelt::app {

// Why the adapter can no longer be used (its link went, or it stopped
// answering); empty while it can, and always for the in-process vehicle.
ZELT_APP_API std::string AdapterGone(const Session& session);

// What the user can do about `message`, an adapter's error text or a
// message that contains one ("UNABLE TO CONNECT": is the ignition on...);
// empty when there is no advice for it.
ZELT_APP_API std::string AdapterAdvice(const std::string& message);

}  // namespace zelt::app
