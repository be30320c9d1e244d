// zelt-scan: connects to a vehicle through the core, reads everything the six
// repositories offer and shows it; or watches live values.

#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#endif

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "DebugLog.h"
#include "Discover.h"
#include "OptionValues.h"
#include "Progress.h"
#include "Publishing.h"
#include "RawRequest.h"
#include "Recording.h"
#include "zelt/app/AdapterStatus.h"
#include "zelt/app/JsonReport.h"
#include "zelt/app/Printable.h"
#include "zelt/app/Profiles.h"
#include "zelt/app/Scanner.h"
#include "zelt/app/Session.h"
#include "zelt/app/TextReport.h"
#include "zelt/app/Watch.h"
#ifdef ZELT_SERVE
#include "Dashboard.h"
#endif

namespace {

constexpr int kUsageError = 2;
constexpr int kFailure = 1;

// Every value is kept as typed and checked after parsing, so that each
// option refuses an empty value, a sign or a number out of range alike.
struct Options {
    std::string scenario;
    bool json = false;
    bool csv = false;
    std::string units = "metric";
    std::string watch;
    std::string interval = "1000";
    std::string count = "10";
    std::string ecu;
    bool clearCodes = false;
    bool yes = false;
    std::string log;
    std::string adapter;
    bool trace = false;
    std::string record;
    bool anonymise = false;
    std::vector<std::string> masked;  // --record-mask
    std::string protocol = "auto";
    std::string timeout;
    std::string raw;
    zelt::scan::PublishOptions publish;
    std::string serve;
    bool discover = false;
    bool allowClear = false;
    std::string profile;
};

constexpr long long kMaxTimeoutMs = 60000;

// The connection settings the adapter options ask for.
zelt::app::AdapterSettings ReadAdapterSettings(const Options& options, std::ostream* dialogue) {
    zelt::app::AdapterSettings settings;
    const auto protocol = obd::elm327::AdapterQuorvix::parseProtocol(options.protocol);
    if (!protocol) {
        throw zelt::scan::UsageError("invalid --protocol " + zelt::app::Quoted(options.protocol) +
                                     ": give auto or an ELM327 protocol number from 1 to 9");
    }
    settings.protocol = *protocol;
    if (!options.timeout.empty()) {
        settings.timeout = std::chrono::milliseconds(
            zelt::scan::ParseDecimal("--timeout", options.timeout, 1, kMaxTimeoutMs));
    }
    settings.trace = dialogue;
    settings.debug = [](const std::string& line) { zelt::scan::LogInfo(line); };
    settings.notice = [](const std::string& notice) {
        zelt::scan::LogInfo(notice);
        std::cerr << "zelt-scan: " << zelt::app::Printable(notice) << '\n';
    };
    return settings;
}

// Colour only for a terminal that can show it, and never when the user asked
// for none (https://no-color.org).
bool UseColour() {
    const char* term = std::getenv("TERM");
    return isatty(STDOUT_FILENO) && std::getenv("NO_COLOR") == nullptr && term != nullptr &&
           std::string(term) != "dumb";
}

int Fail(int code, const std::string& message) {
    zelt::scan::LogError(message);
    std::cerr << "zelt-scan: error: " << zelt::app::Printable(message) << '\n';
    return code;
}

std::string WithAdvice(const std::string& message) {
    const std::string advice = zelt::app::AdapterAdvice(message);
    return advice.empty() ? message : message + "; " + advice;
}

// Writes the report with `write` and flushes it; a report that did not reach
// its file is a failure, with the system's reason.
template <typename Write>
void WriteReport(std::ostream& out, const Write& write) {
    errno = 0;
    write();
    out.flush();
    if (!out && errno == EPIPE) {
        throw zelt::app::ReaderGone("the reader of the report went away");
    }
    if (!out) {
        throw std::runtime_error(std::string("cannot write the report") +
                                 (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
    }
}

// What was read is shown even when the adapter went away in the middle; the
// loss is then the outcome. Errors the adapter answered (a bus fault, a
// refused request) leave gaps in the report: one line says why, and the scan
// still counts as done.
int LinkState(const zelt::app::Session& session) {
    const std::string gone = zelt::app::AdapterGone(session);
    if (!gone.empty()) {
        return Fail(kFailure, WithAdvice(gone + "; what was read before is shown"));
    }
    const std::string adapterError = session.adapterError();
    if (!adapterError.empty()) {
        const std::string advice = zelt::app::AdapterAdvice(adapterError);
        const std::string warning = "the adapter reported an error: " + adapterError +
                                    (advice.empty() ? "" : " (" + advice + ")") +
                                    "; what it could not read is missing";
        zelt::scan::LogError(warning);
        std::cerr << "zelt-scan: warning: " << zelt::app::Printable(warning) << '\n';
    }
    return 0;
}

// The log must never destroy what this run reads: a log path that names the
// scenario file (by any spelling or link) is refused.
void CheckLogPath(const Options& options) {
    std::error_code error;
    if (!options.log.empty() && !options.scenario.empty() &&
        std::filesystem::equivalent(options.log, options.scenario, error)) {
        throw zelt::scan::UsageError("the log file " + zelt::app::Quoted(options.log) +
                                     " is the scenario file; give the log another path");
    }
}

// The run's outcome: the link's, and what publishing lost.
int Finish(const zelt::app::Session& session, zelt::scan::Publishing* publishing) {
    const int link = LinkState(session);
    return publishing != nullptr ? std::max(link, publishing->finish()) : link;
}

int Run(const Options& options) {
    using namespace zelt::scan;
    using namespace zelt::app;
    std::optional<EcuChoice> ecu;
    if (!options.ecu.empty()) {
        ecu = ParseEcu(options.ecu);
    }
    const UnitSystem units = ParseUnitSystem(options.units);
    // A profile is read whole, and refused with its fault, before anything
    // is sent.
    std::shared_ptr<const obd::VehicleProfile> profile;
    if (!options.profile.empty()) {
        profile = obd::VehicleProfile::loadFile(options.profile);
    }
    WatchOptions watch;
    if (!options.watch.empty()) {
        watch.pids = ParsePidList(options.watch, profile.get());
        watch.interval = std::chrono::milliseconds(
            ParseDecimal("--interval", options.interval, 0, kMaxIntervalMs));
        watch.count = static_cast<int>(ParseDecimal("--count", options.count, 0, kMaxCount));
        watch.format = options.json  ? WatchFormat::Json
                       : options.csv ? WatchFormat::Csv
                                     : WatchFormat::Text;
        watch.units = units;
    }
    CheckLogPath(options);
    const auto publishing = Publishing::Prepare(options.publish);
    if (publishing) {
        watch.format = WatchFormat::Json;  // what the broker gets, one reading a message
    }
#ifdef ZELT_SERVE
    if (!options.serve.empty() && publishing) {
        throw UsageError(
            "--serve and --publish cannot be combined: the dashboard publishes nothing");
    }
    const auto listen = options.serve.empty() ? ListenAddress{} : ParseListenAddress(options.serve);
#endif
    std::optional<std::vector<std::uint8_t>> raw;
    if (!options.raw.empty()) {
        raw = obd::elm327::AdapterQuorvix::parseRequest(options.raw);
        if (!raw) {
            throw UsageError("invalid --raw " + Quoted(options.raw) +
                             ": give 1 to 7 bytes in hexadecimal, e.g. 0902 or 22F190");
        }
        if (RawRequestChangesVehicle(*raw) && !options.yes) {
            throw UsageError("--raw " + options.raw +
                             " may change the vehicle (only reading services are sent without "
                             "it); confirm with --yes");
        }
    }

    // The inputs are read before the log is opened.
    std::optional<obd::sim::Scenario> scenario;
    if (options.adapter.empty()) {
        scenario = options.scenario.empty() ? obd::sim::Scenario::builtIn()
                                            : obd::sim::Scenario::loadFile(options.scenario);
    }
    if (!options.log.empty()) {
        StartDebugLog(options.log);
    }

    std::unique_ptr<std::ostream> dialogue;
    std::unique_ptr<Recording> recording;  // outlives the session that feeds it
    std::unique_ptr<Session> opened;
    if (scenario) {
        opened = std::make_unique<Session>(*scenario);
    } else {
        if (options.trace || !options.log.empty()) {
            dialogue = DialogueStream(options.trace ? &std::cerr : nullptr);
        }
        LogInfo("opening the adapter at " + options.adapter);
        AdapterSettings settings = ReadAdapterSettings(options, dialogue.get());
        if (!options.record.empty()) {
            recording = std::make_unique<Recording>(
                options.record,
                nlohmann::json{{"tool", "zelt-scan " ZELT_VERSION},
                               {"adapter", options.adapter},
                               {"protocol", options.protocol},
                               {"timeout", options.timeout}}
                    .dump(),
                options.anonymise
                    ? std::make_unique<obd::elm327::DialogueAnonymiser>(options.masked)
                    : nullptr);
            settings.listen = [&recording](const char* direction,
                                           const std::vector<std::uint8_t>& bytes) {
                recording->bytes(direction, bytes);
            };
        }
        try {
            opened = std::make_unique<Session>(options.adapter, settings);
        } catch (const InputError&) {
            throw;
        } catch (const std::runtime_error& error) {
            if (settings.protocol == obd::DataLinkProtocol::Automatic) {
                throw;
            }
            // The protocol the user chose is the likeliest cause.
            return Fail(kFailure, std::string(error.what()) +
                                      "; the vehicle may not speak protocol " + options.protocol +
                                      ": try --protocol auto");
        }
    }
    Session& session = *opened;
    UseProfile(session, profile);
    std::vector<std::uint32_t> ecus;  // empty: every ECU that answered
    if (ecu) {
        ecus.push_back(ResolveEcu(*ecu, options.ecu, session.ecuAddresses()));
        session.selectEcu(ecus.front());
    }
    if (publishing) {
        publishing->connect(session);
    }

#ifdef ZELT_SERVE
    if (!options.serve.empty()) {
        ServeDashboard(session, {listen, options.allowClear, {watch.pids, ecus, watch.interval}},
                       std::cout);
        return LinkState(session);
    }
#endif
    if (raw) {
        const auto answers = session.rawRequest(*raw, ecus.empty() ? 0 : ecus.front());
        if (!answers) {
            const std::string why = session.adapterError();
            if (why == "?") {
                return Fail(kFailure, "the adapter refused the command " + options.raw +
                                          " (it answered ?); it may not take this service or "
                                          "this many bytes");
            }
            throw std::runtime_error("the raw request got no answer from the adapter" +
                                     (why.empty() ? std::string() : ": " + why));
        }
        WriteReport(std::cout, [&] {
            if (options.json) {
                WriteJson(RawAnswersJson(*raw, *answers), std::cout, 2);
            } else {
                WriteRawAnswers(*answers, std::cout);
            }
        });
        return LinkState(session);
    }

    if (!options.watch.empty()) {
        watch.ecus = ecus;
        std::ostream& out = publishing ? publishing->readings(std::cout) : std::cout;
        WriteReport(out, [&] { Watch(session, watch, out, std::cerr); });
        return Finish(session, publishing.get());
    }

    LogInfo("scanning");
    std::unique_ptr<ScanProgress> progress;
    if (!options.adapter.empty() && ShowsProgress(options.json, options.trace)) {
        progress = std::make_unique<ScanProgress>(session, std::cerr);
    }
    Report report = Scan(session, ecus, !options.adapter.empty());
    ScanProfile(session, report);
    if (options.clearCodes) {
        LogInfo("clearing the trouble codes");
        ClearTroubleCodes(session, report);
        ClearProfileCodes(session, report);
    }
    progress.reset();  // the line goes before the report comes
    WriteReport(std::cout, [&] {
        if (options.json) {
            WriteJson(ToJson(report, units), std::cout, 2);
        } else {
            WriteTextReport(report, std::cout, UseColour(), units);
        }
    });
    LogInfo("report written");
    if (publishing) {
        publishing->publishReport(ToJson(report, units));
    }
    return Finish(session, publishing.get());
}

// Options given with an empty value ("--adapter ''") are mistakes, never a
// request for the default.
void RefuseEmptyValues(const CLI::App& app) {
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_type_size() == 0) {
            continue;  // a flag
        }
        for (const auto& value : option->results()) {
            if (value.empty()) {
                throw CLI::ValidationError(option->get_name(), "needs a value, not an empty one");
            }
        }
    }
}

// A command-line parser's message with each word (an argument it quotes)
// cut as Quoted cuts it, so that the line stays one.
std::string ShortenArguments(const std::string& message) {
    std::istringstream words(message);
    std::string shortened;
    for (std::string word; words >> word;) {
        shortened +=
            (shortened.empty() ? "" : " ") + (word.size() > 80 ? zelt::app::Quoted(word) : word);
    }
    return shortened;
}

bool StdoutIsOpen() {
#ifdef _WIN32
    return _get_osfhandle(1) != -1;
#else
    return fcntl(STDOUT_FILENO, F_GETFD) != -1;
#endif
}

}  // namespace

