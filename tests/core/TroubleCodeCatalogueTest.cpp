#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "j1979/Codec.h"
#include "j1979/TroubleCodeCatalogue.h"

namespace {

using obd::detail::DescribeTroubleCode;
using obd::detail::SetTroubleCodeTitleFile;
using obd::detail::TroubleCodeCatalogue;
using obd::detail::TroubleCodeTitleProblem;

// Titles as the SAE J2012 code list gives them: a typo, a code filed under
// the wrong number or a missing common code shows here.
TEST(TroubleCodeCatalogueTest, CommonGenericCodesHaveTheirJ2012Titles) {
    const struct {
        const char* code;
        const char* title;
    } cases[] = {
        {"P0300", "Random/Multiple Cylinder Misfire Detected"},
        {"P0171", "System Too Lean (Bank 1)"},
        {"P0420", "Catalyst System Efficiency Below Threshold (Bank 1)"},
        {"P0442", "Evaporative Emission Control System Leak Detected (small leak)"},
        {"P0128",
         "Coolant Thermostat (Coolant Temperature Below Thermostat Regulating Temperature)"},
        {"P0562", "System Voltage Low"},
        {"U0100", "Lost Communication With ECM/PCM \"A\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DescribeTroubleCode(c.code), c.title) << c.code;
    }
}

// A generic code without a title is still placed in its J2012 system group;
// manufacturer-controlled and malformed codes get nothing, not a wrong group.
TEST(TroubleCodeCatalogueTest, UntitledCodesAreDescribedByTheirSystemGroup) {
    const struct {
        const char* code;
        const char* group;  // empty: no description
    } cases[] = {
        {"P00FF", "Fuel and Air Metering and Auxiliary Emission Controls (P00xx)"},
        {"P01FF", "Fuel and Air Metering (P01xx)"},
        {"P0399", "Ignition System or Misfire (P03xx)"},
        {"P04FF", "Auxiliary Emission Controls (P04xx)"},
        {"P05FF", "Vehicle Speed, Idle Control and Auxiliary Inputs (P05xx)"},
        {"P06FF", "Computer and Auxiliary Outputs (P06xx)"},
        {"P08FF", "Transmission (P08xx)"},
        {"P0A0F", "Hybrid Propulsion (P0Axx)"},
        {"P2399", "Ignition System or Misfire (P23xx)"},
        {"P2799", "Transmission (P27xx)"},
        {"P34FF", "Cylinder Deactivation (P34xx)"},
        {"U01FF", "Network Communication (U01xx)"},
        {"U04FF", "Network Data (U04xx)"},
        {"C0999", "Chassis, Generic Code (C09xx)"},
        {"B0999", "Body, Generic Code (B09xx)"},
        {"P1234", ""},
        {"P3000", ""},
        {"B1001", ""},
        {"U2100", ""},
        {"P030", ""},
        {"X0300", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DescribeTroubleCode(c.code), c.group) << c.code;
    }
}

// Every row: a generic code a vehicle can send, in binary search order, with a
// printable trimmed title; at least 95 % of the 2279 codes the sources name.
TEST(TroubleCodeCatalogueTest, EveryRowIsAGenericCodeInOrderWithACleanTitle) {
    std::string previous;
    const auto titles = TroubleCodeCatalogue();
    for (const auto& [code, title] : titles->rows) {
        const std::string text(code);
        EXPECT_EQ(obd::j1979::DecodeTroubleCode(obd::j1979::EncodeTroubleCode(text)), text);
        EXPECT_NE(DescribeTroubleCode(text.substr(0, 3) + "FF"), "") << text;  // a generic group
        EXPECT_LT(std::exchange(previous, text), text);
        const auto printable = [](char c) { return c >= ' ' && c <= '~'; };
        EXPECT_TRUE(!title.empty() && title.front() != ' ' && title.back() != ' ' &&
                    std::all_of(title.begin(), title.end(), printable))
            << text;
    }
    EXPECT_GE(titles->rows.size(), 2166U);
}

// A title file missing, damaged or short of a code: the code is described by
// its J2012 group, and a file that cannot be used says why and gives nothing.
TEST(TroubleCodeCatalogueTest, WithoutAUsableTitleFileCodesAreDescribedByTheirGroup) {
    const struct {
        std::optional<std::string> file;  // none: no such file
        const char* code;
        const char* description;
        const char* problem;  // why the file gave no titles; '@' stands for its path
    } cases[] = {
        {std::nullopt, "P0301", "Ignition System or Misfire (P03xx)", "cannot open @"},
        {"# titles\r\nP0300\tRandom/Multiple Cylinder Misfire Detected\r\n", "P0171",
         "Fuel and Air Metering (P01xx)", ""},
        {"P0300\tRandom\nP0301 Cylinder 1 Misfire Detected\n", "P0300",
         "Ignition System or Misfire (P03xx)", "@: line 2: not a trouble code, a tab and a title"},
        {"P0301\tCylinder 1\nP0300\tRandom\n", "P0301", "Ignition System or Misfire (P03xx)",
         "@: line 2: P0300 is out of order (rows are sorted by code)"},
        {std::string(2 << 20, 'P'), "P0300", "Ignition System or Misfire (P03xx)",
         "@ is larger than 1 MiB"},
    };
    const std::string path = ::testing::TempDir() + "zelt-titles.tsv";
    for (const auto& c : cases) {
        std::remove(path.c_str());
        if (c.file) {
            std::ofstream(path, std::ios::binary) << *c.file;
        }
        SetTroubleCodeTitleFile(path);
        EXPECT_EQ(DescribeTroubleCode(c.code), c.description) << c.code;
        std::string problem = c.problem;
        if (const auto at = problem.find('@'); at != std::string::npos) {
            problem.replace(at, 1, path);
        }
        EXPECT_EQ(TroubleCodeTitleProblem(), problem) << c.code;
    }
    std::remove(path.c_str());
    SetTroubleCodeTitleFile("");  // back to the file the environment names
}

}  // namespace
