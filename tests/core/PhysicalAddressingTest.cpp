// Requests to one module through the ELM327 dialogue: the header and the
// receive filter name the module on 29-bit CAN as on 11-bit, and the
// services' functional requests find the adapter as they left it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "elm327/AdapterChannel.h"
#include "obd/DataBridge.h"
#include "obd/sim/EmulatedAdapter.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

// The emulated adapter as the channel's data connection, in the caller's
// thread; every command is kept. An answer without its prompt is not yet
// received.
class EmulatedConnection : public obd::IDataConnection {
public:
    explicit EmulatedConnection(int protocol,
                                const obd::sim::Scenario& scenario = obd::sim::Scenario::builtIn())
        : adapter_(scenario, Options(protocol)) {}

    void setDelimiter(char) override {}
    bool isValid() const override { return true; }
    bool receive(obd::Bytes& data, std::int32_t) override {
        const std::size_t prompt = pending_.find('>');
        if (prompt == std::string::npos) {
            return false;
        }
        data.assign(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(prompt) + 1);
        pending_.erase(0, prompt + 1);
        return true;
    }
    void send(const obd::Bytes& data) override {
        const std::string text(data.begin(), data.end());
        commands.push_back(text.substr(0, text.find('\r')));
        pending_ += adapter_.receive(text);
    }

    std::vector<std::string> commands;

private:
    static obd::sim::EmulatedAdapterOptions Options(int protocol) {
        obd::sim::EmulatedAdapterOptions options;
        options.protocol = protocol;
        return options;
    }

    obd::sim::EmulatedAdapter adapter_;
    std::string pending_;
};

// ISO 15765-4 29-bit physical addressing: the tester asks module 10 on
// 18DA10F1 and hears it on 18DAF110. The engine ECU does not offer service
// 22 and says so (7F 22 11).
TEST(PhysicalAddressingTest, ExtendedIdentifiersNameTheModuleAndTheFilterIsLiftedAfter) {
    auto connection = std::make_shared<EmulatedConnection>(7);
    obd::elm327::AdapterChannel channel(std::make_shared<obd::elm327::AdapterInfo>());
    ASSERT_TRUE(channel.start(connection, obd::DataLinkProtocol::Iso15765Can29Bit500k, false, 1000))
        << channel.error();
    std::string error;
    const auto messages =
        channel.transactPhysical({0x22, 0xF1, 0x90}, {0x18DA10F1, 0x18DAF110, true}, error);
    ASSERT_TRUE(messages) << error;
    EXPECT_THAT(*messages, ElementsAre(obd::uds::Bytes{0x7F, 0x22, 0x11}));
    EXPECT_THAT(connection->commands, Contains("ATSHDA10F1"));
    EXPECT_THAT(connection->commands, Contains("ATCRA18DAF110"));
    EXPECT_THAT(connection->commands, Contains("22F190"));

    connection->commands.clear();
    EXPECT_FALSE(channel.transact({0x01, 0x0C}, obd::detail::kAllEcus).empty());
    EXPECT_THAT(connection->commands, ElementsAre("ATAR", "ATSHDB33F1", "010C"));

    // An 11-bit module cannot be asked on a 29-bit bus.
    EXPECT_FALSE(channel.transactPhysical({0x22, 0xF1, 0x90}, {0x7E0, 0x7E8, false}, error));
    EXPECT_THAT(error, ::testing::HasSubstr("11-bit"));
}

// On 11-bit CAN the module keeps its header and filter for as long as it is
// asked; the services' next request goes to every ECU again (7DF), with the
// filter lifted, so no answer of theirs is filtered out.
TEST(PhysicalAddressingTest, ElevenBitModuleIsAskedOnceSetAndTheServicesGetTheBusBack) {
    auto connection = std::make_shared<EmulatedConnection>(6);
    obd::elm327::AdapterChannel channel(std::make_shared<obd::elm327::AdapterInfo>());
    ASSERT_TRUE(channel.start(connection, obd::DataLinkProtocol::Iso15765Can11Bit500k, false, 1000))
        << channel.error();
    connection->commands.clear();
    std::string error;
    ASSERT_TRUE(channel.transactPhysical({0x22, 0xF1, 0x90}, {0x7E0, 0x7E8, false}, error))
        << error;
    ASSERT_TRUE(channel.transactPhysical({0x22, 0xF1, 0x91}, {0x7E0, 0x7E8, false}, error))
        << error;
    EXPECT_THAT(connection->commands, ElementsAre("ATSH7E0", "ATCRA7E8", "22F190", "22F191"));

    connection->commands.clear();
    const auto answers = channel.transact({0x01, 0x00}, obd::detail::kAllEcus);
    EXPECT_EQ(answers.size(), 2u);  // the built-in vehicle's two ECUs
    EXPECT_THAT(connection->commands, ElementsAre("ATAR", "ATSH7DF", "0100"));
}

// A module that answers "response pending" (7F 22 78, ISO 14229-1) and
// never its final answer costs that request alone: the adapter is stopped
// (any character stops an ELM327 at work), the request fails saying why,
// and the same connection serves the next request.
TEST(PhysicalAddressingTest, ModulePendingForeverFailsItsRequestAndTheConnectionStays) {
    const auto scenario = obd::sim::Scenario::parse(R"({"name": "pending", "ecus": [
        {"address": "0x7E8", "pids": {"0x0C": 780}}], "profileEcus": [
        {"name": "ABS", "request": "0x7B0", "pendingMilliseconds": 0, "identifiers": {
            "0x4A10": {"data": "01 02"}, "0x4A20": {"data": "0C", "pending": "forever"}}}]})",
                                                    "pending.json");
    auto connection = std::make_shared<EmulatedConnection>(6, scenario);
    obd::elm327::AdapterChannel channel(std::make_shared<obd::elm327::AdapterInfo>());
    ASSERT_TRUE(channel.start(connection, obd::DataLinkProtocol::Iso15765Can11Bit500k, false, 1000))
        << channel.error();
    const obd::uds::PhysicalAddress abs{0x7B0, 0x7B8, false};
    std::string error;
    EXPECT_FALSE(channel.transactPhysical({0x22, 0x4A, 0x20}, abs, error));
    EXPECT_THAT(error, ::testing::HasSubstr("\"response pending\" and no final answer"));
    EXPECT_FALSE(channel.dropped());
    const auto next = channel.transactPhysical({0x22, 0x4A, 0x10}, abs, error);
    ASSERT_TRUE(next) << error;
    EXPECT_THAT(*next, ElementsAre(obd::uds::Bytes{0x62, 0x4A, 0x10, 0x01, 0x02}));
}

}  // namespace
