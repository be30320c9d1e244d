#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "bus/Hex.h"
#include "j1979/Codec.h"
#include "json/TypedReads.h"

namespace {

using obd::j1979::Bytes;
using obd::j1979::CodecError;
using obd::j1979::DecodeMonitorTestResult;
using obd::j1979::DecodeTroubleCode;
using obd::j1979::EncodeMonitorTestResult;
using obd::j1979::EncodeTroubleCode;
using obd::j1979::IsVinValid;
using obd::j1979::MonitorName;
using obd::j1979::MonitorTestResult;

std::string MessageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const CodecError& error) {
        return error.what();
    }
    return "no error";
}

// --- trouble codes ------------------------------------------------------------

TEST(TroubleCodeTest, DecodesSystemLetterFirstDigitAndHexDigits) {
    const struct {
        std::uint16_t raw;
        const char* code;
    } cases[] = {
        {0x0133, "P0133"}, {0x0301, "P0301"}, {0x4123, "C0123"}, {0x8001, "B0001"},
        {0xC100, "U0100"}, {0x3FFF, "P3FFF"}, {0xFFFF, "U3FFF"}, {0x10AB, "P10AB"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeTroubleCode(c.raw), c.code);
        EXPECT_EQ(EncodeTroubleCode(c.code), c.raw);
    }
}

TEST(TroubleCodeTest, EveryRawValueRoundTrips) {
    for (unsigned raw = 0; raw <= 0xFFFF; ++raw) {
        ASSERT_EQ(EncodeTroubleCode(DecodeTroubleCode(static_cast<std::uint16_t>(raw))), raw);
    }
    EXPECT_EQ(EncodeTroubleCode("P01ab"), 0x01AB);
}

TEST(TroubleCodeTest, RejectsMalformedCodes) {
    const struct {
        const char* code;
        const char* message;
    } cases[] = {
        {"P013", "malformed trouble code \"P013\": needs 5 characters, got 4"},
        {"", "malformed trouble code \"\": needs 5 characters, got 0"},
        {"X0133", "malformed trouble code \"X0133\": the first character must be P, C, B or U"},
        {"p0133", "malformed trouble code \"p0133\": the first character must be P, C, B or U"},
        {"P4133",
         "malformed trouble code \"P4133\": the second character must be a digit from "
         "0 to 3"},
        {"P01G3",
         "malformed trouble code \"P01G3\": the last three characters must be hex "
         "digits"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MessageOf([&] { EncodeTroubleCode(c.code); }), c.message);
    }
}

// --- numbers and hex -----------------------------------------------------------

// A number is the whole text or nothing: no partial reads ("12abc"), no signs,
// no spaces, no wrap-around past 64 bits.
TEST(NumberTextTest, ParsesWholeUnsignedNumbersOnly) {
    using obd::detail::ParseUnsigned;
    EXPECT_EQ(ParseUnsigned("7E8", 16), 0x7E8u);
    EXPECT_EQ(ParseUnsigned("7e8", 16), 0x7E8u);
    EXPECT_EQ(ParseUnsigned("2024", 10), 2024u);
    EXPECT_EQ(ParseUnsigned("FFFFFFFFFFFFFFFF", 16), 0xFFFFFFFFFFFFFFFFu);
    for (const char* bad : {"", "-1", "+1", " 1", "1 ", "12abc", "18446744073709551616"}) {
        EXPECT_EQ(ParseUnsigned(bad, 10), std::nullopt) << bad;
    }
    EXPECT_EQ(obd::bus::HexNumber(0x0C), "0x0C");
    EXPECT_EQ(obd::bus::HexNumber(0x00), "0x00");
    EXPECT_EQ(obd::bus::HexNumber(0x7E8), "0x7E8");
    EXPECT_EQ(obd::bus::HexNumber(0xFF), "0xFF");
}

// --- VIN ----------------------------------------------------------------------

