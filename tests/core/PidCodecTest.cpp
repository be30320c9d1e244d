#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "j1979/Codec.h"

namespace {

using obd::j1979::Bytes;
using obd::j1979::CodecError;
using obd::j1979::DecodePid;
using obd::j1979::EncodePid;
using obd::j1979::EncodeRawPid;
using obd::j1979::FindPid;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

std::vector<std::string> Texts(std::uint8_t pid, const Bytes& data) {
    std::vector<std::string> texts;
    for (const auto& sensor : DecodePid(pid, data)) {
        texts.push_back(sensor.text);
    }
    return texts;
}

std::vector<std::uint8_t> KnownPids() {
    std::vector<std::uint8_t> pids;
    for (int pid = 0; pid <= 0xFF; ++pid) {
        if (FindPid(static_cast<std::uint8_t>(pid)) != nullptr) {
            pids.push_back(static_cast<std::uint8_t>(pid));
        }
    }
    return pids;
}

bool AllNumeric(const obd::j1979::PidDefinition& definition) {
    for (const auto& sensor : definition.sensors) {
        if (!sensor.numeric) {
            return false;
        }
    }
    return true;
}

struct DecodeCase {
    std::uint8_t pid;
    Bytes data;
    std::vector<std::string> texts;
};

// --- decoding -------------------------------------------------------------

// Byte strings with their values per formula family, as J1979 scales them.
TEST(PidCodecTest, DecodesEveryFormulaFamily) {
    const DecodeCase cases[] = {
        {0x04, {0xFF}, {"100.0"}},  // percent of 255
        {0x05, {0x7B}, {"83"}},     // temperature A-40
        {0x06, {0x80}, {"0.0"}},    // fuel trim 100/128 A - 100
        {0x07, {0x00}, {"-100.0"}},
        {0x0A, {0xFF}, {"765"}},          // 3 kPa per bit
        {0x0C, {0x1A, 0xF8}, {"1726"}},   // quarter rpm
        {0x0C, {0xFF, 0xFF}, {"16383"}},  // 16383.75: the text stays within the limit
        {0x0D, {0x3C}, {"60"}},
        {0x0E, {0x00}, {"-64.0"}},                             // A/2 - 64
        {0x10, {0x01, 0xF4}, {"5.00"}},                        // g/s per 100
        {0x14, {0x5A, 0x80}, {"0.450", "0.0"}},                // 5 mV per bit and trim
        {0x1F, {0x01, 0x2C}, {"300"}},                         // seconds
        {0x21, {0xFF, 0xFF}, {"65535"}},                       // km
        {0x22, {0x03, 0xE8}, {"79.0"}},                        // 0.079 kPa per bit
        {0x23, {0x00, 0x64}, {"1000"}},                        // 10 kPa per bit
        {0x24, {0x80, 0x00, 0x80, 0x00}, {"1.000", "4.000"}},  // ratio and 8 V span
        {0x34, {0x80, 0x00, 0x80, 0x00}, {"1.000", "0.00"}},   // ratio and current
        {0x3B, {0x40, 0x00, 0x00, 0x00}, {"0.500", "-128.00"}},
        {0x32, {0xFF, 0xFC}, {"-1.00"}},  // signed quarter Pa
        {0x3C, {0x0F, 0xA0}, {"360.0"}},  // tenth degree minus 40
        {0x42, {0x30, 0xD4}, {"12.5"}},   // millivolts
        {0x43, {0x00, 0xFF}, {"100.0"}},  // absolute load
        {0x44, {0x80, 0x00}, {"1.000"}},
        {0x4D, {0x00, 0x7D}, {"125"}},  // minutes
        {0x4F, {0x01, 0x08, 0x80, 0x0A}, {"1", "8", "128", "100"}},
        {0x50, {0x32, 0x00, 0x00, 0x00}, {"500"}},  // 10 g/s per bit
        {0x53, {0x4E, 0x20}, {"100.000"}},          // 5 Pa per bit as kPa
        // (A*256+B) - 32767 Pa: -32767 to 32768 Pa.
        {0x54, {0x00, 0x00}, {"-32767"}},
        {0x54, {0x7F, 0xFF}, {"0"}},
        {0x54, {0xFF, 0xFF}, {"32768"}},
        {0x55, {0x80, 0x00}, {"0.0", "-100.0"}},
        {0x5D, {0x69, 0x00}, {"0.00"}},  // A/128 - 210 degrees
        {0x5E, {0x00, 0x14}, {"1.00"}},  // L/h per 20
        {0x61, {0x7D}, {"0"}},           // A - 125 %
        {0x63, {0x01, 0x2C}, {"300"}},   // Nm
        {0x6D,
         {0x3F, 0x00, 0x64, 0x00, 0x64, 0x5A, 0, 0, 0, 0, 0x28},
         {"1000", "1000", "50", "0", "0", "0"}},
        {0x74, {0x01, 0x2E, 0xE0, 0xFF, 0xFF}, {"120000", ""}},  // 10 rpm per bit
        {0x75, {0x0F, 0x28, 0x50, 0x1A, 0x90, 0x0F, 0xA0}, {"0", "40", "640.0", "360.0"}},
        {0x7A, {0x07, 0xFF, 0x9C, 0x27, 0x10, 0x00, 0x00}, {"-1.00", "100.00", "0.00"}},
        {0x7F,
         {0x07, 0x00, 0x00, 0x0E, 0x10, 0x00, 0x00, 0x03, 0x84, 0x00, 0x00, 0x00, 0x3C},
         {"3600", "900", "60"}},
        {0x7F, {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}, {"4294967295", "", ""}},
        {0x84, {0xFF}, {"215"}},                                // A - 40 °C
        {0x8D, {0xFF}, {"100.0"}},                              // 100 A / 255 %
        {0x8E, {0x00}, {"-125"}},                               // A - 125 %
        {0x9D, {0xFF, 0xFF, 0x00, 0x00}, {"1310.70", "0.00"}},  // 1/50 g/s per bit
        {0x9E, {0xFF, 0xFF}, {"13107.0"}},                      // 1/5 kg/h per bit
        {0xA2, {0xFF, 0xFF}, {"2047.96"}},                      // 1/32 mg/stroke per bit
        {0xA5, {0x01, 0xFF, 0x00, 0x00}, {"127.5"}},            // B / 2 %
        {0xA5, {0x00, 0xFF, 0x00, 0x00}, {""}},                 // not supported
        // SAE J1979-DA: NOx ppm; reagent 0.005 L/h, tank A / 255, NWI seconds;
        // MAP 1/32 kPa; exhaust sensors 5-8 as 1-4; gear in B's high nibble,
        // ratio 1/1000.
        {0x83, {0x03, 0x01, 0xF4, 0x00, 0x00}, {"500", "0"}},
        {0x85,
         {0x0F, 0x00, 0xC8, 0x01, 0x90, 0xFF, 0x00, 0x00, 0x0E, 0x10},
         {"1.000", "2.000", "100.0", "3600"}},
        {0x87, {0x01, 0x0C, 0x80, 0xFF, 0xFF}, {"100.00", ""}},
        {0x98, {0x01, 0x1A, 0x90, 0, 0, 0, 0, 0, 0}, {"640.0", "", "", ""}},
        {0xA4, {0x03, 0x30, 0x05, 0xDC}, {"3", "1.500"}},
        {0xA6, {0x00, 0x00, 0x00, 0x00}, {"0.0"}},  // 1/10 km per bit
        {0xA6, {0xFF, 0xFF, 0xFF, 0xFF}, {"429496729.5"}},
        {0xF4, {0x31, 0x9C}, {"12.7"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "PID 0x" << std::hex << int{c.pid});
        EXPECT_THAT(Texts(c.pid, c.data), ElementsAreArray(c.texts));
    }
}

TEST(PidCodecTest, NumbersCarryThePhysicalValue) {
    EXPECT_DOUBLE_EQ(DecodePid(0x0C, {0x1A, 0xF9})[0].number, 1726.25);
    EXPECT_DOUBLE_EQ(DecodePid(0x05, {0x00})[0].number, -40);
    EXPECT_DOUBLE_EQ(DecodePid(0x14, {0xFF, 0xFF})[1].number, 99.21875);
    // Rounding a small negative value for display must not leave "-0.0".
    EXPECT_EQ(DecodePid(0x06, {0x7F})[0].text, "-0.8");
    EXPECT_EQ(DecodePid(0x34, {0, 0, 0x7F, 0xFF})[0].text, "0.000");
    EXPECT_EQ(DecodePid(0x34, {0, 0, 0x7F, 0xFF})[1].text, "0.00");
}

TEST(PidCodecTest, DecodesBitFieldsAndEnumerationsToTexts) {
    const DecodeCase cases[] = {
        {0x00, {0xBE, 0x1F, 0xA8, 0x13}, {"01 03 04 05 06 07 0C 0D 0E 0F 10 11 13 15 1C 1F 20"}},
        {0x20, {0x00, 0x00, 0x00, 0x00}, {"None"}},
        {0x60, {0x00, 0x00, 0x00, 0x01}, {"80"}},
        // MIL on, 3 codes, spark ignition; the evaporative system is pending.
        {0x01,
         {0x83, 0x07, 0x65, 0x04},
         {"On", "3", "Spark ignition",
          "Misfire, Fuel System, Comprehensive Components, Catalyst, Oxygen Sensor, Oxygen "
          "Sensor Heater",
          "Evaporative System"}},
        // Compression ignition names the monitors of bytes C and D differently.
        {0x01,
         {0x00, 0x19, 0x21, 0x01},
         {"Off", "0", "Compression ignition", "Exhaust Gas Sensor", "Misfire, NMHC Catalyst"}},
        {0x41,
         {0x00, 0x07, 0x01, 0x00},
         {"Misfire, Fuel System, Comprehensive Components, Catalyst", "None"}},
        {0x02, {0x01, 0x33}, {"P0133"}},
        {0x02, {0x00, 0x00}, {"None"}},
        {0x03, {0x02, 0x00}, {"Closed loop", "Off or not present"}},
        {0x03, {0x03, 0x10}, {"Unknown (0x03)", "Closed loop (feedback fault)"}},
        {0x12, {0x04}, {"From the outside atmosphere or off"}},
        {0x13, {0x13}, {"B1S1, B1S2, B2S1"}},
        {0x1D, {0x13}, {"B1S1, B1S2, B3S1"}},
        {0x1C, {0x06}, {"EOBD (Europe)"}},
        {0x1C, {0x01}, {"OBD-II as defined by the CARB"}},
        {0x1C, {0xFB}, {"Not available for assignment"}},
        {0x1E, {0x01}, {"Active"}},
        {0x51, {0x01}, {"Gasoline"}},
        {0x51, {0x04}, {"Diesel"}},
        {0x65, {0x05, 0x01}, {"Active", "", "Neutral or clutch depressed", ""}},
        {0x70,
         {0x3F, 0x0C, 0x80, 0x0C, 0x80, 0, 0, 0, 0, 0x09},
         {"100.00", "100.00", "0.00", "0.00", "Open loop", "Closed loop"}},
        {0x7D, {0x05}, {"Inside control area, Inside manufacturer carve-out area"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "PID 0x" << std::hex << int{c.pid});
        EXPECT_THAT(Texts(c.pid, c.data), ElementsAreArray(c.texts));
    }
}

// --- the table --------------------------------------------------------------

TEST(PidCodecTest, KnowsEveryServiceOnePidAndTheBatteryVoltage) {
    for (int pid = 0x00; pid <= 0x7F; ++pid) {
        EXPECT_NE(FindPid(static_cast<std::uint8_t>(pid)), nullptr) << pid;
    }
    ASSERT_NE(FindPid(0xF4), nullptr);
    EXPECT_EQ(FindPid(0xF4)->name, "Battery Voltage");
    EXPECT_EQ(FindPid(0xF4)->sensors.at(0).unit, MeasurementUnit::Volt);
    ASSERT_NE(FindPid(0xA6), nullptr);
    EXPECT_EQ(FindPid(0xA6)->name, "Odometer");
    EXPECT_EQ(FindPid(0xA6)->sensors.at(0).unit, MeasurementUnit::Kilometer);
    std::vector<std::uint8_t> above7F;
    for (std::uint8_t pid : KnownPids()) {
        if (pid > 0x7F) {
            above7F.push_back(pid);
        }
    }
    EXPECT_THAT(above7F, ElementsAre(0x80, 0x83, 0x84, 0x85, 0x87, 0x8D, 0x8E, 0x98, 0x99, 0x9D,
                                     0x9E, 0xA0, 0xA2, 0xA4, 0xA5, 0xA6, 0xC0, 0xF4));
}

// Every definition is consistent, and any byte pattern of the right length
// decodes to one value per sensor; under AddressSanitizer this also shows that
// no field reaches past the data.
TEST(PidCodecTest, EveryDefinitionDecodesAnyBytesOfItsLength) {
    for (std::uint8_t pid : KnownPids()) {
        const auto& definition = *FindPid(pid);
        SCOPED_TRACE(definition.name);
        EXPECT_EQ(definition.pid, pid);
        EXPECT_FALSE(definition.name.empty());
        ASSERT_FALSE(definition.sensors.empty());
        for (const auto& sensor : definition.sensors) {
            EXPECT_FALSE(sensor.name.empty());
            if (sensor.numeric) {
                EXPECT_LT(sensor.minimum, sensor.maximum) << sensor.name;
            } else {
                EXPECT_EQ(sensor.unit, MeasurementUnit::None) << sensor.name;
                EXPECT_EQ(sensor.minimum, 0) << sensor.name;
                EXPECT_EQ(sensor.maximum, 0) << sensor.name;
            }
        }
        for (std::uint8_t fill : {0x00, 0x5A, 0xFF}) {
            const auto decoded = DecodePid(pid, Bytes(definition.dataBytes, fill));
            EXPECT_EQ(decoded.size(), definition.sensors.size());
        }
    }
}

TEST(PidCodecTest, TimeParametersGivePlainIntegerTexts) {
    for (std::uint8_t pid : {0x1F, 0x4D, 0x4E, 0x7F}) {
        const auto& definition = *FindPid(pid);
        for (const auto& sensor : DecodePid(pid, Bytes(definition.dataBytes, 0xFF))) {
            // Digits only (a character check: GoogleTest on Windows has only
            // simple regular expressions).
            EXPECT_FALSE(sensor.text.empty()) << definition.name;
            EXPECT_EQ(sensor.text.find_first_not_of("0123456789"), std::string::npos)
                << definition.name << ": " << sensor.text;
        }
    }
    EXPECT_EQ(FindPid(0x1F)->sensors[0].unit, MeasurementUnit::Second);
    EXPECT_EQ(FindPid(0x4D)->sensors[0].unit, MeasurementUnit::Minute);
    EXPECT_EQ(FindPid(0x4E)->sensors[0].unit, MeasurementUnit::Minute);
    EXPECT_EQ(FindPid(0x7F)->sensors[0].name, "Total Engine Run Time");
    EXPECT_EQ(FindPid(0x7F)->sensors[0].unit, MeasurementUnit::Second);
}

// --- encoding ---------------------------------------------------------------

// Encoding the published limits and decoding them again gives the limits back
// for every numeric parameter, at both ends of its range.
TEST(PidCodecTest, NumericPidsRoundTripAtTheirLimits) {
    int roundTrips = 0;
    for (std::uint8_t pid : KnownPids()) {
        const auto& definition = *FindPid(pid);
        if (!AllNumeric(definition)) {
            continue;
        }
        SCOPED_TRACE(definition.name);
        for (bool atMaximum : {false, true}) {
            std::vector<double> values;
            for (const auto& sensor : definition.sensors) {
                values.push_back(atMaximum ? sensor.maximum : sensor.minimum);
            }
            const auto decoded = DecodePid(pid, EncodePid(pid, values));
            ASSERT_EQ(decoded.size(), values.size());
            for (std::size_t index = 0; index < values.size(); ++index) {
                // The limits are floats; the tolerance is their precision.
                EXPECT_NEAR(decoded[index].number, values[index],
                            1e-6 * std::max(1.0, std::abs(values[index])))
                    << definition.sensors[index].name;
                EXPECT_FALSE(decoded[index].text.empty());
            }
            ++roundTrips;
        }
    }
    EXPECT_GT(roundTrips, 2 * 90);
}

TEST(PidCodecTest, EncodesToTheNearestStep) {
    EXPECT_EQ(EncodePid(0x0C, {1726}), (Bytes{0x1A, 0xF8}));
    EXPECT_EQ(EncodePid(0x0C, {1726.1}), (Bytes{0x1A, 0xF8}));
    EXPECT_EQ(EncodePid(0x05, {83}), (Bytes{0x7B}));
    EXPECT_EQ(EncodePid(0x32, {-1}), (Bytes{0xFF, 0xFC}));
    EXPECT_EQ(EncodePid(0x14, {0.45, 0}), (Bytes{0x5A, 0x80}));
    // Half a step above the maximum still rounds onto it.
    EXPECT_EQ(EncodePid(0x0C, {16383.8}), (Bytes{0xFF, 0xFF}));
    // A leading support byte marks every encoded sensor present.
    EXPECT_EQ(EncodePid(0x66, {1, 2}), (Bytes{0x03, 0x00, 0x20, 0x00, 0x40}));
    EXPECT_EQ(EncodePid(0x50, {500}), (Bytes{0x32, 0x00, 0x00, 0x00}));
}

TEST(PidCodecTest, RawDataPassesWhenItsLengthFits) {
    const Bytes status{0x83, 0x07, 0x65, 0x04};
    EXPECT_EQ(EncodeRawPid(0x01, status), status);
}

// --- errors -----------------------------------------------------------------

TEST(PidCodecTest, RejectsBadInputWithPreciseMessages) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        std::function<void()> call;
        std::string message;
    } cases[] = {
        {[] { DecodePid(0x0C, {0x1A}); }, "PID 0x0C needs 2 data bytes, got 1"},
        {[] {
             DecodePid(0x0C, {0x1A, 0xF8, 0x00});
         },
         "PID 0x0C needs 2 data bytes, got 3"},
        {[] { DecodePid(0x7F, Bytes(12)); }, "PID 0x7F needs 13 data bytes, got 12"},
        {[] { DecodePid(0x66, {}); }, "PID 0x66 needs 5 data bytes, got 0"},
        {[] { DecodePid(0xC1, {}); }, "unknown PID 0xC1"},
        {[] { EncodePid(0xC8, {1}); }, "unknown PID 0xC8"},
        {[] { EncodePid(0x0C, {70000}); }, "value 70000 out of range 0..16383.75 for Engine Speed"},
        {[] { EncodePid(0x05, {-41}); },
         "value -41 out of range -40..215 for Engine Coolant Temperature"},
        {[] {
             EncodePid(0x14, {0.2, 100});
         },
         "value 100 out of range -100..99.21875 for Oxygen Sensor 1 Short Term Fuel Trim"},
        {[nan] { EncodePid(0x0D, {nan}); }, "value nan out of range 0..255 for Vehicle Speed"},
        {[] { EncodePid(0x14, {0.5}); }, "PID 0x14 takes 2 values, got 1"},
        {[] { EncodePid(0x0D, {}); }, "PID 0x0D takes 1 value, got 0"},
        {[] { EncodePid(0x01, {}); },
         "PID 0x01 carries texts, not only numbers; give its data bytes instead"},
        {[] { EncodeRawPid(0x03, {0x02}); }, "PID 0x03 needs 2 data bytes, got 1"},
        {[] { EncodeRawPid(0x81, {}); }, "unknown PID 0x81"},
    };
    for (const auto& c : cases) {
        try {
            c.call();
            ADD_FAILURE() << "no error, expected: " << c.message;
        } catch (const CodecError& error) {
            EXPECT_EQ(error.what(), c.message);
        }
    }
}

}  // namespace
