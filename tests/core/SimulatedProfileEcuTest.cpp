// The simulated UDS modules answer as ISO 14229 has a server answer, and a
// scenario that describes one badly is refused with its path.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "obd/sim/Scenario.h"
#include "sim/SimulatedBus.h"

namespace {

using obd::sim::Bytes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string WithModule(const std::string& keys) {
    return R"({"name": "v", "ecus": [{"address": "0x7E8"}], "profileEcus": [{"name": "ABS", "request": "0x7B0", )" +
           keys + "}]}";
}

const obd::uds::PhysicalAddress kAbs{0x7B0, 0x7B8, false};

class SimulatedProfileEcuTest : public ::testing::Test {
protected:
    SimulatedProfileEcuTest()
        : scenario_(obd::sim::Scenario::parse(WithModule(R"("pendingMilliseconds": 0,
                 "identifiers": {"0x4A10": {"value": -2, "bytes": 2}, "0x4A11": {"data": "07"},
                                 "0x4A20": {"data": "0C", "pending": 2}, "0x4A30": {"refuse": "0x33"},
                                 "0x4A21": {"data": "0C", "pending": "forever"}},
                 "localIdentifiers": {"0x01": {"data": "5A"}},
                 "codes": [{"code": "C0035-11", "status": "0x2F"}, {"code": "U0100-00", "status": "0x04"}])"),
                                              "v")),
          bus_(*scenario_.model()) {}

    std::vector<Bytes> ask(const Bytes& request) {
        std::string error;
        auto messages = bus_.transactPhysical(request, kAbs, error);
        EXPECT_TRUE(messages) << error;
        return messages.value_or(std::vector<Bytes>{});
    }

    obd::sim::Scenario scenario_;
    obd::sim::SimulatedBus bus_;
};

// Positive answers echo each identifier before its record; a negative value
// goes as two's complement (-2: FF FE); identifiers left out of a shared
// request are simply missing from its answer.
TEST_F(SimulatedProfileEcuTest, AnswersAsIso14229Says) {
    const struct {
        Bytes request;
        std::vector<Bytes> answer;
    } cases[] = {
        {{0x22, 0x4A, 0x10}, {{0x62, 0x4A, 0x10, 0xFF, 0xFE}}},
        {{0x22, 0x4A, 0x10, 0x4A, 0x30, 0x4A, 0x11},
         {{0x62, 0x4A, 0x10, 0xFF, 0xFE, 0x4A, 0x11, 0x07}}},
        {{0x22, 0x4A, 0x30}, {{0x7F, 0x22, 0x33}}},
        {{0x22, 0x12, 0x34}, {{0x7F, 0x22, 0x31}}},
        {{0x22, 0x4A, 0x20}, {{0x7F, 0x22, 0x78}, {0x7F, 0x22, 0x78}, {0x62, 0x4A, 0x20, 0x0C}}},
        {{0x22, 0x4A, 0x21}, {{0x7F, 0x22, 0x78}}},  // a module that never finishes
        {{0x22, 0x4A}, {{0x7F, 0x22, 0x13}}},
        {{0x21, 0x01}, {{0x61, 0x01, 0x5A}}},
        // Status mask 08 (confirmed) leaves out the pending-only U0100-00.
        {{0x19, 0x02, 0x08}, {{0x59, 0x02, 0xFF, 0x40, 0x35, 0x11, 0x2F}}},
        {{0x19, 0x01, 0xFF}, {{0x7F, 0x19, 0x12}}},
        {{0x14, 0x12, 0x34, 0x56}, {{0x7F, 0x14, 0x31}}},
        {{0x10, 0x03}, {{0x7F, 0x10, 0x11}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ask(c.request), c.answer) << ::testing::PrintToString(c.request);
    }
    EXPECT_THAT(ask({0x14, 0xFF, 0xFF, 0xFF}), ElementsAre(Bytes{0x54}));
    EXPECT_THAT(ask({0x19, 0x02, 0xFF}), ElementsAre(Bytes{0x59, 0x02, 0xFF}));
    // Functional requests are not for it.
    EXPECT_TRUE(bus_.transact({0x22, 0x4A, 0x10}, obd::detail::kAllEcus).empty());
}

TEST(SimulatedProfileEcuScenarioTest, BadModulesAreRefusedWithTheirPath) {
    const struct {
        std::string keys;
        std::string message;
    } cases[] = {
        {R"("response": "0x7E8")", "/profileEcus/0/response: response id 0x7E8 is taken"},
        {R"("identifiers": {"0x4A10": {"value": 300, "bytes": 1}})",
         "/profileEcus/0/identifiers/0x4A10/value: value 300 does not fit 1 bytes"},
        {R"("identifiers": {"0x4A10": {}})", "/profileEcus/0/identifiers/0x4A10: give either"},
        {R"("identifiers": {"0x4A10": {"refuse": "0x78"}})", "/refuse: not a refusal"},
        {R"("identifiers": {"0x4A10": {"data": "01", "pending": "always"}})",
         "/profileEcus/0/identifiers/0x4A10/pending"},
        {R"("codes": [{"code": "C0035", "status": 8}])", "/profileEcus/0/codes/0/code"},
        {R"("codes": [{"code": "C0035-11", "status": 0}])", "/profileEcus/0/codes/0/status"},
        {R"("sharedRequest": false)", "/profileEcus/0/sharedRequest: unknown key"},
    };
    for (const auto& c : cases) {
        try {
            obd::sim::Scenario::parse(WithModule(c.keys), "v.json");
            ADD_FAILURE() << "accepted " << c.keys;
        } catch (const obd::sim::ScenarioError& error) {
            EXPECT_THAT(error.what(), HasSubstr(c.message));
        }
    }
}

}  // namespace