TEST(VinTest, AcceptsCorrectCheckDigits) {
    EXPECT_TRUE(IsVinValid("1M8GDM9AXKP042788"));  // remainder 10 is written X
    EXPECT_TRUE(IsVinValid("1HGCM82633A004352"));
    EXPECT_TRUE(IsVinValid("11111111111111111"));
}

TEST(VinTest, RejectsWrongDigitsLengthsAndCharacters) {
    EXPECT_FALSE(IsVinValid("1M8GDM9A1KP042788"));  // wrong check digit
    EXPECT_FALSE(IsVinValid("1HGCM82633A004353"));  // a changed serial digit
    EXPECT_FALSE(IsVinValid("1HGCM82633A00435"));   // 16 characters
    EXPECT_FALSE(IsVinValid("1HGCM82633A0043521"));
    EXPECT_FALSE(IsVinValid(""));
    EXPECT_FALSE(IsVinValid("1hgcm82633a004352"));  // lower case
    // I, O and Q never appear; with the right weights they would pass as 1 and 0.
    EXPECT_FALSE(IsVinValid("I1111111111111111"));
    EXPECT_FALSE(IsVinValid("1111111111111111O"));
    EXPECT_FALSE(IsVinValid("1111111111111111Q"));
    EXPECT_FALSE(IsVinValid("1111111111111111-"));
}

// --- service 06 ---------------------------------------------------------------

TEST(MonitorTestResultTest, DecodesValueAndLimitsWithTheirScaling) {
    // Oxygen sensor B1S1, 1 mV per bit: 0.45 V within 0.4..1.0 V.
    const Bytes voltage{0x01, 0x01, 0x0B, 0x01, 0xC2, 0x01, 0x90, 0x03, 0xE8};
    const MonitorTestResult result = DecodeMonitorTestResult(voltage.data(), voltage.size());
    EXPECT_EQ(result.monitorId, 0x01);
    EXPECT_EQ(result.testId, 0x01);
    EXPECT_EQ(result.unitAndScalingId, 0x0B);
    EXPECT_EQ(result.unit, MeasurementUnit::Volt);
    EXPECT_DOUBLE_EQ(result.value, 0.45);
    EXPECT_DOUBLE_EQ(result.minimum, 0.4);
    EXPECT_DOUBLE_EQ(result.maximum, 1.0);

    const struct {
        Bytes record;
        MeasurementUnit unit;
        double value;
    } cases[] = {
        {{0x21, 0x80, 0x96, 0xFF, 0x9C, 0, 0, 0, 0}, MeasurementUnit::DegreeCelsius, -10.0},
        {{0x21, 0x80, 0x16, 0x00, 0x00, 0, 0, 0, 0}, MeasurementUnit::DegreeCelsius, -40.0},
        {{0xA2, 0x0B, 0x24, 0x00, 0x2A, 0, 0, 0, 0}, MeasurementUnit::Counts, 42},
        {{0x31, 0x01, 0x39, 0x80, 0x00, 0, 0, 0, 0}, MeasurementUnit::Percent, 0},
        {{0x01, 0x05, 0x10, 0x00, 0x64, 0, 0, 0, 0}, MeasurementUnit::Second, 0.1},
        {{0x01, 0x05, 0x81, 0x80, 0x00, 0, 0, 0, 0}, MeasurementUnit::None, -32768},
    };
    for (const auto& c : cases) {
        const auto decoded = DecodeMonitorTestResult(c.record.data(), c.record.size());
        EXPECT_EQ(decoded.unit, c.unit);
        EXPECT_NEAR(decoded.value, c.value, 1e-9);
    }
}

