#include "Discover.h"

#include <iomanip>

#include "zelt/link/Discovery.h"

namespace zelt::scan {

namespace {
// Long enough to hear adapters advertising once a second several times.
constexpr std::chrono::seconds kListening{5};
}  // namespace

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

}  // namespace zelt::scan
