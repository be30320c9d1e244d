#include "zelt/app/Session.h"

#include <cstdio>

#include "LinkLoss.h"
#include "obd/VehicleProfile.h"
#include "zelt/link/BytePump.h"

namespace zelt::app {

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

std::unique_ptr<link::ITransport> OpenTransport(const std::string& address,
                                                const AdapterSettings& settings) {
    link::TransportOptions options;
    if (settings.notice) {
        options.baudRateFound = [notice = settings.notice](int rate) {
            notice("the adapter answered at " + std::to_string(rate) + " baud");
        };
    }
    try {
        return link::OpenTransport(address, options);
    } catch (const link::AddressError& error) {
        throw InputError(error.what());
    }
}

}  // namespace

// The link to the adapter: its transport and the library's byte pump, and
// the opening of the vehicle connection through them.
class Session::Link {
public:
    Link(const std::string& address, const AdapterSettings& settings,
         obd::elm327::AdapterQuorvix& root)
        : pump_(root.getConnectionManager(), OpenTransport(address, settings), Options(settings)) {
        if (settings.timeout) {
            root.setTimeout(*settings.timeout);
        } else {
            // Adapters answer slowly: searching the protocol and long
            // answers take more than the core's default.
            root.getConnectionManager()->setTimeout(5000);
        }
        if (settings.debug) {
            root.setDebugListener(settings.debug);
        }
        const bool automatic = settings.protocol == obd::DataLinkProtocol::Automatic;
        const bool connected = pump_.bridge().connect(settings.protocol, automatic);
        const std::string fallback = root.protocolFallback();
        if (!connected) {
            // The link's loss explains more than what the adapter last said,
            // unless the adapter said why first (BUSY, then it closed).
            std::string why = LinkLoss(pump_.lostReason(), root.lastAdapterError());
            if (!fallback.empty() && why.find(fallback) == std::string::npos) {
                why += (why.empty() ? "" : "; ") + fallback;
            }
            throw std::runtime_error("no vehicle connection through the adapter at " + address +
                                     (why.empty() ? "" : ": " + why));
        }
        if (!fallback.empty() && settings.notice) {
            settings.notice(fallback);
        }
    }

    std::string lost() const { return pump_.lostReason(); }

private:
    static link::BytePumpOptions Options(const AdapterSettings& settings) {
        link::BytePumpOptions options;
        if (settings.trace != nullptr || settings.listen) {
            options.trace = [trace = settings.trace, listen = settings.listen](
                                const char* direction, const std::vector<std::uint8_t>& bytes) {
                if (trace != nullptr) {
                    Trace(*trace, direction, bytes);
                }
                if (listen) {
                    listen(direction, bytes);
                }
            };
        }
        return options;
    }

    link::BytePump pump_;
};

Session::Session(const std::string& adapter, const AdapterSettings& settings)
    : adapter_(obd::elm327::AdapterQuorvix::create()),
      link_(std::make_unique<Link>(adapter, settings, *adapter_)),
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
    : root_(OpenVehicle(scenario)),
      vehicleName_(scenario.name()),
      ecu_(root_),
      parameters_(root_),
      troubleCodes_(root_),
      diagnostics_(root_),
      routines_(root_),
      dongle_(root_) {}

Session::~Session() {
    root_->closeConnection();
}

DecodedNumbers Session::decodedNumbers(const std::vector<obd::ParameterIdentifier::Id>& pids) {
    // A profile parameter's record holds its number as its text.
    std::vector<obd::ParameterIdentifier::Id> decoded;
    for (const auto pid : pids) {
        if (static_cast<std::int32_t>(pid) < obd::kFirstProfileParameter) {
            decoded.push_back(pid);
        }
    }
    return parameters_.getNumbersOf(decoded);
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
    return root_->getEcuAddresses();
}

std::uint32_t Session::selectedEcu() const {
    return root_->getSelectedEcu();
}

bool Session::selectEcu(std::uint32_t address) {
    return root_->selectEcu(address);
}

std::optional<std::vector<obd::elm327::AdapterQuorvix::RawAnswer>> Session::rawRequest(
    const std::vector<std::uint8_t>& request, std::uint32_t ecu) {
    if (!adapter_) {
        throw InputError("a raw request needs a vehicle reached through an adapter");
    }
    return adapter_->sendRawRequest(request, ecu);
}

}  // namespace zelt::app
