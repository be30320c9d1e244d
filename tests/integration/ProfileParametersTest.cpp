// A vehicle profile through the library's doors: its parameters read by
// ParameterRepository over the simulated core's UDS modules, its modules'
// trouble codes read and cleared through the root.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "obd/IProfileHost.h"
#include "obd/sim/SimulatedQuorvix.h"
#include "zelt/ParameterRepository.h"

namespace {

using Id = obd::ParameterIdentifier::Id;

// An engine ECU and two modules; the transmission takes one identifier per
// request, the ABS answers its pressure after two response-pending answers
// and refuses one identifier.
const char* const kVehicle = R"({
  "name": "Profiled",
  "ecus": [{"address": "0x7E8", "name": "ECM", "pids": {"0x0C": 1500}}],
  "profileEcus": [
    {"name": "ABS", "request": "0x7B0", "pendingMilliseconds": 1,
     "identifiers": {"0x4A10": {"value": 4660, "bytes": 2},
                     "0x4A20": {"data": "0C", "pending": 2},
                     "0x4A30": {"refuse": "0x33"}},
     "codes": [{"code": "C0035-11", "status": "0x89"}]},
    {"name": "TCM", "request": "0x7E1", "sharedRequests": false,
     "identifiers": {"0x1940": {"value": 90, "bytes": 1}, "0x1941": {"data": "03"}},
     "clearCodes": {"accepted": false}}]
})";

const char* const kProfile = R"({
  "ecus": [{"name": "ABS", "request": "7B0"}, {"name": "TCM", "request": "7E1"}],
  "parameters": [
    {"name": "Wheel Speed", "ecu": "ABS", "service": "22", "id": "4A10", "formula": "(A*256+B)/100", "unit": "km/h"},
    {"name": "Brake Pressure", "ecu": "ABS", "service": "22", "id": "4A20", "formula": "A*2"},
    {"name": "Coding", "ecu": "ABS", "service": "22", "id": "4A30", "formula": "A"},
    {"name": "Transmission Temperature", "ecu": "TCM", "service": "22", "id": "1940", "formula": "A-40", "unit": "°C"},
    {"name": "Gear", "ecu": "TCM", "service": "22", "id": "1941", "formula": "A"}]
})";

class ProfileParametersTest : public ::testing::Test {
protected:
    ProfileParametersTest()
        : root_(obd::sim::SimulatedQuorvix::create(obd::sim::Scenario::parse(kVehicle, "v"))),
          profile_(obd::VehicleProfile::parse(kProfile, "p")) {
        root_->setProfile(profile_);
        EXPECT_TRUE(root_->openConnection());
    }

    Id pid(const char* name) const { return profile_->find(name)->pid; }

    std::shared_ptr<obd::sim::SimulatedQuorvix> root_;
    std::shared_ptr<const obd::VehicleProfile> profile_;
    zelt::ParameterRepository parameters_{root_};
};

// The values are the formulas applied to the scenario's bytes: 4660 is
// 12 34 hex, (0x12*256+0x34)/100 = 46.6.
TEST_F(ProfileParametersTest, ValuesComeByNameThroughTheRepository) {
    const auto values =
        parameters_.getValuesOf({pid("Wheel Speed"), pid("Brake Pressure"), pid("Coding"),
                                 pid("Transmission Temperature"), pid("Gear"), Id::EngineSpeed});
    ASSERT_EQ(values.size(), 6u);
    auto value = [&](std::size_t i) {
        return values[i].empty() ? std::string("missing") : values[i].front()->value->rawValue;
    };
    EXPECT_EQ(value(0), "46.6");
    EXPECT_EQ(value(1), "24");  // behind two response-pending answers
    EXPECT_EQ(value(2), "missing");
    EXPECT_EQ(value(3), "50");
    EXPECT_EQ(value(4), "3");  // one at a time after the refused shared request
    EXPECT_EQ(value(5), "1500");
    EXPECT_EQ(root_->getMissingReason(pid("Coding")), "security access denied (0x33)");
    EXPECT_EQ(values[0].front()->name, "Wheel Speed");
    // A single read gives the same; service 01's PID list is the vehicle's.
    EXPECT_EQ(parameters_.getValues(pid("Wheel Speed"), true).front()->value->rawValue, "46.6");
    const auto pids = parameters_.getPids();
    EXPECT_EQ(std::count(pids.begin(), pids.end(), pid("Wheel Speed")), 0);
}

TEST_F(ProfileParametersTest, ModuleCodesAreListedAndCleared) {
    const obd::ModuleCodes codes = root_->readModuleCodes(0);
    ASSERT_TRUE(codes.answered) << codes.why;
    ASSERT_EQ(codes.codes.size(), 1u);
    EXPECT_EQ(codes.codes[0].code, "C0035-11");
    EXPECT_EQ(codes.codes[0].statusText, "confirmed, test failed, warning indicator");
    EXPECT_TRUE(root_->clearModuleCodes(0).confirmed);
    EXPECT_TRUE(root_->readModuleCodes(0).codes.empty());
    const obd::ModuleClearing refused = root_->clearModuleCodes(1);
    EXPECT_FALSE(refused.confirmed);
    EXPECT_EQ(refused.why, "conditions not correct (0x22)");
}

TEST_F(ProfileParametersTest, ClosedConnectionReadsAsMissingWithItsReason) {
    root_->closeConnection();
    EXPECT_TRUE(parameters_.getValues(pid("Gear"), true).empty());
    EXPECT_EQ(root_->getMissingReason(pid("Gear")), "the connection is closed");
}

}  // namespace
