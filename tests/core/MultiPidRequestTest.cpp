// Several service 01 PIDs in one request, and operations that keep to the
// ECU they started with.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bus/Hex.h"
#include "events/EventDispatcher.h"
#include "obd/sim/Scenario.h"
#include "services/Services.h"
#include "sim/SimulatedBus.h"

namespace {

using obd::DataLinkProtocol;
using obd::detail::Bytes;
using obd::detail::EcuResponse;
using obd::detail::SplitCurrentData;
using obd::sim::Scenario;
using Id = obd::ParameterIdentifier::Id;
using ::testing::ElementsAre;
using ::testing::Pair;

constexpr std::uint32_t kEngine = 0x7E8;
constexpr std::uint32_t kTransmission = 0x7E9;

Bytes Hex(const char* text) {
    return *obd::bus::ParseHex(text);
}

TEST(SplitCurrentDataTest, SplitsEachPidByItsLength) {
    // Engine speed (2 bytes), vehicle speed (1), coolant temperature (1).
    EXPECT_THAT(
        *SplitCurrentData(Hex("0C 1A F8 0D 32 05 5A"), {0x0C, 0x0D, 0x05}),
        ElementsAre(Pair(0x05, Hex("5A")), Pair(0x0C, Hex("1A F8")), Pair(0x0D, Hex("32"))));
    // Support bitmaps are four bytes each.
    EXPECT_THAT(*SplitCurrentData(Hex("00 BE 1F A8 13 20 80 01 80 01"), {0x00, 0x20, 0x40}),
                ElementsAre(Pair(0x00, Hex("BE 1F A8 13")), Pair(0x20, Hex("80 01 80 01"))));
}

TEST(SplitCurrentDataTest, PidTheEcuLeftOutIsMissing) {
    EXPECT_THAT(*SplitCurrentData(Hex("0D 32"), {0x0C, 0x0D, 0x05}),
                ElementsAre(Pair(0x0D, Hex("32"))));
    EXPECT_TRUE(SplitCurrentData(Bytes{}, {0x0C})->empty());
}

TEST(SplitCurrentDataTest, AnswerThatDoesNotSplitCleanlyGivesNothing) {
    const std::vector<std::uint8_t> asked{0x0C, 0x0D, 0x05};
    // A byte left over: some PID was longer than its length says.
    EXPECT_FALSE(SplitCurrentData(Hex("0C 1A F8 0D 32 05 5A 00"), asked));
    // Cut short inside engine speed.
    EXPECT_FALSE(SplitCurrentData(Hex("0D 32 0C 1A"), asked));
    // One byte too few for engine speed, so "0D" would be read as its data.
    EXPECT_FALSE(SplitCurrentData(Hex("0C 1A 0D 32"), asked));
    // A PID nobody asked for, one answered twice, one of unknown length.
    EXPECT_FALSE(SplitCurrentData(Hex("0D 32 11 40"), asked));
    EXPECT_FALSE(SplitCurrentData(Hex("0D 32 0D 33"), asked));
    EXPECT_FALSE(SplitCurrentData(Hex("0D 32 A5 01"), {0x0D, 0xA5}));
}

// The simulated bus of the built-in vehicle with its clock standing still,
// so that two reads see the same live values; every request passes through
// the test, which may answer it itself or act before it goes on.
class RecordingChannel : public obd::detail::IRequestChannel {
public:
    RecordingChannel() : bus_(*Scenario::builtIn().model(), [] { return 12.5; }) {}

    std::vector<EcuResponse> transact(const Bytes& request, std::uint32_t ecu) override {
        requests.push_back({ecu, request});
        if (beforeRequest) {
            beforeRequest(requests.size());
        }
        if (answer) {
            if (auto replaced = answer(request, ecu)) {
                return *replaced;
            }
        }
        return bus_.transact(request, ecu);
    }
    std::optional<double> readBatteryVoltage() override { return bus_.readBatteryVoltage(); }
    void restartClock() override { bus_.restartClock(); }

