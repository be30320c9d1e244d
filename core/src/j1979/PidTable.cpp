// The service 01 parameter table and the codec that runs on it.
//
// Every sensor of a PID is one field of its data bytes: either a number that
// is linear in a big-endian integer (value = raw * numerator / denominator +
// offset, which covers every J1979 formula), or a bit field or enumeration
// shown as text. PIDs from 0x66 on lead with a support byte whose bit i says
// whether sensor i carries a reading.

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <optional>
#include <utility>

#include "bus/IsoTp.h"
#include "j1979/Codec.h"
#include "j1979/Numbers.h"
#include "j1979/PidTexts.h"

namespace obd::j1979 {

namespace {

using detail::FormatFixedWithin;
using detail::FormatShortest;
using detail::HexByte;
using MU = MeasurementUnit;

// A numeric encoding: `width` big-endian bytes, two's complement when
// `isSigned`, scaled by numerator / denominator and shifted by `offset`; the
// value text shows `decimals` digits after the point.
struct Scaling {
    std::size_t width;
    bool isSigned;
    double numerator;
    double denominator;
    double offset;
    int decimals;

    std::int64_t RawMinimum() const { return isSigned ? -(std::int64_t{1} << (8 * width - 1)) : 0; }
    std::int64_t RawMaximum() const {
        return isSigned ? (std::int64_t{1} << (8 * width - 1)) - 1
                        : (std::int64_t{1} << (8 * width)) - 1;
    }
    double ToValue(std::int64_t raw) const {
        return static_cast<double>(raw) * numerator / denominator + offset;
    }
};

// The formula families of J1979, named by what they carry.
constexpr Scaling kPercent{1, false, 100, 255, 0, 1};             // 0..100 %
constexpr Scaling kPercentCentered{1, false, 100, 128, -100, 1};  // -100..99.2 %
constexpr Scaling kTemperature{1, false, 1, 1, -40, 0};           // -40..215 °C
constexpr Scaling kWideTemperature{2, false, 1, 10, -40, 1};      // -40..6513.5 °C
constexpr Scaling kByte{1, false, 1, 1, 0, 0};                    // 0..255
constexpr Scaling kByteTimes10{1, false, 10, 1, 0, 0};            // 0..2550
constexpr Scaling kWord{2, false, 1, 1, 0, 0};                    // 0..65535
constexpr Scaling kWordTimes10{2, false, 10, 1, 0, 0};            // 0..655350
constexpr Scaling kDoubleWord{4, false, 1, 1, 0, 0};              // 0..4294967295
constexpr Scaling kFuelPressure{1, false, 3, 1, 0, 0};            // 0..765 kPa
// Shown without the quarter revolutions: no one reads an engine speed that
// precisely.
constexpr Scaling kEngineSpeed{2, false, 1, 4, 0, 0};                 // 0..16383.75 rpm
constexpr Scaling kTimingAdvance{1, false, 1, 2, -64, 1};             // -64..63.5 °
constexpr Scaling kAirFlow{2, false, 1, 100, 0, 2};                   // 0..655.35 g/s
constexpr Scaling kOxygenVoltage{1, false, 1, 200, 0, 3};             // 0..1.275 V
constexpr Scaling kRelativeRailPressure{2, false, 79, 1000, 0, 1};    // 0..5177.265 kPa
constexpr Scaling kEquivalenceRatio{2, false, 2, 65536, 0, 3};        // 0..<2
constexpr Scaling kWideOxygenVoltage{2, false, 8, 65536, 0, 3};       // 0..<8 V
constexpr Scaling kWideOxygenCurrent{2, false, 1, 256, -128, 2};      // -128..<128 mA
constexpr Scaling kEvapPressure{2, true, 1, 4, 0, 2};                 // -8192..8191.75 Pa
constexpr Scaling kModuleVoltage{2, false, 1, 1000, 0, 1};            // 0..65.535 V
constexpr Scaling kAbsoluteLoad{2, false, 100, 255, 0, 1};            // 0..25700 %
constexpr Scaling kAbsoluteEvapPressure{2, false, 1, 200, 0, 3};      // 0..327.675 kPa
constexpr Scaling kWideEvapPressure{2, false, 1, 1, -32767, 0};       // -32767..32768 Pa
constexpr Scaling kInjectionTiming{2, false, 1, 128, -210, 2};        // -210..301.992 °
constexpr Scaling kFuelRate{2, false, 1, 20, 0, 2};                   // 0..3276.75 L/h
constexpr Scaling kTorquePercent{1, false, 1, 1, -125, 0};            // -125..130 %
constexpr Scaling kSensorAirFlow{2, false, 1, 32, 0, 2};              // 0..2047.97 g/s
constexpr Scaling kBoostPressure{2, false, 1, 32, 0, 2};              // 0..2047.97 kPa
constexpr Scaling kHundredthKilopascal{2, false, 1, 100, 0, 2};       // 0..655.35 kPa
constexpr Scaling kSignedHundredthKilopascal{2, true, 1, 100, 0, 2};  // -327.68..327.67 kPa
constexpr Scaling kTurbochargerSpeed{2, false, 10, 1, 0, 0};          // 0..655350 rpm
constexpr Scaling kFuelMassRate{2, false, 1, 50, 0, 2};               // 0..1310.7 g/s
constexpr Scaling kExhaustFlowRate{2, false, 1, 5, 0, 1};             // 0..13107 kg/h
constexpr Scaling kCylinderFuelRate{2, false, 1, 32, 0, 2};           // 0..2047.97 mg/stroke
constexpr Scaling kHalfPercent{1, false, 1, 2, 0, 1};                 // 0..127.5 %
constexpr Scaling kOdometer{4, false, 1, 10, 0, 1};                   // 0..429496729.5 km
constexpr Scaling kGearRatio{2, false, 1, 1000, 0, 3};                // 0..65.535
constexpr Scaling kReagentRate{2, false, 5, 1000, 0, 3};              // 0..327.675 L/h

using TextDecoder = std::function<std::string(const std::uint8_t*)>;

struct Field {
    std::size_t offset = 0;
    std::optional<Scaling> scaling;  // numeric fields
    TextDecoder text;                // bit fields and enumerations
    int supportBit = -1;             // bit of the support byte, -1 when none
};

struct PidEntry {
    PidDefinition definition;
    std::vector<Field> fields;  // parallel to definition.sensors
};

struct SensorLayout {
    SensorDefinition definition;
    Field field;
};

SensorLayout Number(std::string name, MU unit, std::size_t offset, const Scaling& scaling) {
    SensorLayout layout;
    layout.definition.name = std::move(name);
    layout.definition.unit = unit;
    layout.definition.numeric = true;
    layout.definition.minimum = static_cast<float>(scaling.ToValue(scaling.RawMinimum()));
    layout.definition.maximum = static_cast<float>(scaling.ToValue(scaling.RawMaximum()));
    layout.field.offset = offset;
    layout.field.scaling = scaling;
    return layout;
}

SensorLayout Text(std::string name, std::size_t offset, TextDecoder decoder) {
    SensorLayout layout;
    layout.definition.name = std::move(name);
    layout.definition.numeric = false;
    layout.field.offset = offset;
    layout.field.text = std::move(decoder);
    return layout;
}

enum class SupportByte { kNone, kLeads };

class PidTable {
public:
    PidTable() { Fill(); }

