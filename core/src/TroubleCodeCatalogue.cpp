// Trouble code texts. Titles are those of the SAE J2012 code list; a code
// without a title is described by the system group J2012's structure files
// it under: the letter names the system, the first digit tells generic
// (ISO/SAE controlled) codes from manufacturer-controlled ones, and for
// generic codes the next digit names the group.

#include "TroubleCodeCatalogue.h"

#include <cstddef>

namespace obd::detail {

namespace {

// A range of generic (ISO/SAE controlled) codes in SAE J2012: codes whose
// first three characters are `system`, `digit` and one of `groupDigits`
// (any group when null). The first range that holds a code names it.
struct CodeGroup {
    char system;
    char digit;
    const char* groupDigits;
    const char* name;
};

constexpr CodeGroup kCodeGroups[] = {
    {'P', '0', "0", "Fuel and Air Metering and Auxiliary Emission Controls"},
    {'P', '0', "1", "Fuel and Air Metering"},
    {'P', '0', "2", "Fuel and Air Metering (Injector Circuit)"},
    {'P', '0', "3", "Ignition System or Misfire"},
    {'P', '0', "4", "Auxiliary Emission Controls"},
    {'P', '0', "5", "Vehicle Speed, Idle Control and Auxiliary Inputs"},
    {'P', '0', "6", "Computer and Auxiliary Outputs"},
    {'P', '0', "789", "Transmission"},
    {'P', '0', "A", "Hybrid Propulsion"},
    {'P', '2', "012", "Fuel and Air Metering and Auxiliary Emission Controls"},
    {'P', '2', "3", "Ignition System or Misfire"},
    {'P', '2', "4", "Auxiliary Emission Controls"},
    {'P', '2', "5", "Auxiliary Inputs"},
    {'P', '2', "6", "Computer and Auxiliary Outputs"},
    {'P', '2', "7", "Transmission"},
    {'P', '2', "9A", "Fuel and Air Metering and Auxiliary Emission Controls"},
    {'P', '3', "4", "Cylinder Deactivation"},
    {'U', '0', "0", "Network Electrical"},
    {'U', '0', "12", "Network Communication"},
    {'U', '0', "3", "Network Software"},
    {'U', '0', "4", "Network Data"},
    // Generic codes in groups without a name of their own.
    {'P', '0', nullptr, "Powertrain, Generic Code"},
    {'P', '2', nullptr, "Powertrain, Generic Code"},
    {'P', '3', "56789", "Powertrain, Generic Code"},
    {'C', '0', nullptr, "Chassis, Generic Code"},
    {'B', '0', nullptr, "Body, Generic Code"},
    {'U', '0', nullptr, "Network Communication, Generic Code"},
};

bool Contains(const char* digits, char digit) {
    for (std::size_t i = 0; digits[i] != '\0'; ++i) {
        if (digits[i] == digit) {
            return true;
        }
    }
    return false;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool IsWellFormed(const std::string& code) {
    return code.size() == 5 && Contains("PCBU", code[0]) && code[1] >= '0' && code[1] <= '3' &&
           IsHexDigit(code[2]) && IsHexDigit(code[3]) && IsHexDigit(code[4]);
}

// "Ignition System or Misfire (P03xx)" for P0301; empty for codes no
// generic range holds.
std::string DescribeGroup(const std::string& code) {
    const std::string range = code.substr(0, 3) + "xx";
    for (const CodeGroup& group : kCodeGroups) {
        if (group.system == code[0] && group.digit == code[1] &&
            (group.groupDigits == nullptr || Contains(group.groupDigits, code[2]))) {
            return std::string(group.name) + " (" + range + ")";
        }
    }
    return {};
}

}  // namespace

const std::map<std::string, std::string>& TroubleCodeCatalogue() {
    static const std::map<std::string, std::string> catalogue = {
        {"P0010", "\"A\" Camshaft Position Actuator Circuit (Bank 1)"},
        {"P0011", "\"A\" Camshaft Position - Timing Over-Advanced or System Performance (Bank 1)"},
        {"P0012", "\"A\" Camshaft Position - Timing Over-Retarded (Bank 1)"},
        {"P0013", "\"B\" Camshaft Position - Actuator Circuit (Bank 1)"},
        {"P0014", "\"B\" Camshaft Position - Timing Over-Advanced or System Performance (Bank 1)"},
        {"P0016", "Crankshaft Position - Camshaft Position Correlation (Bank 1 Sensor A)"},
        {"P0017", "Crankshaft Position - Camshaft Position Correlation (Bank 1 Sensor B)"},
        {"P0020", "\"A\" Camshaft Position Actuator Circuit (Bank 2)"},
        {"P0021", "\"A\" Camshaft Position - Timing Over-Advanced or System Performance (Bank 2)"},
        {"P0030", "HO2S Heater Control Circuit (Bank 1 Sensor 1)"},
        {"P0036", "HO2S Heater Control Circuit (Bank 1 Sensor 2)"},
        {"P0068", "MAP/MAF - Throttle Position Correlation"},
        {"P0087", "Fuel Rail/System Pressure Too Low"},
        {"P0088", "Fuel Rail/System Pressure Too High"},
        {"P0093", "Fuel System Leak Detected - Large Leak"},
        {"P0100", "Mass or Volume Air Flow Circuit Malfunction"},
        {"P0101", "Mass or Volume Air Flow Circuit Range/Performance Problem"},
        {"P0102", "Mass or Volume Air Flow Circuit Low Input"},
        {"P0103", "Mass or Volume Air Flow Circuit High Input"},
        {"P0105", "Manifold Absolute Pressure/Barometric Pressure Circuit Malfunction"},
        {"P0106",
         "Manifold Absolute Pressure/Barometric Pressure Circuit Range/Performance Problem"},
        {"P0107", "Manifold Absolute Pressure/Barometric Pressure Circuit Low Input"},
        {"P0108", "Manifold Absolute Pressure/Barometric Pressure Circuit High Input"},
        {"P0110", "Intake Air Temperature Circuit Malfunction"},
        {"P0111", "Intake Air Temperature Circuit Range/Performance Problem"},
        {"P0112", "Intake Air Temperature Circuit Low Input"},
        {"P0113", "Intake Air Temperature Circuit High Input"},
        {"P0115", "Engine Coolant Temperature Circuit Malfunction"},
        {"P0116", "Engine Coolant Temperature Circuit Range/Performance Problem"},
        {"P0117", "Engine Coolant Temperature Circuit Low Input"},
        {"P0118", "Engine Coolant Temperature Circuit High Input"},
        {"P0120", "Throttle Position Sensor/Switch A Circuit Malfunction"},
        {"P0121", "Throttle Position Sensor/Switch A Circuit Range/Performance Problem"},
        {"P0122", "Throttle Position Sensor/Switch A Circuit Low Input"},
        {"P0123", "Throttle Position Sensor/Switch A Circuit High Input"},
        {"P0125", "Insufficient Coolant Temperature for Closed Loop Fuel Control"},
        {"P0128",
         "Coolant Thermostat (Coolant Temperature Below Thermostat Regulating Temperature)"},
        {"P0130", "O2 Sensor Circuit Malfunction (Bank 1 Sensor 1)"},
        {"P0131", "O2 Sensor Circuit Low Voltage (Bank 1 Sensor 1)"},
        {"P0132", "O2 Sensor Circuit High Voltage (Bank 1 Sensor 1)"},
        {"P0133", "O2 Sensor Circuit Slow Response (Bank 1 Sensor 1)"},
        {"P0134", "O2 Sensor Circuit No Activity Detected (Bank 1 Sensor 1)"},
        {"P0135", "O2 Sensor Heater Circuit Malfunction (Bank 1 Sensor 1)"},
        {"P0136", "O2 Sensor Circuit Malfunction (Bank 1 Sensor 2)"},
        {"P0137", "O2 Sensor Circuit Low Voltage (Bank 1 Sensor 2)"},
        {"P0138", "O2 Sensor Circuit High Voltage (Bank 1 Sensor 2)"},
        {"P0139", "O2 Sensor Circuit Slow Response (Bank 1 Sensor 2)"},
        {"P0140", "O2 Sensor Circuit No Activity Detected (Bank 1 Sensor 2)"},
        {"P0141", "O2 Sensor Heater Circuit Malfunction (Bank 1 Sensor 2)"},
        {"P0150", "O2 Sensor Circuit Malfunction (Bank 2 Sensor 1)"},
        {"P0151", "O2 Sensor Circuit Low Voltage (Bank 2 Sensor 1)"},
        {"P0155", "O2 Sensor Heater Circuit Malfunction (Bank 2 Sensor 1)"},
        {"P0161", "O2 Sensor Heater Circuit Malfunction (Bank 2 Sensor 2)"},
        {"P0171", "System Too Lean (Bank 1)"},
        {"P0172", "System Too Rich (Bank 1)"},
        {"P0174", "System Too Lean (Bank 2)"},
        {"P0175", "System Too Rich (Bank 2)"},
        {"P0191", "Fuel Rail Pressure Sensor Circuit Range/Performance"},
        {"P0200", "Injector Circuit Malfunction"},
        {"P0201", "Injector Circuit Malfunction - Cylinder 1"},
        {"P0202", "Injector Circuit Malfunction - Cylinder 2"},
        {"P0203", "Injector Circuit Malfunction - Cylinder 3"},
        {"P0204", "Injector Circuit Malfunction - Cylinder 4"},
        {"P0217", "Engine Coolant Over Temperature Condition"},
        {"P0219", "Engine Overspeed Condition"},
        {"P0234", "Turbocharger/Supercharger A Overboost Condition"},
        {"P0299", "Turbocharger/Supercharger A Underboost Condition"},
        {"P0300", "Random/Multiple Cylinder Misfire Detected"},
        {"P0301", "Cylinder 1 Misfire Detected"},
        {"P0302", "Cylinder 2 Misfire Detected"},
        {"P0303", "Cylinder 3 Misfire Detected"},
        {"P0304", "Cylinder 4 Misfire Detected"},
        {"P0305", "Cylinder 5 Misfire Detected"},
        {"P0306", "Cylinder 6 Misfire Detected"},
        {"P0307", "Cylinder 7 Misfire Detected"},
        {"P0308", "Cylinder 8 Misfire Detected"},
        {"P0325", "Knock Sensor 1 Circuit Malfunction (Bank 1 or Single Sensor)"},
        {"P0327", "Knock Sensor 1 Circuit Low Input (Bank 1 or Single Sensor)"},
        {"P0328", "Knock Sensor 1 Circuit High Input (Bank 1 or Single Sensor)"},
        {"P0335", "Crankshaft Position Sensor A Circuit Malfunction"},
        {"P0336", "Crankshaft Position Sensor A Circuit Range/Performance"},
        {"P0340", "Camshaft Position Sensor A Circuit Malfunction (Bank 1 or Single Sensor)"},
        {"P0341", "Camshaft Position Sensor A Circuit Range/Performance (Bank 1 or Single Sensor)"},
        {"P0351", "Ignition Coil A Primary/Secondary Circuit Malfunction"},
        {"P0352", "Ignition Coil B Primary/Secondary Circuit Malfunction"},
        {"P0353", "Ignition Coil C Primary/Secondary Circuit Malfunction"},
        {"P0354", "Ignition Coil D Primary/Secondary Circuit Malfunction"},
        {"P0380", "Glow Plug/Heater Circuit A Malfunction"},
        {"P0400", "Exhaust Gas Recirculation Flow Malfunction"},
        {"P0401", "Exhaust Gas Recirculation Flow Insufficient Detected"},
        {"P0402", "Exhaust Gas Recirculation Flow Excessive Detected"},
        {"P0403", "Exhaust Gas Recirculation Circuit Malfunction"},
        {"P0404", "Exhaust Gas Recirculation Circuit Range/Performance"},
        {"P0411", "Secondary Air Injection System Incorrect Flow Detected"},
        {"P0420", "Catalyst System Efficiency Below Threshold (Bank 1)"},
        {"P0421", "Warm Up Catalyst Efficiency Below Threshold (Bank 1)"},
        {"P0430", "Catalyst System Efficiency Below Threshold (Bank 2)"},
        {"P0440", "Evaporative Emission Control System Malfunction"},
        {"P0441", "Evaporative Emission Control System Incorrect Purge Flow"},
        {"P0442", "Evaporative Emission Control System Leak Detected (small leak)"},
        {"P0443", "Evaporative Emission Control System Purge Control Valve Circuit Malfunction"},
        {"P0446", "Evaporative Emission Control System Vent Control Circuit Malfunction"},
        {"P0449", "Evaporative Emission Control System Vent Valve/Solenoid Circuit Malfunction"},
        {"P0451", "Evaporative Emission Control System Pressure Sensor Range/Performance"},
        {"P0455", "Evaporative Emission Control System Leak Detected (gross leak)"},
        {"P0456", "Evaporative Emission Control System Leak Detected (very small leak)"},
        {"P0457", "Evaporative Emission Control System Leak Detected (fuel cap loose/off)"},
        {"P0461", "Fuel Level Sensor Circuit Range/Performance"},
        {"P0496", "Evaporative Emission System High Purge Flow"},
        {"P0500", "Vehicle Speed Sensor Malfunction"},
        {"P0501", "Vehicle Speed Sensor Range/Performance"},
        {"P0505", "Idle Control System Malfunction"},
        {"P0506", "Idle Control System RPM Lower Than Expected"},
        {"P0507", "Idle Control System RPM Higher Than Expected"},
        {"P0520", "Engine Oil Pressure Sensor/Switch Circuit Malfunction"},
        {"P0562", "System Voltage Low"},
        {"P0563", "System Voltage High"},
        {"P0600", "Serial Communication Link Malfunction"},
        {"P0601", "Internal Control Module Memory Check Sum Error"},
        {"P0602", "Control Module Programming Error"},
        {"P0603", "Internal Control Module Keep Alive Memory (KAM) Error"},
        {"P0604", "Internal Control Module Random Access Memory (RAM) Error"},
        {"P0605", "Internal Control Module Read Only Memory (ROM) Error"},
        {"P0606", "Control Module Processor"},
        {"P0641", "Sensor Reference Voltage A Circuit/Open"},
        {"P0700", "Transmission Control System Malfunction"},
        {"P0705", "Transmission Range Sensor Circuit Malfunction (PRNDL Input)"},
        {"P0715", "Input/Turbine Speed Sensor Circuit Malfunction"},
        {"P0720", "Output Speed Sensor Circuit Malfunction"},
        {"P0730", "Incorrect Gear Ratio"},
        {"P0731", "Gear 1 Incorrect Ratio"},
        {"P0732", "Gear 2 Incorrect Ratio"},
        {"P0733", "Gear 3 Incorrect Ratio"},
        {"P0734", "Gear 4 Incorrect Ratio"},
        {"P0740", "Torque Converter Clutch Circuit Malfunction"},
        {"P0741", "Torque Converter Clutch Circuit Performance or Stuck Off"},
        {"P0750", "Shift Solenoid A Malfunction"},
        {"P0755", "Shift Solenoid B Malfunction"},
        {"P2002", "Diesel Particulate Filter Efficiency Below Threshold (Bank 1)"},
        {"P2004", "Intake Manifold Runner Control Stuck Open (Bank 1)"},
        {"P2096", "Post Catalyst Fuel Trim System Too Lean (Bank 1)"},
        {"P2097", "Post Catalyst Fuel Trim System Too Rich (Bank 1)"},
        {"P2135", "Throttle/Pedal Position Sensor/Switch A/B Voltage Correlation"},
        {"P2138", "Throttle/Pedal Position Sensor/Switch D/E Voltage Correlation"},
        {"P2187", "System Too Lean at Idle (Bank 1)"},
        {"P2188", "System Too Rich at Idle (Bank 1)"},
        {"P2195", "O2 Sensor Signal Stuck Lean (Bank 1 Sensor 1)"},
        {"P2196", "O2 Sensor Signal Stuck Rich (Bank 1 Sensor 1)"},
        {"P2270", "O2 Sensor Signal Stuck Lean (Bank 1 Sensor 2)"},
        {"P2271", "O2 Sensor Signal Stuck Rich (Bank 1 Sensor 2)"},
        {"P2279", "Intake Air System Leak"},
        {"P2463", "Diesel Particulate Filter Restriction - Soot Accumulation (Bank 1)"},
        {"C0035", "Left Front Wheel Speed Sensor Circuit"},
        {"B0001", "Driver Frontal Stage 1 Deployment Control"},
        {"U0001", "High Speed CAN Communication Bus"},
        {"U0073", "Control Module Communication Bus Off"},
        {"U0100", "Lost Communication With ECM/PCM A"},
        {"U0101", "Lost Communication With TCM"},
        {"U0121", "Lost Communication With Anti-Lock Brake System (ABS) Control Module"},
        {"U0140", "Lost Communication With Body Control Module"},
        {"U0155", "Lost Communication With Instrument Panel Cluster (IPC) Control Module"},
    };
    return catalogue;
}

std::string DescribeTroubleCode(const std::string& code) {
    const auto& catalogue = TroubleCodeCatalogue();
    auto found = catalogue.find(code);
    if (found != catalogue.end()) {
        return found->second;
    }
    return IsWellFormed(code) ? DescribeGroup(code) : std::string();
}

}  // namespace obd::detail
