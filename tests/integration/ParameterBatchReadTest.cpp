// Reading several parameters in one call gives what reading each on its own
// gives, with and without the core's batch reading.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CoreMocks.h"
#include "CoreRecords.h"
#include "Describe.h"
#include "obd/sim/SimulatedQuorvix.h"
#include "zelt/ParameterRepository.h"

namespace {

using zelt::ParameterRepository;
using zelt::testing::Describe;
using zelt::testing::Readings;
using Id = obd::ParameterIdentifier::Id;

std::vector<std::string> DescribeAll(
    const std::vector<std::vector<std::shared_ptr<zelt::SensorModel>>>& lists) {
    std::vector<std::string> texts;
    for (const auto& sensors : lists) {
        std::string text;
        for (const auto& sensor : sensors) {
            text += Describe(sensor, Readings::Included) + ";";
        }
        texts.push_back(text);
    }
    return texts;
}

// Engine speed, vehicle speed, coolant temperature and load, held still so
// that two readings agree; 0x0A (fuel pressure) is missing.
const char* const kSteadyVehicle = R"({
  "name": "Steady",
  "ecus": [{"address": "0x7E8", "name": "ECM",
            "pids": {"0x0C": 1500, "0x0D": 50, "0x05": 90, "0x04": 40}}]
})";

TEST(ParameterBatchReadTest, BatchEqualsOneReadPerPidOverTheSimulatedCore) {
    auto root =
        obd::sim::SimulatedQuorvix::create(obd::sim::Scenario::parse(kSteadyVehicle, "steady"));
    ASSERT_TRUE(root->openConnection());
    ParameterRepository repository(root);
    const std::vector<Id> pids{Id::EngineSpeed, Id::VehicleSpeed, static_cast<Id>(0x0A),
                               Id::EngineCoolantTemperature, static_cast<Id>(0x04)};
    std::vector<std::vector<std::shared_ptr<zelt::SensorModel>>> single;
    for (Id pid : pids) {
        single.push_back(repository.getValues(pid, true));
    }
    const auto batched = repository.getValuesOf(pids);
    EXPECT_EQ(DescribeAll(batched), DescribeAll(single));
    EXPECT_TRUE(batched[2].empty());
    EXPECT_FALSE(batched[0].empty());
}

// The records of several PIDs at once are getParameter's: each under its
// own PID, null where the vehicle lacks it, and kept as getParameter keeps
// them.
TEST(ParameterBatchReadTest, ParametersOfSeveralPidsAreGetParametersRecords) {
    auto root =
        obd::sim::SimulatedQuorvix::create(obd::sim::Scenario::parse(kSteadyVehicle, "steady"));
    ASSERT_TRUE(root->openConnection());
    ParameterRepository together(root);
    ParameterRepository alone(root);
    const std::vector<Id> pids{Id::VehicleSpeed, static_cast<Id>(0x0A), Id::EngineSpeed};
    const auto records = together.getParametersOf(pids);
    ASSERT_EQ(records.size(), pids.size());
    for (std::size_t i = 0; i < pids.size(); ++i) {
        const auto expected = alone.getParameter(pids[i]);
        ASSERT_EQ(records[i] == nullptr, expected == nullptr) << i;
        if (expected) {
            EXPECT_EQ(records[i]->pid, pids[i]);
            EXPECT_EQ(records[i]->name, expected->name);
            EXPECT_EQ(DescribeAll({records[i]->sensors}), DescribeAll({expected->sensors}));
            EXPECT_EQ(together.getParameter(pids[i]), records[i]) << "kept";
        }
    }
}

// A core without batch reading is asked one parameter at a time.
TEST(ParameterBatchReadTest, CoreWithoutBatchReadingIsAskedPerPid) {
    auto root = std::make_shared<zelt::testing::FakeRoot>();
    using ::testing::Return;
    EXPECT_CALL(*root->sensors, getSensors(Id::EngineSpeed))
        .WillOnce(Return(std::vector<std::shared_ptr<obd::SensorDataModel>>{
            zelt::testing::MakeSensorData(Id::EngineSpeed, "Engine Speed", "1500")}));
    EXPECT_CALL(*root->sensors, getSensors(Id::VehicleSpeed))
        .WillOnce(Return(std::vector<std::shared_ptr<obd::SensorDataModel>>{}));
    EXPECT_CALL(*root->sensors, readParameters).Times(0);
    ParameterRepository repository(root);
    const auto values = repository.getValuesOf({Id::EngineSpeed, Id::VehicleSpeed});
    ASSERT_EQ(values.size(), 2u);
    ASSERT_EQ(values[0].size(), 1u);
    EXPECT_EQ(values[0][0]->value->rawValue, "1500");
    EXPECT_TRUE(values[1].empty());
}

}  // namespace
