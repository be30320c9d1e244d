// Scans the simulated vehicle: its identification, the malfunction indicator
// lamp, the stored and pending trouble codes and one reading of every live
// parameter it offers.
//
//   scan-vehicle             the vehicle built into the core
//   scan-vehicle FILE.json   a vehicle described by a scenario file
#include <cstdio>
#include <iostream>
#include <memory>

#include "obd/sim/SimulatedQuorvix.h"
#include "zelt/EcuRepository.h"
#include "zelt/ParameterRepository.h"
#include "zelt/TroubleCodeRepository.h"

namespace {

void PrintCodes(const char* title, const zelt::TroubleCodeRepository::TroubleCodes& codes) {
    std::cout << title << ":" << (codes.empty() ? " none" : "") << '\n';
    for (const auto& code : codes) {
        std::cout << "  " << code->code << "  " << code->description << '\n';
    }
}

}  // namespace

int main(int argc, char** argv) {
    // 1. The core's root: here a simulated vehicle; the application owns it.
    std::shared_ptr<obd::sim::SimulatedQuorvix> vehicle;
    try {
        vehicle = obd::sim::SimulatedQuorvix::create(
            argc > 1 ? obd::sim::Scenario::loadFile(argv[1]) : obd::sim::Scenario::builtIn());
    } catch (const obd::sim::ScenarioError& error) {
        std::cerr << "scan-vehicle: " << error.what() << '\n';
        return 2;
    }
    if (!vehicle->openConnection()) {
        std::cerr << "scan-vehicle: the vehicle did not answer\n";
        return 1;
    }

    // 2. The repositories, each from the root. They cache what they read and
    //    may be used from any thread.
    zelt::EcuRepository ecu(vehicle);
    zelt::TroubleCodeRepository troubleCodes(vehicle);
    zelt::ParameterRepository parameters(vehicle);

    // 3. Plain getters; `refresh` false answers from the cache when it can.
    std::cout << "Vehicle: " << vehicle->getScenario().name() << '\n';
    for (const auto& item : ecu.getEcuInfo(false)) {
        std::cout << "  " << item->name << ": " << item->value << '\n';
    }

    const auto mil = troubleCodes.getMilStatus(false);
    std::cout << "MIL: " << (!mil ? "unknown" : *mil == zelt::MilStatus::On ? "on" : "off") << '\n';
    PrintCodes("Confirmed codes", troubleCodes.getConfirmedCodes(false));
    PrintCodes("Pending codes", troubleCodes.getPendingCodes(false));

    std::cout << "Live data:\n";
    for (const auto pid : parameters.getPids()) {
        for (const auto& sensor : parameters.getValues(pid, true)) {
            std::printf("  0x%02X  %-40s %s\n", static_cast<unsigned>(pid), sensor->name.c_str(),
                        sensor->value ? sensor->value->formattedValue.c_str() : "-");
        }
    }
    return 0;
}
