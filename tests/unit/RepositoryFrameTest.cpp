// What every repository shares: it builds its services from one connection
// service, is attached to it for exactly its own lifetime, asks it whether
// the vehicle is connected, and drops cached answers on connection events.
// Each repository's own test file covers what only it does.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CoreMocks.h"
#include "CoreRecords.h"
#include "zelt/DiagnosticsRepository.h"
#include "zelt/DongleRepository.h"
#include "zelt/EcuRepository.h"
#include "zelt/ParameterRepository.h"
#include "zelt/RoutineRepository.h"
#include "zelt/TroubleCodeRepository.h"

namespace {

using ::testing::Return;
using zelt::testing::FakeRoot;
using Id = obd::ParameterIdentifier::Id;

// A connection event, as the fake connection service fires it.
using Event = void (zelt::testing::MockConnectionService::*)();
const Event kOpened = &zelt::testing::MockConnectionService::fireConnectionOpened;
const Event kEcuChanged = &zelt::testing::MockConnectionService::fireEcuChanged;
const Event kClosed = &zelt::testing::MockConnectionService::fireConnectionClosed;

// Most caches are emptied by every connection event.
struct EmptiedByEveryEvent {
    static bool empties(Event) { return true; }
};

// Per repository: how many domain services it builds, one cached getter
// (`use`) with the core call that fills it (`expectFetches`), and which
// connection events empty that cache.

struct Routines : EmptiedByEveryEvent {
    static constexpr const char* kName = "Routine";
    using Repository = zelt::RoutineRepository;
    static constexpr std::size_t kServices = 1;
    static void expectFetches(FakeRoot& root, int times) {
        // An empty list is not cached, so the core answers with a routine.
        EXPECT_CALL(*root.routines, getTestRoutines())
            .Times(times)
            .WillRepeatedly(Return(std::vector<std::shared_ptr<obd::TestRoutineDataModel>>{
                zelt::testing::MakeRoutine(1)}));
    }
    static void use(Repository& repository) { repository.getTestRoutines(false); }
};

struct Diagnostics : EmptiedByEveryEvent {
    static constexpr const char* kName = "Diagnostics";
    using Repository = zelt::DiagnosticsRepository;
    static constexpr std::size_t kServices = 1;
    static void expectFetches(FakeRoot& root, int times) {
        EXPECT_CALL(*root.diagnostics, getDiagnosticMonitors()).Times(times);
    }
    static void use(Repository& repository) { repository.getDiagnosticMonitors(false); }
};

struct TroubleCodes : EmptiedByEveryEvent {
    static constexpr const char* kName = "TroubleCode";
    using Repository = zelt::TroubleCodeRepository;
    static constexpr std::size_t kServices = 2;  // trouble codes and sensors
    static void expectFetches(FakeRoot& root, int times) {
        EXPECT_CALL(*root.troubleCodes, readConfirmedCodes()).Times(times);
    }
    static void use(Repository& repository) { repository.getConfirmedCodes(false); }
};

struct Ecus : EmptiedByEveryEvent {
    static constexpr const char* kName = "Ecu";
    using Repository = zelt::EcuRepository;
    static constexpr std::size_t kServices = 1;
    static void expectFetches(FakeRoot& root, int times) {
        ON_CALL(*root.ecu, isVinSupported).WillByDefault(Return(true));
        EXPECT_CALL(*root.ecu, readVin).Times(times).WillRepeatedly(Return("VIN"));
    }
    static void use(Repository& repository) { repository.getIdentificationNumber(false); }
};

struct Parameters : EmptiedByEveryEvent {
    static constexpr const char* kName = "Parameter";
    using Repository = zelt::ParameterRepository;
    static constexpr std::size_t kServices = 1;
    static void expectFetches(FakeRoot& root, int times) {
        // An empty list is not cached, so the core answers with a PID.
        EXPECT_CALL(*root.sensors, getPids)
            .Times(times)
            .WillRepeatedly(Return(std::vector<Id>{Id::EngineSpeed}));
    }
    static void use(Repository& repository) { repository.getPids(); }
};

struct Dongles {
    static constexpr const char* kName = "Dongle";
    using Repository = zelt::DongleRepository;
    static constexpr std::size_t kServices = 2;  // troubleshooting and sensors
    static void expectFetches(FakeRoot& root, int times) {
        EXPECT_CALL(*root.sensors, getSensors(Id::BatteryVoltage))
            .Times(times)
            .WillRepeatedly(Return(
                std::vector<std::shared_ptr<obd::SensorDataModel>>{zelt::testing::MakeSensorData(
                    Id::BatteryVoltage, "battery", "12.4", MeasurementUnit::Volt)}));
    }
    static void use(Repository& repository) { repository.getBatteryVoltage(false); }
    // The adapter's voltage stays what it was until another ECU answers.
    static bool empties(Event event) { return event == kEcuChanged; }
};

template <typename Traits>
class RepositoryFrameTest : public ::testing::Test {
protected:
    using Repository = typename Traits::Repository;

