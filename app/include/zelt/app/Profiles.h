#pragma once

// The vehicle profile of a scan (--profile): its parameters read by name,
// its ECUs' manufacturer data and UDS trouble codes in the report.

#include <memory>
#include <string>
#include <vector>

#include "Report.h"
#include "Session.h"
#include "obd/VehicleProfile.h"

namespace zelt::scan {

// Gives `profile` to the session's root (null: nothing to do).
void UseProfile(Session& session, const std::shared_ptr<const obd::VehicleProfile>& profile);

// The session's profile, null without one.
std::shared_ptr<const obd::VehicleProfile> ProfileOf(Session& session);
// Why a profile parameter has no value now ("request out of range (0x31)");
// empty for other parameters.
std::string MissingReason(Session& session, obd::ParameterIdentifier::Id pid);

// Reads every profile ECU's parameters and trouble codes into `report`.
void ScanProfile(Session& session, Report& report);
// Clears every profile ECU's codes and reads them again.
void ClearProfileCodes(Session& session, Report& report);

}  // namespace zelt::scan
