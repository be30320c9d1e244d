#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>

#include "CoreMocks.h"
#include "CoreRecords.h"
#include "obd/MessageDataModel.h"
#include "obd/ParameterIdentifier.h"
#include "obd/SensorDataModel.h"
#include "zelt/DongleRepository.h"

namespace {

using ::testing::_;
using ::testing::ElementsAre;
using ::testing::InSequence;
using ::testing::IsEmpty;
using ::testing::Pointee;
using ::testing::Return;
using ::testing::StrictMock;
using zelt::DongleRepository;
using zelt::testing::FakeRoot;
using zelt::testing::MakeMessage;
using zelt::testing::MakeSensorData;
using zelt::testing::MockAdapter;
using zelt::testing::MockSensorService;
using Message = std::shared_ptr<obd::MessageDataModel>;
using Sensors = std::vector<std::shared_ptr<obd::SensorDataModel>>;

constexpr auto kBatteryVoltage = obd::ParameterIdentifier::Id::BatteryVoltage;

// The adapter's reading of the battery voltage.
std::shared_ptr<obd::SensorDataModel> MakeSensor(const std::string& value) {
    return MakeSensorData(kBatteryVoltage, "battery", value, MeasurementUnit::Volt);
}

// A sensor the core sends without a reading.
std::shared_ptr<obd::SensorDataModel> MakeSensorWithoutValue() {
    auto sensor = MakeSensor("");
    sensor->value = nullptr;
    return sensor;
}

class DongleRepositoryTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeRoot> root = std::make_shared<FakeRoot>();
    std::shared_ptr<MockSensorService> sensors = root->sensors;
};

// --- the order of its two attachments (the rest: RepositoryFrameTest) --------

TEST_F(DongleRepositoryTest, AttachesToTheTroubleshootingServiceBeforeTheConnectionService) {
    {
        InSequence order;
        EXPECT_CALL(*root->troubleshooting, attach(_));
        EXPECT_CALL(*root->connection, attach(_));
    }
    DongleRepository repository(root);
    EXPECT_THAT(root->connectionsPassed, ElementsAre(root->connection, root->connection));
}

TEST_F(DongleRepositoryTest, DetachesFromTheConnectionServiceFirstWhenDestroyed) {
    auto repository = std::make_unique<DongleRepository>(root);
    {
        InSequence order;
        EXPECT_CALL(*root->connection, detach(root->connection->observers().at(0)));
        EXPECT_CALL(*root->troubleshooting, detach(root->troubleshooting->observers().at(0)));
    }
    repository.reset();
    EXPECT_EQ(root->connection->getObserverCount(), 0u);
    EXPECT_EQ(root->troubleshooting->getObserverCount(), 0u);
}

// --- messages ----------------------------------------------------------------

TEST_F(DongleRepositoryTest, MessagesAreKeptInReportedOrderUntilTheCacheIsCleared) {
    DongleRepository repository(root);
    EXPECT_THAT(repository.getMessages(), IsEmpty());

    const Message first = MakeMessage(1), second = MakeMessage(2);
    root->troubleshooting->fireLogEntry(first);
    root->troubleshooting->fireLogEntry(second);
    root->troubleshooting->fireLogEntry(nullptr);
    root->troubleshooting->fireLogEntry(first);  // not deduplicated
    EXPECT_THAT(repository.getMessages(), ElementsAre(first, second, nullptr, first));

    repository.clearCache();
    EXPECT_THAT(repository.getMessages(), IsEmpty());
}

TEST_F(DongleRepositoryTest, OnlyAnEcuChangeEmptiesTheVoltageAndNoEventEmptiesTheMessages) {
    DongleRepository repository(root);
    EXPECT_CALL(*sensors, getSensors(kBatteryVoltage))
        .Times(2)
        .WillRepeatedly(Return(Sensors{MakeSensor("12.4")}));
    const Message entry = MakeMessage(1);
    root->troubleshooting->fireLogEntry(entry);

    repository.getBatteryVoltage(false);
    root->connection->fireConnectionOpened();
    root->connection->fireConnectionClosed();
    repository.getBatteryVoltage(false);  // still cached
    root->connection->fireEcuChanged();
    repository.getBatteryVoltage(false);  // asks again
    EXPECT_THAT(repository.getMessages(), ElementsAre(entry));
}

