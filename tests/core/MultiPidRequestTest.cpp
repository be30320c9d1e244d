// Several service 01 PIDs in one request, and operations that keep to the
// ECU they started with.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bus/Hex.h"
#include "bus/RequestChannel.h"
#include "events/EventDispatcher.h"
#include "obd/ParameterIdentifier.h"
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
        std::vector<EcuResponse> responses = bus_.transact(request, ecu);
        if (edit) {
            edit(request, responses);
        }
        return responses;
    }
    std::optional<double> readBatteryVoltage() override { return bus_.readBatteryVoltage(); }
    void restartClock() override { bus_.restartClock(); }
    bool lastRequestFailed() const override { return failing; }

    std::vector<EcuResponse> requests;  // ecu and request bytes
    std::function<void(std::size_t count)> beforeRequest;
    std::function<std::optional<std::vector<EcuResponse>>(const Bytes&, std::uint32_t)> answer;
    std::function<void(const Bytes&, std::vector<EcuResponse>&)> edit;  // the vehicle's answers
    bool failing = false;  // every request fails, as an adapter error would

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
    // 6 bitmaps (0x00 to 0xA0) and 37 PIDs one by one; then, the bitmaps
    // being known for the connection, 7 requests of up to six PIDs.
    EXPECT_EQ(singleRequests, 43u);
    EXPECT_EQ(batchedRequests, 7u);
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
    // 0x0A, which the bitmaps leave out, is not asked for.
    ASSERT_EQ(channel->requests.size(), 1u);
    EXPECT_EQ(channel->requests[0].payload, Hex("01 0D 0C"));
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
    obd::detail::SensorService sensors(kLine);
    sensors.getPids();  // the support bitmaps, kept for the connection
    channel->requests.clear();
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
            connection->supportCache().clear();  // each operation asks its bitmaps again
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

// Support bitmaps are read once per connection and ECU.

bool IsBitmapRequest(const Bytes& request) {
    return request.size() >= 2 && request[0] != 0x03 && request[0] != 0x07 && request[0] != 0x0A &&
           obd::IsSupportId(request[1]);
}

TEST_F(MultiPidRequestTest, SupportIsAskedOncePerConnectionAndEcu) {
    obd::detail::TroubleCodeService codes(connection);
    obd::detail::DiagnosticsService diagnostics(connection);
    obd::detail::RoutineService routines(connection);
    auto askEverySupport = [&] {
        sensorService.getPids();
        sensorService.isSupported(Id::VehicleSpeed);
        ecuService.isVinSupported();
        ecuService.readEcuName();
        codes.readFreezeFramePids(0);
        diagnostics.getSupportedMonitorIds();
        diagnostics.getReadinessMonitorsThisCycle();
        routines.isTestRoutineSupported(1);
    };
    auto bitmapRequests = [&] {
        std::size_t count = 0;
        for (const auto& request : channel->requests) {
            count += IsBitmapRequest(request.payload) ? 1 : 0;
        }
        channel->requests.clear();
        return count;
    };
    askEverySupport();
    // Services 01, 06, 08 and 09 each ask for their bitmaps in one request
    // (J1979 lets a CAN request name up to six); freeze frame 0 is one more.
    EXPECT_EQ(bitmapRequests(), 5u);
    askEverySupport();
    EXPECT_EQ(bitmapRequests(), 0u);
    // Another ECU, and a new connection: read afresh.
    ASSERT_TRUE(connection->selectEcu(kTransmission));
    askEverySupport();
    EXPECT_NE(bitmapRequests(), 0u);
    // Back to the first: what it announced is still known.
    ASSERT_TRUE(connection->selectEcu(kEngine));
    askEverySupport();
    EXPECT_EQ(bitmapRequests(), 0u);
    connection->close();
    ASSERT_TRUE(connection->open());
    channel->requests.clear();
    askEverySupport();
    EXPECT_NE(bitmapRequests(), 0u);
}

// A first bitmap answered NO DATA or refused is the ECU's answer, kept for
// the connection; one whose request failed (an adapter error) is asked again.
TEST_F(MultiPidRequestTest, UnansweredFirstBitmapIsAskedAgainOnlyAfterAFailure) {
    const struct {
        std::vector<EcuResponse> answer;  // to 0900
        bool failing;
        bool askedAgain;
    } cases[] = {
        {{}, false, false}, {{{kEngine, Hex("7F 09 12")}}, false, false}, {{}, true, true}};
    for (const auto& c : cases) {
        connection->close();
        ASSERT_TRUE(connection->open());
        channel->answer = [&c](const Bytes& request,
                               std::uint32_t) -> std::optional<std::vector<EcuResponse>> {
            if (request[0] != 0x09 || request[1] != 0x00) {  // alone or with more bitmaps
                return std::nullopt;
            }
            return c.answer;
        };
        channel->failing = c.failing;
        ecuService.isVinSupported();
        channel->requests.clear();
        ecuService.isVinSupported();
        EXPECT_EQ(!channel->requests.empty(), c.askedAgain) << c.answer.size() << c.failing;
    }
    channel->failing = false;
}

