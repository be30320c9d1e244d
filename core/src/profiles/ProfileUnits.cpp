#include "profiles/ProfileUnits.h"

#include <utility>

namespace obd::profiles {

namespace {

// UTF-8 as bytes, independent of the source encoding the compiler assumes.
#define PROFILE_DEGREE "\xC2\xB0"

const std::pair<const char*, MeasurementUnit> kUnits[] = {
    {PROFILE_DEGREE "C", MeasurementUnit::DegreeCelsius},
    {PROFILE_DEGREE "F", MeasurementUnit::DegreeFahrenheit},
    {PROFILE_DEGREE, MeasurementUnit::Degree},
    {"%", MeasurementUnit::Percent},
    {"V", MeasurementUnit::Volt},
    {"A", MeasurementUnit::Ampere},
    {"mA", MeasurementUnit::Milliampere},
    {"Ohm", MeasurementUnit::Ohm},
    {"RPM", MeasurementUnit::Rpm},
    {"rpm", MeasurementUnit::Rpm},
    {"km/h", MeasurementUnit::KilometersPerHour},
    {"mph", MeasurementUnit::MilesPerHour},
    {"km", MeasurementUnit::Kilometer},
    {"s", MeasurementUnit::Second},
    {"min", MeasurementUnit::Minute},
    {"h", MeasurementUnit::Hour},
    {"kPa", MeasurementUnit::Kilopascal},
    {"Pa", MeasurementUnit::Pascal},
    {"PSI", MeasurementUnit::PoundPerSquareInch},
    {"Hz", MeasurementUnit::Hertz},
    {"g/s", MeasurementUnit::GramPerSecond},
    {"L", MeasurementUnit::Liter},
    {"L/h", MeasurementUnit::LiterPerHour},
    {"mm", MeasurementUnit::Millimeter},
    {"g", MeasurementUnit::Gram},
    {"kg", MeasurementUnit::Kilogram},
    {"Nm", MeasurementUnit::NewtonMeter},
    {"kW", MeasurementUnit::Kilowatt},
    {"ppm", MeasurementUnit::PartsPerMillion},
};

#undef PROFILE_DEGREE

}  // namespace

MeasurementUnit UnitOf(const std::string& text) {
    for (const auto& [name, unit] : kUnits) {
        if (text == name) {
            return unit;
        }
    }
    return MeasurementUnit::None;
}

}  // namespace obd::profiles
