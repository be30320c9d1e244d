#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
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
#include "zelt/app/Errors.h"
#include "zelt/app/Export.h"
#include "zelt/app/Units.h"

namespace zelt::app {

// How to reach the vehicle behind an adapter.
struct AdapterSettings {
    // The adapter's protocol number, or Automatic: its own search, then
    // each protocol in turn when the search finds nothing.
    obd::DataLinkProtocol protocol = obd::DataLinkProtocol::Automatic;
    // The request timeout and the adapter's own wait with it; unset: the
    // adapter's default wait and 5 s per request. It also bounds the wait
    // for a module that answers "response pending": its request is then
    // stopped and fails, and the session goes on.
    std::optional<std::chrono::milliseconds> timeout;
    // Where the raw dialogue goes; null: nowhere.
    std::ostream* trace = nullptr;
    // Also told every byte that crosses the link (">>" to the adapter, "<<"
    // from it), e.g. by --record; null: nobody.
    std::function<void(const char*, const std::vector<std::uint8_t>&)> listen;
    // Told what the user should know of how the adapter was reached: the
    // serial rate found, the protocol that answered after a failed search.
    std::function<void(const std::string&)> notice;
    // Told the adapter dialogue's debug lines (frames set aside from an
    // answer, ...); null: nobody.
    std::function<void(const std::string&)> debug;
};

// An open connection to a vehicle, simulated or behind an adapter, with the
// six repositories a diagnostics application would create over it.
//
// Not copyable: the repositories hold registrations with the core.
class ZELT_APP_API Session {
public:
    // Opens the connection to the vehicle of `scenario`.
    explicit Session(const obd::sim::Scenario& scenario);
    // Opens the connection to a vehicle through the adapter at `adapter`
    // (tcp://HOST:PORT, serial:DEVICE[:BAUD]) over zelt_link's transport and
    // byte pump, as `settings` say. Throws InputError for a bad address and
    // std::runtime_error when the adapter or the vehicle does not answer.
    Session(const std::string& adapter, const AdapterSettings& settings);
    // Closes the connection; the repositories go before the root.
    ~Session();

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Selects the ECU with response address `address`; false when none such
    // answered.
    bool selectEcu(std::uint32_t address);

    // The scenario's name (over an adapter, the built-in scenario's).
    const std::string& vehicleName() const { return vehicleName_; }
    // The response addresses of the ECUs that answered.
    std::vector<std::uint32_t> ecuAddresses() const;
    // The response address of the ECU the repositories answer for.
    std::uint32_t selectedEcu() const;

    // The core's root the repositories were built over.
    const std::shared_ptr<obd::VehicleRoot>& root() const { return root_; }
    // The ECU repository over root(); every repository answers for the
    // selected ECU.
    EcuRepository& ecu() { return ecu_; }
    // The parameter repository over root().
    ParameterRepository& parameters() { return parameters_; }
    // The trouble code repository over root().
    TroubleCodeRepository& troubleCodes() { return troubleCodes_; }
    // The diagnostics repository over root().
    DiagnosticsRepository& diagnostics() { return diagnostics_; }
    // The routine repository over root().
    RoutineRepository& routines() { return routines_; }
    // The dongle repository over root().
    DongleRepository& dongle() { return dongle_; }

    // The decoded values of the selected ECU's sensors of `pids`, by sensor
    // uid, from the answers parameters() last built its records of them
    // from: exact, where the records hold texts rounded for display. Asks
    // the vehicle nothing. Profile parameters are left out: their records
    // hold their numbers exactly.
    DecodedNumbers decodedNumbers(const std::vector<obd::ParameterIdentifier::Id>& pids);

    // Why the link to the adapter was lost; empty while it is up (and for
    // the in-process vehicle).
    std::string linkLost() const;
    // The most recent failure the adapter reported (e.g. "CAN ERROR"); empty
    // when none did (and for the in-process vehicle). "NO DATA" is not one.
    std::string adapterError() const;
    // True when the adapter stopped answering, or its link went, during the
    // session.
    bool adapterLost() const;
    // Over an adapter: sends `request` to the ECU `ecu` (0: to all) and
    // returns every answer; nothing when the request failed (adapterError()
    // says why). Throws InputError for the in-process vehicle.
    std::optional<std::vector<obd::elm327::AdapterQuorvix::RawAnswer>> rawRequest(
        const std::vector<std::uint8_t>& request, std::uint32_t ecu);

private:
    class Link;

    // Set over an adapter only, for what only that root offers.
    std::shared_ptr<obd::elm327::AdapterQuorvix> adapter_;
    std::unique_ptr<Link> link_;  // null for the in-process vehicle
    std::shared_ptr<obd::VehicleRoot> root_;
    const std::string vehicleName_;
    EcuRepository ecu_;
    ParameterRepository parameters_;
    TroubleCodeRepository troubleCodes_;
    DiagnosticsRepository diagnostics_;
    RoutineRepository routines_;
    DongleRepository dongle_;
};

}  // namespace zelt::app
