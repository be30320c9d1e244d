#pragma once

// A vehicle profile: manufacturer data described as data. A profile names
// the vehicle's modules (ECUs) with their CAN identifiers, the parameters
// read from them by a data identifier (UDS service 22), a local identifier
// (service 21) or a PID the J1979 table lacks (service 01), each with a
// formula over the answer's data bytes, and texts for manufacturer trouble
// codes. The format is described in docs/profiles.md.
//
// A root that takes profiles (obd::IProfileHost) reads a profile's
// parameters through the sensor service as parameter ids from
// kFirstProfileParameter on, in the profile's order.
//
// Thread safety: a loaded profile is immutable; every operation may be
// called from any thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Export.h"
#include "ParameterIdentifier.h"

namespace obd {

// The id of a profile's first parameter; the n-th has this plus n.
constexpr std::int32_t kFirstProfileParameter = 0x100;

// A profile that cannot be used: the message names the file, the JSON path
// and the fault, e.g. "car.json: /parameters/2/formula: unexpected ')' ...".
class OBD_API ProfileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A module of the vehicle, asked with physical addressing.
struct ProfileEcu {
    std::string name;              // as the profile names it, or the request id ("7E0")
    std::uint32_t requestId = 0;   // the CAN identifier the module listens on
    std::uint32_t responseId = 0;  // the one it answers with
    bool extended = false;         // 29-bit identifiers
};

// A parameter of the profile, read from one of its ECUs.
struct ProfileParameter {
    ParameterIdentifier::Id pid{};  // kFirstProfileParameter + its position
    std::string name;               // as the profile names it, unique
    std::size_t ecu = 0;            // index into VehicleProfile::ecus()
    std::uint8_t service = 0;       // 0x22, 0x21 or 0x01
    std::uint16_t id = 0;           // data identifier, local identifier or PID
    std::string formula;            // as written, see docs/profiles.md
    std::string unit;               // as written; may be empty
    std::optional<double> minimum;  // the range a display may show
    std::optional<double> maximum;  // the range a display may show
    // The data bytes after the echoed identifier: the profile's "length",
    // else as many as the formula reads.
    std::size_t length = 0;
};

// A loaded profile: its ECUs, its parameters and its code texts, checked
// whole when loaded.
class OBD_API VehicleProfile {
public:
    // The largest profile file read.
    static constexpr std::size_t kMaxFileSize = std::size_t{4} * 1024 * 1024;

    // Validates `text` whole; throws ProfileError naming `source` otherwise.
    static std::shared_ptr<const VehicleProfile> parse(const std::string& text,
                                                       const std::string& source);
    // Reads and parses the file; a file over kMaxFileSize is refused unread.
    static std::shared_ptr<const VehicleProfile> loadFile(const std::string& path);

    ~VehicleProfile();
    VehicleProfile(const VehicleProfile&) = delete;
    VehicleProfile& operator=(const VehicleProfile&) = delete;

    // The file (or source name) it was read from.
    const std::string& source() const;
    // The ECUs: those the profile lists, then those its parameters name by
    // request id only.
    const std::vector<ProfileEcu>& ecus() const;
    // The parameters in the profile's order.
    const std::vector<ProfileParameter>& parameters() const;
    // The parameter with `pid`; null when the profile has none.
    const ProfileParameter* find(ParameterIdentifier::Id pid) const;
    // The parameter named `name` exactly; null when the profile has none.
    const ProfileParameter* find(const std::string& name) const;
    // The profile's text for a trouble code ("P1234"); empty when it has none.
    std::string describeCode(const std::string& code) const;
    // The parameter's value for the data bytes after the echoed identifier;
    // nothing when the formula cannot be evaluated for them (too few bytes,
    // a division by zero).
    std::optional<double> evaluate(const ProfileParameter& parameter,
                                   const std::vector<std::uint8_t>& data) const;

    // The loaded data (private to the core).
    struct Impl;

private:
    explicit VehicleProfile(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace obd