// Entries reported from several threads while getMessages() runs: each list
// handed out extends the previous one, and in the end none is lost and each
// thread's entries are in the order it reported them.
TEST_F(DongleRepositoryTest, ConcurrentLogEntriesAreAllKeptInPerThreadOrder) {
    DongleRepository repository(root);
    constexpr int kThreads = 4;
    constexpr int kPerThread = 500;

    std::promise<void> go;
    std::shared_future<void> start = go.get_future().share();
    std::atomic<int> finished{0};
    std::vector<std::thread> reporters;
    reporters.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        reporters.emplace_back([&, t] {
            start.wait();
            for (int i = 0; i < kPerThread; ++i) {
                root->troubleshooting->fireLogEntry(MakeMessage(i, std::to_string(t)));
            }
            ++finished;
        });
    }

    std::vector<Message> previous;
    bool alwaysExtended = true;
    auto take = [&] {
        auto current = repository.getMessages();
        alwaysExtended = alwaysExtended && current.size() >= previous.size() &&
                         std::equal(previous.begin(), previous.end(), current.begin());
        previous = std::move(current);
    };
    go.set_value();
    while (finished.load() < kThreads) {
        take();
    }
    for (auto& reporter : reporters) {
        reporter.join();
    }
    take();

    EXPECT_TRUE(alwaysExtended);
    const auto& all = previous;
    ASSERT_EQ(all.size(), static_cast<std::size_t>(kThreads * kPerThread));
    std::vector<std::uint64_t> next(kThreads, 0);
    for (const auto& message : all) {
        const int thread = std::stoi(message->text);
        EXPECT_EQ(message->sequence, next[thread]++);
    }
}

// --- battery voltage ---------------------------------------------------------

TEST_F(DongleRepositoryTest, BatteryVoltageIsTheFirstValueTextWithItsUnitAndIsCached) {
    DongleRepository repository(root);
    EXPECT_CALL(*sensors, getSensors(kBatteryVoltage))
        .WillOnce(Return(Sensors{MakeSensor("12.4"), MakeSensor("9.9")}));

    const auto first = repository.getBatteryVoltage(false);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(*first, "12.4 V");
    EXPECT_EQ(repository.getBatteryVoltage(false), first);  // the same shared text
}

TEST_F(DongleRepositoryTest, RefreshReadsTheVoltageAgainAndReplacesTheCache) {
    DongleRepository repository(root);
    EXPECT_CALL(*sensors, getSensors(kBatteryVoltage))
        .WillOnce(Return(Sensors{MakeSensor("12.4")}))
        .WillOnce(Return(Sensors{MakeSensor("13.1")}));

    repository.getBatteryVoltage(false);
    EXPECT_THAT(repository.getBatteryVoltage(true), Pointee(std::string("13.1 V")));
    EXPECT_THAT(repository.getBatteryVoltage(false), Pointee(std::string("13.1 V")));
}

TEST_F(DongleRepositoryTest, AnswerWithoutAReadingIsNullAndKeepsTheCachedVoltage) {
    DongleRepository repository(root);
    EXPECT_CALL(*sensors, getSensors(kBatteryVoltage))
        .WillOnce(Return(Sensors{}))                          // nothing cached yet
        .WillOnce(Return(Sensors{MakeSensor("12.4")}))        // cached
        .WillOnce(Return(Sensors{}))                          // no sensor
        .WillOnce(Return(Sensors{MakeSensorWithoutValue()}))  // no value data
        .WillOnce(Return(Sensors{nullptr}));                  // no sensor record

    EXPECT_EQ(repository.getBatteryVoltage(false), nullptr);
    const auto cached = repository.getBatteryVoltage(false);
    EXPECT_EQ(repository.getBatteryVoltage(true), nullptr);
    EXPECT_EQ(repository.getBatteryVoltage(true), nullptr);
    EXPECT_EQ(repository.getBatteryVoltage(true), nullptr);
    EXPECT_EQ(repository.getBatteryVoltage(false), cached);  // from the cache
}

