#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bus/Hex.h"
#include "j1979/Codec.h"
#include "obd/ServiceBuilders.h"
#include "obd/sim/Scenario.h"
#include "obd/sim/SimulatedQuorvix.h"
#include "sim/SimulatedBus.h"
#include "sim/SimulatedEcu.h"
#include "sim/VehicleModel.h"

namespace {

using obd::sim::Bytes;
using obd::sim::Scenario;
using obd::sim::SimulatedBus;
using obd::sim::SimulatedEcu;
using ::testing::ElementsAre;

// Two ECUs with constant values, so that answers are exact.
const char* const kVehicle = R"({
  "name": "test car",
  "ecus": [
    { "address": "0x7E8", "name": "ECM", "description": "EngineControl", "mil": true,
      "codes": { "confirmed": ["P0301", "P0420"], "pending": [], "permanent": ["C0035"] },
      "pids": { "0x05": 90, "0x0C": 780, "0x0D": 0, "0x21": 154, "0x4E": 2880 },
      "readiness": { "sinceReset": { "misfire": "complete", "catalyst": "incomplete" } },
      "freezeFrames": [ { "code": "P0301", "pids": { "0x0C": 2315, "0x0D": 57 } } ],
      "clearCodes": { "pids": { "0x21": 0 } },
      "testResults": [
        { "mid": "0x01", "tid": "0x01", "unitAndScaling": "0x0A", "value": 0.45, "minimum": 0.4, "maximum": 0.5 },
        { "mid": "0x01", "tid": "0x05", "unitAndScaling": "0x10", "value": 0.072, "minimum": 0, "maximum": 0.1 } ],
      "routines": [ { "tid": "0x01" }, { "tid": "0x02", "accepted": false } ],
      "info": { "vin": "WBA3B5C51FK123456", "cvns": ["1791BC82", "16E062BE"] } },
    { "address": "0x7E9", "pids": { "0x0D": 0 } }
  ]
})";

class SimulatedEcuTest : public ::testing::Test {
protected:
    SimulatedEcuTest()
        : model_(Scenario::parse(kVehicle, "test.json").model()), ecu_(model_->ecus.front()) {}

    std::string Ask(const std::string& request, bool functional = false) {
        auto answer = ecu_.answer(*obd::bus::ParseHex(request), functional, 0);
        return answer ? obd::bus::ToHex(*answer) : "silent";
    }

    std::shared_ptr<const obd::sim::VehicleModel> model_;
    SimulatedEcu ecu_;
};

TEST_F(SimulatedEcuTest, AnswersRequestsAsAVehicleDoes) {
    struct Case {
        const char* request;
        const char* answer;
    };
    const Case cases[] = {
        // Positive answers echo the PID: 90 °C = 0x82, 780 rpm = 0x0C30.
        {"01 05", "41 05 82"},
        {"01 0C", "41 0C 0C 30"},
        {"01 05 0C", "41 05 82 0C 0C 30"},
        // Support bitmaps follow the PIDs present (01 derived, 05, 0C, 0D;
        // the last bit announces PID 20), and 20 those above 0x20.
        {"01 00", "41 00 88 18 00 01"},
        {"01 20", "41 20 80 00 00 01"},
        {"01 40", "41 40 00 04 00 00"},
        // PID 01: MIL on with two codes; misfire supported and complete,
        // catalyst supported and incomplete.
        {"01 01", "41 01 82 01 01 01"},
        // Unsupported PID, service, or malformed request: negative answers.
        {"01 0A", "7F 01 12"},
        {"01 60", "7F 01 12"},
        {"05", "7F 05 11"},
        {"03 00", "7F 03 12"},
        // Trouble codes lead with their count on CAN.
        {"03", "43 02 03 01 04 20"},
        {"07", "47 00"},
        {"0A", "4A 01 40 35"},
        // Freeze frame 0: its code, its PIDs; frame 1 does not exist.
        {"02 02 00", "42 02 00 03 01"},
        {"02 0C 00", "42 0C 00 24 2C"},
        {"02 00 00", "42 00 00 40 18 00 00"},
        {"02 0C 01", "7F 02 12"},
        // Vehicle information leads with the item count, not part of the VIN.
        {"09 02", "49 02 01 57 42 41 33 42 35 43 35 31 46 4B 31 32 33 34 35 36"},
        {"09 06", "49 06 02 17 91 BC 82 16 E0 62 BE"},
        {"09 00", "49 00 44 40 00 00"},
        // Service 06: 9-byte records of MID, TID, unit and scaling id, value,
        // minimum and maximum.
        {"06 00", "46 00 80 00 00 00"},
        {"06 01", "46 01 01 0A 0E 69 0C CF 10 02 01 05 10 00 48 00 00 00 64"},
        // Routines: supported ones answer with their data, refused ones 7F 08 22.
        {"08 00", "48 00 C0 00 00 00"},
        {"08 01 00 00 00 00 00", "48 01 00 00 00 00 00"},
        {"08 02 00 00 00 00 00", "7F 08 22"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Ask(c.request), c.answer) << c.request;
    }
}

