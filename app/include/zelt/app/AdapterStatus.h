#pragma once

#include <string>

#include "zelt/app/Export.h"
#include "zelt/app/Session.h"

namespace zelt::app {

// Why the adapter can no longer be used (its link went, or it stopped
// answering); empty while it can, and always for the in-process vehicle.
ZELT_APP_API std::string AdapterGone(const Session& session);

// How a front end names the settings the advice may point the user to
// (zelt-scan: "--timeout (up to 60000 ms)" and "--protocol 1 to 9").
struct SettingNames {
    // Follows "give a slow adapter more time with a larger ".
    std::string timeout = "timeout (up to 60000 ms)";
    // Follows "name the protocol with ".
    std::string protocol = "an ELM327 protocol number from 1 to 9";
};

// What `message`, an adapter's status word (the ELM327's "BUSY", "CAN
// ERROR", "LV RESET", "ERR94", ...) or a message that contains one, means
// and what the user can do about it ("CAN ERROR": the adapter could not
// send or receive on the CAN bus: check that ...), naming settings as
// `names` gives them; empty when there is no advice for it.
ZELT_APP_API std::string AdapterAdvice(const std::string& message, const SettingNames& names = {});

}  // namespace zelt::app