TEST_F(DongleRepositoryTest, FailedVoltageReadPassesTheExceptionAndKeepsTheCache) {
    DongleRepository repository(root);
    EXPECT_CALL(*sensors, getSensors(kBatteryVoltage))
        .WillOnce(Return(Sensors{MakeSensor("12.4")}))
        .WillOnce([](auto) -> Sensors { throw std::runtime_error("adapter gone"); });

    const auto cached = repository.getBatteryVoltage(false);
    EXPECT_THROW(repository.getBatteryVoltage(true), std::runtime_error);
    EXPECT_EQ(repository.getBatteryVoltage(false), cached);
}

TEST_F(DongleRepositoryTest, SecondCallerWaitsForTheFirstAndGetsItsVoltage) {
    DongleRepository repository(root);
    std::promise<void> insideCore;
    std::promise<void> releaseCore;
    auto release = releaseCore.get_future().share();
    EXPECT_CALL(*sensors, getSensors(kBatteryVoltage)).WillOnce([&](auto) {
        insideCore.set_value();
        release.wait();
        return Sensors{MakeSensor("12.4")};
    });

    auto first =
        std::async(std::launch::async, [&] { return repository.getBatteryVoltage(false); });
    insideCore.get_future().wait();
    auto second =
        std::async(std::launch::async, [&] { return repository.getBatteryVoltage(false); });
    releaseCore.set_value();
    const auto text = first.get();
    EXPECT_EQ(second.get(), text);
}

// --- adapter and troubleshooting ---------------------------------------------

TEST_F(DongleRepositoryTest, HardwareTextsAreNullWithoutAnAdapter) {
    DongleRepository repository(root);
    EXPECT_CALL(*root->connection, getAdapter()).Times(3).WillRepeatedly(Return(nullptr));
    EXPECT_EQ(repository.getHardwareName(), nullptr);
    EXPECT_EQ(repository.getHardwareDescription(), nullptr);
    EXPECT_EQ(repository.getHardwareIdentification(), nullptr);
}

TEST_F(DongleRepositoryTest, HardwareTextsAreNullWhenEmptyAndFreshOnEveryCall) {
    DongleRepository repository(root);
    auto adapter = std::make_shared<StrictMock<MockAdapter>>();
    ON_CALL(*root->connection, getAdapter()).WillByDefault(Return(adapter));
    EXPECT_CALL(*adapter, getName()).WillOnce(Return(""));
    EXPECT_CALL(*adapter, getDescription()).Times(2).WillRepeatedly(Return("OBDII to RS232"));
    EXPECT_CALL(*adapter, getIdentification()).WillOnce(Return("ELM327 v1.5"));

    EXPECT_EQ(repository.getHardwareName(), nullptr);
    const auto first = repository.getHardwareDescription();
    const auto second = repository.getHardwareDescription();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(*first, *second);
    EXPECT_THAT(repository.getHardwareIdentification(), Pointee(std::string("ELM327 v1.5")));
}

TEST_F(DongleRepositoryTest, MessagesAndDataLogSwitchesGoToTheTroubleshootingService) {
    DongleRepository repository(root);
    auto& service = *root->troubleshooting;
    EXPECT_CALL(service, sendMessage("ATRV", 250u)).WillOnce(Return("12.4V\r>"));
    EXPECT_CALL(service, sendMessage("ATZ", 0u)).WillOnce(Return(""));
    EXPECT_EQ(repository.sendMessage("ATRV", 250), "12.4V\r>");
    EXPECT_EQ(repository.sendMessage("ATZ", 0), "");

    {
        InSequence order;
        EXPECT_CALL(service, enableDataLog());
        EXPECT_CALL(service, isDataLogEnabled()).WillOnce(Return(true));
        EXPECT_CALL(service, disableDataLog());
        EXPECT_CALL(service, isDataLogEnabled()).WillOnce(Return(false));
    }
    repository.enableDataLog();
    EXPECT_TRUE(repository.isDataLogEnabled());
    repository.disableDataLog();
    EXPECT_FALSE(repository.isDataLogEnabled());
}

}  // namespace
