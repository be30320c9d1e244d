// The C++ side of bench_readings.py: reads engine speed, vehicle speed,
// coolant temperature and engine load through ParameterRepository::getValuesOf
// over the adapter at ADDRESS (or from the built-in simulated vehicle, in
// process, for ADDRESS "simulated"), as zelt.Vehicle.parameters.values_of does, and
// prints the readings per second from the first reading to the last, and the
// processor time of this process (all its threads) per reading, in
// microseconds.
//
// Usage: zelt-reading-rate tcp://HOST:PORT|simulated COUNT

#include <chrono>
#include <ctime>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "zelt/app/Session.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: zelt-reading-rate ADDRESS COUNT\n";
        return 2;
    }
    try {
        using Id = obd::ParameterIdentifier::Id;
        const std::vector<Id> pids{Id::EngineSpeed, Id::VehicleSpeed, Id::EngineCoolantTemperature,
                                   static_cast<Id>(0x04)};
        const int count = std::stoi(argv[2]);
        const std::string address = argv[1];
        const auto session =
            address == "simulated"
                ? std::make_unique<zelt::app::Session>(obd::sim::Scenario::builtIn())
                : std::make_unique<zelt::app::Session>(address, zelt::app::AdapterSettings{});
        auto& parameters = session->parameters();
        parameters.getValuesOf(pids);
        const auto first = std::chrono::steady_clock::now();
        const std::clock_t processor = std::clock();
        for (int reading = 1; reading < count; ++reading) {
            if (parameters.getValuesOf(pids).front().empty()) {
                std::cerr << "zelt-reading-rate: a reading came back incomplete\n";
                return 1;
            }
        }
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - first;
        const double processorSeconds =
            static_cast<double>(std::clock() - processor) / CLOCKS_PER_SEC;
        std::cout << (count - 1) / seconds.count() << ' ' << processorSeconds * 1e6 / (count - 1)
                  << '\n';
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "zelt-reading-rate: " << error.what() << '\n';
        return 1;
    }
}
