#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "obd/Export.h"
#include "obd/IAnswerSnapshot.h"
#include "obd/IProfileHost.h"
#include "obd/IQuorvix.h"

namespace obd {

namespace detail {
class Root;
}

// What every root of this core offers, over a simulated vehicle
// (obd::sim::SimulatedQuorvix) or a real one behind an adapter
// (obd::elm327::AdapterQuorvix): the service factories, the connection
// manager, snapshots, vehicle profiles, and the listing and selection of
// ECUs. An application
// that does not care which vehicle it talks to holds this base.
//
// Events: onConnectionOpened, onEcuChanged and onConnectionClosed, and the
// troubleshooting data log entries, reach observers on one thread of the
// root's own, in the order they happened, never from inside a call. A call
// that changes the connection or the selected ECU (opening, closing,
// selectEcu(), and the connection manager's opening and closing) returns
// only once its events have reached every observer, so a repository read
// right after it never answers from before the change. Called from inside
// an observer (on the event thread) it returns at once instead, and the
// events follow when the running handler has returned. An observer must
// therefore not wait for a thread that is changing the connection.
//
// Thread safety: every operation may be called from any thread.
//
// Lifetime: services built from the root keep what they need alive; the
// root may go before them. Not copyable: it owns the connection.
class OBD_API VehicleRoot : public IQuorvix, public IAnswerSnapshot, public IProfileHost {
public:
    ~VehicleRoot() override;
    VehicleRoot(const VehicleRoot&) = delete;
    VehicleRoot& operator=(const VehicleRoot&) = delete;

    // Closes the vehicle connection, as the connection manager's closing.
    void closeConnection();
    // True while the vehicle connection is open.
    bool isConnectionOpen() const;

    // The response addresses of the ECUs that answered when the connection
    // opened (e.g. 0x7E8, 0x7E9); empty while closed.
    std::vector<std::uint32_t> getEcuAddresses() const;
    // Selects the ECU the services talk to; false when the connection is
    // closed or no such ECU answered.
    bool selectEcu(std::uint32_t address);
    // The selected ECU's response address; 0 while closed.
    std::uint32_t getSelectedEcu() const;

    // Several service 01 PIDs travel in one request on CAN where the
    // services read many at once (on by default). Off, every PID is asked
    // for on its own: for comparisons; the results are the same.
    void setMultiPidRequests(bool enabled);

    // Begins a snapshot (see IAnswerSnapshot).
    void beginSnapshot() override;
    // Ends a snapshot (see IAnswerSnapshot).
    void endSnapshot() override;

    // Takes a vehicle profile (see IProfileHost).
    void setProfile(std::shared_ptr<const VehicleProfile> profile) override;
    // The profile given last (see IProfileHost).
    std::shared_ptr<const VehicleProfile> getProfile() const override;
    // Why a profile parameter has no value (see IProfileHost).
    std::string getMissingReason(ParameterIdentifier::Id pid) const override;
    // Reads a profile ECU's trouble codes (see IProfileHost).
    ModuleCodes readModuleCodes(std::size_t ecu) override;
    // Clears a profile ECU's trouble codes (see IProfileHost).
    ModuleClearing clearModuleCodes(std::size_t ecu) override;

    // The connection manager that opens and closes this root's connection.
    std::shared_ptr<IConnectionManager> getConnectionManager() override;
    // A connection service over this root's connection.
    std::shared_ptr<IConnectionService> createConnectionService() override;
    // An ECU information service reporting on `connection`'s connection.
    std::shared_ptr<IEcuService> createEcuService(
        std::shared_ptr<IConnectionService> connection) override;
    // A sensor service reporting on `connection`'s connection.
    std::shared_ptr<ISensorService> createSensorService(
        std::shared_ptr<IConnectionService> connection) override;
    // A trouble code service reporting on `connection`'s connection.
    std::shared_ptr<ITroubleCodeService> createTroubleCodeService(
        std::shared_ptr<IConnectionService> connection) override;
    // An on-board monitor service reporting on `connection`'s connection.
    std::shared_ptr<IDiagnosticsService> createDiagnosticsService(
        std::shared_ptr<IConnectionService> connection) override;
    // A test routine service reporting on `connection`'s connection.
    std::shared_ptr<IRoutineService> createRoutineService(
        std::shared_ptr<IConnectionService> connection) override;
    // A troubleshooting service reporting on `connection`'s connection.
    std::shared_ptr<ITroubleshootingService> createTroubleshootingService(
        std::shared_ptr<IConnectionService> connection) override;

protected:
    // Takes the connection, channel and services the derived root built.
    explicit VehicleRoot(std::unique_ptr<detail::Root> root);
    // The parts the derived root shares with this base.
    detail::Root& root() const { return *root_; }

private:
    const std::unique_ptr<detail::Root> root_;
};

}  // namespace obd
