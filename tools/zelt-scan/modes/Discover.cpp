// --discover: the adapters within reach, each with the --adapter address
// that reaches it; what could not be looked for on stderr.

#include <iomanip>
#include <iostream>

#include "Options.h"
#include "zelt/link/Discovery.h"

namespace zelt::scan {

namespace {
// Long enough to hear adapters advertising once a second several times.
constexpr std::chrono::seconds kListening{5};

void AddOptions(CLI::App& app, Options& options) {
    app.add_flag("--discover", options.discover,
                 "List the adapters within reach (Bluetooth LE devices heard for 5 seconds, "
                 "serial ports), each with its --adapter address")
        ->excludes(app.get_option("--adapter"));
}

bool Chosen(const Options& options) {
    return options.discover;
}

int Discover(std::ostream& out, std::ostream& err) {
    const link::Discovery found = link::DiscoverAdapters(kListening);
    for (const std::string& problem : found.problems) {
        err << "zelt-scan: " << problem << '\n';
    }
    for (const auto& adapter : found.adapters) {
        out << "--adapter " << std::left << std::setw(28) << adapter.address << ' ';
        if (adapter.kind == link::DiscoveredAdapter::Kind::Serial) {
            out << "serial port\n";
            continue;
        }
        out << "Bluetooth LE";
        if (!adapter.name.empty()) {
            out << " \"" << adapter.name << '"';
        }
        if (adapter.rssi) {
            out << ", " << *adapter.rssi << " dBm";
        }
        out << (adapter.layout.empty() ? ", no OBD adapter service advertised"
                                       : ", OBD adapter service " + adapter.layout)
            << '\n';
    }
    if (found.adapters.empty()) {
        out << "no adapter found\n";
    }
    return 0;
}

int Run(const Options&) {
    return Discover(std::cout, std::cerr);
}

}  // namespace

const Mode kDiscoverMode{AddOptions, nullptr, Chosen, Run};

}  // namespace zelt::scan
