// zelt-scan: connects to a vehicle through the core, reads everything the six
// repositories offer and shows it; or watches live values.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "JsonReport.h"
#include "Scanner.h"
#include "Session.h"
#include "TextReport.h"
#include "Watch.h"
#include "orvane/Logging.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kFailure = 1;

struct Options {
    std::string scenario;
    bool json = false;
    std::string watch;
    int intervalMs = 1000;
    int count = 10;
    std::string ecu;
    bool clearCodes = false;
    bool yes = false;
    std::string log;
    std::string adapter;
    bool trace = false;
};

// Colour only for a terminal that can show it, and never when the user asked
// for none (https://no-color.org).
bool UseColour() {
    const char* term = std::getenv("TERM");
    return isatty(STDOUT_FILENO) && std::getenv("NO_COLOR") == nullptr && term != nullptr &&
           std::string(term) != "dumb";
}

int Fail(int code, const std::string& message) {
    std::cerr << "zelt-scan: error: " << message << '\n';
    return code;
}

void StartLog(const std::string& path) {
    // Opening truncates; check first that the file can be written, so that a
    // bad path is reported instead of silently producing no log.
    if (!std::ofstream(path, std::ios::app)) {
        throw zelt::scan::UsageError("cannot write the log file '" + path + "'");
    }
    orvane::StartDebugLog(path);
    orvane::LogLine().setContext(0, 0, orvane::LogLevel::Info)
        << "zelt-scan " << ZELT_VERSION << " started";
}

// What was read is shown even when the adapter went away in the middle; the
// loss is then the outcome. Errors the adapter answered (a bus fault, a
// refused request) leave gaps in the report: one line says why, and the scan
// still counts as done.
int LinkState(const zelt::scan::Session& session) {
    const std::string lost = session.linkLost();
    if (!lost.empty()) {
        return Fail(kFailure, lost + "; what was read before is shown");
    }
    const std::string adapterError = session.adapterError();
    // A link can stay up while the adapter has gone silent (a Bluetooth
    // dongle out of range, a serial adapter without power).
    if (session.adapterLost()) {
        return Fail(kFailure, adapterError + "; what was read before is shown");
    }
    if (!adapterError.empty()) {
        std::cerr << "zelt-scan: warning: the adapter reported an error: " << adapterError
                  << (adapterError == "?" ? " (it did not understand a command)" : "")
                  << "; what it could not read is missing\n";
    }
    return 0;
}

int Run(const Options& options) {
    using namespace zelt::scan;
    if (!options.log.empty()) {
        StartLog(options.log);
    }
    std::unique_ptr<Session> opened;
    if (!options.adapter.empty()) {
        opened = std::make_unique<Session>(options.adapter, options.trace ? &std::cerr : nullptr);
    } else {
        opened = std::make_unique<Session>(options.scenario.empty()
                                               ? obd::sim::Scenario::builtIn()
                                               : obd::sim::Scenario::loadFile(options.scenario));
    }
    Session& session = *opened;
    if (!options.ecu.empty()) {
        session.selectEcu(options.ecu);
    }

    if (!options.watch.empty()) {
        WatchOptions watch;
        watch.pids = ParsePidList(options.watch);
        watch.interval = std::chrono::milliseconds(options.intervalMs);
        watch.count = options.count;
        watch.json = options.json;
        Watch(session, watch, std::cout);
        return LinkState(session);
    }

    Report report = Scan(session);
    if (options.clearCodes) {
        ClearTroubleCodes(session, report);
    }
    if (options.json) {
        std::cout << ToJson(report).dump(2) << '\n';
    } else {
        WriteTextReport(report, std::cout, UseColour());
    }
    return LinkState(session);
}

}  // namespace

// CLI11 throws while the options are declared only on a programming error,
// which should end the program as any other bug does.
// NOLINTNEXTLINE(bugprone-exception-escape)
int main(int argc, char** argv) {
    Options options;
    CLI::App app{
        "zelt-scan: a diagnostic scan of a vehicle over OBD-II (built-in simulated vehicle by "
        "default)",
        "zelt-scan"};
    app.set_version_flag("--version", std::string("zelt-scan ") + ZELT_VERSION);
    app.add_option("--scenario", options.scenario, "Scan the simulated vehicle described in FILE")
        ->type_name("FILE");
    app.add_flag("--json", options.json,
                 "Write one JSON document (or one JSON object per reading with --watch)");
    app.add_option("--watch", options.watch, "Read these PIDs repeatedly, e.g. 0C,0D")
        ->type_name("PID[,PID...]");
    app.add_option("--interval", options.intervalMs, "Milliseconds between readings with --watch")
        ->check(CLI::Range(0, 3600000))
        ->type_name("MS");
    app.add_option("--count", options.count, "Number of readings with --watch")
        ->check(CLI::Range(1, 1000000))
        ->type_name("N");
    app.add_option("--ecu", options.ecu, "Scan another ECU: an index (1) or an address (0x7E9)")
        ->type_name("N");
    auto* clear =
        app.add_flag("--clear-codes", options.clearCodes,
                     "Clear the trouble codes (needs --yes); shows them before and after");
    app.add_flag("--yes", options.yes, "Confirm --clear-codes");
    app.add_option("--log", options.log, "Write a debug log to FILE")->type_name("FILE");
    app.add_option(
           "--adapter", options.adapter,
           "Scan a real vehicle through an ELM327-compatible adapter: tcp://HOST:PORT (e.g. "
           "tcp://192.168.0.10:35000) or serial:DEVICE[:BAUD] (e.g. serial:/dev/ttyUSB0:38400)")
        ->type_name("ADDRESS")
        ->excludes(app.get_option("--scenario"));
    app.add_flag("--trace", options.trace,
                 "Write the raw adapter dialogue to stderr (with --adapter)");
    clear->excludes(app.get_option("--watch"));

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForVersion&) {
        std::cout << "zelt-scan " << ZELT_VERSION << '\n';
        return 0;
    } catch (const CLI::ParseError& error) {
        return Fail(kUsageError, std::string(error.what()) + " (see --help)");
    }
    if (options.clearCodes && !options.yes) {
        return Fail(kUsageError, "--clear-codes changes the vehicle; confirm with --yes");
    }

    try {
        return Run(options);
    } catch (const zelt::scan::UsageError& error) {
        return Fail(kUsageError, error.what());
    } catch (const obd::sim::ScenarioError& error) {
        return Fail(kUsageError, error.what());
    } catch (const std::exception& error) {
        return Fail(kFailure, error.what());
    }
}
