#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "obd/sim/Scenario.h"
#include "sim/VehicleModel.h"

namespace {

using obd::sim::Scenario;
using obd::sim::ScenarioError;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string ErrorOf(const std::string& text) {
    try {
        Scenario::parse(text, "bad.json");
    } catch (const ScenarioError& error) {
        return error.what();
    }
    return "no error";
}

// One ECU with `ecu` spliced into its object.
std::string WithEcu(const std::string& ecu) {
    return R"({"name": "x", "ecus": [{"address": "0x7E8", )" + ecu + "}]}";
}

// `count` JSON items made by `item` from their index, comma separated.
std::string Items(int count, const std::function<std::string(int)>& item) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += (i == 0 ? "" : ", ") + item(i);
    }
    return text;
}

std::string Codes(const char* list, int count) {
    return WithEcu(std::string(R"("codes": {")") + list + R"(": [)" +
                   Items(count,
                         [](int i) {
                             char code[8];
                             std::snprintf(code, sizeof code, "\"P%04X\"", i + 1);
                             return std::string(code);
                         }) +
                   "]}");
}

std::string TestRecords(int count) {
    return WithEcu(
        R"("testResults": [)" +
        Items(
            count,
            [](int) {
                return std::string(
                    R"({"mid": 1, "tid": 1, "unitAndScaling": "0x24", "value": 1, "minimum": 0, "maximum": 2})");
            }) +
        "]");
}

std::string FreezeFrames(int count) {
    return WithEcu(
        R"("freezeFrames": [)" +
        Items(count, [](int) { return std::string(R"({"code": "P0301", "pids": {}})"); }) + "]");
}

TEST(ScenarioTest, BuiltInScenarioIsTheShippedDefaultFile) {
    EXPECT_EQ(Scenario::builtInText(), ReadFile(ZELT_SCENARIO_DIR "/default.json"));
    const Scenario scenario = Scenario::builtIn();
    EXPECT_EQ(scenario.name(), "Petrol hatchback");
    EXPECT_THAT(scenario.ecuAddresses(), ElementsAre(0x7E8u, 0x7E9u));
}

TEST(ScenarioTest, EveryShippedScenarioLoads) {
    for (const char* name : {"default.json", "diesel.json", "clean.json", "profile-example.json"}) {
        EXPECT_NO_THROW(Scenario::loadFile(std::string(ZELT_SCENARIO_DIR "/") + name)) << name;
    }
}

TEST(ScenarioTest, MalformedScenariosAreRejectedWithFilePathAndFault) {
    struct Case {
        std::string text;
        std::string path;
        std::string fault;
    };
    const Case cases[] = {
        {R"({"name": "x", "ecus": [)", "/", "invalid JSON: parse error at line 1, column 24"},
        {R"({"name": "x", "ecus": [{"address": "0x7E8", "pids": {"0x0D": 1e400}}]})", "/",
         "invalid JSON: number overflow parsing '1e400'"},
        {R"({"name": 5, "ecus": []})", "/name", "expected a string, found a number"},
        {R"({"name": " ", "ecus": []})", "/name", "the vehicle's name is empty"},
        {R"({"name": "x", "ecus": []})", "/ecus", "at least one ECU"},
        {R"({"name": "x", "ecu": []})", "/ecu", "unknown key"},
        {R"({"name": "x"})", "/", "missing key \"ecus\""},
        {R"({"name": "x", "ecus": [{"address": "0x7F0"}]})", "/ecus/0/address",
         "not an 11-bit OBD response address"},
        {R"({"name": "x", "ecus": [{"address": "0x7E8"}, {"address": 2024}]})", "/ecus/1/address",
         "used twice"},
        {WithEcu(R"("pids": {"0x0C": "1A F"})"), "/ecus/0/pids/0x0C", "odd number of digits"},
        {WithEcu(R"("pids": {"0x03": "0G 00"})"), "/ecus/0/pids/0x03", "'G' is not a hex digit"},
        {WithEcu(R"("pids": {"0x0C": "1A"})"), "/ecus/0/pids/0x0C", "needs 2 data bytes, got 1"},
        {WithEcu(R"("pids": {"0x0C": "fast"})"), "/ecus/0/pids/0x0C", "bad hex"},
        {WithEcu(R"("pids": {"0xC1": 1})"), "/ecus/0/pids/0xC1", "unknown PID 0xC1"},
        {WithEcu(R"("pids": {"0x00": "BE 1F A8 13"})"), "/ecus/0/pids/0x00", "support bitmap"},
        {WithEcu(R"("pids": {"0x01": "00 07 65 00"})"), "/ecus/0/pids/0x01", "derived"},
        {WithEcu(R"("pids": {"0xF4": 12.6})"), "/ecus/0/pids/0xF4", "/adapter/batteryVoltage"},
        {WithEcu(R"("pids": {"0x0C": 20000})"), "/ecus/0/pids/0x0C",
         "value 20000 is out of range for Engine Speed (0 to 16383.75)"},
        {WithEcu(R"("pids": {"0x0D": {"points": [[0, 10], [5, 300]]}})"),
         "/ecus/0/pids/0x0D/points/1/1", "out of range for Vehicle Speed"},
        {WithEcu(R"("pids": {"0x0D": {"points": [[5, 10], [5, 20]]}})"),
         "/ecus/0/pids/0x0D/points/1/0", "times must increase"},
        {WithEcu(R"("pids": {"0x14": 0.45})"), "/ecus/0/pids/0x14", "has 2 values: give an array"},
        {WithEcu(R"("pids": {"0x03": 2})"), "/ecus/0/pids/0x03",
         "give its data bytes as a hex string"},
        {WithEcu(R"("pids": {"0x05": true})"), "/ecus/0/pids/0x05",
         "expected a number or a live value object, found a boolean"},
        {WithEcu(R"("mil": "on")"), "/ecus/0/mil", "expected true or false, found a string"},
        {WithEcu(R"("codes": {"confirmed": ["X0301"]})"), "/ecus/0/codes/confirmed/0",
         "\"X0301\" is not a trouble code"},
        {WithEcu(R"("readiness": {"sinceReset": {"pmFilter": "complete"}})"),
         "/ecus/0/readiness/sinceReset/pmFilter", "unknown monitor for spark ignition"},
        {WithEcu(R"("readiness": {"sinceReset": {"catalyst": "done"}})"),
         "/ecus/0/readiness/sinceReset/catalyst", "expected \"complete\" or \"incomplete\""},
        {WithEcu(
             R"("freezeFrames": [{"code": "P0301", "pids": {"0x0C": {"start": 1, "rate": 1}}}])"),
         "/ecus/0/freezeFrames/0/pids/0x0C", "expected a number, found an object"},
        {WithEcu(R"("info": {"vin": "WBA3B5C52FK123456"})"), "/ecus/0/info/vin", "not a valid VIN"},
        {WithEcu(R"("info": {"cvns": ["1791BC"]})"), "/ecus/0/info/cvns/0", "4 bytes"},
        {WithEcu(R"("info": {"calids": ["THIS IS FAR TOO LONG"]})"), "/ecus/0/info/calids/0",
         "longer than 16"},
        {WithEcu(
             R"("testResults": [{"mid": 1, "tid": 1, "unitAndScaling": "0x0A", "value": 9, "minimum": 0, "maximum": 1}])"),
         "/ecus/0/testResults/0", "value 9 out of range"},
        {WithEcu(R"("routines": [{"tid": "0x01", "data": "00 00 00 00 00 00"}])"),
         "/ecus/0/routines/0/data", "at most 5 data bytes"},
        {WithEcu(R"("clearCodes": {"pids": {"0x31": 0}})"), "/ecus/0/clearCodes/pids",
         "not among the ECU's PIDs"},
        {WithEcu(R"("vehicleOperationData": {"psa": [1, 2]})"), "/ecus/0/vehicleOperationData/psa",
         "expected 3 numbers, found 2"},
    };
    for (const Case& c : cases) {
        EXPECT_THAT(ErrorOf(c.text),
                    AllOf(StartsWith("bad.json: " + c.path + ": "), HasSubstr(c.fault)))
            << c.text;
    }
}

// The protocol's limits: PID 0x01 counts confirmed codes in 7 bits (127), a
// code answer's count is one byte (255), a frame number is one byte (256
// frames), and a service 06 answer is one ISO-TP message of at most 4095
// bytes: 0x46 and 454 records of 9 bytes. One more must not load, since the
// vehicle could not send it.
TEST(ScenarioTest, WhatTheProtocolCannotCarryIsRefusedWithPathAndLimit) {
    for (const std::string& fits : {Codes("confirmed", 127), Codes("pending", 255),
                                    Codes("permanent", 255), TestRecords(454), FreezeFrames(256)}) {
        EXPECT_EQ(ErrorOf(fits), "no error");
    }
    const struct {
        std::string text;
        std::string path;
        std::string fault;
    } cases[] = {
        {Codes("confirmed", 128), "/ecus/0/codes/confirmed",
         "128 codes: PID 0x01 counts at most 127"},
        {Codes("pending", 256), "/ecus/0/codes/pending", "at most 255 codes"},
        {Codes("permanent", 300), "/ecus/0/codes/permanent", "at most 255 codes"},
        {TestRecords(455), "/ecus/0/testResults/454",
         "monitor 0x01 has more than 454 test records: a service 06 answer carries at most 4095 "
         "bytes"},
        {FreezeFrames(257), "/ecus/0/freezeFrames", "at most 256 frames"},
    };
    for (const auto& c : cases) {
        EXPECT_THAT(ErrorOf(c.text),
                    AllOf(StartsWith("bad.json: " + c.path + ": "), HasSubstr(c.fault)));
    }
}

// The parser keeps the last of two equal keys; a scenario must not.
TEST(ScenarioTest, DuplicateKeysAreRefusedWithTheirPath) {
    const struct {
        std::string text;
        std::string path;
    } cases[] = {
        {R"({"name": "x", "name": "y", "ecus": [{"address": "0x7E8"}]})", "/name"},
        {R"({"name": "x", "ecus": [{"address": "0x7E8"}], "ecus": []})", "/ecus"},
        {WithEcu(R"("pids": {"0x0C": 800, "0x0C": 900})"), "/ecus/0/pids/0x0C"},
        {R"({"name": "x", "ecus": [{"address": "0x7E8"}, {"address": "0x7E9", "mil": true, "mil": false}]})",
         "/ecus/1/mil"},
        {WithEcu(R"("pids": {"0x14": [0.45, {"points": [[0, 1]], "points": [[0, 2]]}]})"),
         "/ecus/0/pids/0x14/1/points"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorOf(c.text), "bad.json: " + c.path + ": key given twice");
    }
}

TEST(ScenarioTest, MissingFileIsReportedByName) {
    try {
        Scenario::loadFile("/nonexistent/car.json");
        FAIL() << "loaded a missing file";
    } catch (const ScenarioError& error) {
        EXPECT_EQ(std::string(error.what()), "/nonexistent/car.json: cannot open the file");
    }
}

TEST(ScenarioTest, ValuesAreEncodedAsTheEcuWillSendThem) {
    const Scenario scenario =
        // J1979's largest values: FF FF, and 0x14's FF of 0.005 V.
        Scenario::parse(WithEcu(R"("freezeFrames": [{"code": "P0301", "pids": {"0x0C": 2315,
                   "0x10": 655.35, "0x53": 327.675, "0x14": [1.275, 0]}}],
                   "info": {"calids": ["AB"], "fueledEngineOperation": "0x0102"})"),
                        "good.json");
    const obd::sim::EcuModel& ecu = scenario.model()->ecus.front();
    EXPECT_EQ(ecu.freezeFrames.front().code, 0x0301);
    EXPECT_THAT(ecu.freezeFrames.front().pids.at(0x0C), ElementsAre(0x24, 0x2C));
    EXPECT_THAT(ecu.freezeFrames.front().pids.at(0x10), ElementsAre(0xFF, 0xFF));
    EXPECT_THAT(ecu.freezeFrames.front().pids.at(0x53), ElementsAre(0xFF, 0xFF));
    EXPECT_THAT(ecu.freezeFrames.front().pids.at(0x14), ElementsAre(0xFF, 0x80));
    const obd::sim::InfoItem& calids = ecu.info.at(0x04);
    EXPECT_EQ(calids.count, 1);
    EXPECT_EQ(calids.data.size(), 16u);  // padded with zero bytes
    EXPECT_THAT(ecu.info.at(0x12).data, ElementsAre(0x01, 0x02));
}

}  // namespace
