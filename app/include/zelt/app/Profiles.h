#pragma once

// The vehicle profile of a scan (--profile): its parameters read by name,
// its ECUs' manufacturer data and UDS trouble codes in the report.

#include <memory>
#include <string>
#include <vector>

#include "obd/VehicleProfile.h"
#include "zelt/app/Export.h"
#include "zelt/app/Report.h"
#include "zelt/app/Session.h"

namespace zelt::app {

// Gives `profile` to the session's root (null: nothing to do).
ZELT_APP_API void UseProfile(Session& session,
                             const std::shared_ptr<const obd::VehicleProfile>& profile);

// The session's profile, null without one.
ZELT_APP_API std::shared_ptr<const obd::VehicleProfile> ProfileOf(Session& session);
// Why a profile parameter has no value now ("request out of range (0x31)");
// empty for other parameters.
ZELT_APP_API std::string MissingReason(Session& session, obd::ParameterIdentifier::Id pid);

// Reads every profile ECU's parameters and trouble codes into `report`.
ZELT_APP_API void ScanProfile(Session& session, Report& report);
// Clears every profile ECU's codes and reads them again.
ZELT_APP_API void ClearProfileCodes(Session& session, Report& report);

}  // namespace zelt::app