    std::vector<EcuResponse> requests;  // ecu and request bytes
    std::function<void(std::size_t count)> beforeRequest;
    std::function<std::optional<std::vector<EcuResponse>>(const Bytes&, std::uint32_t)> answer;

private:
    obd::sim::SimulatedBus bus_;
};

class MultiPidRequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(connection->open());
        channel->requests.clear();
    }

    // Each parameter as "0C=1500;..." with its sensors' value texts.
    static std::vector<std::string> Describe(
        const std::vector<std::shared_ptr<obd::ParameterDataModel>>& parameters) {
        std::vector<std::string> lines;
        for (const auto& parameter : parameters) {
            std::string line = std::to_string(static_cast<int>(parameter->pid)) + "=";
            for (const auto& sensor : parameter->sensors) {
                line += sensor->name + ":" + sensor->value->value + ";";
            }
            lines.push_back(line);
        }
        return lines;
    }

    std::size_t serviceOneRequests() const {
        std::size_t count = 0;
        for (const auto& request : channel->requests) {
            count += request.payload.front() == 0x01 ? 1 : 0;
        }
        return count;
    }

    const std::shared_ptr<RecordingChannel> channel = std::make_shared<RecordingChannel>();
    const std::shared_ptr<obd::detail::VehicleConnection> connection =
        std::make_shared<obd::detail::VehicleConnection>(
            channel, nullptr, DataLinkProtocol::Iso15765Can11Bit500k,
            std::make_shared<obd::detail::EventDispatcher>());
    obd::detail::EcuService ecuService{connection};
    obd::detail::SensorService sensorService{connection};
};

TEST_F(MultiPidRequestTest, FullScanBatchedEqualsOneRequestPerPid) {
    connection->setMultiPidRequests(false);
    const auto single = Describe(ecuService.readParameters());
    const std::size_t singleRequests = serviceOneRequests();
    channel->requests.clear();
    connection->setMultiPidRequests(true);
    const auto batched = Describe(ecuService.readParameters());
    const std::size_t batchedRequests = serviceOneRequests();

    ASSERT_EQ(single.size(), 37u);  // every PID the engine announces
    EXPECT_EQ(batched, single);
    // 6 bitmaps (0x00 to 0xA0) and 37 PIDs one by one; 1 + 7 requests together.
    EXPECT_EQ(singleRequests, 43u);
    EXPECT_EQ(batchedRequests, 8u);
    for (const auto& request : channel->requests) {
        EXPECT_LE(request.payload.size(), 7u);
    }
}

TEST_F(MultiPidRequestTest, ReadParametersKeepsTheOrderAskedAndLeavesOutUnanswered) {
    const std::vector<Id> asked{Id::VehicleSpeed, static_cast<Id>(0x0A), Id::EngineSpeed,
                                static_cast<Id>(0xF4), Id::EngineSpeed};
    connection->setMultiPidRequests(false);
    const auto single = Describe(sensorService.readParameters(asked));
    connection->setMultiPidRequests(true);
    channel->requests.clear();
    const auto batched = Describe(sensorService.readParameters(asked));

    EXPECT_EQ(batched, single);
    ASSERT_EQ(batched.size(), 4u);  // 0x0A is not supported
    EXPECT_EQ(batched[0].substr(0, 3), "13=");
    EXPECT_EQ(batched[1].substr(0, 3), "12=");
    EXPECT_EQ(batched[3].substr(0, 3), "12=");
    ASSERT_EQ(channel->requests.size(), 1u);
    EXPECT_EQ(channel->requests[0].payload, Hex("01 0D 0A 0C"));
}

TEST_F(MultiPidRequestTest, OddAnswerIsAskedForAgainOnePidAtATime) {
    // An ECU that answers a multi-PID request with one byte too many:
    // nothing of it may be taken for a PID's value.
    channel->answer = [](const Bytes& request,
                         std::uint32_t ecu) -> std::optional<std::vector<EcuResponse>> {
        if (request.size() > 2) {
            return std::vector<EcuResponse>{{ecu, Hex("41 0D 32 0C 1A F8 99")}};
        }
        return std::nullopt;
    };
    const auto parameters = sensorService.readParameters({Id::VehicleSpeed, Id::EngineSpeed});
    connection->setMultiPidRequests(false);
    channel->answer = nullptr;
    EXPECT_EQ(Describe(parameters),
              Describe(sensorService.readParameters({Id::VehicleSpeed, Id::EngineSpeed})));
}

