// The UDS client against a scripted module: what ISO 14229 says a module
// may answer, and what the client makes of it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>

#include "uds/NegativeResponses.h"
#include "uds/UdsClient.h"

namespace {

using obd::uds::Bytes;
using ::testing::ElementsAre;

const obd::uds::PhysicalAddress kAbs{0x7B0, 0x7B8, false};

// Answers each request with the next scripted list of messages and keeps
// the requests.
class ScriptedModule : public obd::uds::IPhysicalChannel {
public:
    std::optional<std::vector<Bytes>> transactPhysical(const Bytes& request,
                                                       const obd::uds::PhysicalAddress&,
                                                       std::string&) override {
        requests.push_back(request);
        if (script.empty()) {
            return std::vector<Bytes>{};
        }
        auto messages = script.front();
        script.pop_front();
        return messages;
    }
    std::size_t maxRequestSize() const override { return 7; }

    std::deque<std::vector<Bytes>> script;
    std::vector<Bytes> requests;
};

// Names and codes as ISO 14229-1 lists them.
TEST(UdsClientTest, NegativeResponsesAreNamedWithTheirCode) {
    EXPECT_EQ(obd::uds::NegativeResponseText(0x31), "request out of range (0x31)");
    EXPECT_EQ(obd::uds::NegativeResponseText(0x33), "security access denied (0x33)");
    EXPECT_EQ(obd::uds::NegativeResponseText(0x7F),
              "service not supported in active session (0x7F)");
    EXPECT_EQ(obd::uds::NegativeResponseText(0xF3),
              "manufacturer specific conditions not correct (0xF3)");
}

TEST(UdsClientTest, SharedRequestIsSplitByTheEchoedIdentifiers) {
    ScriptedModule module;
    // 62, then each record: its identifier and its data; 4A11 left out.
    module.script.push_back({{0x62, 0x4A, 0x10, 0x01, 0x02, 0x4A, 0x12, 0x07}});
    module.script.push_back({{0x7F, 0x22, 0x31}});
    obd::uds::UdsClient client(module);
    bool refused = false;
    auto replies = client.readIdentifiers(kAbs, {{0x4A10, 2}, {0x4A11, 2}, {0x4A12, 1}}, refused);
    EXPECT_FALSE(refused);
    EXPECT_THAT(module.requests, ElementsAre(Bytes{0x22, 0x4A, 0x10, 0x4A, 0x11, 0x4A, 0x12},
                                             Bytes{0x22, 0x4A, 0x11}));
    EXPECT_EQ(replies[0x4A10].data, Bytes({0x01, 0x02}));
    EXPECT_EQ(replies[0x4A12].data, Bytes({0x07}));
    EXPECT_EQ(replies[0x4A11].why, "request out of range (0x31)");
}

TEST(UdsClientTest, RefusedSharedRequestFallsBackToOneAtATime) {
    ScriptedModule module;
    module.script.push_back({{0x7F, 0x22, 0x13}});
    module.script.push_back({{0x62, 0x19, 0x40, 0x64}});
    module.script.push_back({{0x62, 0x19, 0x41, 0x03}});
    obd::uds::UdsClient client(module);
    bool refused = false;
    auto replies = client.readIdentifiers(kAbs, {{0x1940, 1}, {0x1941, 1}}, refused);
    EXPECT_TRUE(refused);
    EXPECT_EQ(replies[0x1940].data, Bytes({0x64}));
    EXPECT_EQ(replies[0x1941].data, Bytes({0x03}));
    // Once refused, the next reading asks one at a time straight away.
    module.requests.clear();
    client.readIdentifiers(kAbs, {{0x1940, 1}, {0x1941, 1}}, refused);
    EXPECT_THAT(module.requests, ElementsAre(Bytes{0x22, 0x19, 0x40}, Bytes{0x22, 0x19, 0x41}));
}

// An answer that echoes another identifier is no value of the one asked.
TEST(UdsClientTest, AnswerForAnotherIdentifierIsMissingNotAValue) {
    ScriptedModule module;
    module.script.push_back({{0x62, 0x4A, 0x11, 0x07}});
    obd::uds::UdsClient client(module);
    bool refused = false;
    auto replies = client.readIdentifiers(kAbs, {{0x4A10, 1}}, refused);
    EXPECT_FALSE(replies[0x4A10].ok());
    EXPECT_THAT(replies[0x4A10].why, ::testing::HasSubstr("another identifier"));
}

TEST(UdsClientTest, ResponsePendingIsWaitedThrough) {
    ScriptedModule module;
    module.script.push_back({{0x7F, 0x22, 0x78}, {0x7F, 0x22, 0x78}, {0x62, 0x4A, 0x20, 0x0C}});
    module.script.push_back({{0x7F, 0x22, 0x78}});
    obd::uds::UdsClient client(module);
    EXPECT_EQ(client.request(kAbs, {0x22, 0x4A, 0x20}).data, Bytes({0x4A, 0x20, 0x0C}));
    const auto late = client.request(kAbs, {0x22, 0x4A, 0x20});
    EXPECT_FALSE(late.ok());
    EXPECT_THAT(late.why, ::testing::HasSubstr("response pending"));
}

// ISO 14229 19 02: sub-function, availability mask, then 3 code bytes and a
// status byte per code. 40 35 is C0035 in the J2012 two-byte encoding.
TEST(UdsClientTest, TroubleCodesCarryTheFailureTypeAndStatus) {
    ScriptedModule module;
    module.script.push_back({{0x59, 0x02, 0xFF, 0x40, 0x35, 0x11, 0x89, 0x07, 0x15, 0x00, 0x04}});
    obd::uds::UdsClient client(module);
    std::string why;
    const auto codes = client.readCodes(kAbs, why);
    ASSERT_TRUE(codes) << why;
    ASSERT_EQ(codes->size(), 2u);
    EXPECT_EQ((*codes)[0].code, "C0035-11");
    EXPECT_EQ(obd::uds::StatusText((*codes)[0].status),
              "confirmed, test failed, warning indicator");
    EXPECT_EQ((*codes)[1].code, "P0715-00");
    EXPECT_EQ(obd::uds::StatusText((*codes)[1].status), "pending");
    EXPECT_THAT(module.requests, ElementsAre(Bytes{0x19, 0x02, 0xFF}));
}

}  // namespace