// An id whose bit the vehicle's bitmap leaves clear is never asked for,
// however the caller reaches it. The bit of id N in the bitmap of base B is
// bit 7 - (N - B - 1) % 8 of byte (N - B - 1) / 8 after the echoed id.
TEST_F(MultiPidRequestTest, IdTheBitmapsLeaveOutIsNeverRequested) {
    obd::detail::DiagnosticsService diagnostics(connection);
    struct Case {
        Bytes bitmapRequest;  // whose answer loses the id's bit
        std::size_t byte;     // of the four bitmap bytes
        std::uint8_t mask;
        std::uint8_t excluded;
        std::function<void()> operation;
    };
    const std::vector<Case> cases{
        {Hex("01 40"), 0, 0x80, 0x41, [&] { diagnostics.getReadinessMonitorsThisCycle(); }},
        {Hex("01 00"), 1, 0x08, 0x0D,
         [&] {
             sensorService.readParameters({Id::EngineSpeed, Id::VehicleSpeed});
         }},
        {Hex("09 00"), 1, 0x40, 0x0A, [&] { ecuService.readEcuName(); }},
        {Hex("06 00"), 0, 0x80, 0x01,
         [&] { diagnostics.getOxygenSensorMonitors(obd::OxygenSensorLocation(0)); }},
    };
    // Bitmaps one by one, so that each answer is one bitmap.
    connection->setMultiPidRequests(false);
    for (const Case& c : cases) {
        connection->close();
        channel->edit = [&c](const Bytes& request, std::vector<EcuResponse>& responses) {
            for (EcuResponse& response : responses) {
                if (request == c.bitmapRequest && response.payload.size() == 6) {
                    response.payload[2 + c.byte] &= static_cast<std::uint8_t>(~c.mask);
                }
            }
        };
        ASSERT_TRUE(connection->open());
        // The bitmaps, read one by one; then the reads, together where they can.
        sensorService.getPids();
        ecuService.isVinSupported();
        diagnostics.getSupportedMonitorIds();
        connection->setMultiPidRequests(true);
        channel->requests.clear();
        c.operation();
        connection->setMultiPidRequests(false);
        for (const auto& request : channel->requests) {
            const Bytes& asked = request.payload;
            EXPECT_FALSE(asked[0] == c.bitmapRequest[0] &&
                         std::count(asked.begin() + 1, asked.end(), c.excluded) != 0)
                << obd::bus::ToHex(asked);
        }
    }
}

TEST_F(MultiPidRequestTest, RefusedBatchIsNotTriedAgainOnThisConnection) {
    channel->answer = [](const Bytes& request,
                         std::uint32_t ecu) -> std::optional<std::vector<EcuResponse>> {
        if (request.size() > 2) {
            return std::vector<EcuResponse>{{ecu, Hex("7F 01 12")}};
        }
        return std::nullopt;
    };
    auto batches = [&] {
        std::size_t count = 0;
        for (const auto& request : channel->requests) {
            count += request.payload.size() > 2 ? 1 : 0;
        }
        channel->requests.clear();
        return count;
    };
    const std::vector<Id> live{Id::EngineSpeed, Id::VehicleSpeed, Id::EngineCoolantTemperature,
                               static_cast<Id>(0x04)};
    EXPECT_EQ(sensorService.readParameters(live).size(), 4u);
    EXPECT_EQ(batches(), 1u);  // the support bitmaps' request, refused
    EXPECT_EQ(sensorService.readParameters(live).size(), 4u);
    EXPECT_FALSE(ecuService.readParameters().empty());
    EXPECT_EQ(batches(), 0u);
    // A new connection may run through another adapter: it is tried again.
    connection->close();
    ASSERT_TRUE(connection->open());
    channel->requests.clear();
    sensorService.readParameters(live);
    EXPECT_EQ(batches(), 1u);
}

