// Real cars, replayed: each dialogue of tests/data/real (published by the
// car's owner with a bug report) is served by elm327-emulator --replay and
// scanned by zelt-scan as a user would. What the report must say is worked
// out by hand from the dialogue's bytes: ECUs by their headers, values by
// the SAE J1979 formulas, codes by SAE J2012. A car that refused, or that
// the adapter never reached, ends with one line naming why.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ProcessRunner.h"

namespace {

using ::testing::HasSubstr;
using Json = nlohmann::json;

struct Reading {
    std::uint32_t ecu;
    int pid;
    const char* sensor;
    double value;
};

struct RealCar {
    const char* id;
    const char* refusal;  // a fragment of the one line on stderr; "" when the scan succeeds
    std::vector<std::uint32_t> ecus = {};
    // Per ECU, the PIDs it announced (PID 00, 20, 40) and then answered.
    std::map<std::uint32_t, std::vector<int>> pids = {};
    std::vector<Reading> readings = {};
    std::map<std::uint32_t, std::vector<std::string>> pending = {};
    double volts = 0;  // 0: the adapter was not asked
    std::map<std::uint32_t, std::vector<std::string>> confirmed = {};
    const char* vin = "";  // these two as the report gives them; "": none to check
    const char* calibration = "";
};

void PrintTo(const RealCar& car, std::ostream* out) {
    *out << car.id;
}

const Json* EcuOf(const Json& report, std::uint32_t address) {
    for (const Json& ecu : report["ecus"]) {
        if (ecu["address"] == address) {
            return &ecu;
        }
    }
    return nullptr;
}

class RealDialogueTest : public ::testing::TestWithParam<RealCar> {};

TEST_P(RealDialogueTest, ReportsWhatTheCarSaid) {
    const RealCar& car = GetParam();
    // The emulator prints its port, then serves one client and exits.
    const std::string command =
        std::string(ZELT_ELM327_EMULATOR_PATH) + " --replay " + ZELT_SCAN_TEST_DIR +
        "/../data/real/" + car.id + ".jsonl --port 0 --once --answer-wait 0 | { read -r line; " +
        ZELT_SCAN_PATH + " --json --timeout 2000 --adapter tcp://127.0.0.1:${line##*:}; }";
    const auto run = zelt::testing::RunShell(command);
    ASSERT_FALSE(run.timedOut);
    if (*car.refusal != '\0') {
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_THAT(run.err, HasSubstr(car.refusal));
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        return;
    }
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Json report = Json::parse(run.out);
    EXPECT_EQ(report["answeringEcus"].get<std::vector<std::uint32_t>>(), car.ecus);
    for (std::uint32_t address : car.ecus) {
        const Json* ecu = EcuOf(report, address);
        ASSERT_NE(ecu, nullptr) << address;
        std::vector<int> pids;
        for (const Json& parameter : (*ecu)["liveData"]) {
            pids.push_back(parameter["pid"]);
        }
        EXPECT_EQ(pids, car.pids.count(address) ? car.pids.at(address) : std::vector<int>{})
            << address;
        for (const auto& [kind, expected] : {std::make_pair("pending", &car.pending),
                                             std::make_pair("confirmed", &car.confirmed)}) {
            std::vector<std::string> codes;
            for (const Json& code : (*ecu)["troubleCodes"][kind]) {
                codes.push_back(code["code"]);
            }
            EXPECT_EQ(codes,
                      expected->count(address) ? expected->at(address) : std::vector<std::string>{})
                << kind << " of " << address;
        }
    }
    for (const char* text : {car.vin, car.calibration}) {
        EXPECT_TRUE(*text == '\0' ||
                    run.out.find('"' + std::string(text) + '"') != std::string::npos)
            << text;
    }
    for (const Reading& reading : car.readings) {
        const Json* ecu = EcuOf(report, reading.ecu);
        ASSERT_NE(ecu, nullptr);
        bool found = false;
        for (const Json& parameter : (*ecu)["liveData"]) {
            for (const Json& sensor : parameter["sensors"]) {
                if (parameter["pid"] == reading.pid && sensor["name"] == reading.sensor) {
                    found = true;
                    EXPECT_NEAR(sensor["value"].get<double>(), reading.value, 0.005)
                        << reading.sensor;
                }
            }
        }
        EXPECT_TRUE(found) << reading.sensor;
    }
    if (car.volts > 0) {
        EXPECT_EQ(report["adapter"]["batteryVoltage"]["value"], car.volts);
    }
}

// 41 05 39: 57 - 40 = 17 degC; 41 0B 64: 100 kPa; 41 0F 38: 56 - 40 = 16 degC
// (the first of two answers); 41 10 00 F1: 241 / 100 = 2.41 g/s; 41 21 00 31:
// 49 km; 41 23 00 41: 65 * 10 = 650 kPa; 41 30 1D: 29; 41 01 83: MIL on, 3
// codes. PID 00 98 3B 20 13, 20 B0 01 A0 01: of those announced, 01 04 05 0B
// 0C 0D 0F 10 1C 1F 21 23 24 30 were asked and answered.
const std::vector<Reading> kSprinter = {
    {0x12, 0x05, "Engine Coolant Temperature", 17},
    {0x12, 0x0B, "Intake Manifold Absolute Pressure", 100},
    {0x12, 0x0C, "Engine Speed", 0},
    {0x12, 0x0F, "Intake Air Temperature", 16},
    {0x12, 0x10, "Mass Air Flow Rate", 2.41},
    {0x12, 0x21, "Distance With MIL On", 49},
    {0x12, 0x23, "Fuel Rail Gauge Pressure", 650},
    {0x12, 0x30, "Warm-ups Since Codes Cleared", 29},
    {0x12, 0x01, "Trouble Code Count", 3},
};

// 84 F1 12 41 0C 0C 34: (0x0C * 256 + 0x34) / 4 = 781 rpm; 83 F1 12 41 0F 41:
// 65 - 40 = 25 degC; 43 14 07 00 00 00 00: P1407, and two empty slots that
// are no P0000.
const std::vector<Reading> kFreediag = {
    {0x12, 0x0C, "Engine Speed", 781},
    {0x12, 0x0F, "Intake Air Temperature", 25},
};

INSTANTIATE_TEST_SUITE_P(
    Corpus, RealDialogueTest,
    ::testing::Values(
        RealCar{"pyobd153-audi-tt-1998", "", {0x11}, {}, {}, {}, 14.1},
        RealCar{"pyobd180-kwp-negative-0100",
                "refuses OBD service 01 (ECU 10 answered 7F 01 11, service not supported)"},
        RealCar{"pyobd81-renault-espace-iv", "", {0x7A}},
        RealCar{"pyobd254-can29-four-ecus",
                "",
                {0x18DAF111, 0x18DAF118, 0x18DAF128, 0x18DAF140},
                {},
                {},
                {{0x18DAF111, {"P226D", "P226E"}}},
                13.6},
        RealCar{"pyobd50-elm21-7e9-first", "", {0x7E8, 0x7E9}},
        RealCar{"pyobd76-ford-falcon-2000", "UNABLE TO CONNECT"},
        RealCar{"wican424-dodge-sprinter-2005",
                "",
                {0x12},
                {{0x12,
                  {0x01, 0x04, 0x05, 0x0B, 0x0C, 0x0D, 0x0F, 0x10, 0x1C, 0x1F, 0x21, 0x23, 0x24,
                   0x30}}},
                kSprinter,
                {},
                11.6},
        RealCar{"muki11-mercedes-a180d", "", {0x7E8, 0x7E9, 0x7EB}},
        RealCar{"wican142-zeekr-001", "BUS INIT: ...ERROR"},
        RealCar{"pyobd257-honda-civic", "", {0x18DAF111, 0x18DAF11D}},
        // Never asked 0100: the replay announces what each ECU answered.
        // 49 02 01 55 55 31 ...: the VIN; 49 04 01 32 33 37 ...: the
        // calibration id, its sixteen bytes padded with 00.
        RealCar{"pyobd288-dacia-vin-calid",
                "",
                {0x7E8},
                {},
                {},
                {},
                0,
                {},
                "UU1B5220X65966756",
                "237616425S"},
        // Headers off: the two ECUs are named by the order of their lines.
        RealCar{"piobdii4-elm21-two-ecus-noheaders",
                "",
                {0x7E8, 0x7E9},
                {{0x7E8, {0x01}}, {0x7E9, {0x01}}}},
        // 41 0C 000 is cut short: only the refusal 7F 01 12, the first whole
        // line, remains.
        RealCar{"freematics7-citroen-kwp", "", {0x10}},
        RealCar{"pyobd206-can29-headers-off", "", {0x18DAF110, 0x18DAF111}},
        RealCar{"freediag1-kwp-clone-dtc",
                "",
                {0x12},
                {{0x12, {0x0C, 0x0F}}},
                kFreediag,
                {},
                0,
                {{0x12, {"P1407"}}}}),
    [](const ::testing::TestParamInfo<RealCar>& info) {
        std::string name = info.param.id;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

// The emulator's vehicle on each protocol, scanned with --record, then the
// recording replayed and scanned again: the car's answers, re-printed, give
// the same report.
class RecordedScanTest : public ::testing::TestWithParam<int> {};

TEST_P(RecordedScanTest, ReplaysAsTheSameReport) {
    const std::string recording =
        ::testing::TempDir() + "/scan-" + std::to_string(GetParam()) + ".jsonl";
    auto scan = [](const std::string& emulator, const std::string& extra) {
        return zelt::testing::RunShell(
            std::string(ZELT_ELM327_EMULATOR_PATH) + " --port 0 --once --answer-wait 0 " +
            emulator + " | { read -r line; " + ZELT_SCAN_PATH +
            " --json --adapter tcp://127.0.0.1:${line##*:} " + extra + "; }");
    };
    const auto original = scan("--protocol " + std::to_string(GetParam()), "--record " + recording);
    const auto replayed = scan("--replay " + recording, "");
    ASSERT_EQ(original.exitCode, 0) << original.err;
    ASSERT_EQ(replayed.exitCode, 0) << replayed.err;
    EXPECT_EQ(Json::parse(replayed.out), Json::parse(original.out));
}

INSTANTIATE_TEST_SUITE_P(EveryProtocol, RecordedScanTest, ::testing::Range(1, 10));

// Recorded with --record-anonymise on CAN and on ISO 9141-2 (whose VIN comes
// in five messages, each with its check byte): the replay gives the same
// report but for the VIN's last six characters, each the digit zero.
TEST(AnonymisedRecordingTest, ReplaysWithTheVinSerialMasked) {
    for (const char* protocol : {"6", "3"}) {
        const std::string recording = ::testing::TempDir() + "/anonymised-" + protocol + ".jsonl";
        auto scan = [](const std::string& emulator, const std::string& extra) {
            return zelt::testing::RunShell(
                std::string(ZELT_ELM327_EMULATOR_PATH) + " --port 0 --once --answer-wait 0 " +
                emulator + " | { read -r line; " + ZELT_SCAN_PATH +
                " --json --adapter tcp://127.0.0.1:${line##*:} " + extra + "; }");
        };
        const auto original = scan(std::string("--protocol ") + protocol,
                                   "--record " + recording + " --record-anonymise");
        const auto replayed = scan("--replay " + recording, "");
        ASSERT_EQ(original.exitCode, 0) << original.err;
        ASSERT_EQ(replayed.exitCode, 0) << replayed.err;
        // The VIN stands in the title, the source and the ECU's information.
        std::string expected = original.out;
        const std::string vin = Json::parse(original.out)["source"]["vin"];
        for (auto at = expected.find(vin); at != std::string::npos; at = expected.find(vin, at)) {
            expected.replace(at + 11, 6, "000000");
        }
        EXPECT_EQ(Json::parse(replayed.out), Json::parse(expected)) << protocol;
    }
}

}  // namespace

#else
TEST(RealDialogueTest, NeedsAPosixShell) {
    GTEST_SKIP() << "the tool tests run the tools through a POSIX shell";
}
#endif
