#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "CoreMocks.h"
#include "CoreRecords.h"
#include "GettersDuringEvents.h"
#include "zelt/DiagnosticsRepository.h"

namespace {

using obd::OxygenSensorLocation;
using ::testing::_;
using ::testing::ElementsAre;
using ::testing::InSequence;
using ::testing::IsEmpty;
using ::testing::Return;
using ::testing::StrictMock;
using zelt::DiagnosticsRepository;
using zelt::testing::FakeRoot;
using zelt::testing::MakeOxygenMonitor;
using zelt::testing::MakeReadiness;
using zelt::testing::MakeVod;
using zelt::testing::MockDiagnosticsService;
using Readiness = MockDiagnosticsService::Readiness;
using OxygenMonitors = MockDiagnosticsService::OxygenMonitors;
using Vod = MockDiagnosticsService::Vod;

[[noreturn]] void ThrowBusError() {
    throw std::runtime_error("bus error");
}

class DiagnosticsRepositoryTest : public ::testing::Test {
protected:
    // Replaces the service with a StrictMock; call before building the repository.
    std::shared_ptr<StrictMock<MockDiagnosticsService>> useStrictService() {
        auto strict = std::make_shared<StrictMock<MockDiagnosticsService>>();
        root->diagnostics = strict;
        service = strict;
        return strict;
    }

