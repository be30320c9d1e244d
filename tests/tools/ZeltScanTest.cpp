// End-to-end tests of the zelt-scan binary: what a user sees on stdout and
// stderr, and the exit code.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>

#include "ProcessRunner.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using Outcome = zelt::testing::ProcessResult;

// Runs zelt-scan with `arguments` (shell syntax), capturing both streams.
Outcome Scan(const std::string& arguments) {
    const Outcome run = zelt::testing::RunShell(std::string(ZELT_SCAN_PATH) + " " + arguments);
    EXPECT_EQ(run.failure, "");
    EXPECT_FALSE(run.timedOut) << "zelt-scan " << arguments;
    return run;
}

std::string ScenarioPath(const std::string& name) {
    return std::string(ZELT_SCENARIO_DIR) + "/" + name;
}

std::size_t Lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(ZeltScanTest, DefaultReportHoldsEverySectionAndTheBuiltInVehicle) {
    const Outcome run = Scan("");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    for (const char* section :
         {"Vehicle and ECU information", "Malfunction indicator lamp", "Trouble codes",
          "Freeze frames", "Readiness monitors", "On-board monitor tests", "Oxygen sensors",
          "In-use performance counters", "Vehicle operation data", "Test routines", "Live data",
          "Adapter"}) {
        EXPECT_THAT(run.out, HasSubstr(section));
    }
    EXPECT_THAT(run.out, HasSubstr("Vehicle Identification Number"));
    EXPECT_THAT(run.out, HasSubstr("MIL: ON"));
    EXPECT_THAT(run.out, HasSubstr("P0301"));
    EXPECT_THAT(run.out, HasSubstr("Cylinder 1 Misfire Detected"));
    EXPECT_THAT(run.out, HasSubstr("P0171"));
    EXPECT_THAT(run.out, HasSubstr("ELM327 v1.5"));
    EXPECT_THAT(run.out, HasSubstr(" RPM"));
    // Piped output carries no colour.
    EXPECT_THAT(run.out, Not(HasSubstr("\x1b[")));
}

TEST(ZeltScanTest, JsonReportParsesAndMatchesTheScenario) {
    const Outcome run = Scan("--json --scenario " + ScenarioPath("default.json"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["mil"]["status"], "on");
    std::set<std::string> confirmed;
    for (const auto& code : json["troubleCodes"]["confirmed"]) {
        confirmed.insert(code["code"].get<std::string>());
    }
    EXPECT_EQ(confirmed, (std::set<std::string>{"P0301", "P0420"}));
    ASSERT_EQ(json["troubleCodes"]["pending"].size(), 1u);
    EXPECT_EQ(json["troubleCodes"]["pending"][0]["code"], "P0171");
    EXPECT_EQ(json["freezeFrames"].size(), 1u);
    EXPECT_EQ(json["adapter"]["identification"], "ELM327 v1.5");
    EXPECT_FALSE(json["liveData"].empty());
    bool vinFound = false;
    for (const auto& item : json["ecuInfo"]) {
        if (item["id"] == 4) {
            vinFound = true;
            EXPECT_EQ(item["value"].get<std::string>().size(), 17u);
            EXPECT_TRUE(item["fromVehicle"]);
        }
    }
    EXPECT_TRUE(vinFound);
    EXPECT_EQ(json["clearCodes"], nullptr);
}

TEST(ZeltScanTest, WatchPrintsOneLinePerReadingWithChangingValues) {
    // The oxygen sensor voltage swings within a second, so readings 200 ms
    // apart differ.
    const Outcome run = Scan("--watch 14 --count 5 --interval 200");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Lines(run.out), 5u);
    std::istringstream lines(run.out);
    std::set<std::string> values;
    std::string line;
    while (std::getline(lines, line)) {
        values.insert(line.substr(line.find(' ')));  // without the reading number
    }
    EXPECT_GT(values.size(), 1u) << run.out;
}

TEST(ZeltScanTest, WatchAsJsonWritesOneObjectPerLine) {
    const Outcome run = Scan("--watch 0x0C,0D --count 2 --interval 0 --json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::istringstream lines(run.out);
    std::string line;
    int readings = 0;
    while (std::getline(lines, line)) {
        const auto json = nlohmann::json::parse(line);
        EXPECT_EQ(json["reading"], ++readings);
        EXPECT_EQ(json["parameters"].size(), 2u);
    }
    EXPECT_EQ(readings, 2);
}

TEST(ZeltScanTest, ClearCodesWithYesLeavesNoCodes) {
    const Outcome run = Scan("--clear-codes --yes --json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_FALSE(json["troubleCodes"]["confirmed"].empty());
    EXPECT_TRUE(json["clearCodes"]["accepted"]);
    EXPECT_TRUE(json["clearCodes"]["confirmed"].empty());
    EXPECT_TRUE(json["clearCodes"]["pending"].empty());
}

TEST(ZeltScanTest, AnotherEcuIsScannedWhenSelected) {
    const Outcome run = Scan("--ecu 0x7E9 --json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out)["vehicle"]["ecu"], "0x7E9");
}

TEST(ZeltScanTest, LogOptionWritesTheDebugLog) {
    const std::string log =
        ::testing::TempDir() + "zelt-scan-test-" + std::to_string(::getpid()) + ".log";
    std::remove(log.c_str());
    const Outcome run = Scan("--log " + log + " --json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::ifstream file(log);
    std::string first;
    std::getline(file, first);
    EXPECT_THAT(first, HasSubstr(" INFO - zelt-scan "));
}

struct BadInput {
    const char* arguments;
    const char* message;
};

class ZeltScanBadInputTest : public ::testing::TestWithParam<BadInput> {};

TEST_P(ZeltScanBadInputTest, GivesOneClearLineAndANonZeroExit) {
    const Outcome run = Scan(GetParam().arguments);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Lines(run.err), 1u) << run.err;
    EXPECT_THAT(run.err, HasSubstr("zelt-scan: error: "));
    EXPECT_THAT(run.err, HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZeltScanBadInputTest,
    ::testing::Values(BadInput{"--scenario /nonexistent/vehicle.json", "/nonexistent/vehicle.json"},
                      BadInput{"--scenario " ZELT_SCAN_TEST_DIR "/malformed.json",
                               "malformed.json"},
                      BadInput{"--watch 0xZZ", "invalid PID '0xZZ'"},
                      BadInput{"--watch 0x99", "unknown PID 0x99"},
                      BadInput{"--ecu 7", "unknown ECU '7'"}, BadInput{"--clear-codes", "--yes"},
                      BadInput{"--count 0 --watch 0C", "--count"},
                      BadInput{"--no-such-option", "--no-such-option"},
                      BadInput{"--log /nonexistent/dir/scan.log", "/nonexistent/dir/scan.log"}));

TEST(ZeltScanTest, HelpAndVersionSucceed) {
    EXPECT_THAT(Scan("--help").out, HasSubstr("--scenario"));
    const Outcome version = Scan("--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_THAT(version.out, HasSubstr("zelt-scan "));
}

}  // namespace
