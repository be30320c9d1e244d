#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "obd/Export.h"
#include "obd/IAnswerSnapshot.h"
#include "obd/IProfileHost.h"
#include "obd/IQuorvix.h"
#include "obd/sim/Scenario.h"

namespace obd::sim {

// The core's root over a simulated vehicle. Applications create one, hand it
// to the repositories (it is an obd::IQuorvix) and drive the connection with
// openConnection(), selectEcu() and closeConnection(), or through the
// connection manager that getConnectionManager() returns.
//
// Events: onConnectionOpened, onEcuChanged and onConnectionClosed, and the
// troubleshooting data log entries, reach observers on one thread of the
// root's own, in the order they happened, never from inside a call. After an
// observer's detach() has returned it receives nothing more.
//
// Thread safety: every operation may be called from any thread.
//
// Lifetime: services built from the root keep what they need alive; the
// root may go before them.
//
// A real vehicle behind an ELM327-compatible adapter has a root of its own:
// obd::elm327::AdapterQuorvix.
class OBD_API SimulatedQuorvix : public IQuorvix, public IAnswerSnapshot, public IProfileHost {
public:
    // A root over `scenario`, with the connection closed.
    static std::shared_ptr<SimulatedQuorvix> create(const Scenario& scenario = Scenario::builtIn());

    ~SimulatedQuorvix() override;
    SimulatedQuorvix(const SimulatedQuorvix&) = delete;
    SimulatedQuorvix& operator=(const SimulatedQuorvix&) = delete;

    // Opens the connection: the ECUs that answer are found and the first is
    // selected; live values start over. True on success (also when the
    // connection was already open).
    bool openConnection();
    void closeConnection();
    bool isConnectionOpen() const;

    // The response addresses of the ECUs that answered when the connection
    // opened (e.g. 0x7E8, 0x7E9); empty while closed.
    std::vector<std::uint32_t> getEcuAddresses() const;
    // Selects the ECU the services talk to; false when the connection is
    // closed or no such ECU answered.
    bool selectEcu(std::uint32_t address);
    // 0 while closed.
    std::uint32_t getSelectedEcu() const;

    // Several service 01 PIDs travel in one request on CAN where the
    // services read many at once (on by default). Off, every PID is asked
    // for on its own: for comparisons; the results are the same.
    void setMultiPidRequests(bool enabled);

    // Snapshots: see IAnswerSnapshot.
    void beginSnapshot() override;
    void endSnapshot() override;

    // Vehicle profiles: see IProfileHost.
    void setProfile(std::shared_ptr<const VehicleProfile> profile) override;
    // See IProfileHost.
    std::shared_ptr<const VehicleProfile> getProfile() const override;
    // See IProfileHost.
    std::string getMissingReason(ParameterIdentifier::Id pid) const override;
    // See IProfileHost.
    ModuleCodes readModuleCodes(std::size_t ecu) override;
    // See IProfileHost.
    ModuleClearing clearModuleCodes(std::size_t ecu) override;

    const Scenario& getScenario() const;

    std::shared_ptr<IConnectionManager> getConnectionManager() override;
    std::shared_ptr<IConnectionService> createConnectionService() override;
    std::shared_ptr<IEcuService> createEcuService(
        std::shared_ptr<IConnectionService> connection) override;
    std::shared_ptr<ISensorService> createSensorService(
        std::shared_ptr<IConnectionService> connection) override;
    std::shared_ptr<ITroubleCodeService> createTroubleCodeService(
        std::shared_ptr<IConnectionService> connection) override;
    std::shared_ptr<IDiagnosticsService> createDiagnosticsService(
        std::shared_ptr<IConnectionService> connection) override;
    std::shared_ptr<IRoutineService> createRoutineService(
        std::shared_ptr<IConnectionService> connection) override;
    std::shared_ptr<ITroubleshootingService> createTroubleshootingService(
        std::shared_ptr<IConnectionService> connection) override;

private:
    struct Impl;
    explicit SimulatedQuorvix(const Scenario& scenario);

    std::unique_ptr<Impl> impl_;
};

}  // namespace obd::sim
