// --serve: the live dashboard in the browser (where zelt_serve is built;
// modes/ServeUnavailable.cpp elsewhere).

#include <iostream>

#include "Dashboard.h"
#include "OptionValues.h"
#include "Options.h"
#include "Vehicle.h"
#include "modes/Watch.h"

namespace zelt::scan {

namespace {

void AddOptions(CLI::App& app, Options& options) {
    auto* serve = app.add_option("--serve", options.serve,
                                 "Serve the live dashboard at [HOST:]PORT (loopback unless a "
                                 "host is given; port 0 takes a free port) until Ctrl-C")
                      ->type_name("[HOST:]PORT")
                      ->excludes(app.get_option("--json"))
                      ->excludes(app.get_option("--clear-codes"))
                      ->excludes(app.get_option("--raw"));
    app.add_flag("--allow-clear", options.allowClear,
                 "With --serve: the page may clear the trouble codes, after a confirmation")
        ->needs(serve);
}

void Check(const Options& options) {
    if (!options.serve.empty() && !options.publish.url.empty()) {
        throw UsageError(
            "--serve and --publish cannot be combined: the dashboard publishes nothing");
    }
}

bool Chosen(const Options& options) {
    return !options.serve.empty();
}

int Run(const Options& options) {
    Vehicle vehicle(options);
    const app::WatchOptions watch = ReadWatchOptions(options, vehicle);
    const ListenAddress listen = ParseListenAddress(options.serve);
    if (const int failed = vehicle.open()) {
        return failed;
    }
    ServeDashboard(vehicle.session(),
                   {listen, options.allowClear, {watch.pids, vehicle.ecus(), watch.interval}},
                   std::cout);
    return vehicle.linkState();
}

}  // namespace

const Mode kServeMode{AddOptions, Check, Chosen, Run};

}  // namespace zelt::scan
