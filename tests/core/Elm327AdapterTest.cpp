#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulator/Emulator.h"
#include "obd/DataBridge.h"
#include "obd/IConnectionManager.h"
#include "obd/IConnectionService.h"
#include "obd/IEcuService.h"
#include "obd/ISensorService.h"
#include "obd/ITroubleCodeService.h"
#include "obd/elm327/AdapterQuorvix.h"
#include "obd/sim/SimulatedQuorvix.h"
#include "sim/SimulatedBus.h"

namespace {

using obd::ConnectionPhase;
using obd::DataLinkProtocol;
using obd::elm327::AdapterQuorvix;
using obd::sim::Scenario;
using obd::sim::SimulatedQuorvix;

// The emulated adapter on the far end of a data bridge: a thread carries
// what the core sends to the emulator and its answers back, as an
// application carries bytes to a socket.
class EmulatedAdapter {
public:
    explicit EmulatedAdapter(obd::elm327::EmulatorOptions options = Options(),
                             const Scenario& scenario = Scenario::builtIn())
        : vehicle_(*scenario.model()), emulator_(vehicle_, std::move(options)) {
        pump_ = std::thread([this] { run(); });
    }
    ~EmulatedAdapter() {
        stop_ = true;
        pump_.join();
    }

    static obd::elm327::EmulatorOptions Options() {
        obd::elm327::EmulatorOptions options;
        const auto& adapter = Scenario::builtIn().model()->adapter;
        options.identification = adapter.identification;
        options.description = adapter.description;
        options.vehicleProtocol = Scenario::builtIn().model()->protocol;
        return options;
    }

