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
#include <vector>

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
    // The title names what was scanned; each answering ECU has its sections.
    EXPECT_THAT(run.out, HasSubstr("zelt-scan report: Petrol hatchback (simulated); ECUs 0x7E8, "
                                   "0x7E9 of 2 answering\n"));
    EXPECT_THAT(run.out, HasSubstr("Trouble codes, ECU 0x7E9"));
    EXPECT_THAT(run.out, HasSubstr("MIL: ON"));
    EXPECT_THAT(run.out, HasSubstr("P0301"));
    EXPECT_THAT(run.out, HasSubstr("Cylinder 1 Misfire Detected"));
    EXPECT_THAT(run.out, HasSubstr("P0171"));
    EXPECT_THAT(run.out, HasSubstr("ELM327 v1.5"));
    EXPECT_THAT(run.out, HasSubstr(" RPM"));
    // Piped output carries no colour.
    EXPECT_THAT(run.out, Not(HasSubstr("\x1b[")));
}

// A small validator for the keywords report.schema.json uses: type, const,
// enum, required, properties, additionalProperties (false), items, oneOf and
// local $ref. Returns where `value` breaks `schema`, empty when it does not.
std::string Violation(const nlohmann::json& value, const nlohmann::json& schema,
                      const nlohmann::json& root, const std::string& path) {
    if (schema.contains("$ref")) {
        const std::string ref = schema["$ref"];
        return Violation(value, root.at(nlohmann::json::json_pointer(ref.substr(1))), root, path);
    }
    if (schema.contains("oneOf")) {
        int matches = 0;
        for (const auto& option : schema["oneOf"]) {
            matches += Violation(value, option, root, path).empty() ? 1 : 0;
        }
        return matches == 1 ? "" : path + ": matches " + std::to_string(matches) + " of oneOf";
    }
    if (schema.contains("const") && value != schema["const"]) {
        return path + ": not " + schema["const"].dump();
    }
    if (schema.contains("enum") &&
        std::find(schema["enum"].begin(), schema["enum"].end(), value) == schema["enum"].end()) {
        return path + ": " + value.dump() + " not in " + schema["enum"].dump();
    }
    if (schema.contains("type")) {
        const auto types =
            schema["type"].is_array() ? schema["type"] : nlohmann::json::array({schema["type"]});
        const auto is = [&](const std::string& type) {
            return (type == "null" && value.is_null()) || (type == "string" && value.is_string()) ||
                   (type == "boolean" && value.is_boolean()) ||
                   (type == "integer" && value.is_number_integer()) ||
                   (type == "number" && value.is_number()) ||
                   (type == "object" && value.is_object()) || (type == "array" && value.is_array());
        };
        if (std::none_of(types.begin(), types.end(), is)) {
            return path + ": " + value.dump() + " is not " + schema["type"].dump();
        }
    }
    if (value.is_object()) {
        for (const auto& key : schema.value("required", nlohmann::json::array())) {
            if (!value.contains(key)) {
                return path + ": no " + key.get<std::string>();
            }
        }
        const auto properties = schema.value("properties", nlohmann::json::object());
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (properties.contains(it.key())) {
                const auto found =
                    Violation(it.value(), properties[it.key()], root, path + "/" + it.key());
                if (!found.empty()) {
                    return found;
                }
            } else if (schema.value("additionalProperties", true) == false) {
                return path + ": unknown key " + it.key();
            }
        }
    }
    if (value.is_array() && schema.contains("items")) {
        for (std::size_t i = 0; i < value.size(); ++i) {
            const auto found =
                Violation(value[i], schema["items"], root, path + "/" + std::to_string(i));
            if (!found.empty()) {
                return found;
            }
        }
    }
    return "";
}

nlohmann::json ReportSchema() {
    std::ifstream file(ZELT_SCAN_SCHEMA);
    return nlohmann::json::parse(file);
}