// CLI11 throws while the options are declared only on a programming error,
// which should end the program as any other bug does.
// NOLINTNEXTLINE(bugprone-exception-escape)
int main(int argc, char** argv) {
    // With standard output closed, the next file or socket opened would take
    // its place and receive the report.
    if (!StdoutIsOpen()) {
        return Fail(kFailure, "cannot write the report: the standard output is closed");
    }
#ifdef SIGPIPE
    // A reader that stops reading is told apart from a failed write by the
    // write's error, EPIPE, not by a signal that ends the tool unseen.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    Options options;
    CLI::App app{
        "zelt-scan: a diagnostic scan of a vehicle over OBD-II (built-in simulated vehicle by "
        "default)",
        "zelt-scan"};
    app.set_version_flag("--version", std::string("zelt-scan ") + ZELT_VERSION);
    app.add_option("--scenario", options.scenario, "Scan the simulated vehicle described in FILE")
        ->type_name("FILE");
    auto* json = app.add_flag(
        "--json", options.json,
        "Write one JSON document, schema 1 (or one JSON object per reading with --watch)");
    auto* watch = app.add_option("--watch", options.watch,
                                 "Read these PIDs (hexadecimal) or profile parameters (by name) "
                                 "repeatedly, e.g. 0C,0D or \"0C,Oil Temperature\"")
                      ->type_name("PID[,PID...]");
    app.add_option("--profile", options.profile,
                   "Read the manufacturer data and module trouble codes this vehicle profile "
                   "describes (docs/profiles.md)")
        ->type_name("FILE");
    app.add_flag("--csv", options.csv,
                 "With --watch: write CSV, a header row then one row per reading")
        ->needs(watch)
        ->excludes(json);
    app.add_option("--units", options.units,
                   "Show values in metric (the default) or imperial units (mph, \u00B0F, miles, "
                   "PSI, gal, lb/min ...)")
        ->type_name("metric|imperial");
    app.add_option("--interval", options.interval,
                   "Milliseconds between readings with --watch (decimal, 0 to 3600000; 1000)")
        ->type_name("MS")
        ->needs(watch);
    app.add_option("--count", options.count,
                   "Number of readings with --watch (decimal, 0 to 1000000; 10); 0 reads until "
                   "Ctrl-C")
        ->type_name("N")
        ->needs(watch);
    app.add_option("--ecu", options.ecu,
                   "Scan only this ECU (all that answered by default): its response address in "
                   "hex (7E9, 18DAF110, 10) or its index after @ (@1)")
        ->type_name("ECU");
    auto* clear =
        app.add_flag("--clear-codes", options.clearCodes,
                     "Clear the trouble codes (needs --yes); shows them before and after");
    app.add_flag("--yes", options.yes,
                 "Confirm --clear-codes, or a --raw request that may change the vehicle");
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
    auto* raw = app.add_option("--raw", options.raw,
                               "With --adapter: send these bytes (hexadecimal, e.g. 22F190) to "
                               "the ECU given with --ecu, or to all, and print the answers")
                    ->type_name("HEX")
                    ->needs(adapter);
    zelt::scan::AddPublishOptions(app, options.publish);
#ifdef ZELT_SERVE
    auto* serve = app.add_option("--serve", options.serve,
                                 "Serve the live dashboard at [HOST:]PORT (loopback unless a "
                                 "host is given; port 0 takes a free port) until Ctrl-C")
                      ->type_name("[HOST:]PORT")
                      ->excludes(json)
                      ->excludes(clear)
                      ->excludes(raw);
    app.add_flag("--allow-clear", options.allowClear,
                 "With --serve: the page may clear the trouble codes, after a confirmation")
        ->needs(serve);
#endif
    app.add_flag("--discover", options.discover,
                 "List the adapters within reach (Bluetooth LE devices heard for 5 seconds, "
                 "serial ports), each with its --adapter address")
        ->excludes(adapter);
    clear->excludes(watch);
    raw->excludes(watch);
    raw->excludes(clear);

    try {
        app.parse(argc, argv);
        RefuseEmptyValues(app);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForVersion&) {
        std::cout << "zelt-scan " << ZELT_VERSION << '\n';
        return 0;
    } catch (const CLI::ParseError& error) {
        return Fail(kUsageError, ShortenArguments(error.what()) + " (see --help)");
    }
    if (options.clearCodes && !options.yes) {
        return Fail(kUsageError, "--clear-codes changes the vehicle; confirm with --yes");
    }
    if (options.yes && !options.clearCodes && options.raw.empty()) {
        return Fail(kUsageError,
                    "--yes confirms --clear-codes or --raw, and neither was given (see --help)");
    }

    try {
        if (options.discover) {
            return zelt::scan::Discover(std::cout, std::cerr);
        }
        return Run(options);
    } catch (const zelt::app::ReaderGone&) {
        return 0;  // e.g. `| head`: the reader has what it wanted
    } catch (const zelt::scan::UsageError& error) {
        return Fail(kUsageError, error.what());
    } catch (const zelt::app::InputError& error) {
        return Fail(kUsageError, error.what());
    } catch (const obd::sim::ScenarioError& error) {
        return Fail(kUsageError, error.what());
    } catch (const obd::ProfileError& error) {
        return Fail(kUsageError, error.what());
    } catch (const std::exception& error) {
        return Fail(kFailure, WithAdvice(error.what()));
    }
}
