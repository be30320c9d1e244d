#include "zelt/app/Units.h"

#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <sstream>

#include "zelt/MeasurementUnitNames.h"
#include "zelt/app/Printable.h"
#include "zelt/app/Session.h"

namespace zelt::app {

namespace {

// imperial = metric * factor + offset. The factors follow from the exact
// definitions of the inch (25.4 mm), the pound (0.45359237 kg) and the US
// gallon (231 cubic inches), as NIST SP 811 (appendix B) lists them.
struct Conversion {
    MeasurementUnit metric;
    const char* imperial;
    double factor;
    double offset;
};

constexpr double kMile = 1.609344;                // km
constexpr double kPound = 0.45359237;             // kg
constexpr double kGallon = 3.785411784;           // L
constexpr double kPsi = 6.894757293168;           // kPa
constexpr double kInchOfWater = 249.08891;        // Pa, water at 4 °C
constexpr double kPoundForceFoot = 1.3558179483;  // N·m
constexpr double kHorsepower = 0.74569987158;     // kW, mechanical
constexpr double kBtu = 1.05505585262;            // kJ, international table

const Conversion kConversions[] = {
    {MeasurementUnit::KilometersPerHour, "mph", 1 / kMile, 0},
    {MeasurementUnit::DegreeCelsius, "\u00B0F", 1.8, 32},
    {MeasurementUnit::DegreeCelsiusPerSecond, "\u00B0F/s", 1.8, 0},
    {MeasurementUnit::Kilometer, "miles", 1 / kMile, 0},
    {MeasurementUnit::Kilopascal, "PSI", 1 / kPsi, 0},
    {MeasurementUnit::Pascal, "inH2O", 1 / kInchOfWater, 0},
    {MeasurementUnit::PascalPerSecond, "inH2O/s", 1 / kInchOfWater, 0},
    {MeasurementUnit::GramPerSecond, "lb/min", 60 / (kPound * 1000), 0},
    {MeasurementUnit::KilogramPerHour, "lb/h", 1 / kPound, 0},
    {MeasurementUnit::Kilogram, "lbs", 1 / kPound, 0},
    {MeasurementUnit::Liter, "gal", 1 / kGallon, 0},
    {MeasurementUnit::LiterPerHour, "gal/h", 1 / kGallon, 0},
    {MeasurementUnit::Millimeter, "inch", 1 / 25.4, 0},
    {MeasurementUnit::NewtonMeter, "lbf ft", 1 / kPoundForceFoot, 0},
    {MeasurementUnit::Kilowatt, "hp", 1 / kHorsepower, 0},
    {MeasurementUnit::Kilojoule, "BTU", 1 / kBtu, 0},
};

// L/100 km is an inverse measure: miles per US gallon = 100 * kGallon /
// (kMile * l/100km).
constexpr double kLitresPer100KmTimesMpg = 100 * kGallon / kMile;

std::optional<double> Number(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// As many decimals as the metric text had, at least one, trailing zeros cut.
std::string Format(double value, int decimals) {
    std::ostringstream stream;
    stream << std::fixed << std::setprecision(std::max(decimals, 1)) << value;
    std::string text = stream.str();
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') {
        text.pop_back();
    }
    return text == "-0" ? "0" : text;
}

int Decimals(const std::string& text) {
    const auto point = text.find('.');
    return point == std::string::npos ? 0 : static_cast<int>(text.size() - point - 1);
}

// The value converted to imperial, or false when `unit` has no counterpart.
bool ToImperial(double value, MeasurementUnit unit, double& converted, std::string& name) {
    if (unit == MeasurementUnit::LiterPer100Kilometers) {
        if (value <= 0) {
            return false;
        }
        converted = kLitresPer100KmTimesMpg / value;
        name = "MPG";
        return true;
    }
    for (const auto& conversion : kConversions) {
        if (conversion.metric == unit) {
            converted = value * conversion.factor + conversion.offset;
            name = conversion.imperial;
            return true;
        }
    }
    return false;
}

}  // namespace

UnitSystem ParseUnitSystem(const std::string& text) {
    if (text == "metric") {
        return UnitSystem::Metric;
    }
    if (text == "imperial") {
        return UnitSystem::Imperial;
    }
    throw InvalidValue("invalid unit system " + Quoted(text) + ": give metric or imperial", text,
                       "metric or imperial");
}

Quantity Present(const SensorModel& sensor, UnitSystem units, const DecodedNumbers& numbers) {
    Quantity quantity;
    quantity.unit = ConvertMeasurementUnitToString(sensor.unit);
    if (!sensor.value) {
        return quantity;
    }
    const auto decoded = numbers.find(sensor.uid);
    quantity.number = decoded != numbers.end() ? decoded->second : Number(sensor.value->rawValue);
    quantity.text = sensor.value->formattedValue;
    double converted = 0;
    std::string name;
    if (units == UnitSystem::Imperial && quantity.number &&
        ToImperial(*quantity.number, sensor.unit, converted, name)) {
        quantity.text = Format(converted, Decimals(sensor.value->rawValue)) + " " + name;
        quantity.number = converted;
        quantity.unit = name;
    }
    return quantity;
}

Quantity Present(const SensorModel& sensor, const std::string& ownUnit, UnitSystem units,
                 const DecodedNumbers& numbers) {
    Quantity quantity = Present(sensor, units, numbers);
    if (quantity.unit.empty() && !ownUnit.empty()) {
        quantity.unit = ownUnit;
        if (!quantity.text.empty()) {
            quantity.text += ' ' + ownUnit;
        }
    }
    return quantity;
}

Quantity Present(double value, MeasurementUnit unit, UnitSystem units) {
    Quantity quantity{value, ConvertMeasurementUnitToString(unit), {}};
    double converted = 0;
    std::string name;
    if (units == UnitSystem::Imperial && ToImperial(value, unit, converted, name)) {
        quantity.number = converted;
        quantity.unit = name;
    }
    // Scaled test values carry binary fractions (0.450058 V); three decimals
    // show what the scaling can resolve.
    quantity.text = Format(*quantity.number, 3);
    if (!quantity.unit.empty()) {
        quantity.text += ' ' + quantity.unit;
    }
    return quantity;
}

std::string UnitName(MeasurementUnit unit, UnitSystem units) {
    double converted = 0;
    std::string name;
    if (units == UnitSystem::Imperial && ToImperial(1, unit, converted, name)) {
        return name;
    }
    return ConvertMeasurementUnitToString(unit);
}

Quantity Present(const std::string& value, MeasurementUnit unit, UnitSystem units) {
    const auto number = Number(value);
    if (number) {
        return Present(*number, unit, units);
    }
    const std::string name = ConvertMeasurementUnitToString(unit);
    return {std::nullopt, name, value.empty() || name.empty() ? value : value + " " + name};
}

}  // namespace zelt::app
