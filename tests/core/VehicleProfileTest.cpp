// The profile format: formulas evaluated as their arithmetic says, and every
// fault of a file refused with its JSON path before anything is sent.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "obd/VehicleProfile.h"
#include "profiles/Formula.h"

namespace {

using obd::profiles::Formula;
using ::testing::HasSubstr;

struct FormulaCase {
    const char* text;
    std::vector<std::uint8_t> data;
    std::optional<double> expected;
};

// Expected values are the formulas' arithmetic; the RPM case is SAE J1979's
// PID 0C scaling ((256A+B)/4) on the bytes 1A F8.
TEST(FormulaTest, EvaluatesAsWritten) {
    const FormulaCase cases[] = {
        {"(A*256+B)/4", {0x1A, 0xF8}, 1726},
        {"A-40", {0x5A}, 50},
        {"2+3*4", {}, 14},
        {"(2+3)*4", {}, 20},
        {"-A+1", {0x05}, -4},
        {"1|2&3", {}, 3},  // & binds tighter than |
        {"A<<8|B", {0x12, 0x34}, 0x1234},
        {"A>>4 & 0x0F", {0xA5}, 0x0A},
        {"1+2<<1", {}, 6},  // shifts bind looser than +
        {"signed(A, 8)", {0xFF}, -1},
        {"signed(A*256+B, 16)/10", {0xFF, 0x83}, -12.5},
        {"signed(A, 8)", {0x7F}, 127},
        {"A/0", {0x01}, std::nullopt},
        {"C", {0x01, 0x02}, std::nullopt},  // the answer is short
        {"0.5*A", {0x03}, 1.5},
        {"A&0.5", {0x03}, std::nullopt},  // bitwise needs whole numbers
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Formula::parse(c.text).evaluate(c.data), c.expected);
    }
    EXPECT_EQ(Formula::parse("A*C+B").bytesRead(), 3u);
}

TEST(FormulaTest, RefusesWhatDoesNotParse) {
    const std::string deep = std::string(40, '(') + "A" + std::string(40, ')');
    for (const std::string& text :
         {std::string(""), std::string("A+"), std::string("(A"), std::string("AB"),
          std::string("A B"), std::string("1..2"), std::string("signed(A, 40)"),
          std::string("signed(A)"), std::string("a"), deep, std::string(300, '1')}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(Formula::parse(text), obd::profiles::FormulaError);
    }
}

constexpr char kGood[] = R"({
  "ecus": [{"name": "ABS", "request": "7B0", "response": "7B8"}],
  "parameters": [
    {"name": "Oil Temperature", "ecu": "7E0", "service": "22", "id": "1310",
     "formula": "A-40", "unit": "°C", "minimum": -40, "maximum": 215},
    {"name": "Wheel Speed", "ecu": "ABS", "service": "22", "id": "4A10", "formula": "(A*256+B)/100"},
    {"name": "Gear", "ecu": "18DA18F1", "service": "21", "id": "01", "formula": "A"}],
  "codes": {"P1234": "text for a manufacturer code"}})";

TEST(VehicleProfileTest, ReadsEcusParametersAndCodes) {
    const auto profile = obd::VehicleProfile::parse(kGood, "car.json");
    ASSERT_EQ(profile->ecus().size(), 3u);
    // A request id names an ECU of its own; 11-bit ones answer 8 above the
    // request (ISO 15765-4), 29-bit ones with target and source swapped.
    EXPECT_EQ(profile->ecus()[1].responseId, 0x7E8u);
    EXPECT_EQ(profile->ecus()[2].responseId, 0x18DAF118u);
    EXPECT_TRUE(profile->ecus()[2].extended);
    const auto* speed = profile->find("Wheel Speed");
    ASSERT_NE(speed, nullptr);
    EXPECT_EQ(speed->ecu, 0u);
    EXPECT_EQ(speed->length, 2u);
    EXPECT_EQ(static_cast<int>(speed->pid), obd::kFirstProfileParameter + 1);
    EXPECT_EQ(profile->find(speed->pid), speed);
    EXPECT_EQ(profile->evaluate(*profile->find("Oil Temperature"), {0x5A}), 50);
    EXPECT_EQ(profile->describeCode("P1234"), "text for a manufacturer code");
    EXPECT_EQ(profile->describeCode("P1235"), "");
}

struct BadProfile {
    std::string text;
    std::string message;
};

class VehicleProfileBadTest : public ::testing::TestWithParam<BadProfile> {};

TEST_P(VehicleProfileBadTest, IsRefusedWithItsPath) {
    try {
        obd::VehicleProfile::parse(GetParam().text, "car.json");
        FAIL() << "accepted";
    } catch (const obd::ProfileError& error) {
        EXPECT_THAT(error.what(), HasSubstr("car.json: " + GetParam().message));
    }
}

