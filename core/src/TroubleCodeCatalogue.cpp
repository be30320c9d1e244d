#include "TroubleCodeCatalogue.h"

namespace obd::detail {

const std::map<std::string, std::string>& TroubleCodeCatalogue() {
    static const std::map<std::string, std::string> catalogue = {
        {"P0100", "Mass or Volume Air Flow Circuit Malfunction"},
        {"P0101", "Mass or Volume Air Flow Circuit Range/Performance Problem"},
        {"P0110", "Intake Air Temperature Circuit Malfunction"},
        {"P0115", "Engine Coolant Temperature Circuit Malfunction"},
        {"P0120", "Throttle Position Sensor/Switch A Circuit Malfunction"},
        {"P0128",
         "Coolant Thermostat (Coolant Temperature Below Thermostat Regulating Temperature)"},
        {"P0130", "O2 Sensor Circuit Malfunction (Bank 1 Sensor 1)"},
        {"P0133", "O2 Sensor Circuit Slow Response (Bank 1 Sensor 1)"},
        {"P0171", "System Too Lean (Bank 1)"},
        {"P0172", "System Too Rich (Bank 1)"},
        {"P0300", "Random/Multiple Cylinder Misfire Detected"},
        {"P0301", "Cylinder 1 Misfire Detected"},
        {"P0302", "Cylinder 2 Misfire Detected"},
        {"P0303", "Cylinder 3 Misfire Detected"},
        {"P0304", "Cylinder 4 Misfire Detected"},
        {"P0335", "Crankshaft Position Sensor A Circuit Malfunction"},
        {"P0401", "Exhaust Gas Recirculation Flow Insufficient Detected"},
        {"P0420", "Catalyst System Efficiency Below Threshold (Bank 1)"},
        {"P0430", "Catalyst System Efficiency Below Threshold (Bank 2)"},
        {"P0440", "Evaporative Emission Control System Malfunction"},
        {"P0442", "Evaporative Emission Control System Leak Detected (small leak)"},
        {"P0455", "Evaporative Emission Control System Leak Detected (gross leak)"},
        {"P0500", "Vehicle Speed Sensor Malfunction"},
        {"P0505", "Idle Control System Malfunction"},
        {"P0700", "Transmission Control System Malfunction"},
        {"P0715", "Input/Turbine Speed Sensor Circuit Malfunction"},
        {"P0730", "Incorrect Gear Ratio"},
        {"P0087", "Fuel Rail/System Pressure Too Low"},
        {"P0299", "Turbocharger/Supercharger A Underboost Condition"},
        {"P0380", "Glow Plug/Heater Circuit A Malfunction"},
        {"P2002", "Diesel Particulate Filter Efficiency Below Threshold (Bank 1)"},
        {"P2463", "Diesel Particulate Filter Restriction - Soot Accumulation (Bank 1)"},
        {"C0035", "Left Front Wheel Speed Sensor Circuit"},
        {"B0001", "Driver Frontal Stage 1 Deployment Control"},
        {"U0100", "Lost Communication With ECM/PCM A"},
    };
    return catalogue;
}

std::string DescribeTroubleCode(const std::string& code) {
    const auto& catalogue = TroubleCodeCatalogue();
    auto found = catalogue.find(code);
    return found == catalogue.end() ? std::string() : found->second;
}

}  // namespace obd::detail
