#pragma once

// The roots that read vehicle profiles (both of the core's do): a profile
// given to the root makes its parameters readable through the sensor
// service, as parameter ids from kFirstProfileParameter on, and its ECUs'
// trouble codes readable and clearable by UDS. A client finds the
// capability with std::dynamic_pointer_cast on its root.
//
// Thread safety: every operation may be called from any thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Export.h"
#include "ParameterIdentifier.h"
#include "VehicleProfile.h"

namespace obd {

// A trouble code of a profile ECU, as UDS service 19 reports it.
struct ModuleTroubleCode {
    std::string code;              // J2012 code and failure type, "C0035-11"
    std::string baseCode;          // "C0035"
    std::uint8_t failureType = 0;  // the third byte, ISO 15031-6 / J2012 failure type
    std::uint8_t status = 0;       // ISO 14229 status bits
    std::string statusText;        // "confirmed, test failed, warning indicator"
    std::string description;       // the profile's text, else the J2012 title or group
};

// The answer of one profile ECU to reading its trouble codes.
struct ModuleCodes {
    bool answered = false;                 // false: see `why`
    std::vector<ModuleTroubleCode> codes;  // in the module's order
    std::string why;                       // "security access denied (0x33)", "no answer", ...
};

// The answer of one profile ECU to clearing its trouble codes.
struct ModuleClearing {
    bool confirmed = false;  // the module answered positively
    std::string why;         // why not, e.g. "conditions not correct (0x22)"
};

// A root that reads vehicle profiles; see the top of this file.
class OBD_API IProfileHost {
public:
    virtual ~IProfileHost();

    // Takes `profile` (null: none) from the next read on.
    virtual void setProfile(std::shared_ptr<const VehicleProfile> profile) = 0;
    // The profile given last; null without one.
    virtual std::shared_ptr<const VehicleProfile> getProfile() const = 0;
    // Why the last reading of a profile parameter gave no value, e.g.
    // "request out of range (0x31)"; empty when it gave one or was not read.
    virtual std::string getMissingReason(ParameterIdentifier::Id pid) const = 0;
    // The trouble codes of the profile's ECU at `ecu` (its index), read with
    // UDS service 19 02, status mask FF.
    virtual ModuleCodes readModuleCodes(std::size_t ecu) = 0;
    // Clears them (service 14, group FFFFFF).
    virtual ModuleClearing clearModuleCodes(std::size_t ecu) = 0;
};

}  // namespace obd
