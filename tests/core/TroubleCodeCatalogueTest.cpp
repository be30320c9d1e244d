#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "j1979/Codec.h"
#include "j1979/TroubleCodeCatalogue.h"

namespace {

using obd::detail::DescribeTroubleCode;
using obd::detail::TroubleCodeCatalogue;

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
    for (const auto& [code, title] : TroubleCodeCatalogue()) {
        const std::string text(code);
        EXPECT_EQ(obd::j1979::DecodeTroubleCode(obd::j1979::EncodeTroubleCode(text)), text);
        EXPECT_NE(DescribeTroubleCode(text.substr(0, 3) + "FF"), "") << text;  // a generic group
        EXPECT_LT(std::exchange(previous, text), text);
        const auto printable = [](char c) { return c >= ' ' && c <= '~'; };
        EXPECT_TRUE(!title.empty() && title.front() != ' ' && title.back() != ' ' &&
                    std::all_of(title.begin(), title.end(), printable))
            << text;
    }
    EXPECT_GE(TroubleCodeCatalogue().size(), 2166U);
}

}  // namespace
