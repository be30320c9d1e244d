#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "zelt/Models.h"
#include "zelt/app/Export.h"

namespace zelt::app {

// The unit system values are shown in. The library's records stay metric
// as the vehicle reports them; only the presentation converts.
enum class UnitSystem { Metric, Imperial };

// Parses "metric" or "imperial"; throws InputError otherwise.
ZELT_APP_API UnitSystem ParseUnitSystem(const std::string& text);

// A value as shown: the number (none when the value is not a number, e.g.
// "Spark ignition"), its unit's name and the text a reader sees.
struct Quantity {
    std::optional<double> number;  // none when the value is not a number
    std::string unit;              // the unit's name in the chosen system
    std::string text;              // empty when there is no value
};

// The exact values of sensors, by sensor uid, where the records hold texts
// rounded for display (see Session::decodedNumbers).
using DecodedNumbers = std::map<std::int32_t, double>;

// A sensor's value in `units`. A metric value that has an imperial
// counterpart (km/h, °C, km, kPa, g/s, L ...) is converted, its text written
// anew; anything else is shown as the library formatted it. The number is
// the decoded one from `numbers` where it holds the sensor, else the
// record's value text read as a number.
ZELT_APP_API Quantity Present(const SensorModel& sensor, UnitSystem units,
                              const DecodedNumbers& numbers = {});

// As above for a sensor whose unit the library may have no name for:
// where it names none, `ownUnit` (as a vehicle profile writes it, "bar")
// is kept as text beside the value, never converted.
ZELT_APP_API Quantity Present(const SensorModel& sensor, const std::string& ownUnit,
                              UnitSystem units, const DecodedNumbers& numbers = {});

// A test value (on-board monitor, oxygen sensor) in `units`.
ZELT_APP_API Quantity Present(double value, MeasurementUnit unit, UnitSystem units);

// The name of `unit` once presented in `units` ("mph" for km/h in imperial).
ZELT_APP_API std::string UnitName(MeasurementUnit unit, UnitSystem units);

// A value given as text with its unit (vehicle operation data): converted
// like a test value when the text is a number, kept as it is otherwise.
ZELT_APP_API Quantity Present(const std::string& value, MeasurementUnit unit, UnitSystem units);

}  // namespace zelt::app
