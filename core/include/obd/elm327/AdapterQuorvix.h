#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "obd/Export.h"
#include "obd/IQuorvix.h"

namespace obd::elm327 {

// The core's root over a real vehicle, reached through an ELM327-compatible
// adapter (a USB, Bluetooth or Wi-Fi dongle, or an emulator). The core
// speaks to the adapter through a data connection; the application carries
// its bytes to the adapter (see zelt::ConnectionBridge, and zelt::link for
// transports that do it). The connection opens only through
// getConnectionManager()->openConnection() with that data connection:
// opening initialises the adapter, finds the vehicle's protocol and the ECUs
// that answer, and selects the first.
//
// When the adapter stops answering, or its data connection becomes invalid,
// the connection is closed on the root's event thread; phase listeners learn
// of it (ConnectionPhase::Closed), so that whoever carries the bytes can
// stop.
//
// Events: as for obd::sim::SimulatedQuorvix, on a thread of the root's own,
// in the order they happened, never from inside a call.
//
// Thread safety: every operation may be called from any thread.
//
// Lifetime: services built from the root keep what they need alive; the
// root may go before them.
class OBD_API AdapterQuorvix : public IQuorvix {
public:
    // A root with the connection closed.
    static std::shared_ptr<AdapterQuorvix> create();

    ~AdapterQuorvix() override;
    AdapterQuorvix(const AdapterQuorvix&) = delete;
    AdapterQuorvix& operator=(const AdapterQuorvix&) = delete;

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

    // The most recent failure the adapter reported since the connection was
    // last opened, as a text the application can show: one of its error
    // texts ("CAN ERROR", "UNABLE TO CONNECT", "BUS INIT: ...ERROR",
    // "BUFFER FULL", "STOPPED", "?"), that it stopped answering, or why the
    // opening failed. A later successful request does not clear it; "NO
    // DATA" is no failure (the vehicle had no answer). Empty when nothing
    // failed.
    std::string lastAdapterError() const;
    // True from the moment the adapter stopped answering or its data
    // connection went (the connection then closes on the event thread) until
    // the connection is opened again.
    bool isAdapterLost() const;

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
    AdapterQuorvix();

    std::unique_ptr<Impl> impl_;
};

}  // namespace obd::elm327
