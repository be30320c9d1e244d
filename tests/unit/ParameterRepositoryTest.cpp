#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "CoreMocks.h"
#include "CoreRecords.h"
#include "GettersDuringEvents.h"
#include "zelt/ParameterRepository.h"

namespace {

using ::testing::ElementsAre;
using ::testing::Return;
using zelt::ParameterRepository;
using zelt::testing::FakeRoot;
using zelt::testing::MakeParameterData;
using zelt::testing::MakeSensorData;
using zelt::testing::MockSensorService;
using Id = obd::ParameterIdentifier::Id;
using Pids = std::vector<Id>;
using SensorData = std::vector<std::shared_ptr<obd::SensorDataModel>>;

class ParameterRepositoryTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeRoot> root = std::make_shared<FakeRoot>();
    MockSensorService& sensors = *root->sensors;
};

// --- PIDs --------------------------------------------------------------------

TEST_F(ParameterRepositoryTest, PidListIsKeptInTheCoreOrderUntilCleared) {
    EXPECT_CALL(sensors, getPids)
        .Times(2)
        .WillRepeatedly(Return(Pids{Id::VehicleSpeed, Id::EngineSpeed}));
    ParameterRepository repository(root);
    EXPECT_THAT(repository.getPids(), ElementsAre(Id::VehicleSpeed, Id::EngineSpeed));
    EXPECT_THAT(repository.getPids(), ElementsAre(Id::VehicleSpeed, Id::EngineSpeed));
    repository.clearCache();
    repository.getPids();
}

TEST_F(ParameterRepositoryTest, EmptyPidListIsNotKept) {
    EXPECT_CALL(sensors, getPids).WillOnce(Return(Pids{})).WillOnce(Return(Pids{Id::EngineSpeed}));
    ParameterRepository repository(root);
    EXPECT_TRUE(repository.getPids().empty());
    EXPECT_THAT(repository.getPids(), ElementsAre(Id::EngineSpeed));
    EXPECT_THAT(repository.getPids(), ElementsAre(Id::EngineSpeed));
}

// --- parameters --------------------------------------------------------------

TEST_F(ParameterRepositoryTest, ParameterIsBuiltOnceAndSharedPerPid) {
    EXPECT_CALL(sensors, getParameter(Id::EngineSpeed))
        .Times(1)
        .WillOnce(Return(MakeParameterData(Id::EngineSpeed, "Engine speed")));
    EXPECT_CALL(sensors, getParameter(Id::VehicleSpeed))
        .Times(1)
        .WillOnce(Return(MakeParameterData(Id::VehicleSpeed, "Vehicle speed")));
    ParameterRepository repository(root);

    const auto first = repository.getParameter(Id::EngineSpeed);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->name, "Engine speed");
    EXPECT_EQ(repository.getParameter(Id::EngineSpeed), first);
    EXPECT_EQ(repository.getParameter(Id::VehicleSpeed)->name, "Vehicle speed");
}

TEST_F(ParameterRepositoryTest, MissingParameterIsNotKept) {
    EXPECT_CALL(sensors, getParameter(Id::EngineRunTime)).Times(3).WillRepeatedly(Return(nullptr));
    ParameterRepository repository(root);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(repository.getParameter(Id::EngineRunTime), nullptr);
    }
}

TEST_F(ParameterRepositoryTest, ParameterThatFailsToFormatIsNotKept) {
    EXPECT_CALL(sensors, getParameter(Id::RunTimeSinceEngineStart))
        .WillOnce(Return(MakeParameterData(Id::RunTimeSinceEngineStart, "Run time", "NO DATA")))
        .WillOnce(Return(MakeParameterData(Id::RunTimeSinceEngineStart, "Run time", "75")));
    ParameterRepository repository(root);

    EXPECT_THROW(repository.getParameter(Id::RunTimeSinceEngineStart), std::invalid_argument);
    // The mutex was released and nothing was stored: the core is asked again.
    const auto parameter = repository.getParameter(Id::RunTimeSinceEngineStart);
    ASSERT_NE(parameter, nullptr);
    EXPECT_EQ(parameter->sensors.at(0)->value->formattedValue, "1 min 15 s");
}

// --- values ------------------------------------------------------------------