// Whatever raw words a known unit and scaling id carries, encoding the decoded
// result gives the same nine bytes back.
TEST(MonitorTestResultTest, EveryKnownScalingRoundTrips) {
    int known = 0;
    for (int id = 0; id <= 0xFF; ++id) {
        const Bytes record{0x21, 0x80, static_cast<std::uint8_t>(id), 0x00, 0x00, 0x80, 0x00,
                           0xFF, 0xFF};
        const MonitorTestResult result = DecodeMonitorTestResult(record.data(), record.size());
        if (!result.scaled) {
            continue;
        }
        ++known;
        EXPECT_EQ(EncodeMonitorTestResult(result), record) << "unit and scaling id " << id;
    }
    EXPECT_GT(known, 60);
}

// Value ranges of the unit and scaling ids (SAE J1979 appendix): the raw
// words 0x0000, 0x7FFF, 0x8000 and 0xFFFF read as the published range ends.
TEST(MonitorTestResultTest, UnitAndScalingIdsGiveThePublishedRangesAndUnits) {
    using MU = MeasurementUnit;
    const struct {
        std::uint8_t id;
        std::uint8_t high, low;
        double value;
        MU unit;
    } cases[] = {
        {0x01, 0xFF, 0xFF, 65535, MU::None},
        {0x02, 0xFF, 0xFF, 6553.5, MU::None},
        {0x03, 0xFF, 0xFF, 655.35, MU::None},
        {0x04, 0xFF, 0xFF, 65.535, MU::None},
        {0x05, 0xFF, 0xFF, 1.9988175, MU::None},
        {0x06, 0xFF, 0xFF, 19.988175, MU::None},
        {0x07, 0xFF, 0xFF, 16383.75, MU::Rpm},
        {0x0A, 0xFF, 0xFF, 7.99527, MU::Volt},
        {0x0D, 0xFF, 0xFF, 255.99609375, MU::Milliampere},
        {0x16, 0x00, 0x00, -40, MU::DegreeCelsius},
        {0x16, 0xFF, 0xFF, 6513.5, MU::DegreeCelsius},
        {0x17, 0xFF, 0xFF, 655.35, MU::Kilopascal},
        {0x1B, 0xFF, 0xFF, 655350, MU::Kilopascal},
        {0x1E, 0xFF, 0xFF, 1.9988175, MU::Lambda},
        {0x2F, 0x27, 0x10, 100, MU::Percent},
        {0x39, 0x00, 0x00, -327.68, MU::Percent},
        {0x39, 0xFF, 0xFF, 327.67, MU::Percent},
        {0x81, 0x80, 0x00, -32768, MU::None},
        {0x81, 0x7F, 0xFF, 32767, MU::None},
        {0x82, 0x80, 0x00, -3276.8, MU::None},
        {0x82, 0x7F, 0xFF, 3276.7, MU::None},
        {0x83, 0x80, 0x00, -327.68, MU::None},
        {0x83, 0xFF, 0xFF, -0.01, MU::None},
        {0x84, 0x7F, 0xFF, 32.767, MU::None},
        {0x85, 0x80, 0x00, -0.999424, MU::None},
        {0x86, 0x80, 0x00, -9.99424, MU::None},
        {0x8B, 0x80, 0x00, -32.768, MU::Volt},
        {0x96, 0x80, 0x00, -3276.8, MU::DegreeCelsius},
        {0x99, 0x7F, 0xFF, 3276.7, MU::Kilopascal},
        {0x9C, 0x7F, 0xFF, 327.67, MU::Degree},
        {0xAF, 0x80, 0x00, -327.68, MU::Percent},
        {0xFC, 0x80, 0x00, -327.68, MU::Kilopascal},
        {0xFE, 0x80, 0x00, -8192, MU::Pascal},
        {0xFE, 0x7F, 0xFF, 8191.75, MU::Pascal},
    };
    for (const auto& c : cases) {
        const Bytes record{0x21, 0x80, c.id, c.high, c.low, 0, 0, 0, 0};
        const MonitorTestResult decoded = DecodeMonitorTestResult(record.data(), record.size());
        EXPECT_TRUE(decoded.scaled) << "id " << int{c.id};
        EXPECT_EQ(decoded.unit, c.unit) << "id " << int{c.id};
        EXPECT_NEAR(decoded.value, c.value, 1e-6) << "id " << int{c.id};
    }
}