// A profile of one parameter: `keys`, and a valid name, ECU, service and id
// where `keys` gives none (a key given twice is refused on its own).
std::string Parameter(const std::string& keys) {
    std::string object = keys;
    for (const std::string base :
         {R"("name": "X")", R"("ecu": "7E0")", R"("service": "22")", R"("id": "1310")"}) {
        if (keys.find(base.substr(0, base.find(':'))) == std::string::npos) {
            object = base + ", " + object;
        }
    }
    return R"({"parameters": [{)" + object + "}]}";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VehicleProfileBadTest,
    ::testing::Values(
        BadProfile{"{", "/: invalid JSON"}, BadProfile{"[]", "/: expected an object"},
        BadProfile{R"({"ecu": []})", "/ecu: unknown key"},
        BadProfile{Parameter(R"("formula": "A", "formula": "B")"),
                   "/parameters/0/formula: key given twice"},
        // RFC 8259: names compare once their escapes are read ("P\u0031234" is "P1234").
        BadProfile{R"({"codes": {"P1234": "a", "P\u0031234": "b"}})",
                   "/codes/P1234: key given twice"},
        BadProfile{
            R"({"ecus": [{"name": "A", "request": "7B0"}, {"name": "B", "request": "7B1", "name": "C"}]})",
            "/ecus/1/name: key given twice"},
        BadProfile{Parameter(R"("formula": "A+")"), "/parameters/0/formula: the formula ends"},
        BadProfile{R"({"parameters": [{"name": "X"}]})", "/parameters/0: missing key \"ecu\""},
        BadProfile{Parameter(R"("formula": "A", "service": "23")"),
                   "/parameters/0/service: service 0x23 is not read"},
        BadProfile{
            R"({"parameters": [{"name": "X", "ecu": "7E0", "service": "22", "id": "13100", "formula": "A"}]})",
            "/parameters/0/id: \"13100\" is not 1 to 4 hex digits"},
        BadProfile{
            R"({"parameters": [{"name": "X", "ecu": "7E0", "service": "01", "id": "0C", "formula": "A"}]})",
            "/parameters/0/id: PID 0x0C is a standard PID"},
        BadProfile{Parameter(R"("formula": "A", "ecu": "800")"),
                   "/parameters/0/ecu: \"800\" is out of range"},
        BadProfile{Parameter(R"("formula": "A", "ecu": "Airbag")"),
                   "/parameters/0/ecu: no ECU is named \"Airbag\""},
        BadProfile{Parameter(R"("formula": "A*B", "length": 1)"), "/parameters/0/length"},
        BadProfile{R"({"codes": {"X1234": "no"}})", "/codes/X1234: not a trouble code"},
        // --watch 0C must stay engine speed (J1979 PID 0x0C) with any profile.
        BadProfile{
            R"({"parameters": [{"name": "0C", "ecu": "7E0", "service": "22", "id": "1310", "formula": "A"}]})",
            "/parameters/0/name: the name \"0C\" reads as a PID number"},
        BadProfile{
            R"({"parameters": [{"name": "0xd", "ecu": "7E0", "service": "22", "id": "1310", "formula": "A"}]})",
            "/parameters/0/name: the name \"0xd\" reads as a PID number"},
        BadProfile{
            R"({"ecus": [{"name": "A", "request": "7B0"}, {"name": "A", "request": "7B1"}]})",
            "/ecus/1/name: the name \"A\" is used twice"}));

// docs/profiles.md: one line with the file, the JSON path and what is wrong.
TEST(VehicleProfileTest, FaultOfAFileNamesTheFileAndThePath) {
    const std::string path = ::testing::TempDir() + "twice-profile.json";
    std::ofstream(path) << R"({"codes": {"P1234": "a"}, "codes": {}})";
    try {
        obd::VehicleProfile::loadFile(path);
        ADD_FAILURE() << "accepted";
    } catch (const obd::ProfileError& error) {
        EXPECT_EQ(error.what(), path + ": /codes: key given twice");
    }
    std::remove(path.c_str());
}

TEST(VehicleProfileTest, FileOverFourMebibytesIsRefusedUnparsed) {
    const std::string path = ::testing::TempDir() + "huge-profile.json";
    {
        std::ofstream file(path);
        file << std::string(obd::VehicleProfile::kMaxFileSize + 1, ' ');
    }
    EXPECT_THROW(
        {
            try {
                obd::VehicleProfile::loadFile(path);
            } catch (const obd::ProfileError& error) {
                EXPECT_THAT(error.what(), HasSubstr("larger than 4 MiB"));
                throw;
            }
        },
        obd::ProfileError);
    std::remove(path.c_str());
}

}  // namespace
