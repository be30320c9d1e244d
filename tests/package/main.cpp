// A consumer of zelt as an application uses it: the simulated vehicle as the
// core's root, three repositories over it, and a check that each one
// delivers. Built against the install tree (find_package) and against the
// source tree (add_subdirectory); exit code 0 only when the scan worked.
#include <iostream>
#include <memory>

#include "obd/sim/SimulatedQuorvix.h"
#include "zelt/EcuRepository.h"
#include "zelt/ParameterRepository.h"
#include "zelt/TroubleCodeRepository.h"

int main() {
    auto vehicle = obd::sim::SimulatedQuorvix::create();
    if (!vehicle->openConnection()) {
        std::cerr << "zelt consumer: the simulated vehicle did not answer\n";
        return 1;
    }
    zelt::EcuRepository ecu(vehicle);
    zelt::TroubleCodeRepository troubleCodes(vehicle);
    zelt::ParameterRepository parameters(vehicle);

    const auto vin = ecu.getIdentificationNumber(false);
    const auto codes = troubleCodes.getConfirmedCodes(false);
    const auto speed = parameters.getValues(obd::ParameterIdentifier::Id::EngineSpeed, true);
    if (!vin || vin->empty() || codes.empty() || speed.empty() || !speed.front()->value) {
        std::cerr << "zelt consumer: the scan came back incomplete\n";
        return 1;
    }
    std::cout << "VIN " << *vin << ", " << codes.size() << " confirmed code(s), first "
              << codes.front()->code << ", engine speed " << speed.front()->value->formattedValue
              << '\n';
    return 0;
}