    const PidEntry* Find(std::uint8_t pid) const {
        return entries_[pid] ? &*entries_[pid] : nullptr;
    }

private:
    void Add(std::uint8_t pid, std::string name, std::size_t dataBytes,
             std::vector<SensorLayout> sensors, SupportByte support = SupportByte::kNone) {
        PidEntry entry;
        entry.definition.pid = pid;
        entry.definition.name = std::move(name);
        entry.definition.dataBytes = dataBytes;
        int bit = 0;
        for (auto& sensor : sensors) {
            if (support == SupportByte::kLeads) {
                sensor.field.supportBit = bit++;
            }
            entry.definition.sensors.push_back(std::move(sensor.definition));
            entry.fields.push_back(std::move(sensor.field));
        }
        entries_[pid] = std::move(entry);
    }

    // A parameter with a single numeric quantity named like the parameter.
    void AddNumber(std::uint8_t pid, const std::string& name, MU unit, const Scaling& scaling) {
        Add(pid, name, scaling.width, {Number(name, unit, 0, scaling)});
    }

    void AddText(std::uint8_t pid, const std::string& name, std::size_t dataBytes,
                 std::string (*decoder)(const std::uint8_t*)) {
        Add(pid, name, dataBytes, {Text(name, 0, decoder)});
    }

    void AddSupportBitmap(std::uint8_t pid) {
        const std::string name = "Supported PIDs " + HexByte(pid + 1) + "-" + HexByte(pid + 0x20);
        Add(pid, name, 4, {Text(name, 0, [pid](const std::uint8_t* field) {
                return detail::SupportedPidsText(pid, field);
            })});
    }

    void Fill();

