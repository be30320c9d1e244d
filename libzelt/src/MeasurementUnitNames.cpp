#include "zelt/MeasurementUnitNames.h"

#include <cstdint>
#include <map>

namespace zelt {

// UTF-8 spelled as bytes, so the texts do not depend on the source encoding a
// compiler assumes. Kept as separate literals: a hex escape would swallow a
// following letter such as the C of "°C".
#define ZELT_DEGREE "\xC2\xB0"
#define ZELT_MICRO "\xC2\xB5"

std::string ConvertMeasurementUnitToString(MeasurementUnit unit) {
    // Built on first use; the language guarantees that concurrent first calls
    // build it exactly once. Afterwards it is only read.
    static const std::map<std::int32_t, std::string> names = {
        {0, ""},
        {1, "RPM"},
        {2, "km/h"},
        {3, "mph"},
        {4, "V"},
        {5, "A"},
        {6, "mA"},
        {7, "mOhm"},
        {8, "kOhm"},
        {9, "s"},
        {10, "%"},
        {11, ZELT_DEGREE "C"},
        {12, ZELT_DEGREE "F"},
        {13, "Ohm"},
        {14, "kPa"},
        {15, ZELT_DEGREE},
        {16, "lambda"},
        {17, "A/F ratio"},
        {18, "Hz"},
        {19, "MHz"},
        {20, "counts"},
        {21, "km"},
        {22, "V/ms"},
        {23, "g/s"},
        {24, "kPa/s"},
        {25, "kg/h"},
        {26, "switches"},
        {27, "g/cyl"},
        {28, "mg/stroke"},
        {29, "L"},
        {30, "mm"},
        {31, "g"},
        {32, ZELT_MICRO "s"},
        {33, "mm2"},
        {34, "Pa/s"},
        {35, "mV/s"},
        {36, "Pa"},
        {37, "PSI"},
        {38, "miles"},
        {39, "lb/s"},
        {40, "inH2O/s"},
        {41, "inch"},
        {42, "lbs"},
        {43, "inH2O"},
        {44, "min"},
        {45, "lb/min"},
        {46, "inHg"},
        {47, "H20"},  // the digit zero, not the letter O; keep it byte for byte
        {48, "l/h"},
        {49, "l/100km"},
        {50, "MPG"},
        {51, "Nm"},
        {52, "hrs"},
        {53, "kW"},
        {54, "hp"},
        {55, "kg"},
        {56, "ppm"},
        {57, ZELT_MICRO "A"},
        {58, "kJ"},
        {59, "BTU"},
        {60, "g/kWh"},
        {61, "lbf ft"},
        {62, ZELT_DEGREE "C/s"},
        {63, ZELT_DEGREE "F/s"},
        {64, ZELT_MICRO "s/cm"},
        {65, ZELT_DEGREE "C/kg/s"},
    };
    const auto found = names.find(static_cast<std::int32_t>(unit));
    return found != names.end() ? found->second : std::string();
}

#undef ZELT_MICRO
#undef ZELT_DEGREE

}  // namespace zelt
