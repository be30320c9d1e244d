#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "zelt/ModelBuilders.h"

namespace {

using obd::ParameterIdentifier::Id;
using zelt::ParameterModelBuilder::build;
using BuildSensor =
    std::shared_ptr<zelt::SensorModel> (*)(const std::shared_ptr<obd::SensorDataModel>&);
const BuildSensor buildSensor = &zelt::SensorModelBuilder::build;

std::shared_ptr<obd::SensorDataModel> MakeSensorData(int uid, MeasurementUnit unit,
                                                     const std::string& value,
                                                     const std::string& lowest = "",
                                                     const std::string& highest = "",
                                                     const std::string& average = "") {
    auto data = std::make_shared<obd::SensorDataModel>();
    data->uid = uid;
    data->name = "sensor";
    data->unit = unit;
    data->value = std::make_shared<obd::SensorValueDataModel>(
        obd::SensorValueDataModel{value, lowest, highest, average, std::nullopt});
    return data;
}

std::string Formatted(Id pid, const std::string& text,
                      MeasurementUnit unit = MeasurementUnit::None) {
    return buildSensor(MakeSensorData(obd::Pid2Uid(pid), unit, text))->value->formattedValue;
}

// --- sensors ----------------------------------------------------------------

TEST(SensorModelBuilderTest, CopiesTheCoreFieldsAndFormatsAllFourTexts) {
    auto data = MakeSensorData(obd::Pid2Uid(Id::VehicleSpeed), MeasurementUnit::KilometersPerHour,
                               "90", "0", "130", "");
    data->name = "Vehicle speed";
    const auto sensor = buildSensor(data);

    EXPECT_EQ(sensor->uid, obd::Pid2Uid(Id::VehicleSpeed));
    EXPECT_EQ(sensor->name, "Vehicle speed");
    EXPECT_EQ(sensor->unit, MeasurementUnit::KilometersPerHour);
    ASSERT_NE(sensor->value, nullptr);
    EXPECT_EQ(sensor->value->rawValue, "90");
    EXPECT_EQ(sensor->value->formattedValue, "90 km/h");
    EXPECT_EQ(sensor->value->formattedValue2, "0 km/h");
    EXPECT_EQ(sensor->value->formattedValue3, "130 km/h");
    EXPECT_EQ(sensor->value->formattedValue4, "");  // an empty text stays empty
    EXPECT_EQ(sensor->limits, nullptr);
}

TEST(SensorModelBuilderTest, NullValueGivesNullValueButLimitsAreStillBuilt) {
    auto data = MakeSensorData(obd::Pid2Uid(Id::EngineSpeed), MeasurementUnit::Rpm, "");
    data->value = nullptr;
    // Taken over bit for bit: a negative zero and a NaN payload survive.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    data->limits =
        std::make_shared<obd::SensorLimitsDataModel>(obd::SensorLimitsDataModel{-0.0f, nan});

    const auto sensor = buildSensor(data);
    EXPECT_EQ(sensor->value, nullptr);
    ASSERT_NE(sensor->limits, nullptr);
    EXPECT_EQ(std::memcmp(&sensor->limits->minimum, &data->limits->minimum, sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(&sensor->limits->maximum, &data->limits->maximum, sizeof(float)), 0);
}

TEST(SensorModelBuilderTest, EmptyFirstTextStaysEmptyWhateverTheUnit) {
    const auto sensor =
        buildSensor(MakeSensorData(obd::Pid2Uid(Id::EngineSpeed), MeasurementUnit::Rpm, ""));
    EXPECT_EQ(sensor->value->rawValue, "");
    EXPECT_EQ(sensor->value->formattedValue, "");
    EXPECT_EQ(Formatted(Id::TimeRunWithMilOn, ""), "");  // not even parsed
}

TEST(SensorModelBuilderTest, UnitSuffix) {
    EXPECT_EQ(Formatted(Id::EngineSpeed, "800", MeasurementUnit::None), "800");
    EXPECT_EQ(Formatted(Id::EngineCoolantTemperature, "85", MeasurementUnit::DegreeCelsius),
              "85 \xC2\xB0"
              "C");
    // Texts of other parameters are never parsed.
    EXPECT_EQ(Formatted(Id::FuelSystemStatus, "Open loop", MeasurementUnit::None), "Open loop");
    // A unit without a name still gets its separating space.
    EXPECT_EQ(Formatted(Id::EngineSpeed, "800", static_cast<MeasurementUnit>(99)), "800 ");
}

TEST(SensorModelBuilderTest, OnlyTheFourPrimaryParametersAreNotAdditional) {
    for (const Id pid : {Id::EngineCoolantTemperature, Id::EngineSpeed, Id::VehicleSpeed,
                         Id::IntakeAirTemperature}) {
        EXPECT_FALSE(
            buildSensor(MakeSensorData(obd::Pid2Uid(pid), MeasurementUnit::None, "1"))->additional)
            << static_cast<int>(pid);
    }
    EXPECT_TRUE(
        buildSensor(MakeSensorData(obd::Pid2Uid(Id::MassAirFlowRate), MeasurementUnit::None, "1"))
            ->additional);
    // Only the parameter's own uid counts, not a further sensor of it.
    EXPECT_TRUE(
        buildSensor(MakeSensorData(obd::Pid2Uid(Id::EngineSpeed) + 1, MeasurementUnit::None, "1"))
            ->additional);
}

// --- time formats -----------------------------------------------------------

struct TimeCase {
    Id pid;
    const char* text;
    const char* expected;
};

class TimeFormatTest : public ::testing::TestWithParam<TimeCase> {};

TEST_P(TimeFormatTest, SplitsTheNumber) {
    const TimeCase& c = GetParam();
    // The unit is ignored for time parameters.
    EXPECT_EQ(Formatted(c.pid, c.text, MeasurementUnit::KilometersPerHour), c.expected)
        << "text \"" << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Minutes, TimeFormatTest,
    ::testing::Values(TimeCase{Id::TimeRunWithMilOn, "125", "2 hrs 5 min"},
                      TimeCase{Id::TimeRunWithMilOn, "59", "0 hrs 59 min"},
                      TimeCase{Id::TimeRunWithMilOn, "0", "0 hrs 0 min"},
                      TimeCase{Id::TimeRunWithMilOn, "-61", "-1 hrs -1 min"},
                      TimeCase{Id::TimeSinceCodesCleared, "2147483647", "35791394 hrs 7 min"},
                      TimeCase{Id::TimeSinceCodesCleared, "-2147483648", "-35791394 hrs -8 min"},
                      TimeCase{Id::TimeSinceCodesCleared, " \t\n+90", "1 hrs 30 min"},
                      TimeCase{Id::TimeSinceCodesCleared, "12.7", "0 hrs 12 min"}));

INSTANTIATE_TEST_SUITE_P(
    Seconds, TimeFormatTest,
    ::testing::Values(TimeCase{Id::RunTimeSinceEngineStart, "75", "1 min 15 s"},
                      TimeCase{Id::RunTimeSinceEngineStart, "7200", "120 min 0 s"},
                      TimeCase{Id::RunTimeSinceEngineStart, "-75", "-1 min -15 s"},
                      TimeCase{Id::RunTimeSinceEngineStart, "90 km", "1 min 30 s"},
                      TimeCase{Id::RunTimeSinceEngineStart, "2147483647", "35791394 min 7 s"},
                      TimeCase{Id::RunTimeSinceEngineStart, "-2147483648", "-35791394 min -8 s"}));

INSTANTIATE_TEST_SUITE_P(EngineRunTime, TimeFormatTest,
                         ::testing::Values(TimeCase{Id::EngineRunTime, "3725", "1 hrs 2 min"},
                                           TimeCase{Id::EngineRunTime, "59", "0 hrs 0 min"},
                                           TimeCase{Id::EngineRunTime, "-3725", "-1 hrs -2 min"},
                                           // Beyond 32 bits on every platform.
                                           TimeCase{Id::EngineRunTime, "4294967296",
                                                    "1193046 hrs 28 min"},
                                           TimeCase{Id::EngineRunTime, "9223372036854775807",
                                                    "2562047788015215 hrs 30 min"},
                                           TimeCase{Id::EngineRunTime, "-9223372036854775808",
                                                    "-2562047788015215 hrs -30 min"}));

TEST(SensorModelBuilderTest, TimeFormatDependsOnTheParameterNotTheSensor) {
    // A second sensor of a time parameter is formatted as a time as well.
    const auto sensor = buildSensor(
        MakeSensorData(obd::Pid2Uid(Id::TimeRunWithMilOn) + 1, MeasurementUnit::Minute, "125"));
    EXPECT_EQ(sensor->value->formattedValue, "2 hrs 5 min");
    EXPECT_EQ(sensor->value->rawValue, "125");
}

TEST(SensorModelBuilderTest, NumbersOutsideTheRangeThrowOutOfRange) {
    // 32 bits even where `long` has 64.
    EXPECT_THROW(Formatted(Id::TimeRunWithMilOn, "2147483648"), std::out_of_range);
    EXPECT_THROW(Formatted(Id::TimeSinceCodesCleared, "-2147483649"), std::out_of_range);
    EXPECT_THROW(Formatted(Id::RunTimeSinceEngineStart, "99999999999999999999"), std::out_of_range);
    EXPECT_THROW(Formatted(Id::EngineRunTime, "9223372036854775808"), std::out_of_range);
    EXPECT_THROW(Formatted(Id::EngineRunTime, "-9223372036854775809"), std::out_of_range);
}

TEST(SensorModelBuilderTest, TextsThatDoNotBeginWithANumberThrowInvalidArgument) {
    for (const char* text : {"abc", " ", "-", "+", "km 90", "- 5"}) {
        EXPECT_THROW(Formatted(Id::RunTimeSinceEngineStart, text), std::invalid_argument)
            << '"' << text << '"';
        EXPECT_THROW(Formatted(Id::EngineRunTime, text), std::invalid_argument);
    }
    // Base 10 only: a hexadecimal prefix reads as the number 0.
    EXPECT_EQ(Formatted(Id::RunTimeSinceEngineStart, "0x1F"), "0 min 0 s");
}

TEST(SensorModelBuilderTest, ABadLaterTextAlsoFailsTheWholeSensor) {
    const auto data = MakeSensorData(obd::Pid2Uid(Id::TimeRunWithMilOn), MeasurementUnit::Minute,
                                     "125", "0", "n/a", "60");
    EXPECT_THROW(buildSensor(data), std::invalid_argument);
}

// --- parameters -------------------------------------------------------------

TEST(ParameterModelBuilderTest, BuildsEverySensorInTheCoreOrder) {
    auto data = std::make_shared<obd::ParameterDataModel>();
    data->pid = Id::OxygenSensor1;
    data->name = "Oxygen sensor 1";
    const int uid = obd::Pid2Uid(Id::OxygenSensor1);
    data->sensors = {MakeSensorData(uid, MeasurementUnit::Volt, "0.45"),
                     MakeSensorData(uid + 1, MeasurementUnit::Percent, "-3.1")};

    const auto parameter = build(data);
    EXPECT_EQ(parameter->pid, Id::OxygenSensor1);
    EXPECT_EQ(parameter->name, "Oxygen sensor 1");
    ASSERT_EQ(parameter->sensors.size(), 2u);
    EXPECT_EQ(parameter->sensors[0]->uid, uid);
    EXPECT_EQ(parameter->sensors[0]->value->formattedValue, "0.45 V");
    EXPECT_EQ(parameter->sensors[1]->uid, uid + 1);
    EXPECT_EQ(parameter->sensors[1]->value->formattedValue, "-3.1 %");
}

TEST(ParameterModelBuilderTest, EmptySensorListGivesAParameterThatIsNotNumeric) {
    auto data = std::make_shared<obd::ParameterDataModel>();
    data->pid = Id::EngineSpeed;
    const auto parameter = build(data);
    EXPECT_TRUE(parameter->sensors.empty());
    EXPECT_FALSE(zelt::IsNumeric(parameter));
}

TEST(ParameterModelBuilderTest, ASensorThatFailsToFormatFailsTheParameter) {
    auto data = std::make_shared<obd::ParameterDataModel>();
    data->pid = Id::RunTimeSinceEngineStart;
    data->sensors = {MakeSensorData(obd::Pid2Uid(Id::RunTimeSinceEngineStart),
                                    MeasurementUnit::Second, "NO DATA")};
    EXPECT_THROW(build(data), std::invalid_argument);
}

TEST(ParameterModelBuilderTest, FromPartsSharesTheSensorRecords) {
    const std::vector<std::shared_ptr<zelt::SensorModel>> sensors = {
        buildSensor(MakeSensorData(obd::Pid2Uid(Id::EngineSpeed), MeasurementUnit::Rpm, "800"))};
    const auto parameter = build(Id::EngineSpeed, "Engine speed", sensors);
    EXPECT_EQ(parameter->pid, Id::EngineSpeed);
    EXPECT_EQ(parameter->name, "Engine speed");
    EXPECT_EQ(parameter->sensors, sensors);
}

}  // namespace