TEST_F(ParameterRepositoryTest, ValuesAreReadAfreshOnEveryCallWhateverRefreshSays) {
    EXPECT_CALL(sensors, getSensors(Id::VehicleSpeed))
        .WillOnce(Return(SensorData{
            MakeSensorData(Id::VehicleSpeed, "sensor", "50", MeasurementUnit::KilometersPerHour)}))
        .WillOnce(Return(SensorData{
            MakeSensorData(Id::VehicleSpeed, "sensor", "60", MeasurementUnit::KilometersPerHour)}))
        .WillOnce(Return(SensorData{
            MakeSensorData(Id::VehicleSpeed, "sensor", "70", MeasurementUnit::KilometersPerHour)}));
    ParameterRepository repository(root);

    const auto first = repository.getValues(Id::VehicleSpeed, false);
    const auto second = repository.getValues(Id::VehicleSpeed, false);
    const auto third = repository.getValues(Id::VehicleSpeed, true);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0]->value->formattedValue, "50 km/h");
    EXPECT_EQ(second.at(0)->value->formattedValue, "60 km/h");
    EXPECT_EQ(third.at(0)->value->formattedValue, "70 km/h");
    EXPECT_NE(first[0], second[0]);
}

TEST_F(ParameterRepositoryTest, SensorsAreBuiltInTheCoreOrderAndAnEmptyAnswerIsEmpty) {
    const int uid = obd::Pid2Uid(Id::OxygenSensor1);
    auto second = MakeSensorData(Id::OxygenSensor1, "sensor", "-3.1", MeasurementUnit::Percent);
    second->uid = uid + 1;
    EXPECT_CALL(sensors, getSensors(Id::OxygenSensor1))
        .WillOnce(Return(SensorData{
            MakeSensorData(Id::OxygenSensor1, "sensor", "0.45", MeasurementUnit::Volt), second}))
        .WillOnce(Return(SensorData{}));
    ParameterRepository repository(root);

    const auto values = repository.getValues(Id::OxygenSensor1, false);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0]->uid, uid);
    EXPECT_EQ(values[1]->uid, uid + 1);
    EXPECT_EQ(values[1]->value->formattedValue, "-3.1 %");
    EXPECT_TRUE(repository.getValues(Id::OxygenSensor1, false).empty());
}

TEST_F(ParameterRepositoryTest, FormattingFailureOfAValuePassesThroughAndReleasesTheMutex) {
    EXPECT_CALL(sensors, getSensors(Id::EngineRunTime))
        .WillOnce(Return(SensorData{MakeSensorData(
            Id::EngineRunTime, "sensor", "99999999999999999999", MeasurementUnit::Second)}))
        .WillOnce(Return(SensorData{
            MakeSensorData(Id::EngineRunTime, "sensor", "3725", MeasurementUnit::Second)}));
    ParameterRepository repository(root);
    EXPECT_THROW(repository.getValues(Id::EngineRunTime, false), std::out_of_range);
    EXPECT_EQ(repository.getValues(Id::EngineRunTime, false).at(0)->value->formattedValue,
              "1 hrs 2 min");
}

// The record shows what the core decoded rounded (41 10 00 F1: 241 / 100 =
// 2.41 g/s, shown "2.4"); the exact number is the same answer's, never an
// older answer's, is asked of no one, and goes with the cache.
TEST_F(ParameterRepositoryTest, NumbersAreThoseOfTheLatestAnswerAndGoWithTheCache) {
    const auto maf = [](std::optional<double> number) {
        auto sensor =
            MakeSensorData(Id::MassAirFlowRate, "sensor", "2.4", MeasurementUnit::GramPerSecond);
        sensor->value->number = number;
        return SensorData{sensor};
    };
    EXPECT_CALL(sensors, getSensors(Id::MassAirFlowRate))
        .WillOnce(Return(maf(2.41)))
        .WillOnce(Return(maf(std::nullopt)))
        .WillOnce(Return(maf(2.41)));
    ParameterRepository repository(root);
    const std::map<std::int32_t, double> exact = {{obd::Pid2Uid(Id::MassAirFlowRate), 2.41}};

    EXPECT_EQ(repository.getValuesOf({Id::MassAirFlowRate}).at(0).at(0)->value->formattedValue,
              "2.4 g/s");
    EXPECT_EQ(repository.getNumbersOf({Id::MassAirFlowRate}), exact);
    EXPECT_TRUE(repository.getNumbersOf({Id::EngineSpeed}).empty());
    repository.getValues(Id::MassAirFlowRate, false);
    EXPECT_TRUE(repository.getNumbersOf({Id::MassAirFlowRate}).empty());
    repository.getValues(Id::MassAirFlowRate, false);
    root->connection->fireEcuChanged();
    EXPECT_TRUE(repository.getNumbersOf({Id::MassAirFlowRate}).empty());
}

