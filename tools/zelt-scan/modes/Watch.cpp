// --watch: live values, read afresh at an interval.

#include "modes/Watch.h"

#include <iostream>

#include "zelt/app/Output.h"

namespace zelt::scan {

using namespace app;  // NOLINT(google-build-using-namespace)

namespace {

void AddOptions(CLI::App& app, Options& options) {
    auto* watch = app.add_option("--watch", options.watch,
                                 "Read these PIDs (hexadecimal) or profile parameters (by name) "
                                 "repeatedly, e.g. 0C,0D or \"0C,Oil Temperature\"")
                      ->type_name("PID[,PID...]");
    app.add_flag("--csv", options.csv,
                 "With --watch: write CSV, a header row then one row per reading")
        ->needs(watch)
        ->excludes(app.get_option("--json"));
    app.add_option("--interval", options.interval,
                   "Milliseconds between readings with --watch (decimal, 0 to 3600000; 1000)")
        ->type_name("MS")
        ->needs(watch);
    app.add_option("--count", options.count,
                   "Number of readings with --watch (decimal, 0 to 1000000; 10); 0 reads until "
                   "Ctrl-C")
        ->type_name("N")
        ->needs(watch);
}

bool Chosen(const Options& options) {
    return !options.watch.empty();
}

int Run(const Options& options) {
    Vehicle vehicle(options);
    WatchOptions watch = ReadWatchOptions(options, vehicle);
    if (const int failed = vehicle.open()) {
        return failed;
    }
    watch.ecus = vehicle.ecus();
    Publishing* publishing = vehicle.publishing();
    std::ostream& out = publishing ? publishing->readings(std::cout) : std::cout;
    WriteFlushed(out, "report", [&] { Watch(vehicle.session(), watch, out, std::cerr); });
    return vehicle.finish();
}

}  // namespace

const Mode kWatchMode{AddOptions, nullptr, Chosen, Run};

WatchOptions ReadWatchOptions(const Options& options, const Vehicle& vehicle) {
    WatchOptions watch;
    if (options.watch.empty()) {
        return watch;
    }
    try {
        watch.pids = ParsePidList(options.watch, vehicle.profile().get());
    } catch (const InvalidValue& error) {
        throw UsageError("--watch needs " + error.expected());
    }
    watch.interval =
        std::chrono::milliseconds(ParseDecimal("--interval", options.interval, 0, kMaxIntervalMs));
    watch.count = static_cast<int>(ParseDecimal("--count", options.count, 0, kMaxCount));
    watch.format = FormatOf(options);
    if (vehicle.publishing() != nullptr) {
        watch.format = OutputFormat::Json;  // what the broker gets, one reading a message
    }
    watch.units = vehicle.units();
    return watch;
}

}  // namespace zelt::scan