    std::array<std::optional<PidEntry>, 256> entries_;
};

std::string N(int number) {
    return std::to_string(number);
}

void PidTable::Fill() {
    AddSupportBitmap(0x00);
    AddSupportBitmap(0x20);
    AddSupportBitmap(0x40);
    AddSupportBitmap(0x60);
    AddSupportBitmap(0x80);
    AddSupportBitmap(0xA0);
    AddSupportBitmap(0xC0);

    Add(0x01, "Monitor Status Since Codes Cleared", 4,
        {Text("MIL Status", 0, detail::MilStatusText),
         Text("Trouble Code Count", 0, detail::TroubleCodeCountText),
         Text("Ignition Type", 1, detail::IgnitionTypeText),
         Text("Monitors Complete", 1, detail::MonitorsCompleteText),
         Text("Monitors Incomplete", 1, detail::MonitorsIncompleteText)});
    AddText(0x02, "Freeze Frame Trouble Code", 2, detail::FreezeFrameTroubleCodeText);
    Add(0x03, "Fuel System Status", 2,
        {Text("Fuel System 1 Status", 0, detail::FuelSystemStatusText),
         Text("Fuel System 2 Status", 1, detail::FuelSystemStatusText)});
    AddNumber(0x04, "Calculated Engine Load", MU::Percent, kPercent);
    AddNumber(0x05, "Engine Coolant Temperature", MU::DegreeCelsius, kTemperature);
    AddNumber(0x06, "Short Term Fuel Trim Bank 1", MU::Percent, kPercentCentered);
    AddNumber(0x07, "Long Term Fuel Trim Bank 1", MU::Percent, kPercentCentered);
    AddNumber(0x08, "Short Term Fuel Trim Bank 2", MU::Percent, kPercentCentered);
    AddNumber(0x09, "Long Term Fuel Trim Bank 2", MU::Percent, kPercentCentered);
    AddNumber(0x0A, "Fuel Pressure", MU::Kilopascal, kFuelPressure);
    AddNumber(0x0B, "Intake Manifold Absolute Pressure", MU::Kilopascal, kByte);
    AddNumber(0x0C, "Engine Speed", MU::Rpm, kEngineSpeed);
    AddNumber(0x0D, "Vehicle Speed", MU::KilometersPerHour, kByte);
    AddNumber(0x0E, "Timing Advance", MU::Degree, kTimingAdvance);
    AddNumber(0x0F, "Intake Air Temperature", MU::DegreeCelsius, kTemperature);
    AddNumber(0x10, "Mass Air Flow Rate", MU::GramPerSecond, kAirFlow);
    AddNumber(0x11, "Throttle Position", MU::Percent, kPercent);
    AddText(0x12, "Commanded Secondary Air Status", 1, detail::SecondaryAirStatusText);
    AddText(0x13, "Oxygen Sensors Present (2 Banks)", 1, detail::OxygenSensorsPresent2BanksText);
    // A trim byte of 0xFF marks a sensor not used for trim; it decodes as the
    // 99.2 % the formula gives, as J1979 leaves it to the reader.
    for (int sensor = 1; sensor <= 8; ++sensor) {
        const std::string name = "Oxygen Sensor " + N(sensor);
        Add(static_cast<std::uint8_t>(0x13 + sensor), name, 2,
            {Number(name + " Voltage", MU::Volt, 0, kOxygenVoltage),
             Number(name + " Short Term Fuel Trim", MU::Percent, 1, kPercentCentered)});
    }
    AddText(0x1C, "OBD Standard", 1, detail::ObdStandardText);
    AddText(0x1D, "Oxygen Sensors Present (4 Banks)", 1, detail::OxygenSensorsPresent4BanksText);
    Add(0x1E, "Auxiliary Input Status", 1,
        {Text("Power Take Off Status", 0, detail::PowerTakeOffText)});
    AddNumber(0x1F, "Run Time Since Engine Start", MU::Second, kWord);

    AddNumber(0x21, "Distance With MIL On", MU::Kilometer, kWord);
    AddNumber(0x22, "Fuel Rail Pressure (Relative to Manifold Vacuum)", MU::Kilopascal,
              kRelativeRailPressure);
    AddNumber(0x23, "Fuel Rail Gauge Pressure", MU::Kilopascal, kWordTimes10);
    for (int sensor = 1; sensor <= 8; ++sensor) {
        const std::string name = "Oxygen Sensor " + N(sensor);
        Add(static_cast<std::uint8_t>(0x23 + sensor), name + " Wide Range Voltage", 4,
            {Number(name + " Equivalence Ratio", MU::Lambda, 0, kEquivalenceRatio),
             Number(name + " Voltage", MU::Volt, 2, kWideOxygenVoltage)});
        Add(static_cast<std::uint8_t>(0x33 + sensor), name + " Wide Range Current", 4,
            {Number(name + " Equivalence Ratio", MU::Lambda, 0, kEquivalenceRatio),
             Number(name + " Current", MU::Milliampere, 2, kWideOxygenCurrent)});
    }
    AddNumber(0x2C, "Commanded EGR", MU::Percent, kPercent);
    AddNumber(0x2D, "EGR Error", MU::Percent, kPercentCentered);
    AddNumber(0x2E, "Commanded Evaporative Purge", MU::Percent, kPercent);
    AddNumber(0x2F, "Fuel Tank Level", MU::Percent, kPercent);
    AddNumber(0x30, "Warm-ups Since Codes Cleared", MU::Counts, kByte);
    AddNumber(0x31, "Distance Since Codes Cleared", MU::Kilometer, kWord);
    AddNumber(0x32, "Evap System Vapor Pressure", MU::Pascal, kEvapPressure);
    AddNumber(0x33, "Absolute Barometric Pressure", MU::Kilopascal, kByte);
    AddNumber(0x3C, "Catalyst Temperature Bank 1 Sensor 1", MU::DegreeCelsius, kWideTemperature);
    AddNumber(0x3D, "Catalyst Temperature Bank 2 Sensor 1", MU::DegreeCelsius, kWideTemperature);
    AddNumber(0x3E, "Catalyst Temperature Bank 1 Sensor 2", MU::DegreeCelsius, kWideTemperature);
    AddNumber(0x3F, "Catalyst Temperature Bank 2 Sensor 2", MU::DegreeCelsius, kWideTemperature);

    // Byte A is reserved; B to D have the layout of PID 0x01, with "enabled"
    // in place of "supported".
    Add(0x41, "Monitor Status This Drive Cycle", 4,
        {Text("Monitors Complete", 1, detail::MonitorsCompleteText),
         Text("Monitors Incomplete", 1, detail::MonitorsIncompleteText)});
    AddNumber(0x42, "Control Module Voltage", MU::Volt, kModuleVoltage);
    AddNumber(0x43, "Absolute Load Value", MU::Percent, kAbsoluteLoad);
    AddNumber(0x44, "Commanded Equivalence Ratio", MU::Lambda, kEquivalenceRatio);
    AddNumber(0x45, "Relative Throttle Position", MU::Percent, kPercent);
    AddNumber(0x46, "Ambient Air Temperature", MU::DegreeCelsius, kTemperature);
    AddNumber(0x47, "Absolute Throttle Position B", MU::Percent, kPercent);
    AddNumber(0x48, "Absolute Throttle Position C", MU::Percent, kPercent);
    AddNumber(0x49, "Accelerator Pedal Position D", MU::Percent, kPercent);
    AddNumber(0x4A, "Accelerator Pedal Position E", MU::Percent, kPercent);
    AddNumber(0x4B, "Accelerator Pedal Position F", MU::Percent, kPercent);
    AddNumber(0x4C, "Commanded Throttle Actuator", MU::Percent, kPercent);
    AddNumber(0x4D, "Time Run With MIL On", MU::Minute, kWord);
    AddNumber(0x4E, "Time Since Codes Cleared", MU::Minute, kWord);
    Add(0x4F, "Maximum Values", 4,
        {Number("Maximum Equivalence Ratio", MU::Lambda, 0, kByte),
         Number("Maximum Oxygen Sensor Voltage", MU::Volt, 1, kByte),
         Number("Maximum Oxygen Sensor Current", MU::Milliampere, 2, kByte),
         Number("Maximum Intake Manifold Absolute Pressure", MU::Kilopascal, 3, kByteTimes10)});
    // Bytes B to D are reserved.
    Add(0x50, "Maximum Mass Air Flow Rate", 4,
        {Number("Maximum Mass Air Flow Rate", MU::GramPerSecond, 0, kByteTimes10)});
    AddText(0x51, "Fuel Type", 1, detail::FuelTypeText);
    AddNumber(0x52, "Ethanol Fuel Percent", MU::Percent, kPercent);
    AddNumber(0x53, "Absolute Evap System Vapor Pressure", MU::Kilopascal, kAbsoluteEvapPressure);
    AddNumber(0x54, "Evap System Vapor Pressure (Wide Range)", MU::Pascal, kWideEvapPressure);
    const char* const kSecondaryTrims[4][2] = {{"Short Term", "1 and 3"},
                                               {"Long Term", "1 and 3"},
                                               {"Short Term", "2 and 4"},
                                               {"Long Term", "2 and 4"}};
    for (int index = 0; index < 4; ++index) {
        const std::string trim =
            std::string(kSecondaryTrims[index][0]) + " Secondary Oxygen Sensor Trim Bank ";
        const std::string banks = kSecondaryTrims[index][1];
        Add(static_cast<std::uint8_t>(0x55 + index), trim + banks, 2,
            {Number(trim + banks.substr(0, 1), MU::Percent, 0, kPercentCentered),
             Number(trim + banks.substr(6, 1), MU::Percent, 1, kPercentCentered)});
    }
    AddNumber(0x59, "Fuel Rail Absolute Pressure", MU::Kilopascal, kWordTimes10);
    AddNumber(0x5A, "Relative Accelerator Pedal Position", MU::Percent, kPercent);
    AddNumber(0x5B, "Hybrid Battery Pack Remaining Life", MU::Percent, kPercent);
    AddNumber(0x5C, "Engine Oil Temperature", MU::DegreeCelsius, kTemperature);
    AddNumber(0x5D, "Fuel Injection Timing", MU::Degree, kInjectionTiming);
    AddNumber(0x5E, "Engine Fuel Rate", MU::LiterPerHour, kFuelRate);
    AddText(0x5F, "Emission Requirements", 1, detail::EmissionRequirementsText);

    AddNumber(0x61, "Driver Demand Engine Torque", MU::Percent, kTorquePercent);
    AddNumber(0x62, "Actual Engine Torque", MU::Percent, kTorquePercent);
    AddNumber(0x63, "Engine Reference Torque", MU::NewtonMeter, kWord);
    Add(0x64, "Engine Percent Torque Data", 5,
        {Number("Engine Percent Torque at Idle", MU::Percent, 0, kTorquePercent),
         Number("Engine Percent Torque at Point 1", MU::Percent, 1, kTorquePercent),
         Number("Engine Percent Torque at Point 2", MU::Percent, 2, kTorquePercent),
         Number("Engine Percent Torque at Point 3", MU::Percent, 3, kTorquePercent),
         Number("Engine Percent Torque at Point 4", MU::Percent, 4, kTorquePercent)});
    Add(0x65, "Auxiliary Input/Output", 2,
        {Text("Power Take Off Status", 1, detail::PowerTakeOffText),
         Text("Automatic Transmission Status", 1, detail::NeutralDriveText),
         Text("Manual Transmission Status", 1, detail::ManualGearText),
         Text("Glow Plug Lamp Status", 1, detail::GlowPlugLampText)},
        SupportByte::kLeads);
    Add(0x66, "Mass Air Flow Sensor", 5,
        {Number("Mass Air Flow Sensor A", MU::GramPerSecond, 1, kSensorAirFlow),
         Number("Mass Air Flow Sensor B", MU::GramPerSecond, 3, kSensorAirFlow)},
        SupportByte::kLeads);
    Add(0x67, "Engine Coolant Temperature Sensors", 3,
        {Number("Engine Coolant Temperature Sensor 1", MU::DegreeCelsius, 1, kTemperature),
         Number("Engine Coolant Temperature Sensor 2", MU::DegreeCelsius, 2, kTemperature)},
        SupportByte::kLeads);
    {
        std::vector<SensorLayout> sensors;
        for (int index = 0; index < 6; ++index) {
            sensors.push_back(Number(
                "Intake Air Temperature Bank " + N(index / 3 + 1) + " Sensor " + N(index % 3 + 1),
                MU::DegreeCelsius, 1 + index, kTemperature));
        }
        Add(0x68, "Intake Air Temperature Sensors", 7, std::move(sensors), SupportByte::kLeads);
    }
    Add(0x69, "Commanded EGR and EGR Error", 7,
        {Number("Commanded EGR A Duty Cycle", MU::Percent, 1, kPercent),
         Number("Actual EGR A Duty Cycle", MU::Percent, 2, kPercent),
         Number("EGR A Error", MU::Percent, 3, kPercentCentered),
         Number("Commanded EGR B Duty Cycle", MU::Percent, 4, kPercent),
         Number("Actual EGR B Duty Cycle", MU::Percent, 5, kPercent),
         Number("EGR B Error", MU::Percent, 6, kPercentCentered)},
        SupportByte::kLeads);
    Add(0x6A, "Commanded Diesel Intake Air Flow Control", 5,
        {Number("Commanded Intake Air Flow A Control", MU::Percent, 1, kPercent),
         Number("Relative Intake Air Flow A Position", MU::Percent, 2, kPercent),
         Number("Commanded Intake Air Flow B Control", MU::Percent, 3, kPercent),
         Number("Relative Intake Air Flow B Position", MU::Percent, 4, kPercent)},
        SupportByte::kLeads);
    Add(0x6B, "Exhaust Gas Recirculation Temperature", 5,
        {Number("EGR Temperature Bank 1 Sensor 1", MU::DegreeCelsius, 1, kTemperature),
         Number("EGR Temperature Bank 1 Sensor 2", MU::DegreeCelsius, 2, kTemperature),
         Number("EGR Temperature Bank 2 Sensor 1", MU::DegreeCelsius, 3, kTemperature),
         Number("EGR Temperature Bank 2 Sensor 2", MU::DegreeCelsius, 4, kTemperature)},
        SupportByte::kLeads);
    Add(0x6C, "Commanded Throttle Actuator and Relative Throttle Position", 5,
        {Number("Commanded Throttle Actuator A", MU::Percent, 1, kPercent),
         Number("Relative Throttle A Position", MU::Percent, 2, kPercent),
         Number("Commanded Throttle Actuator B", MU::Percent, 3, kPercent),
         Number("Relative Throttle B Position", MU::Percent, 4, kPercent)},
        SupportByte::kLeads);
    Add(0x6D, "Fuel Pressure Control System", 11,
        {Number("Commanded Fuel Rail Pressure A", MU::Kilopascal, 1, kWordTimes10),
         Number("Fuel Rail Pressure A", MU::Kilopascal, 3, kWordTimes10),
         Number("Fuel Temperature A", MU::DegreeCelsius, 5, kTemperature),
         Number("Commanded Fuel Rail Pressure B", MU::Kilopascal, 6, kWordTimes10),
         Number("Fuel Rail Pressure B", MU::Kilopascal, 8, kWordTimes10),
         Number("Fuel Temperature B", MU::DegreeCelsius, 10, kTemperature)},
        SupportByte::kLeads);
    Add(0x6E, "Injection Pressure Control System", 9,
        {Number("Commanded Injection Control Pressure A", MU::Kilopascal, 1, kWordTimes10),
         Number("Injection Control Pressure A", MU::Kilopascal, 3, kWordTimes10),
         Number("Commanded Injection Control Pressure B", MU::Kilopascal, 5, kWordTimes10),
         Number("Injection Control Pressure B", MU::Kilopascal, 7, kWordTimes10)},
        SupportByte::kLeads);
    Add(0x6F, "Turbocharger Compressor Inlet Pressure", 3,
        {Number("Turbocharger Compressor Inlet Pressure A", MU::Kilopascal, 1, kByte),
         Number("Turbocharger Compressor Inlet Pressure B", MU::Kilopascal, 2, kByte)},
        SupportByte::kLeads);
    Add(0x70, "Boost Pressure Control", 10,
        {Number("Commanded Boost Pressure A", MU::Kilopascal, 1, kBoostPressure),
         Number("Boost Pressure A", MU::Kilopascal, 3, kBoostPressure),
         Number("Commanded Boost Pressure B", MU::Kilopascal, 5, kBoostPressure),
         Number("Boost Pressure B", MU::Kilopascal, 7, kBoostPressure),
         Text("Boost Pressure A Control Status", 9, detail::ControlStatusAText),
         Text("Boost Pressure B Control Status", 9, detail::ControlStatusBText)},
        SupportByte::kLeads);
    Add(0x71, "Variable Geometry Turbo Control", 6,
        {Number("Commanded VGT A Position", MU::Percent, 1, kPercent),
         Number("VGT A Position", MU::Percent, 2, kPercent),
         Number("Commanded VGT B Position", MU::Percent, 3, kPercent),
         Number("VGT B Position", MU::Percent, 4, kPercent),
         Text("VGT A Control Status", 5, detail::ControlStatusAText),
         Text("VGT B Control Status", 5, detail::ControlStatusBText)},
        SupportByte::kLeads);
    Add(0x72, "Wastegate Control", 5,
        {Number("Commanded Wastegate A Position", MU::Percent, 1, kPercent),
         Number("Wastegate A Position", MU::Percent, 2, kPercent),
         Number("Commanded Wastegate B Position", MU::Percent, 3, kPercent),
         Number("Wastegate B Position", MU::Percent, 4, kPercent)},
        SupportByte::kLeads);
    Add(0x73, "Exhaust Pressure", 5,
        {Number("Exhaust Pressure Bank 1", MU::Kilopascal, 1, kHundredthKilopascal),
         Number("Exhaust Pressure Bank 2", MU::Kilopascal, 3, kHundredthKilopascal)},
        SupportByte::kLeads);
    Add(0x74, "Turbocharger Speed", 5,
        {Number("Turbocharger A Speed", MU::Rpm, 1, kTurbochargerSpeed),
         Number("Turbocharger B Speed", MU::Rpm, 3, kTurbochargerSpeed)},
        SupportByte::kLeads);
    for (int index = 0; index < 2; ++index) {
        const std::string name = std::string("Turbocharger ") + (index == 0 ? "A" : "B");
        Add(static_cast<std::uint8_t>(0x75 + index), name + " Temperature", 7,
            {Number(name + " Compressor Inlet Temperature", MU::DegreeCelsius, 1, kTemperature),
             Number(name + " Compressor Outlet Temperature", MU::DegreeCelsius, 2, kTemperature),
             Number(name + " Turbine Inlet Temperature", MU::DegreeCelsius, 3, kWideTemperature),
             Number(name + " Turbine Outlet Temperature", MU::DegreeCelsius, 5, kWideTemperature)},
            SupportByte::kLeads);
    }
    Add(0x77, "Charge Air Cooler Temperature", 5,
        {Number("Charge Air Cooler Temperature Bank 1 Sensor 1", MU::DegreeCelsius, 1,
                kTemperature),
         Number("Charge Air Cooler Temperature Bank 1 Sensor 2", MU::DegreeCelsius, 2,
                kTemperature),
         Number("Charge Air Cooler Temperature Bank 2 Sensor 1", MU::DegreeCelsius, 3,
                kTemperature),
         Number("Charge Air Cooler Temperature Bank 2 Sensor 2", MU::DegreeCelsius, 4,
                kTemperature)},
        SupportByte::kLeads);
    // Sensors 1 to 4 of each bank in 0x78 and 0x79, sensors 5 to 8 in 0x98
    // and 0x99, laid out alike.
    for (int bank = 1; bank <= 2; ++bank) {
        for (int first : {1, 5}) {
            const std::string name = "Exhaust Gas Temperature Bank " + N(bank);
            std::vector<SensorLayout> sensors;
            for (int sensor = first; sensor < first + 4; ++sensor) {
                sensors.push_back(Number(name + " Sensor " + N(sensor), MU::DegreeCelsius,
                                         2 * static_cast<std::size_t>(sensor - first) + 1,
                                         kWideTemperature));
            }
            Add(static_cast<std::uint8_t>((first == 1 ? 0x77 : 0x97) + bank),
                first == 1 ? name : name + " Sensors 5-8", 9, std::move(sensors),
                SupportByte::kLeads);
        }
    }
    for (int bank = 1; bank <= 2; ++bank) {
        const std::string name = "Diesel Particulate Filter Bank " + N(bank);
        Add(static_cast<std::uint8_t>(0x79 + bank), name, 7,
            {Number(name + " Delta Pressure", MU::Kilopascal, 1, kSignedHundredthKilopascal),
             Number(name + " Inlet Pressure", MU::Kilopascal, 3, kHundredthKilopascal),
             Number(name + " Outlet Pressure", MU::Kilopascal, 5, kHundredthKilopascal)},
            SupportByte::kLeads);
    }
    Add(0x7C, "Diesel Particulate Filter Temperature", 9,
        {Number("Diesel Particulate Filter Bank 1 Inlet Temperature", MU::DegreeCelsius, 1,
                kWideTemperature),
         Number("Diesel Particulate Filter Bank 1 Outlet Temperature", MU::DegreeCelsius, 3,
                kWideTemperature),
         Number("Diesel Particulate Filter Bank 2 Inlet Temperature", MU::DegreeCelsius, 5,
                kWideTemperature),
         Number("Diesel Particulate Filter Bank 2 Outlet Temperature", MU::DegreeCelsius, 7,
                kWideTemperature)},
        SupportByte::kLeads);
    AddText(0x7D, "NOx NTE Control Area Status", 1, detail::NteStatusText);
    AddText(0x7E, "PM NTE Control Area Status", 1, detail::NteStatusText);
    // Lifetime counters in seconds; the total comes first because it is the
    // reading a display shows for this parameter.
    Add(0x7F, "Engine Run Time", 13,
        {Number("Total Engine Run Time", MU::Second, 1, kDoubleWord),
         Number("Total Idle Run Time", MU::Second, 5, kDoubleWord),
         Number("Total Run Time With PTO Active", MU::Second, 9, kDoubleWord)},
        SupportByte::kLeads);

    Add(0x83, "NOx Sensor Concentration", 5,
        {Number("NOx Concentration Bank 1 Sensor 1", MU::PartsPerMillion, 1, kWord),
         Number("NOx Concentration Bank 2 Sensor 1", MU::PartsPerMillion, 3, kWord)},
        SupportByte::kLeads);
    AddNumber(0x84, "Manifold Surface Temperature", MU::DegreeCelsius, kTemperature);
    Add(0x85, "NOx Control System", 10,
        {Number("Average Reagent Consumption", MU::LiterPerHour, 1, kReagentRate),
         Number("Average Demanded Reagent Consumption", MU::LiterPerHour, 3, kReagentRate),
         Number("Reagent Tank Level", MU::Percent, 5, kPercent),
         Number("NOx Warning and Inducement Active Time", MU::Second, 6, kDoubleWord)},
        SupportByte::kLeads);
    Add(0x87, "Intake Manifold Absolute Pressure A and B", 5,
        {Number("Intake Manifold Absolute Pressure A", MU::Kilopascal, 1, kBoostPressure),
         Number("Intake Manifold Absolute Pressure B", MU::Kilopascal, 3, kBoostPressure)},
        SupportByte::kLeads);
    AddNumber(0x8D, "Throttle Position G", MU::Percent, kPercent);
    AddNumber(0x8E, "Engine Friction Percent Torque", MU::Percent, kTorquePercent);
    Add(0x9D, "Engine and Vehicle Fuel Rate", 4,
        {Number("Engine Fuel Mass Rate", MU::GramPerSecond, 0, kFuelMassRate),
         Number("Vehicle Fuel Mass Rate", MU::GramPerSecond, 2, kFuelMassRate)});
    AddNumber(0x9E, "Engine Exhaust Flow Rate", MU::KilogramPerHour, kExhaustFlowRate);
    AddNumber(0xA2, "Cylinder Fuel Rate", MU::MilligramPerStroke, kCylinderFuelRate);
    // Bytes C and D are reserved.
    Add(0xA5, "Commanded Diesel Exhaust Fluid Dosing", 4,
        {Number("Commanded Diesel Exhaust Fluid Dosing", MU::Percent, 1, kHalfPercent)},
        SupportByte::kLeads);
    // The gear in the high half of byte B (0: neutral), the ratio in C and D.
    Add(0xA4, "Transmission Actual Gear", 4,
        {Text("Transmission Actual Gear", 1,
              [](const std::uint8_t* field) { return N(field[0] >> 4); }),
         Number("Transmission Gear Ratio", MU::None, 2, kGearRatio)},
        SupportByte::kLeads);
    AddNumber(0xA6, "Odometer", MU::Kilometer, kOdometer);

    // The core's own parameter: the adapter's reading of the supply voltage,
    // in millivolts like the control module voltage.
    AddNumber(0xF4, "Battery Voltage", MU::Volt, kModuleVoltage);
}

const PidTable& Table() {
    static const PidTable table;
    return table;
}

const PidEntry& Require(std::uint8_t pid) {
    const PidEntry* entry = Table().Find(pid);
    if (entry == nullptr) {
        throw CodecError("unknown PID " + HexByte(pid));
    }
    return *entry;
}

void RequireLength(const PidEntry& entry, std::size_t size) {
    if (size != entry.definition.dataBytes) {
        throw CodecError("PID " + HexByte(entry.definition.pid) + " needs " +
                         std::to_string(entry.definition.dataBytes) + " data bytes, got " +
                         std::to_string(size));
    }
}

std::int64_t ReadRaw(const std::uint8_t* bytes, const Scaling& scaling) {
    std::uint64_t raw = 0;
    for (std::size_t index = 0; index < scaling.width; ++index) {
        raw = raw << 8 | bytes[index];
    }
    const std::uint64_t signBit = std::uint64_t{1} << (8 * scaling.width - 1);
    if (scaling.isSigned && (raw & signBit) != 0) {
        return static_cast<std::int64_t>(raw) - static_cast<std::int64_t>(signBit << 1);
    }
    return static_cast<std::int64_t>(raw);
}

void WriteRaw(std::int64_t raw, const Scaling& scaling, std::uint8_t* bytes) {
    auto bits = static_cast<std::uint64_t>(raw);
    for (std::size_t index = scaling.width; index-- > 0;) {
        bytes[index] = static_cast<std::uint8_t>(bits & 0xFF);
        bits >>= 8;
    }
}

// The raw number that encodes `value`, rounded to the nearest step.
std::int64_t ToRaw(double value, const Scaling& scaling, const std::string& sensorName) {
    const double minimum = scaling.ToValue(scaling.RawMinimum());
    const double maximum = scaling.ToValue(scaling.RawMaximum());
    // Half a step beyond the range still rounds onto it, and so does a limit
    // that went through the float of SensorDefinition.
    const double slack = scaling.numerator / scaling.denominator / 2 +
                         std::max(std::abs(minimum), std::abs(maximum)) * 1e-6;
    if (!(value >= minimum - slack && value <= maximum + slack)) {
        throw CodecError("value " + FormatShortest(value) + " out of range " +
                         FormatShortest(minimum) + ".." + FormatShortest(maximum) + " for " +
                         sensorName);
    }
    const auto raw =
        std::llround((value - scaling.offset) * scaling.denominator / scaling.numerator);
    return std::clamp<std::int64_t>(raw, scaling.RawMinimum(), scaling.RawMaximum());
}

}  // namespace

const PidDefinition* FindPid(std::uint8_t pid) {
    const PidEntry* entry = Table().Find(pid);
    return entry == nullptr ? nullptr : &entry->definition;
}

std::size_t CurrentDataLength(std::uint8_t pid) {
    if (IsSupportId(pid)) {
        return 4;
    }
    const PidDefinition* definition = FindPid(pid);
    return definition != nullptr ? definition->dataBytes : 0;
}

std::size_t CurrentDataAnswerLength(const std::vector<std::uint8_t>& pids) {
    std::size_t length = 1;
    for (std::uint8_t pid : pids) {
        const std::size_t data = CurrentDataLength(pid);
        if (data == 0) {
            return 0;
        }
        length += 1 + data;
    }
    return length;
}

std::size_t CurrentDataAnswerFrames(const std::vector<std::uint8_t>& pids) {
    const std::size_t length = CurrentDataAnswerLength(pids);
    return length == 0 ? 0 : bus::FrameCount(length);
}

std::vector<DecodedSensor> DecodePid(std::uint8_t pid, const Bytes& data) {
    const PidEntry& entry = Require(pid);
    RequireLength(entry, data.size());
    std::vector<DecodedSensor> decoded;
    decoded.reserve(entry.fields.size());
    for (const Field& field : entry.fields) {
        DecodedSensor sensor;
        const bool supported = field.supportBit < 0 || ((data[0] >> field.supportBit) & 1) != 0;
        if (!supported) {
            // Left empty: the ECU has no such sensor, which is not a reading of 0.
        } else if (field.scaling) {
            sensor.number = field.scaling->ToValue(ReadRaw(&data[field.offset], *field.scaling));
            const Scaling& scaling = *field.scaling;
            sensor.text = FormatFixedWithin(sensor.number, scaling.decimals,
                                            scaling.ToValue(scaling.RawMinimum()),
                                            scaling.ToValue(scaling.RawMaximum()));
        } else {
            sensor.text = field.text(&data[field.offset]);
        }
        decoded.push_back(std::move(sensor));
    }
    return decoded;
}

Bytes EncodePid(std::uint8_t pid, const std::vector<double>& values) {
    const PidEntry& entry = Require(pid);
    const auto& sensors = entry.definition.sensors;
    if (std::any_of(sensors.begin(), sensors.end(),
                    [](const SensorDefinition& sensor) { return !sensor.numeric; })) {
        throw CodecError("PID " + HexByte(pid) +
                         " carries texts, not only numbers; give its data bytes instead");
    }
    if (values.size() != sensors.size()) {
        throw CodecError("PID " + HexByte(pid) + " takes " + std::to_string(sensors.size()) +
                         (sensors.size() == 1 ? " value" : " values") + ", got " +
                         std::to_string(values.size()));
    }
    Bytes data(entry.definition.dataBytes, 0);
    for (std::size_t index = 0; index < values.size(); ++index) {
        const Field& field = entry.fields[index];
        const std::int64_t raw = ToRaw(values[index], *field.scaling, sensors[index].name);
        WriteRaw(raw, *field.scaling, &data[field.offset]);
        if (field.supportBit >= 0) {
            data[0] = static_cast<std::uint8_t>(data[0] | 1 << field.supportBit);
        }
    }
    return data;
}

Bytes EncodeRawPid(std::uint8_t pid, const Bytes& data) {
    RequireLength(Require(pid), data.size());
    return data;
}

}  // namespace obd::j1979