// A record whose unit and scaling id is unknown must survive with its raw
// numbers: dropping it hid a real vehicle's results.
TEST(MonitorTestResultTest, RecordWithAnUnknownIdKeepsItsRawNumbers) {
    const Bytes record{0x85, 0x80, 0x42, 0x12, 0x34, 0x00, 0x00, 0xFF, 0xFF};
    const MonitorTestResult decoded = DecodeMonitorTestResult(record.data(), record.size());
    EXPECT_FALSE(decoded.scaled);
    EXPECT_EQ(decoded.monitorId, 0x85);
    EXPECT_EQ(decoded.unitAndScalingId, 0x42);
    EXPECT_EQ(decoded.unit, MeasurementUnit::None);
    EXPECT_EQ(decoded.value, 0x1234);
    EXPECT_EQ(decoded.minimum, 0);
    EXPECT_EQ(decoded.maximum, 0xFFFF);
    // ...and an emulator serving it sends the same bytes again.
    EXPECT_EQ(EncodeMonitorTestResult(decoded), record);
}

TEST(MonitorTestResultTest, RejectsShortRecordsUnknownIdsAndValuesOutOfRange) {
    const Bytes shortRecord{0x01, 0x01, 0x0B, 0x01, 0xC2, 0x01, 0x90, 0x03};
    MonitorTestResult unknownId;
    unknownId.unitAndScalingId = 0x42;
    MonitorTestResult tooHigh;
    tooHigh.unitAndScalingId = 0x0B;
    tooHigh.maximum = 70;
    MonitorTestResult negative;
    negative.unitAndScalingId = 0x24;
    negative.value = -1;

    EXPECT_EQ(MessageOf([&] { DecodeMonitorTestResult(shortRecord.data(), shortRecord.size()); }),
              "a service 06 record needs 9 bytes, got 8");
    EXPECT_EQ(MessageOf([] { DecodeMonitorTestResult(nullptr, 9); }),
              "a service 06 record needs 9 bytes, got 0");
    EXPECT_EQ(MessageOf([&] { EncodeMonitorTestResult(unknownId); }),
              "unknown unit and scaling id 0x42");
    EXPECT_EQ(MessageOf([&] { EncodeMonitorTestResult(tooHigh); }),
              "maximum 70 out of range 0..65.535 for unit and scaling id 0x0B");
    EXPECT_EQ(MessageOf([&] { EncodeMonitorTestResult(negative); }),
              "value -1 out of range 0..65535 for unit and scaling id 0x24");
}

TEST(MonitorNameTest, NamesTheStandardMonitors) {
    const struct {
        std::uint8_t id;
        const char* name;
    } cases[] = {
        {0x00, "Supported Monitor Ids 0x01-0x20"},
        {0xE0, "Supported Monitor Ids 0xE1-0xFF"},
        {0x01, "Oxygen Sensor Monitor Bank 1 Sensor 1"},
        {0x06, "Oxygen Sensor Monitor Bank 2 Sensor 2"},
        {0x10, "Oxygen Sensor Monitor Bank 4 Sensor 4"},
        {0x21, "Catalyst Monitor Bank 1"},
        {0x22, "Catalyst Monitor Bank 2"},
        {0x31, "EGR Monitor Bank 1"},
        {0x3C, "EVAP Monitor (0.020\")"},
        {0x3D, "Purge Flow Monitor"},
        {0x41, "Oxygen Sensor Heater Monitor Bank 1 Sensor 1"},
        {0xA1, "Misfire Monitor General Data"},
        {0xA9, "Misfire Cylinder 8 Data"},
        {0x5A, "Monitor 0x5A"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MonitorName(c.id), c.name);
    }
}

}  // namespace
