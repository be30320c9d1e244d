#pragma once

#include <memory>
#include <vector>

#include "obd/ParameterDataModel.h"
#include "obd/ParameterIdentifier.h"
#include "obd/VehicleProfile.h"

namespace obd::detail {

// Whether `pid` names a vehicle profile's parameter rather than a J1979 PID.
inline bool IsProfileId(ParameterIdentifier::Id pid) {
    return static_cast<std::int32_t>(pid) >= kFirstProfileParameter;
}

// The profile parameters as the sensor service reads them. The profiles
// layer above implements it (ProfileHost), so that the services need not
// know how a profile is read.
class ProfileParameters {
public:
    virtual ~ProfileParameters() = default;

    virtual std::shared_ptr<const VehicleProfile> getProfile() const = 0;
    // The profile parameters among `pids` read now, in the order asked;
    // those without a value are left out.
    virtual std::vector<std::shared_ptr<ParameterDataModel>> read(
        const std::vector<ParameterIdentifier::Id>& pids) = 0;
};

}  // namespace obd::detail