// The report follows the published schema in every mode that changes its
// content: both ECUs, after clearing, imperial units, a second scenario.
TEST(ZeltScanTest, JsonReportFollowsTheSchema) {
    const auto schema = ReportSchema();
    const std::vector<std::string> modes{"", "--clear-codes --yes", "--units imperial --ecu 0x7E9",
                                         "--scenario " + ScenarioPath("diesel.json"),
                                         "--clear-codes --yes --scenario " +
                                             ScenarioPath("profile-example.json") + " --profile " +
                                             ScenarioPath("profiles/example.json")};
    for (const std::string& arguments : modes) {
        SCOPED_TRACE(arguments);
        const Outcome run = Scan("--json " + arguments);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(Violation(nlohmann::json::parse(run.out), schema, schema, ""), "");
    }
    const Outcome watch = Scan("--json --watch 0C,0D --count 2 --interval 0");
    std::istringstream lines(watch.out);
    std::string line;
    while (std::getline(lines, line)) {
        EXPECT_EQ(Violation(nlohmann::json::parse(line), schema["$defs"]["reading"], schema, ""),
                  "");
    }
}

// What was scanned is reported as such: every answering ECU with its own codes
// (the scenario's values, from its file), numbers as numbers.
TEST(ZeltScanTest, JsonReportHoldsEveryEcuWithItsOwnData) {
    const Outcome run = Scan("--json --scenario " + ScenarioPath("default.json"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["schema"], 1);
    EXPECT_EQ(json["source"]["kind"], "simulation");
    ASSERT_EQ(json["ecus"].size(), 2u);
    const auto& engine = json["ecus"][0];
    EXPECT_EQ(engine["address"], 0x7E8);
    EXPECT_EQ(engine["mil"]["status"], "on");
    std::set<std::string> confirmed;
    for (const auto& code : engine["troubleCodes"]["confirmed"]) {
        confirmed.insert(code["code"].get<std::string>());
        EXPECT_EQ(code["ecu"], 0x7E8);
    }
    EXPECT_EQ(confirmed, (std::set<std::string>{"P0301", "P0420"}));
    ASSERT_EQ(engine["troubleCodes"]["pending"].size(), 1u);
    EXPECT_EQ(engine["troubleCodes"]["pending"][0]["code"], "P0171");
    EXPECT_EQ(engine["freezeFrames"].size(), 1u);
    EXPECT_EQ(json["ecus"][1]["address"], 0x7E9);
    EXPECT_TRUE(json["ecus"][1]["troubleCodes"]["confirmed"].empty());
    EXPECT_EQ(json["adapter"]["identification"], "ELM327 v1.5");
    EXPECT_EQ(json["source"]["vin"].get<std::string>().size(), 17u);
    EXPECT_EQ(engine["clearCodes"], nullptr);
    bool rpmFound = false;
    for (const auto& parameter : engine["liveData"]) {
        if (parameter["pid"] == 0x0C) {
            rpmFound = true;
            EXPECT_TRUE(parameter["sensors"][0]["value"].is_number());
            EXPECT_EQ(parameter["sensors"][0]["unit"], "RPM");
        }
    }
    EXPECT_TRUE(rpmFound);
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
        // "#1 2024-03-05T09:07:02.125Z  ...": the time in ISO 8601 with
        // milliseconds, then the values.
        std::istringstream fields(line);
        std::string number, time;
        fields >> number >> time;
        EXPECT_EQ(time.size(), 24u) << time;
        EXPECT_EQ(time.substr(10, 1) + time.substr(19, 1) + time.back(), "T.Z") << time;
        values.insert(line.substr(line.find("  ")));
    }
    EXPECT_GT(values.size(), 1u) << run.out;
}