    std::shared_ptr<FakeRoot> root = std::make_shared<FakeRoot>();
    std::shared_ptr<MockDiagnosticsService> service = root->diagnostics;
};

// --- connection events (the frame itself: RepositoryFrameTest) ---------------

TEST_F(DiagnosticsRepositoryTest, EachConnectionEventEmptiesEverySlot) {
    DiagnosticsRepository repository(root);
    const auto location = OxygenSensorLocation::Bank1Sensor2;
    ON_CALL(*service, getOxygenSensorMonitors(location))
        .WillByDefault(Return(OxygenMonitors{MakeOxygenMonitor(location)}));
    // Four fills: the first use and one after each of the three events.
    EXPECT_CALL(*service, getReadinessMonitorsSinceReset()).Times(4);
    EXPECT_CALL(*service, getReadinessMonitorsThisCycle()).Times(4);
    EXPECT_CALL(*service, getDiagnosticMonitors()).Times(4);
    EXPECT_CALL(*service, getPerformanceCounters()).Times(4);
    EXPECT_CALL(*service, getOxygenSensorLocations()).Times(4);
    EXPECT_CALL(*service, getOxygenSensorMonitors(location)).Times(4);
    EXPECT_CALL(*service, getVodEngineRunIdleTime()).Times(4);
    EXPECT_CALL(*service, getVodFuelDistanceUsed()).Times(4);
    EXPECT_CALL(*service, getVodPkeEoe()).Times(4);
    EXPECT_CALL(*service, getVodPsa()).Times(4);
    // The completeness slot starts filled, so it is asked only after events.
    EXPECT_CALL(*service, areOxygenSensorMonitorsComplete()).Times(3);

    auto useEverything = [&] {
        for (int twice = 0; twice < 2; ++twice) {
            repository.getReadinessMonitorsThisCycle(false);
            repository.getDiagnosticMonitors(false);
            repository.getPerformanceCounters(false);
            repository.getOxygenSensorLocations(false);
            repository.getOxygenSensorMonitors(location, false);
            repository.areOxygenSensorMonitorsComplete(false);
            repository.getVehicleOperationData(false);
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

// --- vector getters ----------------------------------------------------------

TEST_F(DiagnosticsRepositoryTest, CacheHitReturnsTheSameRecordsWithoutAskingTheCore) {
    DiagnosticsRepository repository(root);
    const Readiness answer{MakeReadiness("Catalyst"), MakeReadiness("Misfire")};
    EXPECT_CALL(*service, getReadinessMonitorsSinceReset()).WillOnce(Return(answer));

    repository.getReadinessMonitorsSinceReset(false);
    const auto second = repository.getReadinessMonitorsSinceReset(false);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].get(), answer[0].get());
    EXPECT_EQ(second[1].get(), answer[1].get());
}

TEST_F(DiagnosticsRepositoryTest, EmptyAnswersAreCachedInEveryVectorSlot) {
    auto strict = useStrictService();
    DiagnosticsRepository repository(root);
    EXPECT_CALL(*strict, getReadinessMonitorsSinceReset()).WillOnce(Return(Readiness{}));
    EXPECT_CALL(*strict, getReadinessMonitorsThisCycle()).WillOnce(Return(Readiness{}));
    EXPECT_CALL(*strict, getDiagnosticMonitors())
        .WillOnce(Return(MockDiagnosticsService::Monitors{}));
    EXPECT_CALL(*strict, getPerformanceCounters())
        .WillOnce(Return(MockDiagnosticsService::Counters{}));
    EXPECT_CALL(*strict, getOxygenSensorLocations())
        .WillOnce(Return(std::vector<OxygenSensorLocation>{}));

    for (int twice = 0; twice < 2; ++twice) {
        EXPECT_THAT(repository.getReadinessMonitorsSinceReset(false), IsEmpty());
        EXPECT_THAT(repository.getReadinessMonitorsThisCycle(false), IsEmpty());
        EXPECT_THAT(repository.getDiagnosticMonitors(false), IsEmpty());
        EXPECT_THAT(repository.getPerformanceCounters(false), IsEmpty());
        EXPECT_THAT(repository.getOxygenSensorLocations(false), IsEmpty());
    }
}

TEST_F(DiagnosticsRepositoryTest, RefreshAsksTheCoreAndReplacesTheSlot) {
    DiagnosticsRepository repository(root);
    using Locations = std::vector<OxygenSensorLocation>;
    EXPECT_CALL(*service, getOxygenSensorLocations())
        .WillOnce(Return(Locations{OxygenSensorLocation::Bank1Sensor1}))
        .WillOnce(Return(Locations{OxygenSensorLocation::Bank2Sensor1}));

    repository.getOxygenSensorLocations(false);
    EXPECT_THAT(repository.getOxygenSensorLocations(true),
                ElementsAre(OxygenSensorLocation::Bank2Sensor1));
    EXPECT_THAT(repository.getOxygenSensorLocations(false),
                ElementsAre(OxygenSensorLocation::Bank2Sensor1));
}

TEST_F(DiagnosticsRepositoryTest, CoreExceptionPassesThroughAndKeepsTheVectorSlot) {
    DiagnosticsRepository repository(root);
    const Readiness kept{MakeReadiness("Catalyst")};
    EXPECT_CALL(*service, getReadinessMonitorsSinceReset())
        .WillOnce(Return(kept))
        .WillOnce([]() -> Readiness { ThrowBusError(); });

    repository.getReadinessMonitorsSinceReset(false);
    EXPECT_THROW(repository.getReadinessMonitorsSinceReset(true), std::runtime_error);
    EXPECT_EQ(repository.getReadinessMonitorsSinceReset(false), kept);
}

// --- readiness this cycle ----------------------------------------------------

TEST_F(DiagnosticsRepositoryTest, ThisCycleFillsSinceResetFirstButNeverRefreshesIt) {
    DiagnosticsRepository repository(root);
    {
        InSequence order;
        EXPECT_CALL(*service, getReadinessMonitorsSinceReset()).Times(1);
        EXPECT_CALL(*service, getReadinessMonitorsThisCycle()).Times(1);
        EXPECT_CALL(*service, getReadinessMonitorsThisCycle()).Times(1);
    }
    repository.getReadinessMonitorsThisCycle(false);
    repository.getReadinessMonitorsThisCycle(true);
}

TEST_F(DiagnosticsRepositoryTest, ThisCycleHoldsNoLockOfTheSinceResetSlot) {
    DiagnosticsRepository repository(root);
    const Readiness sinceReset{MakeReadiness("since reset")};
    EXPECT_CALL(*service, getReadinessMonitorsSinceReset())
        .WillOnce(Return(Readiness{}))
        .WillOnce(Return(sinceReset));
    // The since-reset slot is free again while this cycle's list is fetched.
    EXPECT_CALL(*service, getReadinessMonitorsThisCycle()).WillOnce([&] {
        repository.getReadinessMonitorsSinceReset(true);
        return Readiness{};
    });

    repository.getReadinessMonitorsThisCycle(false);
    EXPECT_EQ(repository.getReadinessMonitorsSinceReset(false), sinceReset);
}

TEST_F(DiagnosticsRepositoryTest, FailedSinceResetFetchSkipsThisCycle) {
    auto strict = useStrictService();
    DiagnosticsRepository repository(root);
    EXPECT_CALL(*strict, getReadinessMonitorsSinceReset()).WillOnce([]() -> Readiness {
        ThrowBusError();
    });
    EXPECT_THROW(repository.getReadinessMonitorsThisCycle(false), std::runtime_error);
}

// --- oxygen sensors ----------------------------------------------------------

TEST_F(DiagnosticsRepositoryTest, OxygenMonitorsAreCachedPerLocation) {
    DiagnosticsRepository repository(root);
    const auto a = OxygenSensorLocation::Bank1Sensor1, b = OxygenSensorLocation::Bank2Sensor2;
    const OxygenMonitors ofA{MakeOxygenMonitor(a)}, ofB{MakeOxygenMonitor(b)};
    EXPECT_CALL(*service, getOxygenSensorMonitors(a)).WillOnce(Return(ofA));
    EXPECT_CALL(*service, getOxygenSensorMonitors(b)).WillOnce(Return(ofB));

    for (int twice = 0; twice < 2; ++twice) {
        EXPECT_EQ(repository.getOxygenSensorMonitors(a, false), ofA);
        EXPECT_EQ(repository.getOxygenSensorMonitors(b, false), ofB);
    }
}

TEST_F(DiagnosticsRepositoryTest, EmptyOxygenMonitorListIsAskedForAgain) {
    DiagnosticsRepository repository(root);
    const auto a = OxygenSensorLocation::Bank1Sensor3;
    const OxygenMonitors found{MakeOxygenMonitor(a)};
    EXPECT_CALL(*service, getOxygenSensorMonitors(a))
        .WillOnce(Return(OxygenMonitors{}))
        .WillOnce(Return(OxygenMonitors{}))
        .WillOnce(Return(found));

    EXPECT_THAT(repository.getOxygenSensorMonitors(a, false), IsEmpty());
    EXPECT_THAT(repository.getOxygenSensorMonitors(a, false), IsEmpty());
    EXPECT_EQ(repository.getOxygenSensorMonitors(a, false), found);
    EXPECT_EQ(repository.getOxygenSensorMonitors(a, false), found);
}

TEST_F(DiagnosticsRepositoryTest, OxygenMonitorRefreshDropsEveryLocation) {
    DiagnosticsRepository repository(root);
    const auto a = OxygenSensorLocation::Bank1Sensor1, b = OxygenSensorLocation::Bank1Sensor2;
    EXPECT_CALL(*service, getOxygenSensorMonitors(a))
        .Times(2)
        .WillRepeatedly(Return(OxygenMonitors{MakeOxygenMonitor(a)}));
    EXPECT_CALL(*service, getOxygenSensorMonitors(b))
        .Times(2)
        .WillRepeatedly(Return(OxygenMonitors{MakeOxygenMonitor(b)}));

    repository.getOxygenSensorMonitors(a, false);
    repository.getOxygenSensorMonitors(b, false);
    repository.getOxygenSensorMonitors(a, true);
    repository.getOxygenSensorMonitors(b, false);  // asks again
    repository.getOxygenSensorMonitors(a, false);  // the refresh stored a
}

TEST_F(DiagnosticsRepositoryTest, FailedOxygenMonitorRefreshLeavesTheMapEmptied) {
    DiagnosticsRepository repository(root);
    const auto a = OxygenSensorLocation::Bank3Sensor1;
    const OxygenMonitors first{MakeOxygenMonitor(a)}, second{MakeOxygenMonitor(a)};
    EXPECT_CALL(*service, getOxygenSensorMonitors(a))
        .WillOnce(Return(first))
        .WillOnce([](OxygenSensorLocation) -> OxygenMonitors { ThrowBusError(); })
        .WillOnce(Return(second));

    repository.getOxygenSensorMonitors(a, false);
    EXPECT_THROW(repository.getOxygenSensorMonitors(a, true), std::runtime_error);
    EXPECT_EQ(repository.getOxygenSensorMonitors(a, false), second);
}

TEST_F(DiagnosticsRepositoryTest, CompletenessIsFalseWithoutAskingUntilFirstClearing) {
    auto strict = useStrictService();
    DiagnosticsRepository repository(root);
    EXPECT_FALSE(repository.areOxygenSensorMonitorsComplete(false));
    EXPECT_FALSE(repository.areOxygenSensorMonitorsComplete(false));

    EXPECT_CALL(*strict, areOxygenSensorMonitorsComplete()).WillOnce(Return(true));
    root->connection->fireEcuChanged();
    EXPECT_TRUE(repository.areOxygenSensorMonitorsComplete(false));
    EXPECT_TRUE(repository.areOxygenSensorMonitorsComplete(false));
}

TEST_F(DiagnosticsRepositoryTest, CompletenessRefreshReplacesTheInitialFalse) {
    DiagnosticsRepository repository(root);
    EXPECT_CALL(*service, areOxygenSensorMonitorsComplete())
        .WillOnce(Return(true))
        .WillOnce([]() -> bool { ThrowBusError(); });
    EXPECT_TRUE(repository.areOxygenSensorMonitorsComplete(true));
    EXPECT_THROW(repository.areOxygenSensorMonitorsComplete(true), std::runtime_error);
    EXPECT_TRUE(repository.areOxygenSensorMonitorsComplete(false));
}

// --- vehicle operation data --------------------------------------------------

TEST_F(DiagnosticsRepositoryTest, VehicleOperationDataAsksTheFourItemsInOrder) {
    DiagnosticsRepository repository(root);
    const Vod run = MakeVod("run"), fuel = MakeVod("fuel"), pke = MakeVod("pke"),
              psa = MakeVod("psa");
    InSequence order;
    for (int round = 0; round < 2; ++round) {
        EXPECT_CALL(*service, getVodEngineRunIdleTime()).WillOnce(Return(run));
        EXPECT_CALL(*service, getVodFuelDistanceUsed()).WillOnce(Return(fuel));
        EXPECT_CALL(*service, getVodPkeEoe()).WillOnce(Return(pke));
        EXPECT_CALL(*service, getVodPsa()).WillOnce(Return(psa));
    }
    EXPECT_THAT(repository.getVehicleOperationData(true), ElementsAre(run, fuel, pke, psa));
    EXPECT_THAT(repository.getVehicleOperationData(true), ElementsAre(run, fuel, pke, psa));
}

TEST_F(DiagnosticsRepositoryTest, MissingItemsAreSkippedAndCachedAsMissing) {
    auto strict = useStrictService();
    DiagnosticsRepository repository(root);
    const Vod run = MakeVod("run"), fuel = MakeVod("fuel"), psa = MakeVod("psa");
    EXPECT_CALL(*strict, getVodEngineRunIdleTime()).WillOnce(Return(run));
    EXPECT_CALL(*strict, getVodFuelDistanceUsed()).WillOnce(Return(fuel));
    EXPECT_CALL(*strict, getVodPkeEoe()).WillOnce(Return(nullptr));
    EXPECT_CALL(*strict, getVodPsa()).WillOnce(Return(psa));

    EXPECT_THAT(repository.getVehicleOperationData(false), ElementsAre(run, fuel, psa));
    EXPECT_THAT(repository.getVehicleOperationData(false), ElementsAre(run, fuel, psa));
}

TEST_F(DiagnosticsRepositoryTest, NoItemsGiveAnEmptyListFromTheCacheToo) {
    auto strict = useStrictService();
    DiagnosticsRepository repository(root);
    EXPECT_CALL(*strict, getVodEngineRunIdleTime()).WillOnce(Return(nullptr));
    EXPECT_CALL(*strict, getVodFuelDistanceUsed()).WillOnce(Return(nullptr));
    EXPECT_CALL(*strict, getVodPkeEoe()).WillOnce(Return(nullptr));
    EXPECT_CALL(*strict, getVodPsa()).WillOnce(Return(nullptr));

    EXPECT_THAT(repository.getVehicleOperationData(false), IsEmpty());
    EXPECT_THAT(repository.getVehicleOperationData(false), IsEmpty());
}

TEST_F(DiagnosticsRepositoryTest, FailedItemKeepsItsCacheAndTheItemsBefore) {
    DiagnosticsRepository repository(root);
    const Vod run = MakeVod("run"), fuel = MakeVod("fuel"), pke = MakeVod("pke"),
              psa = MakeVod("psa"), newRun = MakeVod("new run");
    EXPECT_CALL(*service, getVodEngineRunIdleTime()).WillOnce(Return(run)).WillOnce(Return(newRun));
    EXPECT_CALL(*service, getVodFuelDistanceUsed()).WillOnce(Return(fuel)).WillOnce([]() -> Vod {
        ThrowBusError();
    });
    EXPECT_CALL(*service, getVodPkeEoe()).WillOnce(Return(pke));
    EXPECT_CALL(*service, getVodPsa()).WillOnce(Return(psa));

    repository.getVehicleOperationData(false);
    EXPECT_THROW(repository.getVehicleOperationData(true), std::runtime_error);
    // The item before the failure was refreshed; the failed one and the two
    // never reached keep what they held.
    EXPECT_THAT(repository.getVehicleOperationData(false), ElementsAre(newRun, fuel, pke, psa));
}

// --- concurrency -------------------------------------------------------------

TEST_F(DiagnosticsRepositoryTest, GettersAndConnectionEventsFromSeveralThreads) {
    DiagnosticsRepository repository(root);
    const auto a = OxygenSensorLocation::Bank1Sensor1, b = OxygenSensorLocation::Bank1Sensor2;
    const Readiness readiness{MakeReadiness("Catalyst")};
    const OxygenMonitors ofA{MakeOxygenMonitor(a)}, ofB{MakeOxygenMonitor(b)};
    const Vod run = MakeVod("run"), psa = MakeVod("psa");
    ON_CALL(*service, getReadinessMonitorsSinceReset).WillByDefault(Return(readiness));
    ON_CALL(*service, getReadinessMonitorsThisCycle).WillByDefault(Return(readiness));
    ON_CALL(*service, getOxygenSensorMonitors(a)).WillByDefault(Return(ofA));
    ON_CALL(*service, getOxygenSensorMonitors(b)).WillByDefault(Return(ofB));
    ON_CALL(*service, areOxygenSensorMonitorsComplete).WillByDefault(Return(true));
    ON_CALL(*service, getVodEngineRunIdleTime).WillByDefault(Return(run));
    ON_CALL(*service, getVodPsa).WillByDefault(Return(psa));

    zelt::testing::RunGettersDuringEvents(*root->connection, 200, 100, [&](int round, int t) {
        const bool refresh = round % 3 == t;
        EXPECT_EQ(repository.getReadinessMonitorsThisCycle(refresh), readiness);
        EXPECT_EQ(repository.getOxygenSensorMonitors(round % 2 ? a : b, refresh),
                  round % 2 ? ofA : ofB);
        repository.areOxygenSensorMonitorsComplete(refresh);
        // Items are never half-built: a list holds the present items in order.
        EXPECT_THAT(repository.getVehicleOperationData(refresh), ElementsAre(run, psa));
    });
}

}  // namespace
