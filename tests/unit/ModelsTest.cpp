#include <gtest/gtest.h>

#include <memory>
#include <type_traits>
#include <utility>

#include "zelt/Models.h"

namespace {

using obd::ParameterIdentifier::Id;
using zelt::InfoDataModel;
using zelt::IsNumeric;
using zelt::ParameterModel;
using zelt::SensorLimits;
using zelt::SensorModel;
using zelt::SensorValueModel;

// Records never change once built.
static_assert(!std::is_copy_assignable_v<SensorModel> && !std::is_move_assignable_v<SensorModel>);
static_assert(!std::is_copy_assignable_v<ParameterModel>);
static_assert(!std::is_copy_assignable_v<InfoDataModel>);
static_assert(!std::is_copy_assignable_v<SensorValueModel>);
static_assert(std::is_trivially_copyable_v<SensorLimits>);

std::shared_ptr<SensorModel> MakeSensor(bool withLimits, const std::string& value = "1") {
    return std::make_shared<SensorModel>(
        true, 0x0C00, "Engine speed", MeasurementUnit::Rpm,
        withLimits ? std::make_shared<SensorLimits>(0.0f, 16383.75f) : nullptr,
        std::make_shared<SensorValueModel>(value, value + " RPM", "", "", ""));
}

std::shared_ptr<ParameterModel> MakeParameter(std::vector<std::shared_ptr<SensorModel>> sensors) {
    return std::make_shared<ParameterModel>(Id::EngineSpeed, "Engine speed", std::move(sensors));
}

TEST(IsNumericTest, SensorIsNumericExactlyWhenItHasLimits) {
    EXPECT_TRUE(IsNumeric(MakeSensor(true)));
    // A value text that is a number does not make a sensor numeric.
    EXPECT_FALSE(IsNumeric(MakeSensor(false, "42")));
}

TEST(IsNumericTest, ParameterIsNumericWhenAnySensorIs) {
    EXPECT_FALSE(IsNumeric(MakeParameter({})));
    EXPECT_FALSE(IsNumeric(MakeParameter({MakeSensor(false), MakeSensor(false)})));
    EXPECT_TRUE(IsNumeric(MakeParameter({MakeSensor(false), MakeSensor(false), MakeSensor(true)})));
    EXPECT_TRUE(IsNumeric(MakeParameter({MakeSensor(true), MakeSensor(false)})));
}

TEST(RecordsTest, DefaultSensorValueHasFiveEmptyTexts) {
    const SensorValueModel value;
    EXPECT_EQ(value.rawValue, "");
    EXPECT_EQ(value.formattedValue, "");
    EXPECT_EQ(value.formattedValue2, "");
    EXPECT_EQ(value.formattedValue3, "");
    EXPECT_EQ(value.formattedValue4, "");
}

TEST(RecordsTest, MovingARecordLeavesTheSourceIntact) {
    SensorModel sensor = *MakeSensor(true, "800");
    const SensorModel moved(std::move(sensor));
    EXPECT_EQ(sensor.name, "Engine speed");  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(sensor.unit, MeasurementUnit::Rpm);
    EXPECT_EQ(sensor.limits, moved.limits);
    ASSERT_NE(sensor.value, nullptr);
    EXPECT_EQ(sensor.value, moved.value);
    EXPECT_EQ(moved.name, "Engine speed");

    SensorValueModel value("1", "2", "3", "4", "5");
    const SensorValueModel movedValue(std::move(value));
    EXPECT_EQ(value.rawValue, "1");  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(value.formattedValue4, "5");
    EXPECT_EQ(movedValue.formattedValue4, "5");

    InfoDataModel info(4, "Vehicle Identification Number", "WVWZZZ1JZXW000001", true);
    const InfoDataModel movedInfo(std::move(info));
    EXPECT_EQ(info.value, "WVWZZZ1JZXW000001");  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(movedInfo.value, "WVWZZZ1JZXW000001");
    EXPECT_TRUE(movedInfo.fromVehicle);

    ParameterModel parameter = *MakeParameter({MakeSensor(true)});
    const ParameterModel movedParameter(std::move(parameter));
    ASSERT_EQ(parameter.sensors.size(), 1u);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(parameter.sensors, movedParameter.sensors);
    EXPECT_EQ(parameter.name, "Engine speed");
}

}  // namespace
