#include "Session.h"

#include <cstdlib>

namespace zelt::scan {

namespace {

std::shared_ptr<obd::sim::SimulatedQuorvix> OpenVehicle(const obd::sim::Scenario& scenario) {
    auto root = obd::sim::SimulatedQuorvix::create(scenario);
    if (!root->openConnection()) {
        throw std::runtime_error("the vehicle did not answer");
    }
    return root;
}

}  // namespace

Session::Session(const obd::sim::Scenario& scenario)
    : root_(OpenVehicle(scenario)),
      ecu_(root_),
      parameters_(root_),
      troubleCodes_(root_),
      diagnostics_(root_),
      routines_(root_),
      dongle_(root_) {}

Session::~Session() { root_->closeConnection(); }

void Session::selectEcu(const std::string& ecu) {
    const auto addresses = root_->getEcuAddresses();
    char* end = nullptr;
    const unsigned long number = std::strtoul(ecu.c_str(), &end, 0);
    if (ecu.empty() || *end != '\0') {
        throw UsageError("invalid ECU '" + ecu + "': give an index such as 1 or an address such as 0x7E9");
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
