#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "obd/elm327/AdapterQuorvix.h"
#include "obd/sim/SimulatedQuorvix.h"
#include "zelt/DiagnosticsRepository.h"
#include "zelt/DongleRepository.h"
#include "zelt/EcuRepository.h"
#include "zelt/ParameterRepository.h"
#include "zelt/RoutineRepository.h"
#include "zelt/TroubleCodeRepository.h"

namespace zelt::scan {

// Input the user got wrong (an unknown ECU or PID, a bad option value). The
// message is one line meant for the user.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An open connection to a vehicle, simulated or behind an adapter, with the
// six repositories a diagnostics application would create over it.
//
// Not copyable: the repositories hold registrations with the core.
class Session {
public:
    // Opens the connection to the vehicle of `scenario`.
    explicit Session(const obd::sim::Scenario& scenario);
    // Opens the connection to a vehicle through the adapter at `adapter`
    // (tcp://HOST:PORT, serial:DEVICE[:BAUD]) over zelt_link's transport and
    // byte pump; with `trace`, writes the raw dialogue there. Throws
    // UsageError for a bad address and std::runtime_error when the adapter
    // or the vehicle does not answer.
    Session(const std::string& adapter, std::ostream* trace);
    // Closes the connection; the repositories go before the root.
    ~Session();

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Selects an ECU by index among the answering ECUs ("0", "1") or by its
    // response address ("0x7E9"). Throws UsageError for an unknown one.
    void selectEcu(const std::string& ecu);

    // The scenario's name (over an adapter, the built-in scenario's).
    const std::string& vehicleName() const { return vehicleName_; }
    // The response addresses of the ECUs that answered.
    std::vector<std::uint32_t> ecuAddresses() const;
    std::uint32_t selectedEcu() const;

    EcuRepository& ecu() { return ecu_; }
    ParameterRepository& parameters() { return parameters_; }
    TroubleCodeRepository& troubleCodes() { return troubleCodes_; }
    DiagnosticsRepository& diagnostics() { return diagnostics_; }
    RoutineRepository& routines() { return routines_; }
    DongleRepository& dongle() { return dongle_; }

    // Why the link to the adapter was lost; empty while it is up (and for
    // the in-process vehicle).
    std::string linkLost() const;
    // The most recent failure the adapter reported (e.g. "CAN ERROR"); empty
    // when none did (and for the in-process vehicle). "NO DATA" is not one.
    std::string adapterError() const;
    // True when the adapter stopped answering, or its link went, during the
    // session.
    bool adapterLost() const;

private:
    class Link;

    bool select(std::uint32_t address);

    // One of the two roots is set; root_ is that one, as the repositories
    // take it.
    std::shared_ptr<obd::sim::SimulatedQuorvix> simulated_;
    std::shared_ptr<obd::elm327::AdapterQuorvix> adapter_;
    std::unique_ptr<Link> link_;  // null for the in-process vehicle
    std::shared_ptr<obd::IQuorvix> root_;
    const std::string vehicleName_;
    EcuRepository ecu_;
    ParameterRepository parameters_;
    TroubleCodeRepository troubleCodes_;
    DiagnosticsRepository diagnostics_;
    RoutineRepository routines_;
    DongleRepository dongle_;
};

}  // namespace zelt::scan
