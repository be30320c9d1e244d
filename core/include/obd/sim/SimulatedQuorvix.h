#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "obd/Export.h"
#include "obd/VehicleRoot.h"
#include "obd/sim/Scenario.h"

namespace obd::sim {

// The core's root over a simulated vehicle. Applications create one, hand it
// to the repositories (it is an obd::IQuorvix) and drive the connection with
// openConnection(), selectEcu() and closeConnection(), or through the
// connection manager that getConnectionManager() returns. What it shares
// with the adapter root (events, thread safety, lifetime) is VehicleRoot's.
//
// A real vehicle behind an ELM327-compatible adapter has a root of its own:
// obd::elm327::AdapterQuorvix.
class OBD_API SimulatedQuorvix : public VehicleRoot {
public:
    // A root over `scenario`, with the connection closed.
    static std::shared_ptr<SimulatedQuorvix> create(const Scenario& scenario = Scenario::builtIn());

    ~SimulatedQuorvix() override;
    SimulatedQuorvix(const SimulatedQuorvix&) = delete;
    SimulatedQuorvix& operator=(const SimulatedQuorvix&) = delete;

    // Opens the connection: the ECUs that answer are found and the first is
    // selected; live values start over. True on success (also when the
    // connection was already open). Returns once observers heard of it.
    bool openConnection();

    // The scenario the vehicle follows.
    const Scenario& getScenario() const;

private:
    explicit SimulatedQuorvix(const Scenario& scenario);

    const Scenario scenario_;
};

}  // namespace obd::sim
