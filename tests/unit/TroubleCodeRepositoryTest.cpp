#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CoreMocks.h"
#include "CoreRecords.h"
#include "obd/DtcReader.h"
#include "zelt/TroubleCodeRepository.h"

namespace {

using obd::ParameterIdentifier::Id;
using ::testing::_;
using ::testing::ElementsAre;
using ::testing::InSequence;
using ::testing::IsEmpty;
using ::testing::Return;
using ::testing::StrictMock;
using zelt::MilStatus;
using zelt::TroubleCodeRepository;
using zelt::TroubleCodeType;
using zelt::testing::FakeRoot;
using zelt::testing::MakeCode;
using zelt::testing::MakeParameterData;
using zelt::testing::MakeSensorData;
using zelt::testing::MockSensorService;
using zelt::testing::MockTroubleCodeService;
using Code = std::shared_ptr<obd::DtcDataModel>;
using Codes = MockTroubleCodeService::Codes;
using Pids = std::vector<Id>;
using SensorData = std::shared_ptr<obd::SensorDataModel>;

std::shared_ptr<std::int32_t> Indicator(std::int32_t value) {
    return std::make_shared<std::int32_t>(value);
}

[[noreturn]] void ThrowBusError() {
    throw std::runtime_error("bus error");
}

class TroubleCodeRepositoryTest : public ::testing::Test {
protected:
    // Replace the services with StrictMocks; call before building the repository.
    std::shared_ptr<StrictMock<MockTroubleCodeService>> useStrictCodes() {
        auto strict = std::make_shared<StrictMock<MockTroubleCodeService>>();
        root->troubleCodes = strict;
        codes = strict;
        return strict;
    }
    std::shared_ptr<StrictMock<MockSensorService>> useStrictSensors() {
        auto strict = std::make_shared<StrictMock<MockSensorService>>();
        root->sensors = strict;
        sensors = strict;
        return strict;
    }

    // Makes parameter `pid` supported, with `data` as its sensors.
    void supportSensor(Id pid, std::vector<SensorData> data) {
        ON_CALL(*sensors, isSupported(pid)).WillByDefault(Return(true));
        ON_CALL(*sensors, getSensors(pid)).WillByDefault(Return(data));
    }