    const std::shared_ptr<obd::DataBridge>& bridge() { return bridge_; }
    obd::elm327::Emulator& emulator() { return emulator_; }
    // The adapter reads but never answers again.
    void mute() { muted_ = true; }
    // A prompt that belongs to no command comes just before the next answer.
    void strayPrompt() { stray_ = true; }
    // Every command the adapter received so far, without its line end.
    std::vector<std::string> commands() {
        std::lock_guard<std::mutex> lock(commandsMutex_);
        return commands_;
    }

private:
    void run() {
        obd::Bytes data;
        while (!stop_) {
            if (!bridge_->get(data)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            const std::string text(data.begin(), data.end());
            {
                std::lock_guard<std::mutex> lock(commandsMutex_);
                commands_.push_back(text.substr(0, text.find_first_of("\r\n")));
            }
            std::string answer = emulator_.receive(text);
            if (emulator_.hungUp()) {
                bridge_->invalidate();
                return;
            }
            if (!answer.empty() && stray_.exchange(false)) {
                answer.insert(0, ">");
            }
            if (!muted_) {
                bridge_->set(obd::Bytes(answer.begin(), answer.end()));
            }
        }
    }

    obd::sim::SimulatedBus vehicle_;
    obd::elm327::Emulator emulator_;
    std::shared_ptr<obd::DataBridge> bridge_ = std::make_shared<obd::DataBridge>();
    std::atomic<bool> stop_{false};
    std::atomic<bool> muted_{false};
    std::atomic<bool> stray_{false};
    std::mutex commandsMutex_;
    std::vector<std::string> commands_;
    std::thread pump_;
};

class PhaseWaiter : public obd::IConnectionPhaseListener {
public:
    explicit PhaseWaiter(ConnectionPhase awaited) : awaited_(awaited) {}
    void onPhaseChanged(ConnectionPhase phase) override {
        if (phase == awaited_ && !seen_.exchange(true)) {
            reached_.set_value();
        }
    }
    bool wait() {
        return reached_.get_future().wait_for(std::chrono::seconds(30)) ==
               std::future_status::ready;
    }

private:
    const ConnectionPhase awaited_;
    std::atomic<bool> seen_{false};
    std::promise<void> reached_;
};

TEST(Elm327AdapterTest, ScanOverAdapterMatchesTheInProcessVehicle) {
    EmulatedAdapter adapter;
    auto root = AdapterQuorvix::create();
    auto local = SimulatedQuorvix::create();
    ASSERT_TRUE(local->openConnection());
    ASSERT_TRUE(root->getConnectionManager()->openConnection(adapter.bridge(),
                                                             DataLinkProtocol::Automatic, true));
    EXPECT_EQ(root->getConnectionManager()->getProtocol(),
              local->getConnectionManager()->getProtocol());
    EXPECT_EQ(root->getEcuAddresses(), local->getEcuAddresses());

    auto remoteEcu = root->createEcuService(root->createConnectionService());
    auto localEcu = local->createEcuService(local->createConnectionService());
    EXPECT_EQ(remoteEcu->readVin(), localEcu->readVin());
    EXPECT_EQ(remoteEcu->readCalids(), localEcu->readCalids());
    EXPECT_EQ(remoteEcu->readProtocol(), localEcu->readProtocol());
    EXPECT_EQ(remoteEcu->readEcuName(), localEcu->readEcuName());
    EXPECT_EQ(remoteEcu->readParameters().size(), localEcu->readParameters().size());

    auto remoteAdapter = root->getConnectionManager()->getAdapter();
    auto localAdapter = local->getConnectionManager()->getAdapter();
    ASSERT_NE(remoteAdapter, nullptr);
    EXPECT_EQ(remoteAdapter->getIdentification(), localAdapter->getIdentification());
    EXPECT_EQ(remoteAdapter->getDescription(), localAdapter->getDescription());

    for (std::uint32_t ecu : local->getEcuAddresses()) {
        ASSERT_TRUE(root->selectEcu(ecu));
        ASSERT_TRUE(local->selectEcu(ecu));
        EXPECT_EQ(remoteEcu->readEcuName(), localEcu->readEcuName()) << ecu;
        EXPECT_EQ(remoteEcu->readParameters().size(), localEcu->readParameters().size()) << ecu;
    }
    root->getConnectionManager()->closeConnection();
    EXPECT_FALSE(root->isConnectionOpen());
}

// Over the adapter the full scan asks for six PIDs at a time, with answers
// of several frames; the parameters are those read one at a time.
TEST(Elm327AdapterTest, BatchedScanReadsTheSameParametersAsOnePidPerRequest) {
    EmulatedAdapter adapter;
    auto root = AdapterQuorvix::create();
    ASSERT_TRUE(root->getConnectionManager()->openConnection(adapter.bridge(),
                                                             DataLinkProtocol::Automatic, true));
    auto ecu = root->createEcuService(root->createConnectionService());
    auto describe = [&] {
        // Live values move with the time: which parameters and sensors,
        // and the values of those that do not move.
        std::vector<std::string> lines;
        for (const auto& parameter : ecu->readParameters()) {
            std::string line = std::to_string(static_cast<int>(parameter->pid));
            for (const auto& sensor : parameter->sensors) {
                line += ";" + sensor->name;
                if (!sensor->limits) {
                    line += "=" + sensor->value->value;
                }
            }
            lines.push_back(line);
        }
        return lines;
    };
    root->setMultiPidRequests(false);
    const auto single = describe();
    root->setMultiPidRequests(true);
    const auto batched = describe();
    EXPECT_EQ(single.size(), 37u);
    EXPECT_EQ(batched, single);
    root->getConnectionManager()->closeConnection();
}

// What a scan reads, per ECU, without the ECU's address (which differs
// between the buses) and without live values that move with the time.
template <typename Root>
std::vector<std::string> Records(Root& root) {
    auto connection = root.createConnectionService();
    auto ecu = root.createEcuService(connection);
    auto codes = root.createTroubleCodeService(connection);
    auto diagnostics = root.createDiagnosticsService(connection);
    std::vector<std::string> lines;
    auto codeList = [](const std::vector<std::shared_ptr<obd::DtcDataModel>>& list) {
        std::string text;
        for (const auto& code : list) {
            text += code->code + " ";
        }
        return text;
    };
    for (std::uint32_t address : root.getEcuAddresses()) {
        EXPECT_TRUE(root.selectEcu(address));
        lines.push_back("ECU " + ecu->readEcuName());
        lines.push_back("VIN " + ecu->readVin());
        for (const auto& calid : ecu->readCalids()) {
            lines.push_back("CALID " + calid);
        }
        for (const auto& cvn : ecu->readCvns()) {
            lines.push_back("CVN " + cvn);
        }
        for (const auto& text :
             {ecu->readEsn(), ecu->readErotan(), ecu->readGtrNumber(),
              ecu->readFueledEngineOperation(), ecu->readCertificationTestGroup(),
              ecu->readDistanceTraveledSinceEvap(), ecu->readMotorcycleCategoryTypeApproval()}) {
            lines.push_back("info " + text);
        }
        for (const auto& counter : diagnostics->getPerformanceCounters()) {
            lines.push_back(counter->name + " " + std::to_string(counter->numerator) + "/" +
                            std::to_string(counter->denominator));
        }
        for (const auto& record :
             {diagnostics->getVodEngineRunIdleTime(), diagnostics->getVodFuelDistanceUsed(),
              diagnostics->getVodPkeEoe(), diagnostics->getVodPsa()}) {
            for (const auto& entry : record ? record->entries : decltype(record->entries)()) {
                lines.push_back(entry.label + " " + entry.value);
            }
        }
        for (const auto& parameter : ecu->readParameters()) {
            std::string line = "PID " + std::to_string(static_cast<int>(parameter->pid));
            for (const auto& sensor : parameter->sensors) {
                line += ";" + sensor->name + (sensor->limits ? "" : "=" + sensor->value->value);
            }
            lines.push_back(line);
        }
        lines.push_back("confirmed " + codeList(codes->readConfirmedCodes()));
        lines.push_back("pending " + codeList(codes->readPendingCodes()));
        lines.push_back("permanent " + codeList(codes->readPermanentCodes()));
        const auto mil = codes->readMilIndicator();
        lines.push_back("MIL " + (mil ? std::to_string(*mil) : std::string("unknown")));
        const std::uint8_t frames = codes->readFreezeFrameCount();
        lines.push_back("freeze frames " + std::to_string(frames));
        for (std::uint8_t frame = 0; frame < frames; ++frame) {
            const auto code = codes->readFreezeFrameTroubleCode(frame);
            lines.push_back("freeze frame code " + (code ? code->code : std::string("none")));
        }
    }
    return lines;
}

// The default scenario with every service 09 info type this core carries.
Scenario WithEveryInfoType() {
    std::string text = Scenario::builtInText();
    const std::string esn = "\"esn\":";
    text.insert(text.find(esn), R"("gtrNumber": "GTR-15", "certificationTestGroup": "KBMXV01.6AB1",
                                "motorcycleCategory": "L3e-A2", )");
    return Scenario::parse(text, "every info type");
}

// That scenario through the adapter on each bus, the protocol chosen (older
// buses show their initialisation), gives what it gives over CAN.
class Elm327ProtocolTest : public ::testing::TestWithParam<int> {};

TEST_P(Elm327ProtocolTest, ScanGivesTheSameRecordsAsOverCan) {
    static const Scenario scenario = WithEveryInfoType();
    static const std::vector<std::string> overCan = [] {
        EmulatedAdapter adapter(EmulatedAdapter::Options(), scenario);
        auto root = AdapterQuorvix::create();
        EXPECT_TRUE(root->getConnectionManager()->openConnection(
            adapter.bridge(), DataLinkProtocol::Iso15765Can11Bit500k, false));
        return Records(*root);
    }();
    const auto protocol = static_cast<DataLinkProtocol>(GetParam());
    auto options = EmulatedAdapter::Options();
    options.vehicleProtocol = protocol;
    EmulatedAdapter adapter(options, scenario);
    auto root = AdapterQuorvix::create();
    ASSERT_TRUE(root->getConnectionManager()->openConnection(adapter.bridge(), protocol, false))
        << root->lastAdapterError();
    EXPECT_EQ(root->getConnectionManager()->getProtocol(), protocol);
    std::vector<std::string> expected = overCan;
    if (GetParam() <= 5) {
        // PID 7F (engine run times) has 13 data bytes: more than a message of
        // the older buses carries (seven, J1979).
        expected.erase(
            std::remove_if(expected.begin(), expected.end(),
                           [](const std::string& line) { return line.rfind("PID 127;", 0) == 0; }),
            expected.end());
    }
    EXPECT_THAT(Records(*root), ::testing::ContainerEq(expected));
    EXPECT_EQ(root->lastAdapterError(), "");
}

INSTANTIATE_TEST_SUITE_P(EveryBus, Elm327ProtocolTest, ::testing::Range(1, 10),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Protocol" + std::to_string(info.param);
                         });

// On an older bus the ECUs answer with their one-byte addresses (J1979:
// 10 is the engine).
TEST(Elm327AdapterTest, OlderBusNamesEcusByTheirHeaderSourceByte) {
    auto options = EmulatedAdapter::Options();
    options.vehicleProtocol = DataLinkProtocol::Iso14230FastInit;
    EmulatedAdapter adapter(options);
    auto root = AdapterQuorvix::create();
    ASSERT_TRUE(root->getConnectionManager()->openConnection(adapter.bridge(),
                                                             DataLinkProtocol::Automatic, true));
    EXPECT_EQ(root->getConnectionManager()->getProtocol(), DataLinkProtocol::Iso14230FastInit);
    ASSERT_FALSE(root->getEcuAddresses().empty());
    EXPECT_EQ(root->getEcuAddresses().front(), 0x10u);
}

// Each make of adapter gives a full scan: refused conveniences, lower case,
// blank lines, a slow first prompt and a link that ATZ would drop.
class Elm327CloneScanTest : public ::testing::TestWithParam<const char*> {};

TEST_P(Elm327CloneScanTest, ScanSucceeds) {
    auto options = EmulatedAdapter::Options();
    ASSERT_TRUE(obd::elm327::ApplyCloneProfile(GetParam(), options));
    EmulatedAdapter adapter(options);
    auto root = AdapterQuorvix::create();
    auto local = SimulatedQuorvix::create();
    ASSERT_TRUE(local->openConnection());
    ASSERT_TRUE(root->getConnectionManager()->openConnection(adapter.bridge(),
                                                             DataLinkProtocol::Automatic, true))
        << root->lastAdapterError();
    EXPECT_EQ(Records(*root), Records(*local));
    EXPECT_FALSE(root->isAdapterLost());
}

INSTANTIATE_TEST_SUITE_P(Profiles, Elm327CloneScanTest,
                         ::testing::ValuesIn(obd::elm327::kCloneProfiles),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

// One prompt too many must not shift every later answer onto the wrong
// request ("Confirmed: none", "MIL: unknown").
TEST(Elm327AdapterTest, StrayPromptDoesNotShiftTheDialogue) {
    EmulatedAdapter adapter;
    auto root = AdapterQuorvix::create();
    auto local = SimulatedQuorvix::create();
    ASSERT_TRUE(local->openConnection());
    ASSERT_TRUE(root->getConnectionManager()->openConnection(adapter.bridge(),
                                                             DataLinkProtocol::Automatic, true));
    auto codes = root->createTroubleCodeService(root->createConnectionService());
    auto localCodes = local->createTroubleCodeService(local->createConnectionService());
    adapter.strayPrompt();
    ASSERT_NE(codes->readMilIndicator(), nullptr);
    EXPECT_EQ(*codes->readMilIndicator(), *localCodes->readMilIndicator());
    EXPECT_EQ(codes->readConfirmedCodes().size(), localCodes->readConfirmedCodes().size());
    adapter.strayPrompt();
    EXPECT_EQ(Records(*root), Records(*local));
}

TEST(Elm327AdapterTest, RequestedProtocolTheVehicleLacksFailsUnlessSearching) {
    EmulatedAdapter adapter;
    auto root = AdapterQuorvix::create();
    auto manager = root->getConnectionManager();
    EXPECT_FALSE(manager->openConnection(adapter.bridge(), DataLinkProtocol::Iso9141, false));
    EXPECT_EQ(manager->getPhase(), ConnectionPhase::Failed);
    EXPECT_TRUE(manager->openConnection(adapter.bridge(), DataLinkProtocol::Iso9141, true));
    EXPECT_EQ(manager->getProtocol(), Scenario::builtIn().model()->protocol);
}

TEST(Elm327AdapterTest, OpeningWithoutDataConnectionFails) {
    auto root = AdapterQuorvix::create();
    EXPECT_FALSE(
        root->getConnectionManager()->openConnection(nullptr, DataLinkProtocol::Automatic, true));
    EXPECT_FALSE(root->isConnectionOpen());
}

TEST(Elm327AdapterTest, AdapterThatNeverPromptsFailsTheOpeningInsteadOfHanging) {
    auto bridge = std::make_shared<obd::DataBridge>();  // nobody answers
    auto root = AdapterQuorvix::create();
    auto manager = root->getConnectionManager();
    manager->setTimeout(20);
    EXPECT_FALSE(manager->openConnection(bridge, DataLinkProtocol::Automatic, true));
    EXPECT_EQ(manager->getPhase(), ConnectionPhase::Failed);
}

TEST(Elm327AdapterTest, AdapterFallingSilentClosesTheConnection) {
    EmulatedAdapter adapter;
    auto root = AdapterQuorvix::create();
    auto manager = root->getConnectionManager();
    ASSERT_TRUE(manager->openConnection(adapter.bridge(), DataLinkProtocol::Automatic, true));
    PhaseWaiter closed(ConnectionPhase::Closed);
    manager->addPhaseListener(&closed);
    manager->setTimeout(20);
    adapter.mute();
    auto ecu = root->createEcuService(root->createConnectionService());
    EXPECT_FALSE(root->isAdapterLost());
    EXPECT_EQ(ecu->readVin(), "");
    // Known at once, before the connection has closed on the event thread.
    EXPECT_TRUE(root->isAdapterLost());
    EXPECT_THAT(root->lastAdapterError(), ::testing::HasSubstr("the adapter stopped answering"));
    EXPECT_TRUE(closed.wait());
    EXPECT_FALSE(root->isConnectionOpen());
    manager->removePhaseListener(&closed);
}

TEST(Elm327AdapterTest, LostTransportClosesTheConnection) {
    EmulatedAdapter adapter;
    auto root = AdapterQuorvix::create();
    auto manager = root->getConnectionManager();
    ASSERT_TRUE(manager->openConnection(adapter.bridge(), DataLinkProtocol::Automatic, true));
    PhaseWaiter closed(ConnectionPhase::Closed);
    manager->addPhaseListener(&closed);
    adapter.bridge()->invalidate();
    auto ecu = root->createEcuService(root->createConnectionService());
    ecu->readVin();
    EXPECT_TRUE(closed.wait());
    EXPECT_FALSE(root->isConnectionOpen());
    manager->removePhaseListener(&closed);
}

TEST(Elm327AdapterTest, AdapterErrorIsNoAnswerNotACrash) {
    EmulatedAdapter adapter;
    auto root = AdapterQuorvix::create();
    auto manager = root->getConnectionManager();
    ASSERT_TRUE(manager->openConnection(adapter.bridge(), DataLinkProtocol::Automatic, true));
    auto ecu = root->createEcuService(root->createConnectionService());
    ASSERT_TRUE(ecu->isVinSupported());  // the support bitmaps are kept from here on
    adapter.emulator().injectError("CAN ERROR");
    EXPECT_EQ(ecu->readVin(), "");
    EXPECT_TRUE(root->isConnectionOpen());
    EXPECT_NE(ecu->readVin(), "");
}

TEST(Elm327AdapterTest, LastAdapterErrorKeepsTheErrorTextUntilTheNextOpening) {
    EmulatedAdapter adapter;
    auto root = AdapterQuorvix::create();
    auto manager = root->getConnectionManager();
    ASSERT_TRUE(manager->openConnection(adapter.bridge(), DataLinkProtocol::Automatic, true));
    EXPECT_EQ(root->lastAdapterError(), "");
    auto ecu = root->createEcuService(root->createConnectionService());
    ASSERT_TRUE(ecu->isVinSupported());  // the support bitmaps are kept from here on
    adapter.emulator().injectError("NO DATA");
    EXPECT_EQ(ecu->readVin(), "");
    EXPECT_EQ(root->lastAdapterError(), "") << "NO DATA is no answer, not an error";

    adapter.emulator().injectError("BUS INIT: ...ERROR");
    EXPECT_EQ(ecu->readVin(), "");
    EXPECT_EQ(root->lastAdapterError(), "BUS INIT: ...ERROR");
    EXPECT_NE(ecu->readVin(), "");
    EXPECT_EQ(root->lastAdapterError(), "BUS INIT: ...ERROR") << "a later success keeps it";

    manager->closeConnection();
    ASSERT_TRUE(manager->openConnection(adapter.bridge(), DataLinkProtocol::Automatic, true));
    EXPECT_EQ(root->lastAdapterError(), "");
}

TEST(Elm327AdapterTest, LastAdapterErrorTellsWhyTheOpeningFailed) {
    auto options = EmulatedAdapter::Options();
    options.errorFrom = 1;
    options.errorText = "UNABLE TO CONNECT";
    EmulatedAdapter adapter(options);
    auto root = AdapterQuorvix::create();
    EXPECT_FALSE(root->getConnectionManager()->openConnection(adapter.bridge(),
                                                              DataLinkProtocol::Automatic, true));
    EXPECT_EQ(root->lastAdapterError(), "UNABLE TO CONNECT");
}

TEST(Elm327AdapterTest, RemovingANullPhaseListenerReturns) {
    // A bridge registered without a listener removes a null one when it
    // goes; that must not wait for a delivery that never comes.
    auto root = AdapterQuorvix::create();
    root->getConnectionManager()->removePhaseListener(nullptr);
    SUCCEED();
}

}  // namespace

// The response count digit counts the answer's lines (ELM327 datasheet),
// one per CAN frame (ISO 15765-2: 7 bytes in a single frame, 6 in a first
// frame); it is sent where the answer's length is known, not for a VIN.
TEST(Elm327AdapterTest, AnswerCountIsTheAnswersFramesWhereItsLengthIsKnown) {
    // Adapters differ in whether the count means messages or frames: a
    // count of one on a multi-frame answer could cut it short.
    EmulatedAdapter adapter;
    auto root = AdapterQuorvix::create();
    ASSERT_TRUE(root->getConnectionManager()->openConnection(adapter.bridge(),
                                                             DataLinkProtocol::Automatic, true));
    auto connection = root->createConnectionService();
    auto sensors = root->createSensorService(connection);
    // The support bitmaps, read once for the connection, go first.
    sensors->getPids();
    ASSERT_TRUE(root->createEcuService(connection)->isVinSupported());
    const std::size_t before = adapter.commands().size();
    using Id = obd::ParameterIdentifier::Id;
    ASSERT_EQ(sensors->readParameters({Id::EngineSpeed}).size(), 1u);  // 41 0C xx xx
    ASSERT_EQ(sensors->readParameters({Id::EngineSpeed, Id::VehicleSpeed}).size(), 2u);
    ASSERT_EQ(
        sensors->readParameters({Id::EngineSpeed, Id::VehicleSpeed, Id::EngineCoolantTemperature})
            .size(),
        3u);
    EXPECT_FALSE(root->createEcuService(connection)->readVin().empty());

    const std::vector<std::string> all = adapter.commands();
    const std::vector<std::string> sent(all.begin() + static_cast<std::ptrdiff_t>(before),
                                        all.end());
    // Header switches may come between them; the requests keep their order.
    std::vector<std::string> requests;
    for (const std::string& command : sent) {
        if (command.rfind("AT", 0) != 0) {
            requests.push_back(command);
        }
    }
    EXPECT_THAT(requests, ::testing::ElementsAre("010C1", "010C0D1", "010C0D052", "0902"));
}

// A request asked again at once goes as an empty line, which the ELM327
// datasheet has the adapter repeat; a clone that answers it with "?" is
// asked in full, and no reading is lost either way.
TEST(Elm327AdapterTest, RequestAskedAgainIsSentAsAnEmptyLineUnlessTheAdapterRefuses) {
    for (const bool refuses : {false, true}) {
        auto options = EmulatedAdapter::Options();
        options.quirks.refusesRepeat = refuses;
        EmulatedAdapter adapter(options);
        auto root = AdapterQuorvix::create();
        ASSERT_TRUE(root->getConnectionManager()->openConnection(
            adapter.bridge(), DataLinkProtocol::Automatic, true));
        auto sensors = root->createSensorService(root->createConnectionService());
        using Id = obd::ParameterIdentifier::Id;
        const std::vector<Id> pids{Id::EngineSpeed, Id::VehicleSpeed, Id::EngineCoolantTemperature};
        sensors->getPids();
        const std::size_t before = adapter.commands().size();
        for (int reading = 0; reading < 3; ++reading) {
            EXPECT_EQ(sensors->readParameters(pids).size(), pids.size()) << refuses;
        }
        const std::vector<std::string> all = adapter.commands();
        const std::vector<std::string> sent(all.begin() + static_cast<std::ptrdiff_t>(before),
                                            all.end());
        const std::vector<std::string> expected =
            refuses ? std::vector<std::string>{"010C0D052", "", "010C0D052", "010C0D052"}
                    : std::vector<std::string>{"010C0D052", "", ""};
        EXPECT_EQ(sent, expected);
    }
}

// When the adapter's own search gives up, the protocols are tried one by one
// and the one that answered is in use and reported; when none answers the
// opening fails and says what was tried.
TEST(Elm327AdapterTest, ProtocolsAreTriedOneByOneWhenTheSearchFindsNothing) {
    auto options = EmulatedAdapter::Options();
    options.vehicleProtocol = DataLinkProtocol::Iso9141;
    options.quirks.searchFindsNothing = true;
    EmulatedAdapter adapter(options);
    auto root = AdapterQuorvix::create();
    ASSERT_TRUE(root->getConnectionManager()->openConnection(adapter.bridge(),
                                                             DataLinkProtocol::Automatic, true))
        << root->lastAdapterError();
    EXPECT_EQ(root->getConnectionManager()->getProtocol(), DataLinkProtocol::Iso9141);
    EXPECT_THAT(root->protocolFallback(), ::testing::HasSubstr("UNABLE TO CONNECT"));
    EXPECT_THAT(root->protocolFallback(), ::testing::HasSubstr("ISO 9141-2 answered"));
    EXPECT_THAT(adapter.commands(), ::testing::Contains("ATSP3"));
    EXPECT_EQ(root->createEcuService(root->createConnectionService())->readVin(),
              "WBA3B5C51FK123456");

    auto silent = EmulatedAdapter::Options();
    silent.errorFrom = 1;
    silent.errorText = "UNABLE TO CONNECT";
    EmulatedAdapter nothing(silent);
    auto failed = AdapterQuorvix::create();
    EXPECT_FALSE(failed->getConnectionManager()->openConnection(nothing.bridge(),
                                                                DataLinkProtocol::Automatic, true));
    EXPECT_EQ(failed->lastAdapterError(), "UNABLE TO CONNECT");
    EXPECT_THAT(failed->protocolFallback(),
                ::testing::HasSubstr("nor did protocols 6, 8, 7, 9, 3, 5, 4, 2, 1"));
}

// The adapter's own wait is half the request timeout, in its steps of 4 ms
// (ELM327 datasheet: AT ST hh); 400 ms gives 200 ms, ATST32.
TEST(Elm327AdapterTest, TimeoutSetsTheAdaptersWaitForTheVehicle) {
    EmulatedAdapter adapter;
    auto root = AdapterQuorvix::create();
    root->setTimeout(std::chrono::milliseconds(400));
    ASSERT_TRUE(root->getConnectionManager()->openConnection(adapter.bridge(),
                                                             DataLinkProtocol::Automatic, true));
    EXPECT_EQ(root->getConnectionManager()->getTimeout(), 400);
    EXPECT_THAT(adapter.commands(), ::testing::Contains("ATST32"));
}

// A request of the application's own with its own header, on each kind of
// bus, reaches the engine ECU and gives its answer as it came: service 09
// PID 02, the VIN in ASCII after the message count (J1979). The services'
// header is back for their next request.
TEST(Elm327AdapterTest, RawRequestWithOwnHeaderReachesTheChosenEcu) {
    const std::vector<std::uint8_t> vin = {
        0x49, 0x02, 0x01, 0x57, 0x42, 0x41, 0x33, 0x42, 0x35, 0x43,
        0x35, 0x31, 0x46, 0x4B, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36};  // "WBA3B5C51FK123456"
    const struct {
        DataLinkProtocol protocol;
        const char* header;
        std::uint32_t engine;
    } table[] = {
        {DataLinkProtocol::Iso15765Can11Bit500k, "7E0", 0x7E8},
        {DataLinkProtocol::Iso15765Can29Bit500k, "18DA10F1", 0x18DAF110},
        {DataLinkProtocol::Iso9141, "6810F1", 0x10},
        {DataLinkProtocol::Iso14230FastInit, "8110F1", 0x10},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.header);
        auto options = EmulatedAdapter::Options();
        options.vehicleProtocol = row.protocol;
        EmulatedAdapter adapter(options);
        auto root = AdapterQuorvix::create();
        ASSERT_TRUE(
            root->getConnectionManager()->openConnection(adapter.bridge(), row.protocol, false));
        const auto answers = root->sendRawRequestWithHeader({0x09, 0x02}, row.header);
        ASSERT_TRUE(answers) << root->lastAdapterError();
        ASSERT_EQ(answers->size(), 1u);
        EXPECT_EQ(answers->front().ecu, row.engine);
        EXPECT_EQ(answers->front().bytes, vin);

        const auto byAddress = root->sendRawRequest({0x09, 0x02}, row.engine);
        ASSERT_TRUE(byAddress) << root->lastAdapterError();
        ASSERT_EQ(byAddress->size(), 1u);
        EXPECT_EQ(byAddress->front().bytes, vin);

        EXPECT_TRUE(root->sendRawRequestWithHeader({0x01, 0x00}, "7E5").has_value());
        EXPECT_EQ(root->createEcuService(root->createConnectionService())->readVin(),
                  "WBA3B5C51FK123456");
    }
    EmulatedAdapter adapter;
    auto root = AdapterQuorvix::create();
    ASSERT_TRUE(root->getConnectionManager()->openConnection(adapter.bridge(),
                                                             DataLinkProtocol::Automatic, true));
    EXPECT_FALSE(root->sendRawRequestWithHeader({0x09, 0x02}, "7E0X"));
    EXPECT_THAT(root->lastAdapterError(), ::testing::HasSubstr("invalid header '7E0X'"));
}