    std::shared_ptr<FakeRoot> root = std::make_shared<FakeRoot>();
};

using Repositories =
    ::testing::Types<Routines, Diagnostics, TroubleCodes, Ecus, Parameters, Dongles>;

// Names the cases after the repository, e.g. RepositoryFrameTest/Routine.
struct RepositoryNames {
    template <typename Traits>
    static std::string GetName(int) {
        return Traits::kName;
    }
};

TYPED_TEST_SUITE(RepositoryFrameTest, Repositories, RepositoryNames);

TYPED_TEST(RepositoryFrameTest, ConstructionBuildsEveryServiceFromOneConnectionAndAttachesOnce) {
    using ::testing::_;
    FakeRoot& root = *this->root;
    EXPECT_CALL(*root.connection, attach(_));
    typename TestFixture::Repository repository(this->root);
    EXPECT_EQ(root.connectionsPassed, std::vector<std::shared_ptr<obd::IConnectionService>>(
                                          TypeParam::kServices, root.connection));
    EXPECT_EQ(root.connection->getObserverCount(), 1u);
}

TYPED_TEST(RepositoryFrameTest, DestructionDetachesWhatItAttached) {
    FakeRoot& root = *this->root;
    auto repository = std::make_unique<typename TestFixture::Repository>(this->root);
    ASSERT_EQ(root.connection->getObserverCount(), 1u);
    EXPECT_CALL(*root.connection, detach(root.connection->observers().at(0)));
    repository.reset();
    EXPECT_EQ(root.connection->getObserverCount(), 0u);
}

TYPED_TEST(RepositoryFrameTest, IsConnectedAsksTheConnectionServiceEveryTime) {
    typename TestFixture::Repository repository(this->root);
    EXPECT_CALL(*this->root->connection, isConnected())
        .WillOnce(Return(true))
        .WillOnce(Return(false));
    EXPECT_TRUE(repository.isConnected());
    EXPECT_FALSE(repository.isConnected());
}

TYPED_TEST(RepositoryFrameTest, ConnectionEventsEmptyTheCacheExactlyWhereTheyShould) {
    const std::vector<std::pair<const char*, Event>> events = {
        {"opened", kOpened}, {"ECU changed", kEcuChanged}, {"closed", kClosed}};
    for (const auto& [name, event] : events) {
        SCOPED_TRACE(name);
        // A root of its own per event, whose mocks check their calls when the
        // repository lets go of them.
        auto root = std::make_shared<FakeRoot>();
        TypeParam::expectFetches(*root, TypeParam::empties(event) ? 2 : 1);
        typename TestFixture::Repository repository(root);
        TypeParam::use(repository);
        TypeParam::use(repository);  // from the cache
        ((*root->connection).*event)();
        TypeParam::use(repository);
        TypeParam::use(repository);
    }
}

}  // namespace
