#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "obd/Export.h"

namespace obd::sim {

struct VehicleModel;

// A scenario file that cannot be used. The message names the file, the JSON
// path of the offending value (e.g. "/ecus/0/pids/0x0C") and what is wrong.
class OBD_API ScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A simulated vehicle as a scenario describes it: one or more ECUs with their
// live data, trouble codes, freeze frames, monitor results, test routines and
// vehicle information, and the adapter the connection runs through. The
// format is documented in scenarios/README.md.
//
// A Scenario is immutable and cheap to copy (copies share the loaded model).
// Loading validates the whole file first: a scenario that loads is complete,
// and a failed load leaves nothing behind.
class OBD_API Scenario {
public:
    // The largest scenario file loadFile() reads; a real one is a few
    // kilobytes.
    static constexpr std::size_t kMaxFileBytes = std::size_t{4} * 1024 * 1024;

    // Reads and validates a scenario file. Throws ScenarioError, also for a
    // file larger than kMaxFileBytes (before reading it whole).
    static Scenario loadFile(const std::string& path);
    // Validates scenario text; `source` names it in error messages.
    // Throws ScenarioError.
    static Scenario parse(const std::string& text, const std::string& source);
    // The scenario built into the core: a petrol car with an engine and a
    // transmission ECU, two confirmed codes, one pending, the MIL on and one
    // freeze frame (the same text as scenarios/default.json).
    static Scenario builtIn();
    // The text of the built-in scenario.
    static const std::string& builtInText();

    // The scenario's name, e.g. "Petrol hatchback".
    const std::string& name() const;
    // The scenario's description.
    const std::string& description() const;
    // The ECUs' response addresses (e.g. 0x7E8), ascending.
    std::vector<std::uint32_t> ecuAddresses() const;

    // The loaded model, for the core's own use.
    const std::shared_ptr<const VehicleModel>& model() const { return model_; }

private:
    explicit Scenario(std::shared_ptr<const VehicleModel> model);

    std::shared_ptr<const VehicleModel> model_;
};

}  // namespace obd::sim