// What a user types for the protocol (the adapter's numbers, ELM327
// datasheet), a request and an ECU; anything else is refused, not guessed.
TEST(Elm327AdapterTest, ParsesProtocolRequestAndEcuAsTyped) {
    EXPECT_EQ(AdapterQuorvix::parseProtocol("auto"), DataLinkProtocol::Automatic);
    EXPECT_EQ(AdapterQuorvix::parseProtocol("AUTO"), DataLinkProtocol::Automatic);
    EXPECT_EQ(AdapterQuorvix::parseProtocol("1"), DataLinkProtocol::SaeJ1850Pwm);
    EXPECT_EQ(AdapterQuorvix::parseProtocol("3"), DataLinkProtocol::Iso9141);
    EXPECT_EQ(AdapterQuorvix::parseProtocol("9"), DataLinkProtocol::Iso15765Can29Bit250k);
    for (const char* bad : {"", "0", "10", "A", "3 ", "automatic"}) {
        EXPECT_FALSE(AdapterQuorvix::parseProtocol(bad)) << bad;
    }
    using Bytes = std::vector<std::uint8_t>;
    EXPECT_EQ(AdapterQuorvix::parseRequest("22F190"), (Bytes{0x22, 0xF1, 0x90}));
    EXPECT_EQ(AdapterQuorvix::parseRequest("22 f1 90"), (Bytes{0x22, 0xF1, 0x90}));
    for (const char* bad : {"", "2", "22F1G0", "0102030405060708", "0x22"}) {
        EXPECT_FALSE(AdapterQuorvix::parseRequest(bad)) << bad;
    }
    EXPECT_EQ(AdapterQuorvix::parseEcu("7E8"), 0x7E8u);
    EXPECT_EQ(AdapterQuorvix::parseEcu("0x18DAF110"), 0x18DAF110u);
    EXPECT_EQ(AdapterQuorvix::parseEcu("10"), 0x10u);
    for (const char* bad : {"", "0x", "7G8", "118DAF110", "-1"}) {
        EXPECT_FALSE(AdapterQuorvix::parseEcu(bad)) << bad;
    }
}