    std::shared_ptr<FakeRoot> root = std::make_shared<FakeRoot>();
    std::shared_ptr<MockTroubleCodeService> codes = root->troubleCodes;
    std::shared_ptr<MockSensorService> sensors = root->sensors;
};

// --- connection events (the frame itself: RepositoryFrameTest) ---------------

TEST_F(TroubleCodeRepositoryTest, EachConnectionEventEmptiesEveryCache) {
    TroubleCodeRepository repository(root);
    ON_CALL(*codes, readMilIndicator).WillByDefault(Return(Indicator(1)));
    ON_CALL(*codes, readFreezeFrameTroubleCode(0)).WillByDefault(Return(MakeCode("P0301")));
    ON_CALL(*codes, readFreezeFramePids(0)).WillByDefault(Return(Pids{Id::EngineSpeed}));
    ON_CALL(*codes, readFreezeFrameParameter(0, Id::EngineSpeed))
        .WillByDefault(Return(MakeParameterData(Id::EngineSpeed, "Engine speed")));
    supportSensor(Id::DistanceWithMilOn, {MakeSensorData(Id::DistanceWithMilOn, "Distance")});
    // Four fills: the first use and one after each of the three events.
    EXPECT_CALL(*codes, readConfirmedCodes()).Times(4);
    EXPECT_CALL(*codes, readPendingCodes()).Times(4);
    EXPECT_CALL(*codes, readPermanentCodes()).Times(4);
    EXPECT_CALL(*codes, readFreezeFrameTroubleCode(0)).Times(4);
    EXPECT_CALL(*codes, readFreezeFramePids(0)).Times(4);
    EXPECT_CALL(*codes, readFreezeFrameParameter(0, Id::EngineSpeed)).Times(4);
    EXPECT_CALL(*codes, readMilIndicator()).Times(4);
    EXPECT_CALL(*sensors, getSensors(Id::DistanceWithMilOn)).Times(4);

    auto useEverything = [&] {
        for (int twice = 0; twice < 2; ++twice) {
            repository.getConfirmedCodes(false);
            repository.getPendingCodes(false);
            repository.getPermanentCodes(false);
            repository.getFreezeFrameTroubleCode(0, false);
            repository.getFreezeFramePids(0, false);
            repository.getFreezeFrameParameter(0, Id::EngineSpeed, false);
            repository.getMilStatus(false);
            repository.getDistanceSince(MilStatus::On, false);
        }
    };
    useEverything();
    root->connection->fireConnectionOpened();
    useEverything();
    root->connection->fireEcuChanged();
    useEverything();
    root->connection->fireConnectionClosed();
    useEverything();
}

// --- code lists --------------------------------------------------------------

TEST_F(TroubleCodeRepositoryTest, TypeSelectsItsListAndAnUnknownTypeCallsNothing) {
    auto strict = useStrictCodes();
    TroubleCodeRepository repository(root);
    const Code confirmed = MakeCode("P0301"), pending = MakeCode("P0420"),
               permanent = MakeCode("U0100");
    EXPECT_CALL(*strict, readConfirmedCodes()).WillOnce(Return(Codes{confirmed}));
    EXPECT_CALL(*strict, readPendingCodes()).WillOnce(Return(Codes{pending}));
    EXPECT_CALL(*strict, readPermanentCodes()).WillOnce(Return(Codes{permanent}));

    EXPECT_THAT(repository.getTroubleCodes(TroubleCodeType::Confirmed, false),
                ElementsAre(confirmed));
    EXPECT_THAT(repository.getTroubleCodes(TroubleCodeType::Pending, false), ElementsAre(pending));
    EXPECT_THAT(repository.getTroubleCodes(TroubleCodeType::Permanent, false),
                ElementsAre(permanent));
    EXPECT_THAT(repository.getTroubleCodes(static_cast<TroubleCodeType>(3), true), IsEmpty());
}

TEST_F(TroubleCodeRepositoryTest, EmptyConfirmedListIsAnsweredFromTheCache) {
    auto strict = useStrictCodes();
    TroubleCodeRepository repository(root);
    EXPECT_CALL(*strict, readConfirmedCodes()).WillOnce(Return(Codes{}));
    EXPECT_THAT(repository.getConfirmedCodes(false), IsEmpty());
    EXPECT_THAT(repository.getConfirmedCodes(false), IsEmpty());
}

TEST_F(TroubleCodeRepositoryTest, RefreshReplacesTheListEvenWithAnEmptyOne) {
    TroubleCodeRepository repository(root);
    const Code code = MakeCode("P0171");
    EXPECT_CALL(*codes, readPendingCodes()).WillOnce(Return(Codes{code})).WillOnce(Return(Codes{}));

    EXPECT_THAT(repository.getPendingCodes(false), ElementsAre(code));
    EXPECT_THAT(repository.getPendingCodes(false), ElementsAre(code));
    EXPECT_THAT(repository.getPendingCodes(true), IsEmpty());
    EXPECT_THAT(repository.getPendingCodes(false), IsEmpty());
}

TEST_F(TroubleCodeRepositoryTest, CoreExceptionPassesThroughAndKeepsTheList) {
    TroubleCodeRepository repository(root);
    const Code kept = MakeCode("P0300");
    EXPECT_CALL(*codes, readPermanentCodes()).WillOnce(Return(Codes{kept})).WillOnce([]() -> Codes {
        ThrowBusError();
    });

    repository.getPermanentCodes(false);
    EXPECT_THROW(repository.getPermanentCodes(true), std::runtime_error);
    EXPECT_THAT(repository.getPermanentCodes(false), ElementsAre(kept));
}

TEST_F(TroubleCodeRepositoryTest, AllTroubleCodesComeFromTheCatalogueWithoutAnyCache) {
    auto strictCodes = useStrictCodes();
    useStrictSensors();
    TroubleCodeRepository repository(root);
    EXPECT_CALL(*strictCodes, clearTroubleCodes()).WillOnce(Return(true));
    auto codeTexts = [](const Codes& list) {
        std::vector<std::string> texts;
        for (const auto& code : list) {
            texts.push_back(code->code);
        }
        return texts;
    };
    const auto catalogue = codeTexts(obd::DtcReader::getTroubleCodes());
    ASSERT_FALSE(catalogue.empty());

    EXPECT_EQ(codeTexts(repository.getAllTroubleCodes()), catalogue);
    repository.clearCache();
    EXPECT_EQ(codeTexts(repository.getAllTroubleCodes()), catalogue);
    repository.resetTroubleCodes();
    EXPECT_EQ(codeTexts(repository.getAllTroubleCodes()), catalogue);
}

// --- freeze frames -----------------------------------------------------------

TEST_F(TroubleCodeRepositoryTest, FreezeFramePidsAreAskedAgainWhileEmpty) {
    TroubleCodeRepository repository(root);
    const Pids stored{Id::EngineSpeed, Id::VehicleSpeed};
    EXPECT_CALL(*codes, readFreezeFramePids(2))
        .WillOnce(Return(Pids{}))
        .WillOnce(Return(Pids{}))
        .WillOnce(Return(stored));

    EXPECT_THAT(repository.getFreezeFramePids(2, false), IsEmpty());
    EXPECT_THAT(repository.getFreezeFramePids(2, false), IsEmpty());
    EXPECT_EQ(repository.getFreezeFramePids(2, false), stored);
    EXPECT_EQ(repository.getFreezeFramePids(2, false), stored);
}

TEST_F(TroubleCodeRepositoryTest, FreezeFrameParametersAreKeyedByFrameAndIdentifier) {
    TroubleCodeRepository repository(root);
    EXPECT_CALL(*codes, readFreezeFrameParameter(0, Id::EngineSpeed))
        .WillOnce(Return(MakeParameterData(Id::EngineSpeed, "frame 0 rpm")));
    EXPECT_CALL(*codes, readFreezeFrameParameter(1, Id::EngineSpeed))
        .WillOnce(Return(MakeParameterData(Id::EngineSpeed, "frame 1 rpm")));
    EXPECT_CALL(*codes, readFreezeFrameParameter(0, Id::VehicleSpeed))
        .WillOnce(Return(MakeParameterData(Id::VehicleSpeed, "frame 0 speed")));

    for (int twice = 0; twice < 2; ++twice) {
        const auto rpm0 = repository.getFreezeFrameParameter(0, Id::EngineSpeed, false);
        const auto rpm1 = repository.getFreezeFrameParameter(1, Id::EngineSpeed, false);
        const auto speed0 = repository.getFreezeFrameParameter(0, Id::VehicleSpeed, false);
        ASSERT_TRUE(rpm0 && rpm1 && speed0);
        EXPECT_EQ(rpm0->name, "frame 0 rpm");
        EXPECT_EQ(rpm1->name, "frame 1 rpm");
        EXPECT_EQ(speed0->name, "frame 0 speed");
        EXPECT_EQ(speed0->pid, Id::VehicleSpeed);
        ASSERT_EQ(speed0->sensors.size(), 1u);
        EXPECT_EQ(speed0->sensors[0]->uid, obd::Pid2Uid(Id::VehicleSpeed));
    }
}

TEST_F(TroubleCodeRepositoryTest, UnusableAnswerNeitherErasesNorReturnsTheStoredEntry) {
    TroubleCodeRepository repository(root);
    const Code code = MakeCode("P0301");
    const Pids pids{Id::EngineSpeed};
    EXPECT_CALL(*codes, readFreezeFrameTroubleCode(0))
        .WillOnce(Return(code))
        .WillOnce(Return(nullptr));
    EXPECT_CALL(*codes, readFreezeFramePids(0)).WillOnce(Return(pids)).WillOnce(Return(Pids{}));
    EXPECT_CALL(*codes, readFreezeFrameParameter(0, Id::EngineSpeed))
        .WillOnce(Return(MakeParameterData(Id::EngineSpeed, "rpm")))
        .WillOnce(Return(nullptr));

    EXPECT_EQ(repository.getFreezeFrameTroubleCode(0, false), code);
    const auto parameter = repository.getFreezeFrameParameter(0, Id::EngineSpeed, false);
    repository.getFreezeFramePids(0, false);

    EXPECT_EQ(repository.getFreezeFrameTroubleCode(0, true), nullptr);
    EXPECT_THAT(repository.getFreezeFramePids(0, true), IsEmpty());
    EXPECT_EQ(repository.getFreezeFrameParameter(0, Id::EngineSpeed, true), nullptr);

    EXPECT_EQ(repository.getFreezeFrameTroubleCode(0, false), code);
    EXPECT_EQ(repository.getFreezeFramePids(0, false), pids);
    EXPECT_EQ(repository.getFreezeFrameParameter(0, Id::EngineSpeed, false), parameter);
}

TEST_F(TroubleCodeRepositoryTest, UsableRefreshReplacesTheStoredEntry) {
    TroubleCodeRepository repository(root);
    const Code first = MakeCode("P0301"), second = MakeCode("P0302");
    EXPECT_CALL(*codes, readFreezeFrameTroubleCode(1))
        .WillOnce(Return(first))
        .WillOnce(Return(second));

    repository.getFreezeFrameTroubleCode(1, false);
    EXPECT_EQ(repository.getFreezeFrameTroubleCode(1, true), second);
    EXPECT_EQ(repository.getFreezeFrameTroubleCode(1, false), second);
}

TEST_F(TroubleCodeRepositoryTest, FailedFreezeFrameReadOrBuildKeepsTheEntry) {
    TroubleCodeRepository repository(root);
    const Code code = MakeCode("P0301");
    EXPECT_CALL(*codes, readFreezeFrameTroubleCode(3))
        .WillOnce(Return(code))
        .WillOnce([](std::uint8_t) -> Code { ThrowBusError(); });
    // Run time since engine start is split into minutes and seconds, which a
    // text that is no number cannot be.
    EXPECT_CALL(*codes, readFreezeFrameParameter(3, Id::RunTimeSinceEngineStart))
        .WillOnce(Return(MakeParameterData(Id::RunTimeSinceEngineStart, "run time", "75")))
        .WillOnce(Return(MakeParameterData(Id::RunTimeSinceEngineStart, "run time", "n/a")));

    repository.getFreezeFrameTroubleCode(3, false);
    const auto parameter =
        repository.getFreezeFrameParameter(3, Id::RunTimeSinceEngineStart, false);

    EXPECT_THROW(repository.getFreezeFrameTroubleCode(3, true), std::runtime_error);
    EXPECT_THROW(repository.getFreezeFrameParameter(3, Id::RunTimeSinceEngineStart, true),
                 std::invalid_argument);

    EXPECT_EQ(repository.getFreezeFrameTroubleCode(3, false), code);
    EXPECT_EQ(repository.getFreezeFrameParameter(3, Id::RunTimeSinceEngineStart, false), parameter);
}

// --- MIL status --------------------------------------------------------------

TEST_F(TroubleCodeRepositoryTest, MilIsOnForAnyNonZeroValueAndCached) {
    TroubleCodeRepository repository(root);
    EXPECT_CALL(*codes, readMilIndicator())
        .WillOnce(Return(Indicator(0x80)))
        .WillOnce(Return(Indicator(0)));

    const auto on = repository.getMilStatus(false);
    ASSERT_NE(on, nullptr);
    EXPECT_EQ(*on, MilStatus::On);
    EXPECT_EQ(repository.getMilStatus(false), on);

    const auto off = repository.getMilStatus(true);
    ASSERT_NE(off, nullptr);
    EXPECT_EQ(*off, MilStatus::Off);
    EXPECT_EQ(*on, MilStatus::On);  // the earlier record is not changed
}

TEST_F(TroubleCodeRepositoryTest, MilOnIsKeptWhenTheCoreLaterAnswersNull) {
    TroubleCodeRepository repository(root);
    EXPECT_CALL(*codes, readMilIndicator())
        .WillOnce(Return(nullptr))
        .WillOnce(Return(nullptr))
        .WillOnce(Return(Indicator(1)))
        .WillOnce(Return(nullptr))
        .WillOnce([]() -> std::shared_ptr<std::int32_t> { ThrowBusError(); });

    // With nothing known, no answer gives null and leaves the cache empty.
    EXPECT_EQ(repository.getMilStatus(false), nullptr);
    EXPECT_EQ(repository.getMilStatus(false), nullptr);

    const auto on = repository.getMilStatus(true);
    EXPECT_EQ(repository.getMilStatus(true), on);
    EXPECT_THROW(repository.getMilStatus(true), std::runtime_error);
    EXPECT_EQ(repository.getMilStatus(false), on);
}

// --- distance and run time ---------------------------------------------------

TEST_F(TroubleCodeRepositoryTest, StatusChoosesTheIdentifierAndAllShareTheSensorCache) {
    TroubleCodeRepository repository(root);
    const Id ids[] = {Id::DistanceWithMilOn, Id::DistanceSinceCodesCleared, Id::TimeRunWithMilOn,
                      Id::TimeSinceCodesCleared};
    for (const Id id : ids) {
        supportSensor(id, {MakeSensorData(id, "sensor"), MakeSensorData(id, "second sensor")});
        EXPECT_CALL(*sensors, getSensors(id)).Times(1);
    }
    const auto unknown = static_cast<MilStatus>(7);

    for (int twice = 0; twice < 2; ++twice) {
        EXPECT_EQ(repository.getDistanceSince(MilStatus::On, false)->uid, obd::Pid2Uid(ids[0]));
        EXPECT_EQ(repository.getDistanceSince(MilStatus::Off, false)->uid, obd::Pid2Uid(ids[1]));
        EXPECT_EQ(repository.getRuntimeSince(MilStatus::On, false)->uid, obd::Pid2Uid(ids[2]));
        EXPECT_EQ(repository.getRuntimeSince(MilStatus::Off, false)->uid, obd::Pid2Uid(ids[3]));
        EXPECT_EQ(repository.getDistanceSince(unknown, false)->uid, obd::Pid2Uid(ids[1]));
        EXPECT_EQ(repository.getRuntimeSince(unknown, false)->uid, obd::Pid2Uid(ids[3]));
    }
    // The first sensor of the parameter is the one reported.
    EXPECT_EQ(repository.getDistanceSince(MilStatus::On, false)->name, "sensor");
}

TEST_F(TroubleCodeRepositoryTest, UnsupportedParameterGivesNullAndIsAskedAgain) {
    auto strict = useStrictSensors();
    TroubleCodeRepository repository(root);
    EXPECT_CALL(*strict, isSupported(Id::DistanceWithMilOn)).Times(2).WillRepeatedly(Return(false));

    EXPECT_EQ(repository.getDistanceSince(MilStatus::On, false), nullptr);
    EXPECT_EQ(repository.getDistanceSince(MilStatus::On, false), nullptr);
}

TEST_F(TroubleCodeRepositoryTest, NoSensorsGiveNullAndKeepTheStoredSensor) {
    TroubleCodeRepository repository(root);
    const Id id = Id::TimeSinceCodesCleared;
    ON_CALL(*sensors, isSupported(id)).WillByDefault(Return(true));
    EXPECT_CALL(*sensors, getSensors(id))
        .WillOnce(Return(std::vector<SensorData>{}))
        .WillOnce(Return(std::vector<SensorData>{MakeSensorData(id, "time", "125")}))
        .WillOnce(Return(std::vector<SensorData>{}));

    EXPECT_EQ(repository.getRuntimeSince(MilStatus::Off, false), nullptr);
    const auto stored = repository.getRuntimeSince(MilStatus::Off, false);
    ASSERT_NE(stored, nullptr);
    ASSERT_NE(stored->value, nullptr);
    EXPECT_EQ(stored->value->formattedValue, "2 hrs 5 min");
    EXPECT_EQ(repository.getRuntimeSince(MilStatus::Off, true), nullptr);
    EXPECT_EQ(repository.getRuntimeSince(MilStatus::Off, false), stored);
}

TEST_F(TroubleCodeRepositoryTest, NullFirstSensorGivesNullAndKeepsTheStoredSensor) {
    TroubleCodeRepository repository(root);
    for (const Id id : {Id::DistanceWithMilOn, Id::TimeRunWithMilOn}) {
        ON_CALL(*sensors, isSupported(id)).WillByDefault(Return(true));
        EXPECT_CALL(*sensors, getSensors(id))
            .WillOnce(Return(std::vector<SensorData>{MakeSensorData(id, "stored", "7")}))
            .WillOnce(Return(std::vector<SensorData>{nullptr, MakeSensorData(id, "second", "8")}));
    }

    const auto distance = repository.getDistanceSince(MilStatus::On, false);
    const auto runtime = repository.getRuntimeSince(MilStatus::On, false);
    ASSERT_NE(distance, nullptr);
    ASSERT_NE(runtime, nullptr);
    EXPECT_EQ(repository.getDistanceSince(MilStatus::On, true), nullptr);
    EXPECT_EQ(repository.getRuntimeSince(MilStatus::On, true), nullptr);
    EXPECT_EQ(repository.getDistanceSince(MilStatus::On, false), distance);
    EXPECT_EQ(repository.getRuntimeSince(MilStatus::On, false), runtime);
}

// --- reset -------------------------------------------------------------------

TEST_F(TroubleCodeRepositoryTest, ResetEmptiesEveryCacheWhateverTheVehicleAnswers) {
    TroubleCodeRepository repository(root);
    ON_CALL(*codes, readMilIndicator).WillByDefault(Return(Indicator(1)));
    ON_CALL(*codes, readFreezeFrameTroubleCode(0)).WillByDefault(Return(MakeCode("P0301")));
    ON_CALL(*codes, readFreezeFramePids(0)).WillByDefault(Return(Pids{Id::EngineSpeed}));
    ON_CALL(*codes, readFreezeFrameParameter(0, Id::EngineSpeed))
        .WillByDefault(Return(MakeParameterData(Id::EngineSpeed, "rpm")));
    supportSensor(Id::TimeRunWithMilOn, {MakeSensorData(Id::TimeRunWithMilOn, "time", "3")});
    EXPECT_CALL(*codes, clearTroubleCodes()).WillOnce(Return(false));
    EXPECT_CALL(*codes, readConfirmedCodes()).Times(2);
    EXPECT_CALL(*codes, readPendingCodes()).Times(2);
    EXPECT_CALL(*codes, readPermanentCodes()).Times(2);
    EXPECT_CALL(*codes, readFreezeFrameTroubleCode(0)).Times(2);
    EXPECT_CALL(*codes, readFreezeFramePids(0)).Times(2);
    EXPECT_CALL(*codes, readFreezeFrameParameter(0, Id::EngineSpeed)).Times(2);
    EXPECT_CALL(*codes, readMilIndicator()).Times(2);
    EXPECT_CALL(*sensors, getSensors(Id::TimeRunWithMilOn)).Times(2);

    auto useEverything = [&] {
        repository.getConfirmedCodes(false);
        repository.getPendingCodes(false);
        repository.getPermanentCodes(false);
        repository.getFreezeFrameTroubleCode(0, false);
        repository.getFreezeFramePids(0, false);
        repository.getFreezeFrameParameter(0, Id::EngineSpeed, false);
        repository.getMilStatus(false);
        repository.getRuntimeSince(MilStatus::On, false);
    };
    useEverything();
    EXPECT_FALSE(repository.resetTroubleCodes());
    useEverything();
}

TEST_F(TroubleCodeRepositoryTest, ResetEmptiesTheCachesBeforeAskingTheVehicle) {
    TroubleCodeRepository repository(root);
    EXPECT_CALL(*codes, readMilIndicator())
        .WillOnce(Return(Indicator(1)))
        .WillOnce(Return(nullptr));
    EXPECT_CALL(*codes, clearTroubleCodes()).WillOnce([&] {
        // No lock is held here, and the state read before the reset is gone.
        EXPECT_EQ(repository.getMilStatus(false), nullptr);
        return true;
    });

    ASSERT_NE(repository.getMilStatus(false), nullptr);
    EXPECT_TRUE(repository.resetTroubleCodes());
}

TEST_F(TroubleCodeRepositoryTest, CodesReadWhileTheVehicleClearsDoNotOutliveTheReset) {
    TroubleCodeRepository repository(root);
    const Code old = MakeCode("P0301");
    {
        InSequence order;
        EXPECT_CALL(*codes, readConfirmedCodes()).WillOnce(Return(Codes{old}));
        EXPECT_CALL(*codes, readConfirmedCodes()).WillOnce(Return(Codes{}));
    }
    // Another caller reads the codes while the vehicle is still clearing them.
    EXPECT_CALL(*codes, clearTroubleCodes()).WillOnce([&] {
        EXPECT_THAT(repository.getConfirmedCodes(false), ElementsAre(old));
        return true;
    });

    EXPECT_TRUE(repository.resetTroubleCodes());
    EXPECT_THAT(repository.getConfirmedCodes(false), IsEmpty());
}

TEST_F(TroubleCodeRepositoryTest, FailedResetPassesTheExceptionAndLeavesTheCachesEmpty) {
    TroubleCodeRepository repository(root);
    EXPECT_CALL(*codes, readPendingCodes()).Times(3);
    EXPECT_CALL(*codes, clearTroubleCodes()).WillOnce([&]() -> bool {
        repository.getPendingCodes(false);
        ThrowBusError();
    });

    repository.getPendingCodes(false);
    EXPECT_THROW(repository.resetTroubleCodes(), std::runtime_error);
    repository.getPendingCodes(false);
}

// --- concurrency -------------------------------------------------------------

TEST_F(TroubleCodeRepositoryTest, ResetEventsAndGettersFromSeveralThreads) {
    TroubleCodeRepository repository(root);
    const Codes confirmed{MakeCode("P0301"), MakeCode("P0420")};
    const Pids pids{Id::EngineSpeed};
    ON_CALL(*codes, readConfirmedCodes).WillByDefault(Return(confirmed));
    ON_CALL(*codes, readMilIndicator).WillByDefault([] { return Indicator(1); });
    ON_CALL(*codes, readFreezeFrameTroubleCode).WillByDefault([](std::uint8_t frame) {
        return MakeCode("P030" + std::to_string(frame));
    });
    ON_CALL(*codes, readFreezeFramePids).WillByDefault(Return(pids));
    ON_CALL(*codes, readFreezeFrameParameter).WillByDefault([](std::uint8_t, Id id) {
        return MakeParameterData(id, "parameter");
    });
    ON_CALL(*codes, clearTroubleCodes).WillByDefault(Return(true));
    supportSensor(Id::DistanceWithMilOn, {MakeSensorData(Id::DistanceWithMilOn, "distance")});
    supportSensor(Id::TimeSinceCodesCleared,
                  {MakeSensorData(Id::TimeSinceCodesCleared, "time", "61")});

    // All threads start together, so the operations overlap.
    std::promise<void> go;
    std::shared_future<void> start = go.get_future().share();
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        start.wait();
        for (int i = 0; i < 100; ++i) {
            repository.resetTroubleCodes();
        }
    });
    threads.emplace_back([&] {
        start.wait();
        for (int i = 0; i < 100; ++i) {
            root->connection->fireConnectionOpened();
            root->connection->fireEcuChanged();
            root->connection->fireConnectionClosed();
        }
    });
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            start.wait();
            for (int round = 0; !stop || round < 100; ++round) {
                const bool refresh = round % 3 == t;
                const auto frame = static_cast<std::uint8_t>(round % 2);
                EXPECT_EQ(repository.getConfirmedCodes(refresh), confirmed);
                EXPECT_EQ(repository.getFreezeFrameTroubleCode(frame, refresh)->code,
                          "P030" + std::to_string(frame));
                EXPECT_EQ(repository.getFreezeFramePids(frame, refresh), pids);
                EXPECT_EQ(repository.getFreezeFrameParameter(frame, Id::VehicleSpeed, refresh)->pid,
                          Id::VehicleSpeed);
                EXPECT_EQ(*repository.getMilStatus(refresh), MilStatus::On);
                EXPECT_EQ(repository.getDistanceSince(MilStatus::On, refresh)->name, "distance");
                EXPECT_EQ(
                    repository.getRuntimeSince(MilStatus::Off, refresh)->value->formattedValue,
                    "1 hrs 1 min");
            }
        });
    }
    go.set_value();
    threads[0].join();
    threads[1].join();
    stop = true;
    for (std::size_t i = 2; i < threads.size(); ++i) {
        threads[i].join();
    }
}

}  // namespace