TEST_F(SimulatedEcuTest, KeepsSilentOnBroadcastsItCannotServe) {
    EXPECT_EQ(Ask("01 0A", true), "silent");
    EXPECT_EQ(Ask("05", true), "silent");
    EXPECT_EQ(Ask("01 05", true), "41 05 82");
}

TEST_F(SimulatedEcuTest, ClearingDropsCodesAndFramesButKeepsPermanentCodes) {
    EXPECT_EQ(Ask("01 21"), "41 21 00 9A");
    EXPECT_EQ(Ask("04"), "44");
    EXPECT_EQ(Ask("03"), "43 00");
    EXPECT_EQ(Ask("0A"), "4A 01 40 35");
    EXPECT_EQ(Ask("01 01"), "41 01 00 01 01 01");
    EXPECT_EQ(Ask("02 02 00"), "42 02 00 00 00");
    EXPECT_EQ(Ask("01 21"), "41 21 00 00");
}

TEST(SimulatedEcuRefusalTest, RefusedClearingAnswersConditionsNotCorrectEvenOnBroadcast) {
    auto scenario = Scenario::parse(
        R"({"name": "x", "ecus": [{"address": 2025, "codes": {"confirmed": ["P0301"]},
            "clearCodes": {"accepted": false}}]})",
        "refusing.json");
    SimulatedEcu ecu(scenario.model()->ecus.front());
    EXPECT_EQ(obd::bus::ToHex(*ecu.answer({0x04}, true, 0)), "7F 04 22");
    EXPECT_EQ(obd::bus::ToHex(*ecu.answer({0x03}, false, 0)), "43 01 03 01");
}

TEST(SimulatedEcuLiveTest, LiveValuesFollowTheirProfileOverTime) {
    auto scenario = Scenario::parse(
        R"({"name": "x", "ecus": [{"address": "0x7E8", "pids": {
              "0x0C": {"points": [[0, 800], [10, 2800]], "repeat": true},
              "0x1F": {"start": 100, "rate": 1}}}]})",
        "live.json");
    SimulatedEcu ecu(scenario.model()->ecus.front());
    auto at = [&](const char* request, double t) {
        return obd::bus::ToHex(*ecu.answer(*obd::bus::ParseHex(request), false, t));
    };
    EXPECT_EQ(at("01 0C", 0), "41 0C 0C 80");   // 800 rpm
    EXPECT_EQ(at("01 0C", 5), "41 0C 1C 20");   // 1800 rpm
    EXPECT_EQ(at("01 0C", 15), "41 0C 1C 20");  // repeated
    EXPECT_EQ(at("01 1F", 0), "41 1F 00 64");
    EXPECT_EQ(at("01 1F", 20), "41 1F 00 78");
}

TEST(SupportBitmapTest, AnnouncesPidsAndTheNextBitmap) {
    EXPECT_THAT(obd::sim::SupportBitmap({0x01, 0x20}, 0x00), ElementsAre(0x80, 0x00, 0x00, 0x01));
    EXPECT_THAT(obd::sim::SupportBitmap({0x08, 0x21}, 0x00), ElementsAre(0x01, 0x00, 0x00, 0x01));
    EXPECT_THAT(obd::sim::SupportBitmap({0x7F}, 0x60), ElementsAre(0x00, 0x00, 0x00, 0x02));
    EXPECT_THAT(obd::sim::BitmapIds({0x05, 0x4D}), ElementsAre(0x00, 0x20, 0x40));
}

