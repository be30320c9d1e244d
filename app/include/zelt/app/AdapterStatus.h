#pragma once

#include <string>

#include "Session.h"

namespace zelt::scan {

// Why the adapter can no longer be used (its link went, or it stopped
// answering); empty while it can, and always for the in-process vehicle.
std::string AdapterGone(const Session& session);

// What the user can do about `message`, an adapter's error text or a
// message that contains one ("UNABLE TO CONNECT": is the ignition on...);
// empty when there is no advice for it.
std::string AdapterAdvice(const std::string& message);

}  // namespace zelt::scan
