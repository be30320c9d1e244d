#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "TroubleCodeCatalogue.h"
#include "j1979/Codec.h"

namespace {

using obd::detail::DescribeTroubleCode;
using obd::detail::TroubleCodeCatalogue;
using testing::StartsWith;

// Titles as the SAE J2012 code list gives them: a typo, a code filed under
// the wrong number or a missing common code shows here.
TEST(TroubleCodeCatalogueTest, CommonGenericCodesHaveTheirJ2012Titles) {
    const struct {
        const char* code;
        const char* title;
    } cases[] = {
        {"P0606", "Control Module Processor"},
        {"P0300", "Random/Multiple Cylinder Misfire Detected"},
        {"P0171", "System Too Lean (Bank 1)"},
        {"P0174", "System Too Lean (Bank 2)"},
        {"P0420", "Catalyst System Efficiency Below Threshold (Bank 1)"},
        {"P0442", "Evaporative Emission Control System Leak Detected (small leak)"},
        {"P0455", "Evaporative Emission Control System Leak Detected (gross leak)"},
        {"P0456", "Evaporative Emission Control System Leak Detected (very small leak)"},
        {"P0128",
         "Coolant Thermostat (Coolant Temperature Below Thermostat Regulating Temperature)"},
        {"P0562", "System Voltage Low"},
        {"P0700", "Transmission Control System Malfunction"},
        {"U0100", "Lost Communication With ECM/PCM A"},
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
        {"P0099", "Fuel and Air Metering and Auxiliary Emission Controls (P00xx)"},
        {"P0199", "Fuel and Air Metering (P01xx)"},
        {"P0399", "Ignition System or Misfire (P03xx)"},
        {"P0499", "Auxiliary Emission Controls (P04xx)"},
        {"P0599", "Vehicle Speed, Idle Control and Auxiliary Inputs (P05xx)"},
        {"P0699", "Computer and Auxiliary Outputs (P06xx)"},
        {"P0899", "Transmission (P08xx)"},
        {"P0A0F", "Hybrid Propulsion (P0Axx)"},
        {"P2399", "Ignition System or Misfire (P23xx)"},
        {"P2799", "Transmission (P27xx)"},
        {"P3400", "Cylinder Deactivation (P34xx)"},
        {"U0199", "Network Communication (U01xx)"},
        {"U0401", "Network Data (U04xx)"},
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

// Every key must be a code the vehicle can send, or it can never be found.
TEST(TroubleCodeCatalogueTest, EveryEntryIsAWellFormedCodeWithATitle) {
    for (const auto& [code, title] : TroubleCodeCatalogue()) {
        EXPECT_EQ(obd::j1979::DecodeTroubleCode(obd::j1979::EncodeTroubleCode(code)), code);
        EXPECT_THAT(title, testing::Not(testing::IsEmpty())) << code;
        EXPECT_THAT(title, testing::Not(StartsWith(" "))) << code;
    }
}

}  // namespace
