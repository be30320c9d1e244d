// End-to-end tests of the zelt-scan binary: what a user sees on stdout and
// stderr, and the exit code.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs zelt-scan with `arguments` (shell syntax), capturing both streams.
Outcome Scan(const std::string& arguments) {
    // One file per process: test runs of other build trees share the
    // temporary folder.
    const std::string errFile =
        ::testing::TempDir() + "zelt-scan-stderr-" + std::to_string(::getpid()) + ".txt";
    const std::string command = std::string(ZELT_SCAN_PATH) + " " + arguments + " 2>" + errFile;
    Outcome run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return run;
    }
    std::array<char, 4096> buffer{};
    std::size_t read = 0;
    while ((read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        run.out.append(buffer.data(), read);
    }
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errFile);
    run.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    std::remove(errFile.c_str());
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
    int exitCode;
    const char* message;
};

class ZeltScanBadInputTest : public ::testing::TestWithParam<BadInput> {};

TEST_P(ZeltScanBadInputTest, GivesOneClearLineAndItsExitCode) {
    const Outcome run = Scan(GetParam().arguments);
    EXPECT_EQ(run.exitCode, GetParam().exitCode);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Lines(run.err), 1u) << run.err;
    EXPECT_THAT(run.err, HasSubstr("zelt-scan: error: "));
    EXPECT_THAT(run.err, HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZeltScanBadInputTest,
    ::testing::Values(
        BadInput{"--scenario /nonexistent/vehicle.json", 2, "/nonexistent/vehicle.json"},
        BadInput{"--scenario " ZELT_SCAN_TEST_DIR "/malformed.json", 2, "malformed.json"},
        BadInput{"--watch 0xZZ", 2, "invalid PID '0xZZ'"},
        BadInput{"--watch 0x99", 2, "unknown PID 0x99"}, BadInput{"--ecu 7", 2, "unknown ECU '7'"},
        BadInput{"--clear-codes", 2, "--yes"}, BadInput{"--count 0 --watch 0C", 2, "--count"},
        BadInput{"--no-such-option", 2, "--no-such-option"},
        BadInput{"--log /nonexistent/dir/scan.log", 2, "/nonexistent/dir/scan.log"},
        // Empty values are mistakes, not the default.
        BadInput{"--adapter ''", 2, "--adapter: needs a value"},
        BadInput{"--scenario ''", 2, "--scenario: needs a value"},
        BadInput{"--ecu ''", 2, "--ecu: needs a value"},
        // Numbers are decimal and never wrap around.
        BadInput{"--watch 0C --count 0x10", 2, "invalid value '0x10' for --count"},
        BadInput{"--watch 0C --count 4294967297", 2, "invalid value '4294967297' for --count"},
        BadInput{"--watch 0C --interval -1", 2, "--interval"},
        BadInput{"--watch 0C --interval 3600001", 2, "invalid value '3600001' for --interval"},
        // An ECU is a decimal index or a 0x address: "08" is index 8, not bad octal.
        BadInput{"--ecu 08", 2, "unknown ECU '08'"}, BadInput{"--ecu 0o1", 2, "invalid ECU '0o1'"},
        // Options that only mean something with another one.
        BadInput{"--interval 5", 2, "--interval requires --watch"},
        BadInput{"--count 5", 2, "--count requires --watch"},
        BadInput{"--trace", 2, "--trace requires --adapter"},
        // What the user typed is shown escaped, on one line.
        BadInput{"--watch \"$(printf '0C\\n\\033[2J')\"", 2, "invalid PID '0C\\x0A\\x1B[2J'"},
        // A report that cannot be written is a failure.
        BadInput{"--json >/dev/full", 1, "cannot write the report: "},
        BadInput{"--watch 0C --count 2 --interval 0 >/dev/full", 1, "cannot write the readings: "},
        BadInput{">&-", 1, "cannot write the report: the standard output is closed"}));

TEST(ZeltScanTest, LogNamingTheScenarioIsRefusedAndTheScenarioKept) {
    const std::string copy =
        ::testing::TempDir() + "zelt-scan-scenario-" + std::to_string(::getpid()) + ".json";
    {
        std::ifstream source(ScenarioPath("default.json"), std::ios::binary);
        std::ofstream(copy, std::ios::binary) << source.rdbuf();
    }
    const auto size = [&] { return std::ifstream(copy, std::ios::ate).tellg(); };
    const auto before = size();
    // Another spelling of the same file.
    const std::string alias = ::testing::TempDir() + "./" + copy.substr(copy.rfind('/') + 1);
    const Outcome run = Scan("--scenario " + copy + " --log " + alias);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.err, HasSubstr("is the scenario file"));
    EXPECT_EQ(size(), before);
    std::remove(copy.c_str());
}

// Text from the vehicle or adapter (here: a scenario's adapter banner) can
// hold terminal control sequences; they are shown, not obeyed.
TEST(ZeltScanTest, ControlBytesFromTheAdapterAreShownEscaped) {
    const std::string path =
        ::testing::TempDir() + "zelt-scan-escape-" + std::to_string(::getpid()) + ".json";
    std::ifstream source(ScenarioPath("default.json"));
    auto scenario = nlohmann::json::parse(source);
    scenario["adapter"]["identification"] = "ELM327 \x1b[2Jv1.5\nX";
    std::ofstream(path) << scenario.dump();
    const Outcome text = Scan("--scenario " + path);
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_THAT(text.out, HasSubstr("ELM327 \\x1B[2Jv1.5\\x0AX\n"));
    EXPECT_THAT(text.out, Not(HasSubstr("\x1b")));
    const Outcome json = Scan("--json --scenario " + path);
    EXPECT_EQ(nlohmann::json::parse(json.out)["adapter"]["identification"],
              "ELM327 \x1b[2Jv1.5\nX");
    std::remove(path.c_str());
}

TEST(ZeltScanTest, HelpAndVersionSucceed) {
    EXPECT_THAT(Scan("--help").out, HasSubstr("--scenario"));
    const Outcome version = Scan("--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_THAT(version.out, HasSubstr("zelt-scan "));
}

}  // namespace
