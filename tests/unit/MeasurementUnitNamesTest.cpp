#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "zelt/MeasurementUnitNames.h"

namespace {

using zelt::ConvertMeasurementUnitToString;

MeasurementUnit Unit(int value) {
    return static_cast<MeasurementUnit>(value);
}

// The texts the application shows, as exact bytes: the degree sign is
// C2 B0, the micro sign C2 B5.
// clang-format off
const char* const kExpected[] = {
    "",          "RPM",         "km/h",         "mph",       "V",
    "A",         "mA",          "mOhm",         "kOhm",      "s",
    "%",         "\xC2\xB0" "C", "\xC2\xB0" "F", "Ohm",      "kPa",
    "\xC2\xB0",  "lambda",      "A/F ratio",    "Hz",        "MHz",
    "counts",    "km",          "V/ms",         "g/s",       "kPa/s",
    "kg/h",      "switches",    "g/cyl",        "mg/stroke", "L",
    "mm",        "g",           "\xC2\xB5" "s", "mm2",       "Pa/s",
    "mV/s",      "Pa",          "PSI",          "miles",     "lb/s",
    "inH2O/s",   "inch",        "lbs",          "inH2O",     "min",
    "lb/min",    "inHg",        "H20",          "l/h",       "l/100km",
    "MPG",       "Nm",          "hrs",          "kW",        "hp",
    "kg",        "ppm",         "\xC2\xB5" "A", "kJ",        "BTU",
    "g/kWh",     "lbf ft",      "\xC2\xB0" "C/s", "\xC2\xB0" "F/s", "\xC2\xB5" "s/cm",
    "\xC2\xB0" "C/kg/s",
};
// clang-format on
static_assert(sizeof(kExpected) / sizeof(kExpected[0]) == 66, "one text per unit 0..65");

// First in this file, so that the threads race on building the table (run
// under ThreadSanitizer).
TEST(MeasurementUnitNamesTest, ConcurrentFirstCallsAllSeeTheTable) {
    std::vector<std::thread> threads;
    std::vector<std::string> seen(8);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] {
            seen[i] = ConvertMeasurementUnitToString(MeasurementUnit::KilometersPerHour);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const auto& text : seen) {
        EXPECT_EQ(text, "km/h");
    }
}

TEST(MeasurementUnitNamesTest, EveryUnitHasItsExactText) {
    for (int value = 0; value < 66; ++value) {
        EXPECT_EQ(ConvertMeasurementUnitToString(Unit(value)), std::string(kExpected[value]))
            << "unit " << value;
    }
}

TEST(MeasurementUnitNamesTest, NonAsciiSignsAreTwoByteUtf8) {
    EXPECT_EQ(ConvertMeasurementUnitToString(MeasurementUnit::DegreeCelsius),
              std::string("\xC2\xB0\x43"));
    EXPECT_EQ(ConvertMeasurementUnitToString(MeasurementUnit::DegreeCelsius).size(), 3u);
    EXPECT_EQ(ConvertMeasurementUnitToString(MeasurementUnit::Degree), "\xC2\xB0");
    EXPECT_EQ(ConvertMeasurementUnitToString(MeasurementUnit::MicrosiemensPerCentimeter).size(),
              6u);
}

TEST(MeasurementUnitNamesTest, TextsThatAreEasilyMistyped) {
    EXPECT_EQ(ConvertMeasurementUnitToString(MeasurementUnit::WaterColumn), "H20");  // zero
    EXPECT_EQ(ConvertMeasurementUnitToString(MeasurementUnit::Liter), "L");
    EXPECT_EQ(ConvertMeasurementUnitToString(MeasurementUnit::LiterPerHour), "l/h");
    EXPECT_EQ(ConvertMeasurementUnitToString(MeasurementUnit::PoundForceFoot), "lbf ft");
}

TEST(MeasurementUnitNamesTest, NoUnitAndValuesOutsideTheTableAreEmpty) {
    EXPECT_EQ(ConvertMeasurementUnitToString(MeasurementUnit::None), "");
    EXPECT_EQ(ConvertMeasurementUnitToString(Unit(66)), "");
    EXPECT_EQ(ConvertMeasurementUnitToString(Unit(-1)), "");
    EXPECT_EQ(ConvertMeasurementUnitToString(Unit(1000000)), "");
}

}  // namespace
