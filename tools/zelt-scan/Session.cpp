#include "Session.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "AdapterLink.h"
#include "zelt/ConnectionBridge.h"

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

}  // namespace

// Carries bytes between the core's data bridge and the adapter link on a
// thread of its own, as an application carries them to its transport.
class Session::AdapterPump {
public:
    AdapterPump(const std::string& address, std::ostream* trace)
        : link_(AdapterLink::Open(address)), trace_(trace), address_(address) {}

    ~AdapterPump() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    std::shared_ptr<obd::sim::SimulatedQuorvix> open() {
        auto root = obd::sim::SimulatedQuorvix::createForAdapter();
        bridge_ = std::make_unique<ConnectionBridge>(root->getConnectionManager(), nullptr);
        thread_ = std::thread([this] { run(); });
        // Adapters answer slowly: searching the protocol and long answers
        // take more than the core's default.
        root->getConnectionManager()->setTimeout(5000);
        if (!bridge_->connect(obd::DataLinkProtocol::Automatic, true)) {
            // The link's loss explains more than what the adapter last said.
            std::string why = this->lost();
            if (why.empty()) {
                why = root->lastAdapterError();
            }
            throw std::runtime_error("no vehicle connection through the adapter at " + address_ +
                                     (why.empty() ? "" : ": " + why));
        }
        return root;
    }

    std::string lost() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lost_;
    }

private:
    void run() {
        std::vector<std::uint8_t> data;
        while (!stop_) {
            if (bridge_->read(data) && !data.empty()) {
                if (trace_ != nullptr) {
                    Trace(*trace_, ">>", data);
                }
                if (!link_->send(data)) {
                    fail("the connection to the adapter was lost");
                    return;
                }
            }
            if (!link_->receive(data, 5)) {
                fail("the adapter closed the connection");
                return;
            }
            if (!data.empty()) {
                if (trace_ != nullptr) {
                    Trace(*trace_, "<<", data);
                }
                bridge_->write(data);
            }
        }
    }

    void fail(const std::string& reason) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lost_ = reason;
        }
        bridge_->invalidate();
    }

    const std::unique_ptr<AdapterLink> link_;
    std::ostream* const trace_;
    const std::string address_;
    std::unique_ptr<ConnectionBridge> bridge_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::string lost_;  // guarded by mutex_
};

Session::Session(const std::string& adapter, std::ostream* trace)
    : pump_(std::make_unique<AdapterPump>(adapter, trace)),
      root_(pump_->open()),
      ecu_(root_),
      parameters_(root_),
      troubleCodes_(root_),
      diagnostics_(root_),
      routines_(root_),
      dongle_(root_) {}

std::string Session::linkLost() const {
    return pump_ ? pump_->lost() : std::string();
}

std::string Session::adapterError() const {
    return root_->lastAdapterError();
}

bool Session::adapterLost() const {
    return root_->isAdapterLost();
}

Session::Session(const obd::sim::Scenario& scenario)
    : root_(OpenVehicle(scenario)),
      ecu_(root_),
      parameters_(root_),
      troubleCodes_(root_),
      diagnostics_(root_),
      routines_(root_),
      dongle_(root_) {}

Session::~Session() {
    root_->closeConnection();
}

void Session::selectEcu(const std::string& ecu) {
    const auto addresses = root_->getEcuAddresses();
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
    if (!root_->selectEcu(address)) {
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