// What a snapshot keeps is asked again after a request that may change the
// vehicle: J1979's clearing, or any service outside J1979's reading ones
// (here the UDS clearing, service 14).
TEST_F(MultiPidRequestTest, SnapshotIsForgottenAfterARequestThatMayChangeTheVehicle) {
    obd::detail::TroubleCodeService codes(connection);
    auto codeRequests = [&] {
        return std::count_if(
            channel->requests.begin(), channel->requests.end(),
            [](const EcuResponse& request) { return request.payload == Hex("03"); });
    };
    connection->answerMemo().hold();
    codes.readConfirmedCodes();
    codes.readConfirmedCodes();
    EXPECT_EQ(codeRequests(), 1);
    for (const char* change : {"14 FF FF FF", "04"}) {
        connection->request(Hex(change), kEngine);
        codes.readConfirmedCodes();
    }
    EXPECT_EQ(codeRequests(), 3);
    connection->answerMemo().release();
}

// A vehicle without service 08 refuses its bitmaps asked together; that
// says nothing of service 01, whose PIDs still go together.
TEST_F(MultiPidRequestTest, RefusalOfAnotherServicesBatchKeepsLiveDataTogether) {
    channel->answer = [](const Bytes& request,
                         std::uint32_t ecu) -> std::optional<std::vector<EcuResponse>> {
        if (request[0] == 0x08) {
            return std::vector<EcuResponse>{{ecu, Hex("7F 08 11")}};
        }
        return std::nullopt;
    };
    obd::detail::RoutineService routines(connection);
    EXPECT_FALSE(routines.isTestRoutineSupported(1));
    EXPECT_EQ(channel->requests.size(), 2u) << "08 00 20 40 60 80 A0, then 08 00 alone";
    channel->requests.clear();
    sensorService.readParameters({Id::EngineSpeed, Id::VehicleSpeed});
    ASSERT_FALSE(channel->requests.empty());
    EXPECT_EQ(channel->requests.back().payload, Hex("01 0C 0D"));
}

TEST_F(MultiPidRequestTest, BatchedSensorsEqualSingleReadsInOneRequest) {
    const std::vector<Id> asked{Id::EngineSpeed,       Id::VehicleSpeed,
                                static_cast<Id>(0x0A), Id::EngineCoolantTemperature,
                                static_cast<Id>(0x04), Id::EngineSpeed};
    auto describeSensors = [](const std::vector<std::shared_ptr<obd::SensorDataModel>>& sensors) {
        std::string text;
        for (const auto& sensor : sensors) {
            text += std::to_string(sensor->uid) + sensor->name + ":" + sensor->value->value + ";";
        }
        return text;
    };
    std::vector<std::string> one;
    for (Id pid : asked) {
        one.push_back(describeSensors(sensorService.getSensors(pid)));
    }
    channel->requests.clear();
    const auto batched = sensorService.readSensors(asked);
    ASSERT_EQ(batched.size(), asked.size());
    for (std::size_t i = 0; i < asked.size(); ++i) {
        EXPECT_EQ(describeSensors(batched[i]), one[i]) << i;
    }
    EXPECT_TRUE(batched[2].empty());  // 0x0A: the vehicle has none
    ASSERT_EQ(channel->requests.size(), 1u);
    EXPECT_EQ(channel->requests[0].payload, Hex("01 0C 0D 05 04"));
}

// A report holds a snapshot: what it asks twice is asked of the vehicle
// once, and a request answered by every ECU goes to all of them at once
// while each ECU still gets its own answer, the one it gives alone.
TEST_F(MultiPidRequestTest, SnapshotAsksEachDatumOnceAndKeepsEachEcusAnswers) {
    obd::detail::TroubleCodeService codes(connection);
    auto report = [&] {
        std::vector<std::string> seen;
        for (std::uint32_t ecu : {kEngine, kTransmission}) {
            EXPECT_TRUE(connection->selectEcu(ecu));
            seen.push_back(ecuService.readEcuName());
            for (const auto& code : codes.readConfirmedCodes()) {
                seen.push_back(code->code);
            }
            const auto live = Describe(sensorService.readParameters(
                {Id::EngineSpeed, Id::VehicleSpeed, Id::EngineCoolantTemperature}));
            seen.insert(seen.end(), live.begin(), live.end());
        }
        return seen;
    };
    const std::vector<std::string> alone = report();
    connection->close();
    ASSERT_TRUE(connection->open());
    channel->requests.clear();

    connection->answerMemo().hold();
    EXPECT_EQ(report(), alone);
    EXPECT_EQ(report(), alone);
    connection->answerMemo().release();

    std::set<std::pair<std::uint32_t, Bytes>> asked;
    bool toEveryEcu = false;
    for (const auto& request : channel->requests) {
        EXPECT_TRUE(asked.insert({request.ecu, request.payload}).second)
            << obd::bus::ToHex(request.payload) << " asked again of " << request.ecu;
        toEveryEcu = toEveryEcu || request.ecu == obd::detail::kAllEcus;
    }
    EXPECT_TRUE(toEveryEcu);
}

}  // namespace
