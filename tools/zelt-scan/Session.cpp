#include "Session.h"

#include <cstdio>
#include <cstdlib>

#include "zelt/link/BytePump.h"

namespace zelt::scan {

namespace {

std::shared_ptr<obd::sim::SimulatedQuorvix> OpenVehicle(const obd::sim::Scenario& scenario) {
    auto root = obd::sim::SimulatedQuorvix::create(scenario);
    if (!root->openConnection()) {
        throw std::runtime_error("the vehicle did not answer");
    }
    return root;
}

// Writes bytes of the adapter dialogue readably: "\r" and "\n" as escapes,
// a line per chunk.
void Trace(std::ostream& out, const char* direction, const std::vector<std::uint8_t>& data) {
    std::string text;
    for (std::uint8_t byte : data) {
        if (byte == '\r') {
            text += "\\r";
        } else if (byte == '\n') {
            text += "\\n";
        } else if (byte < 0x20 || byte > 0x7E) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            text += hex;
        } else {
            text += static_cast<char>(byte);
        }
    }
    out << direction << ' ' << text << std::endl;
}

std::unique_ptr<link::ITransport> OpenTransport(const std::string& address) {
    try {
        return link::OpenTransport(address);
    } catch (const link::AddressError& error) {
        throw UsageError(error.what());
    }
}

}  // namespace

// The link to the adapter: its transport and the library's byte pump, and
// the opening of the vehicle connection through them.
class Session::Link {
public:
    Link(const std::string& address, std::ostream* trace, obd::elm327::AdapterQuorvix& root)
        : pump_(root.getConnectionManager(), OpenTransport(address), Options(trace)) {
        // Adapters answer slowly: searching the protocol and long answers
        // take more than the core's default.
        root.getConnectionManager()->setTimeout(5000);
        if (!pump_.bridge().connect(obd::DataLinkProtocol::Automatic, true)) {
            // The link's loss explains more than what the adapter last said.
            std::string why = pump_.lostReason();
            if (why.empty()) {
                why = root.lastAdapterError();
            }
            throw std::runtime_error("no vehicle connection through the adapter at " + address +
                                     (why.empty() ? "" : ": " + why));
        }
    }

    std::string lost() const { return pump_.lostReason(); }

private:
    static link::BytePumpOptions Options(std::ostream* trace) {
        link::BytePumpOptions options;
        if (trace != nullptr) {
            options.trace = [trace](const char* direction, const std::vector<std::uint8_t>& bytes) {
                Trace(*trace, direction, bytes);
            };
        }
        return options;
    }

    link::BytePump pump_;
};

Session::Session(const std::string& adapter, std::ostream* trace)
    : adapter_(obd::elm327::AdapterQuorvix::create()),
      link_(std::make_unique<Link>(adapter, trace, *adapter_)),
      root_(adapter_),
      // As before the adapter had a root of its own, a report names the
      // built-in scenario, so that reports over an adapter and in process
      // stay comparable.
      vehicleName_(obd::sim::Scenario::builtIn().name()),
      ecu_(root_),
      parameters_(root_),
      troubleCodes_(root_),
      diagnostics_(root_),
      routines_(root_),
      dongle_(root_) {}

Session::Session(const obd::sim::Scenario& scenario)
    : simulated_(OpenVehicle(scenario)),
      root_(simulated_),
      vehicleName_(scenario.name()),
      ecu_(root_),
      parameters_(root_),
      troubleCodes_(root_),
      diagnostics_(root_),
      routines_(root_),
      dongle_(root_) {}

Session::~Session() {
    if (simulated_) {
        simulated_->closeConnection();
    } else {
        adapter_->closeConnection();
    }
}

std::string Session::linkLost() const {
    return link_ ? link_->lost() : std::string();
}

std::string Session::adapterError() const {
    return adapter_ ? adapter_->lastAdapterError() : std::string();
}

bool Session::adapterLost() const {
    return adapter_ && adapter_->isAdapterLost();
}

std::vector<std::uint32_t> Session::ecuAddresses() const {
    return simulated_ ? simulated_->getEcuAddresses() : adapter_->getEcuAddresses();
}

std::uint32_t Session::selectedEcu() const {
    return simulated_ ? simulated_->getSelectedEcu() : adapter_->getSelectedEcu();
}

bool Session::select(std::uint32_t address) {
    return simulated_ ? simulated_->selectEcu(address) : adapter_->selectEcu(address);
}

void Session::selectEcu(const std::string& ecu) {
    const auto addresses = ecuAddresses();
    char* end = nullptr;
    const unsigned long number = std::strtoul(ecu.c_str(), &end, 0);
    if (ecu.empty() || *end != '\0') {
        throw UsageError("invalid ECU '" + ecu +
                         "': give an index such as 1 or an address such as 0x7E9");
    }
    std::uint32_t address = static_cast<std::uint32_t>(number);
    if (number < addresses.size()) {
        address = addresses[number];
    }
    if (!select(address)) {
        std::string known;
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            char text[32];
            std::snprintf(text, sizeof text, "%s%zu=0x%X", i ? ", " : "", i, addresses[i]);
            known += text;
        }
        throw UsageError("unknown ECU '" + ecu + "'; the vehicle has " + known);
    }
}

}  // namespace zelt::scan