// Both ECUs offer 0C and 0D: each is read from both, and labelled; 5C only
// the engine's.
TEST(ZeltScanTest, WatchAsJsonWritesOneObjectPerLine) {
    const Outcome run = Scan("--watch 0x0C,0D,5C --count 2 --interval 0 --json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::istringstream lines(run.out);
    std::string line;
    int readings = 0;
    while (std::getline(lines, line)) {
        const auto json = nlohmann::json::parse(line);
        EXPECT_EQ(json["reading"], ++readings);
        std::vector<std::pair<int, int>> read;
        for (const auto& parameter : json["parameters"]) {
            read.emplace_back(parameter["pid"], parameter["ecu"]);
        }
        EXPECT_THAT(read, ::testing::ElementsAre(std::pair(0x0C, 0x7E8), std::pair(0x0C, 0x7E9),
                                                 std::pair(0x0D, 0x7E8), std::pair(0x0D, 0x7E9),
                                                 std::pair(0x5C, 0x7E8)));
    }
    EXPECT_EQ(readings, 2);
    EXPECT_THAT(Scan("--watch 0C --count 1 --ecu 0x7E9").out,
                ::testing::MatchesRegex("#1 [^ ]*  Engine Speed: [0-9]+ RPM\n"));
}

TEST(ZeltScanTest, ClearCodesWithYesLeavesNoCodes) {
    const Outcome run = Scan("--clear-codes --yes --json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto json = nlohmann::json::parse(run.out);
    const auto& engine = json["ecus"][0];
    EXPECT_FALSE(engine["troubleCodes"]["confirmed"].empty());
    EXPECT_TRUE(engine["clearCodes"]["accepted"]);
    EXPECT_TRUE(engine["clearCodes"]["confirmed"].empty());
    EXPECT_TRUE(engine["clearCodes"]["pending"].empty());
}

TEST(ZeltScanTest, EcuOptionNarrowsTheReportToOneEcu) {
    for (const char* ecu : {"@1", "7E9", "0x7E9", "0x7e9"}) {
        const Outcome run = Scan(std::string("--json --ecu ") + ecu);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const auto json = nlohmann::json::parse(run.out);
        ASSERT_EQ(json["ecus"].size(), 1u);
        EXPECT_EQ(json["ecus"][0]["address"], 0x7E9);
        EXPECT_EQ(json["answeringEcus"].size(), 2u);
    }
}

// Conversions from NIST SP 811: 1 mile = 1.609344 km, °F = °C * 1.8 + 32.
TEST(ZeltScanTest, ImperialUnitsConvertTheShownValues) {
    const Outcome metric = Scan("--json --ecu @0");
    const Outcome imperial = Scan("--json --ecu @0 --units imperial");
    ASSERT_EQ(imperial.exitCode, 0) << imperial.err;
    const auto before = nlohmann::json::parse(metric.out)["ecus"][0]["mil"]["distanceSince"];
    const auto after = nlohmann::json::parse(imperial.out)["ecus"][0]["mil"]["distanceSince"];
    EXPECT_EQ(before["unit"], "km");
    EXPECT_EQ(after["unit"], "miles");
    EXPECT_NEAR(after["value"].get<double>(), before["value"].get<double>() / 1.609344, 1e-9);
    const Outcome watch = Scan("--watch 05 --count 1 --units imperial --csv");
    std::istringstream rows(watch.out);
    std::string header, row;
    std::getline(rows, header);
    std::getline(rows, row);
    EXPECT_EQ(header, "time,reading,Engine Coolant Temperature (\u00B0F)");
    const double fahrenheit = std::stod(row.substr(row.rfind(',') + 1));
    const Outcome celsius = Scan("--watch 05 --count 1 --csv");
    const double value = std::stod(celsius.out.substr(celsius.out.rfind(',') + 1));
    EXPECT_NEAR(fahrenheit, value * 1.8 + 32, 1e-9);
}

// JSON and CSV carry the decoded value, not its display text parsed back:
// one encoded step above zero, which display rounding turns into 0.
struct ExactValue {
    const char* pid;
    double expected;  // SAE J1979's formula applied to the scenario's bytes
};

TEST(ZeltScanTest, JsonAndCsvCarryTheDecodedValue) {
    const ExactValue cases[] = {{"04", 1 * 100.0 / 255},          // engine load: A*100/255
                                {"0C", (256 * 0 + 1) / 4.0},      // engine speed: (256A+B)/4
                                {"42", (256 * 0 + 1) / 1000.0}};  // module voltage: (256A+B)/1000
    const std::string scenario = "--scenario " ZELT_SCAN_TEST_DIR "/exact-values.json";
    const Outcome report = Scan(scenario + " --json");
    ASSERT_EQ(report.exitCode, 0) << report.err;
    const auto live = nlohmann::json::parse(report.out)["ecus"][0]["liveData"];
    for (const ExactValue& value : cases) {
        const int pid = std::stoi(value.pid, nullptr, 16);
        const auto parameter = std::find_if(live.begin(), live.end(),
                                            [&](const auto& item) { return item["pid"] == pid; });
        ASSERT_NE(parameter, live.end()) << value.pid;
        EXPECT_EQ((*parameter)["sensors"][0]["value"].get<double>(), value.expected) << value.pid;
        const Outcome csv = Scan(scenario + " --watch " + value.pid + " --count 1 --csv");
        EXPECT_EQ(std::stod(csv.out.substr(csv.out.rfind(',') + 1)), value.expected) << value.pid;
    }
}

// A profile's unit the library has no name for ("bar") is kept as the
// profile writes it in every form of the watch.
TEST(ZeltScanTest, ProfileUnitTheLibraryLacksIsKeptInEveryWatchForm) {
    const std::pair<const char*, const char*> forms[] = {
        {"", " bar\n"}, {"--json", "\"unit\":\"bar\",\"text\":"}, {"--csv", "Pressure (bar)"}};
    for (const auto& [flag, shown] : forms) {
        const Outcome run =
            Scan(std::string(flag) + " --scenario " + ScenarioPath("profile-example.json") +
                 " --profile " + ScenarioPath("profiles/example.json") +
                 " --watch 'Brake Fluid Pressure' --count 1");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_THAT(run.out, HasSubstr(shown)) << flag;
    }
}

// Columns are unique: a PID given twice is read once, each ECU has its
// column, and 0x14 and 0x24 (both "Oxygen Sensor 1 Voltage") name their PID.
TEST(ZeltScanTest, CsvWatchWritesAHeaderThenOneRowPerReading) {
    const std::string path =
        ::testing::TempDir() + "zelt-scan-csv-" + std::to_string(::getpid()) + ".json";
    std::ifstream source(ScenarioPath("default.json"));
    auto scenario = nlohmann::json::parse(source);
    scenario["ecus"][0]["pids"]["0x24"] = {1.0, 4.0};
    std::ofstream(path) << scenario.dump();
    const Outcome run =
        Scan("--scenario " + path + " --watch 0C,14,24,0C --count 3 --interval 0 --csv");
    std::remove(path.c_str());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::istringstream rows(run.out);
    std::string row;
    std::getline(rows, row);
    EXPECT_THAT(row, ::testing::StartsWith(
                         "time,reading,Engine Speed (RPM) [ECU 0x7E8],Engine Speed (RPM) [ECU "
                         "0x7E9],Oxygen Sensor 1 Voltage (V) [PID 0x14; ECU 0x7E8],"));
    EXPECT_THAT(row, HasSubstr(",Oxygen Sensor 1 Voltage (V) [PID 0x24; ECU 0x7E8]"));
    std::vector<std::string> columns;
    std::istringstream header(row);
    for (std::string column; std::getline(header, column, ',');) {
        columns.push_back(column);
    }
    EXPECT_EQ(std::set<std::string>(columns.begin(), columns.end()).size(), columns.size()) << row;
    int readings = 0;
    while (std::getline(rows, row)) {
        ++readings;
        EXPECT_EQ(std::count(row.begin(), row.end(), ',') + 1, columns.size()) << row;
        EXPECT_EQ(row.substr(25, 2), std::to_string(readings) + ",") << row;
    }
    EXPECT_EQ(readings, 3);
}

// A reader that stops reading (`| head`) ends the watch quietly, exit 0.
TEST(ZeltScanTest, ReaderThatGoesEndsTheWatchQuietly) {
    const Outcome run = zelt::testing::RunShell(
        "{ " + std::string(ZELT_SCAN_PATH) +
        " --watch 0C --count 0 --interval 0; echo \"status $?\" >&2; } | head -c 1 >/dev/null");
    EXPECT_EQ(run.err, "status 0\n");
}

// Ctrl-C ends an endless watch cleanly: exit 0, whole lines, all flushed.
TEST(ZeltScanTest, EndlessWatchEndsCleanlyOnInterrupt) {
    const Outcome run = Scan("--watch 0C --count 0 --interval 20 & sleep 1; kill -INT $!; wait $!");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_GT(Lines(run.out), 0u);
    EXPECT_EQ(run.out.back(), '\n');
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
        BadInput{"--profile " ZELT_SCAN_TEST_DIR "/bad-profile.json", 2,
                 "bad-profile.json: /parameters/1/formula: unexpected ')'"},
        BadInput{"--profile /nonexistent/profile.json", 2,
                 "/nonexistent/profile.json: cannot be read"},
        BadInput{"--profile " ZELT_SCENARIO_DIR "/profiles/example.json --watch 'Oil Level'", 2,
                 "invalid PID 'Oil Level'"},
        BadInput{"--watch 0x99", 2, "unknown PID 0x99"}, BadInput{"--ecu 7", 2, "unknown ECU '7'"},
        BadInput{"--clear-codes", 2, "--yes"}, BadInput{"--count 1000001 --watch 0C", 2, "--count"},
        BadInput{"--units furlongs", 2, "invalid value 'furlongs' for --units"},
        BadInput{"--csv", 2, "--csv requires --watch"},
        BadInput{"--csv --json --watch 0C", 2, "--json excludes --csv"},
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
        // An ECU is a hex address or "@" and an index: "08" is address 0x08, not octal.
        BadInput{"--ecu 08", 2, "unknown ECU '08'"}, BadInput{"--ecu 0o1", 2, "invalid ECU '0o1'"},
        // A 29-bit CAN address (ISO 15765-4) reads as one; past 32 bits, or
        // an index that is no number, is refused.
        BadInput{"--ecu 18DAF110", 2, "unknown ECU '18DAF110'; the vehicle has @0=0x7E8"},
        BadInput{"--ecu 100000000", 2, "invalid ECU '100000000'"},
        BadInput{"--ecu @x", 2, "invalid ECU '@x'"}, BadInput{"--ecu @9", 2, "unknown ECU '@9'"},
        // Options that only mean something with another one.
        BadInput{"--interval 5", 2, "--interval requires --watch"},
        BadInput{"--count 5", 2, "--count requires --watch"},
        BadInput{"--trace", 2, "--trace requires --adapter"},
        BadInput{"--protocol 3", 2, "--protocol requires --adapter"},
        BadInput{"--timeout 500", 2, "--timeout requires --adapter"},
        BadInput{"--raw 0902", 2, "--raw requires --adapter"},
        // Checked before the adapter is reached (port 1: nobody listens).
        BadInput{"--adapter tcp://127.0.0.1:1 --protocol 10", 2, "invalid --protocol '10'"},
        BadInput{"--adapter tcp://127.0.0.1:1 --timeout 0", 2, "--timeout"},
        BadInput{"--adapter tcp://127.0.0.1:1 --raw 09G2", 2, "invalid --raw '09G2'"},
        BadInput{"--adapter tcp://127.0.0.1:1 --raw \"$(head -c 8192 /dev/zero | tr '\\0' 0)\"", 2,
                 "0000...' (8192 characters): give"},
        // A raw request that may change the vehicle needs --yes; one that
        // only reads does not, and passes on to the adapter.
        BadInput{"--adapter tcp://127.0.0.1:1 --raw 04", 2, "--raw 04 may change the vehicle"},
        BadInput{"--adapter tcp://127.0.0.1:1 --raw 0801", 2, "confirm with --yes"},
        BadInput{"--adapter tcp://127.0.0.1:1 --raw 1003", 2, "confirm with --yes"},
        BadInput{"--adapter tcp://127.0.0.1:1 --raw 2EF19000", 2, "confirm with --yes"},
        BadInput{"--adapter tcp://127.0.0.1:1 --raw 0800", 1, "cannot connect to the adapter"},
        BadInput{"--adapter tcp://127.0.0.1:1 --raw 04 --yes", 1, "cannot connect to the adapter"},
        BadInput{"--yes", 2, "--yes confirms --clear-codes or --raw"},
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

// Each profile ECU gets its manufacturer data and its UDS codes under its
// name and response address; a refused identifier shows its reason.
TEST(ZeltScanTest, ProfileSectionsNameEachModule) {
    const Outcome run = Scan("--scenario " + ScenarioPath("profile-example.json") + " --profile " +
                             ScenarioPath("profiles/example.json"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("\nManufacturer data, ABS 0x7B8\n"));
    EXPECT_THAT(run.out, HasSubstr("\nTrouble codes, ABS 0x7B8\n"));
    EXPECT_THAT(run.out, HasSubstr("missing: security access denied (0x33)"));
    EXPECT_THAT(run.out, HasSubstr("C0035-11"));
    EXPECT_THAT(run.out, HasSubstr("\nManufacturer data, BMS 0x7EC\n"));
}
