#include "Vehicle.h"

#include <chrono>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "DebugLog.h"
#include "zelt/app/AdapterStatus.h"
#include "zelt/app/Printable.h"
#include "zelt/app/Profiles.h"

namespace zelt::scan {

// The command line is an application of the application library.
using namespace app;  // NOLINT(google-build-using-namespace)

namespace {

constexpr long long kMaxTimeoutMs = 60000;

// The settings the adapter's advice may point to, as this tool's options.
const app::SettingNames kOptionNames{"--timeout (up to 60000 ms)", "--protocol 1 to 9"};

// The connection settings the adapter options ask for.
AdapterSettings ReadAdapterSettings(const Options& options, std::ostream* dialogue) {
    AdapterSettings settings;
    const auto protocol = obd::elm327::AdapterQuorvix::parseProtocol(options.protocol);
    if (!protocol) {
        throw UsageError("invalid --protocol " + Quoted(options.protocol) +
                         ": give auto or an ELM327 protocol number from 1 to 9");
    }
    settings.protocol = *protocol;
    if (!options.timeout.empty()) {
        settings.timeout =
            std::chrono::milliseconds(ParseDecimal("--timeout", options.timeout, 1, kMaxTimeoutMs));
    }
    settings.trace = dialogue;
    settings.debug = [](const std::string& line) { LogInfo(line); };
    settings.notice = [](const std::string& notice) {
        LogInfo(notice);
        std::cerr << "zelt-scan: " << Printable(notice) << '\n';
    };
    return settings;
}

// The log must never destroy what this run reads: a log path that names the
// scenario file (by any spelling or link) is refused.
void CheckLogPath(const Options& options) {
    std::error_code error;
    if (!options.log.empty() && !options.scenario.empty() &&
        std::filesystem::equivalent(options.log, options.scenario, error)) {
        throw UsageError("the log file " + Quoted(options.log) +
                         " is the scenario file; give the log another path");
    }
}

}  // namespace

void AddVehicleOptions(CLI::App& app, Options& options) {
    app.add_option("--scenario", options.scenario, "Scan the simulated vehicle described in FILE")
        ->type_name("FILE");
    app.add_flag("--json", options.json,
                 "Write one JSON document, schema 1 (or one JSON object per reading with --watch)");
    app.add_option("--profile", options.profile,
                   "Read the manufacturer data and module trouble codes this vehicle profile "
                   "describes (docs/profiles.md)")
        ->type_name("FILE");
    app.add_option("--units", options.units,
                   "Show values in metric (the default) or imperial units (mph, \u00B0F, miles, "
                   "PSI, gal, lb/min ...)")
        ->type_name("metric|imperial");
    app.add_option("--ecu", options.ecu,
                   "Scan only this ECU (all that answered by default): its response address in "
                   "hex (7E9, 18DAF110, 10) or its index after @ (@1)")
        ->type_name("ECU");
    app.add_option("--log", options.log, "Write the run's debug log to FILE (never the scenario)")
        ->type_name("FILE");
    auto* adapter =
        app.add_option(
               "--adapter", options.adapter,
               "Scan a real vehicle through an ELM327-compatible adapter: tcp://HOST:PORT (e.g. "
               "tcp://192.168.0.10:35000), serial:DEVICE[:BAUD] (e.g. serial:/dev/ttyUSB0:38400) "
               "or ble://ADDRESS|NAME (Bluetooth LE, Linux; e.g. ble://AA:BB:CC:DD:EE:FF)")
            ->type_name("ADDRESS")
            ->excludes(app.get_option("--scenario"));
    app.add_flag("--trace", options.trace, "Write the raw adapter dialogue to stderr")
        ->needs(adapter);
    app.add_option("--record", options.record,
                   "Write the adapter dialogue to FILE as it happens, replayable with "
                   "elm327-emulator --replay (docs/record.md)")
        ->type_name("FILE")
        ->needs(adapter);
    auto* anonymise =
        app.add_flag("--record-anonymise", options.anonymise,
                     "With --record: mask the VIN's serial part (its last six characters) in "
                     "every frame that carries it")
            ->needs("--record");
    app.add_option("--record-mask", options.masked,
                   "With --record-anonymise: mask this text too (a calibration id, an engine "
                   "serial number) wherever the car sends it; may be given again")
        ->type_name("TEXT")
        ->needs(anonymise);
    app.add_option("--protocol", options.protocol,
                   "With --adapter: the ELM327 protocol number (1 to 9) or auto (the default: "
                   "the adapter's search, then each protocol in turn)")
        ->type_name("N|auto")
        ->needs(adapter);
    app.add_option("--timeout", options.timeout,
                   "With --adapter: milliseconds a request may take (decimal, 1 to 60000); the "
                   "adapter's own wait (ATST) is set with it")
        ->type_name("MS")
        ->needs(adapter);
}

OutputFormat FormatOf(const Options& options) {
    return options.json ? OutputFormat::Json : options.csv ? OutputFormat::Csv : OutputFormat::Text;
}

int Fail(int code, const std::string& message) {
    LogError(message);
    std::cerr << "zelt-scan: error: " << Printable(message) << '\n';
    return code;
}

std::string WithAdvice(const std::string& message) {
    const std::string advice = AdapterAdvice(message, kOptionNames);
    return advice.empty() ? message : message + "; " + advice;
}

Vehicle::Vehicle(const Options& options) : options_(options), units_(UnitSystem::Metric) {
    if (!options.ecu.empty()) {
        ecu_ = ParseEcu(options.ecu);
    }
    try {
        units_ = ParseUnitSystem(options.units);
    } catch (const InvalidValue& error) {
        throw UsageError("invalid value " + Quoted(error.value()) + " for --units: give " +
                         error.expected());
    }
    // A profile is read whole, and refused with its fault, before anything
    // is sent.
    if (!options.profile.empty()) {
        profile_ = obd::VehicleProfile::loadFile(options.profile);
    }
    CheckLogPath(options);
    publishing_ = Publishing::Prepare(options.publish);
}

Vehicle::~Vehicle() = default;

int Vehicle::open() {
    // The inputs are read before the log is opened.
    std::optional<obd::sim::Scenario> scenario;
    if (options_.adapter.empty()) {
        scenario = options_.scenario.empty() ? obd::sim::Scenario::builtIn()
                                             : obd::sim::Scenario::loadFile(options_.scenario);
    }
    if (!options_.log.empty()) {
        StartDebugLog(options_.log);
    }
    if (scenario) {
        session_ = std::make_unique<Session>(*scenario);
    } else {
        if (options_.trace || !options_.log.empty()) {
            dialogue_ = DialogueStream(options_.trace ? &std::cerr : nullptr);
        }
        LogInfo("opening the adapter at " + options_.adapter);
        AdapterSettings settings = ReadAdapterSettings(options_, dialogue_.get());
        if (!options_.record.empty()) {
            recording_ = std::make_unique<Recording>(
                options_.record,
                nlohmann::json{{"tool", "zelt-scan " ZELT_VERSION},
                               {"adapter", options_.adapter},
                               {"protocol", options_.protocol},
                               {"timeout", options_.timeout},
                               {"anonymised", options_.anonymise}}
                    .dump(),
                options_.anonymise
                    ? std::make_unique<obd::elm327::DialogueAnonymiser>(options_.masked)
                    : nullptr);
            settings.listen = [this](const char* direction,
                                     const std::vector<std::uint8_t>& bytes) {
                recording_->bytes(direction, bytes);
            };
        }
        try {
            session_ = std::make_unique<Session>(options_.adapter, settings);
        } catch (const InputError&) {
            throw;
        } catch (const std::runtime_error& error) {
            if (settings.protocol == obd::DataLinkProtocol::Automatic) {
                throw;
            }
            // The protocol the user chose is the likeliest cause.
            return Fail(kFailure, std::string(error.what()) +
                                      "; the vehicle may not speak protocol " + options_.protocol +
                                      ": try --protocol auto");
        }
    }
    UseProfile(*session_, profile_);
    if (ecu_) {
        ecus_.push_back(ResolveEcu(*ecu_, options_.ecu, session_->ecuAddresses()));
        session_->selectEcu(ecus_.front());
    }
    if (publishing_) {
        publishing_->connect(*session_);
    }
    return 0;
}

int Vehicle::linkState() const {
    const std::string gone = AdapterGone(*session_);
    if (!gone.empty()) {
        return Fail(kFailure, WithAdvice(gone + "; what was read before is shown"));
    }
    const std::string adapterError = session_->adapterError();
    if (!adapterError.empty()) {
        const std::string advice = AdapterAdvice(adapterError, kOptionNames);
        const std::string warning = "the adapter reported an error: " + adapterError +
                                    (advice.empty() ? "" : " (" + advice + ")") +
                                    "; what it could not read is missing";
        LogError(warning);
        std::cerr << "zelt-scan: warning: " << Printable(warning) << '\n';
    }
    return 0;
}

int Vehicle::finish() const {
    const int link = linkState();
    return publishing_ ? std::max(link, publishing_->finish()) : link;
}

}  // namespace zelt::scan
