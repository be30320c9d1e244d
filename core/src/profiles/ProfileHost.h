#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bus/PhysicalChannel.h"
#include "obd/IProfileHost.h"
#include "obd/ParameterDataModel.h"
#include "orvane/Mutex.h"
#include "orvane/ThreadAnnotations.h"
#include "services/ProfileParameters.h"
#include "services/VehicleConnection.h"

namespace obd::detail {

// A root's vehicle profile and the reading of it: parameters by UDS service
// 22 (several per request where the ECU takes it), 21 or a physical service
// 01 request; the profile ECUs' trouble codes by service 19 and their
// clearing by service 14. Requests go over the root's channel with physical
// addressing, only while the connection is open.
//
// Thread safety: every operation may be called from any thread.
class ProfileHost : public IProfileHost, public ProfileParameters {
public:
    // `channel` null: the root cannot address one module (profiles read as
    // missing, with that reason).
    ProfileHost(std::shared_ptr<uds::IPhysicalChannel> channel,
                std::shared_ptr<VehicleConnection> connection);

    void setProfile(std::shared_ptr<const VehicleProfile> profile) override ORVANE_EXCLUDES(mutex_);
    std::shared_ptr<const VehicleProfile> getProfile() const override ORVANE_EXCLUDES(mutex_);
    std::string getMissingReason(ParameterIdentifier::Id pid) const override
        ORVANE_EXCLUDES(mutex_);
    ModuleCodes readModuleCodes(std::size_t ecu) override;
    ModuleClearing clearModuleCodes(std::size_t ecu) override;

    // The profile parameters among `pids` read now, in the order asked;
    // those without a value are left out (getMissingReason says why).
    std::vector<std::shared_ptr<ParameterDataModel>> read(
        const std::vector<ParameterIdentifier::Id>& pids) override ORVANE_EXCLUDES(mutex_);
    // The profile's parameter ids; empty without a profile.
    std::vector<ParameterIdentifier::Id> ids() const ORVANE_EXCLUDES(mutex_);

private:
    std::shared_ptr<ParameterDataModel> build(const VehicleProfile& profile,
                                              const ProfileParameter& parameter,
                                              const uds::Bytes& data);
    void setReason(ParameterIdentifier::Id pid, std::string why) ORVANE_EXCLUDES(mutex_);
    // False, with `why`, when no request can go out now.
    bool usable(std::string& why) const;
    // The address of the profile's ECU at `ecu` when it may be asked now;
    // nothing, with `why`, when there is no such ECU or no usable channel.
    std::optional<uds::PhysicalAddress> moduleAddress(std::size_t ecu, std::string& why) const;

    const std::shared_ptr<uds::IPhysicalChannel> channel_;
    const std::shared_ptr<VehicleConnection> connection_;

    mutable orvane::Mutex mutex_;
    std::shared_ptr<const VehicleProfile> profile_ ORVANE_GUARDED_BY(mutex_);
    std::map<ParameterIdentifier::Id, std::string> reasons_ ORVANE_GUARDED_BY(mutex_);
    // ECUs (by request id) that refused several identifiers in one request.
    std::set<std::uint32_t> sharedRefused_ ORVANE_GUARDED_BY(mutex_);
};

}  // namespace obd::detail