TEST(SimulatedBusTest, FunctionalRequestIsAnsweredByEveryEcuWithItsAddress) {
    auto scenario = Scenario::parse(kVehicle, "test.json");
    SimulatedBus bus(*scenario.model(), [] { return 0.0; });
    const auto answers = bus.transact({0x01, 0x0D}, 0);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].ecu, 0x7E8u);
    EXPECT_EQ(answers[1].ecu, 0x7E9u);
    EXPECT_THAT(answers[1].payload, ElementsAre(0x41, 0x0D, 0x00));
    // Physically addressed, only that ECU answers.
    const auto single = bus.transact({0x01, 0x0D}, 0x7E9);
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(single[0].ecu, 0x7E9u);
    // A service the second ECU lacks: only the first answers the broadcast.
    EXPECT_EQ(bus.transact({0x09, 0x02}, 0).size(), 1u);
}

TEST(SimulatedBusTest, MultiFrameAnswersArriveWhole) {
    auto scenario = Scenario::parse(kVehicle, "test.json");
    SimulatedBus bus(*scenario.model(), [] { return 0.0; });
    const auto answers = bus.transact({0x09, 0x02}, 0x7E8);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].payload.size(), 20u);
    EXPECT_EQ(std::string(answers[0].payload.begin() + 3, answers[0].payload.end()),
              "WBA3B5C51FK123456");
}

}  // namespace

// One monitor per case is incomplete; the bit it sets in bytes C and D, the
// readiness section and the PID 0x01 text must all be the ones SAE J1979
// gives for that ignition type (a mismatch put NOx/SCR on reserved bit 2).
TEST(ReadinessMonitorBitsTest, ReadinessSectionAndPid01TextNameTheMonitorOfEachBit) {
    const struct {
        const char* ignition;
        const char* key;
        std::uint8_t bit;  // of bytes C and D
        const char* name;
    } cases[] = {
        {"spark", "catalyst", 0x01, "Catalyst"},
        {"spark", "heatedCatalyst", 0x02, "Heated Catalyst"},
        {"spark", "evaporativeSystem", 0x04, "Evaporative System"},
        {"spark", "secondaryAirSystem", 0x08, "Secondary Air System"},
        {"spark", "acRefrigerant", 0x10, "A/C Refrigerant"},
        {"spark", "oxygenSensor", 0x20, "Oxygen Sensor"},
        {"spark", "oxygenSensorHeater", 0x40, "Oxygen Sensor Heater"},
        {"spark", "egrSystem", 0x80, "EGR System"},
        {"compression", "nmhcCatalyst", 0x01, "NMHC Catalyst"},
        {"compression", "noxScrMonitor", 0x02, "NOx/SCR Aftertreatment"},
        {"compression", "boostPressure", 0x08, "Boost Pressure"},
        {"compression", "exhaustGasSensor", 0x20, "Exhaust Gas Sensor"},
        {"compression", "pmFilter", 0x40, "PM Filter"},
        {"compression", "egrVvtSystem", 0x80, "EGR/VVT System"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const Scenario scenario = Scenario::parse(
            std::string(
                R"({"name": "t", "ecus": [{"address": "0x7E8", "readiness": {"ignition": ")") +
                c.ignition + R"(", "sinceReset": {")" + c.key + R"(": "incomplete"}}}]})",
            "test.json");
        SimulatedEcu ecu(scenario.model()->ecus.front());
        const Bytes answer = *ecu.answer({0x01, 0x01}, false, 0);
        ASSERT_EQ(answer.size(), 6u);
        EXPECT_EQ(answer[4], c.bit);  // byte C: supported
        EXPECT_EQ(answer[5], c.bit);  // byte D: incomplete
        const Bytes data(answer.begin() + 2, answer.end());
        EXPECT_EQ(obd::j1979::DecodePid(0x01, data)[4].text, c.name);

        auto root = obd::sim::SimulatedQuorvix::create(scenario);
        root->openConnection();
        auto connection = obd::ConnectionServiceBuilder::create(root);
        auto diagnostics = obd::DiagnosticsServiceBuilder::create(root, connection);
        std::vector<std::string> incomplete;
        for (const auto& monitor : diagnostics->getReadinessMonitorsSinceReset()) {
            if (monitor->supported && !monitor->complete) {
                incomplete.push_back(monitor->name);
            }
        }
        EXPECT_THAT(incomplete, ElementsAre(c.name));
    }
    // Bits 2 and 4 are reserved for compression ignition: nothing is named.
    EXPECT_EQ(obd::j1979::DecodePid(0x01, {0x00, 0x08, 0x14, 0x14})[4].text, "None");
}