TEST_F(MultiPidRequestTest, EcuThatRefusesSeveralPidsAtOnceLosesNothing) {
    connection->setMultiPidRequests(false);
    const auto single = Describe(ecuService.readParameters());
    connection->setMultiPidRequests(true);
    // A refusal (negative response) and a silence both leave every PID of
    // the batch to be read on its own, the support bitmaps included.
    for (const Bytes& refusal : {Hex("7F 01 12"), Bytes()}) {
        channel->answer = [refusal](const Bytes& request,
                                    std::uint32_t ecu) -> std::optional<std::vector<EcuResponse>> {
            if (request.size() <= 2) {
                return std::nullopt;
            }
            if (refusal.empty()) {
                return std::vector<EcuResponse>{};
            }
            return std::vector<EcuResponse>{{ecu, refusal}};
        };
        EXPECT_EQ(Describe(ecuService.readParameters()), single);
    }
}

TEST_F(MultiPidRequestTest, OtherThanCanIsAskedOnePidAtATime) {
    const auto kLine = std::make_shared<obd::detail::VehicleConnection>(
        channel, nullptr, DataLinkProtocol::Iso9141,
        std::make_shared<obd::detail::EventDispatcher>());
    ASSERT_TRUE(kLine->open());
    EXPECT_FALSE(kLine->multiPidRequests());
    channel->requests.clear();
    obd::detail::SensorService sensors(kLine);
    EXPECT_EQ(sensors.readParameters({Id::VehicleSpeed, Id::EngineSpeed}).size(), 2u);
    EXPECT_EQ(channel->requests.size(), 2u);
}

// Another thread selects the other ECU while an operation is between two
// of its requests: the operation still asks its first ECU only.
TEST_F(MultiPidRequestTest, OperationKeepsToTheEcuItStartedWith) {
    obd::detail::TroubleCodeService codes(connection);
    obd::detail::RoutineService routines(connection);
    obd::detail::DiagnosticsService diagnostics(connection);
    const std::vector<std::pair<const char*, std::function<void()>>> operations{
        {"readParameters", [&] { ecuService.readParameters(); }},
        {"readParameters(pids)",
         [&] {
             sensorService.readParameters({Id::EngineSpeed, Id::EngineCoolantTemperature});
         }},
        {"getPids", [&] { sensorService.getPids(); }},
        {"isSupported", [&] { sensorService.isSupported(Id::VehicleSpeed); }},
        {"readFreezeFrameCount", [&] { codes.readFreezeFrameCount(); }},
        {"readFreezeFramePids", [&] { codes.readFreezeFramePids(0); }},
        {"getTestRoutines", [&] { routines.getTestRoutines(); }},
        {"activateTestRoutine", [&] { routines.activateTestRoutine(1); }},
        {"getDiagnosticMonitors", [&] { diagnostics.getDiagnosticMonitors(); }},
        {"getPerformanceCounters", [&] { diagnostics.getPerformanceCounters(); }},
        {"getOxygenSensorLocations", [&] { diagnostics.getOxygenSensorLocations(); }},
        {"getVodEngineRunIdleTime", [&] { diagnostics.getVodEngineRunIdleTime(); }},
    };
    for (bool batched : {false, true}) {
        connection->setMultiPidRequests(batched);
        for (const auto& [name, operation] : operations) {
            ASSERT_TRUE(connection->selectEcu(kEngine));
            channel->requests.clear();
            channel->beforeRequest = [this](std::size_t count) {
                if (count == 1) {
                    connection->selectEcu(kTransmission);
                }
            };
            operation();
            channel->beforeRequest = nullptr;
            EXPECT_EQ(connection->selectedEcu(), kTransmission) << name;
            EXPECT_FALSE(channel->requests.empty()) << name;
            for (const auto& request : channel->requests) {
                EXPECT_EQ(request.ecu, kEngine)
                    << name << " batched " << batched << ": " << obd::bus::ToHex(request.payload);
            }
        }
    }
}

}  // namespace