// --- connection events and concurrency ---------------------------------------

TEST_F(ParameterRepositoryTest, EachConnectionEventEmptiesTheCachesAndEarlierRecordsStayValid) {
    EXPECT_CALL(sensors, getPids).Times(4).WillRepeatedly(Return(Pids{Id::EngineSpeed}));
    EXPECT_CALL(sensors, getParameter(Id::EngineSpeed)).Times(4).WillRepeatedly([](Id pid) {
        return MakeParameterData(pid, "Engine speed", "800");
    });
    ParameterRepository repository(root);

    std::vector<std::shared_ptr<zelt::ParameterModel>> handedOut;
    const auto read = [&] {
        repository.getPids();
        handedOut.push_back(repository.getParameter(Id::EngineSpeed));
    };
    read();
    root->connection->fireConnectionOpened();
    read();
    root->connection->fireEcuChanged();
    read();
    root->connection->fireConnectionClosed();
    read();

    // Four distinct records, each still whole after the caches let go of it.
    for (std::size_t i = 0; i < handedOut.size(); ++i) {
        for (std::size_t j = i + 1; j < handedOut.size(); ++j) {
            EXPECT_NE(handedOut[i], handedOut[j]);
        }
        EXPECT_EQ(handedOut[i]->name, "Engine speed");
        EXPECT_EQ(handedOut[i]->sensors.at(0)->value->rawValue, "800");
    }
}

TEST_F(ParameterRepositoryTest, DifferentGettersDoNotWaitForEachOther) {
    std::promise<void> insideCore;
    std::promise<void> releaseCore;
    auto release = releaseCore.get_future().share();
    EXPECT_CALL(sensors, getSensors(Id::EngineSpeed)).WillOnce([&](Id pid) {
        insideCore.set_value();
        release.wait();
        return SensorData{MakeSensorData(pid, "sensor", "800", MeasurementUnit::Rpm)};
    });
    ON_CALL(sensors, getParameter).WillByDefault([](Id pid) {
        return MakeParameterData(pid, "parameter");
    });
    ParameterRepository repository(root);

    auto values = std::async(std::launch::async,
                             [&] { return repository.getValues(Id::EngineSpeed, false); });
    insideCore.get_future().wait();
    // getValues holds its mutex inside the core; the other getters still run.
    auto others = std::async(std::launch::async, [&] {
        repository.getPids();
        return repository.getParameter(Id::VehicleSpeed);
    });
    // Only a guard against hanging the suite: the call is expected to finish
    // right away.
    const auto status = others.wait_for(std::chrono::seconds(30));
    releaseCore.set_value();
    ASSERT_EQ(status, std::future_status::ready);
    EXPECT_NE(others.get(), nullptr);
    EXPECT_EQ(values.get().size(), 1u);
}

TEST_F(ParameterRepositoryTest, EventsFromAnotherThreadWhileGettersRun) {
    ON_CALL(sensors, getPids).WillByDefault(Return(Pids{Id::EngineSpeed, Id::VehicleSpeed}));
    ON_CALL(sensors, getParameter).WillByDefault([](Id pid) {
        return MakeParameterData(pid, "parameter", "12");
    });
    ON_CALL(sensors, getSensors).WillByDefault([](Id pid) {
        return SensorData{MakeSensorData(pid, "sensor", "12", MeasurementUnit::Percent)};
    });
    ParameterRepository repository(root);

    zelt::testing::RunGettersDuringEvents(*root->connection, 200, 50, [&](int round, int t) {
        EXPECT_EQ(repository.getPids().size(), 2u);
        const auto parameter = repository.getParameter(Id::EngineSpeed);
        ASSERT_NE(parameter, nullptr);
        EXPECT_EQ(parameter->sensors.at(0)->value->rawValue, "12");
        const auto values = repository.getValues(Id::VehicleSpeed, round % 3 == t);
        ASSERT_EQ(values.size(), 1u);
        EXPECT_EQ(values[0]->value->formattedValue, "12 %");
    });
}

}  // namespace
