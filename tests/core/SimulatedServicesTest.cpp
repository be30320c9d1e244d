#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "events/EventDispatcher.h"
#include "obd/DtcReader.h"
#include "obd/ServiceBuilders.h"
#include "obd/sim/SimulatedQuorvix.h"
#include "services/Services.h"
#include "sim/SimulatedBus.h"

namespace {

using obd::ParameterIdentifier::Id;
using obd::sim::Scenario;
using obd::sim::SimulatedQuorvix;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::IsSupersetOf;
using ::testing::Not;

std::vector<std::string> Codes(const std::vector<std::shared_ptr<obd::DtcDataModel>>& codes) {
    std::vector<std::string> texts;
    for (const auto& code : codes) {
        texts.push_back(code->code);
    }
    return texts;
}

// The services over the built-in scenario, connection open.
class SimulatedServicesTest : public ::testing::Test {
protected:
    SimulatedServicesTest() { root_->openConnection(); }

    std::shared_ptr<SimulatedQuorvix> root_ = SimulatedQuorvix::create();
    std::shared_ptr<obd::IConnectionService> connection_ =
        obd::ConnectionServiceBuilder::create(root_);
    std::shared_ptr<obd::IEcuService> ecu_ = obd::EcuServiceBuilder::create(root_, connection_);
    std::shared_ptr<obd::ISensorService> sensors_ =
        obd::SensorServiceBuilder::create(root_, connection_);
    std::shared_ptr<obd::ITroubleCodeService> codes_ =
        obd::TroubleCodeServiceBuilder::create(root_, connection_);
    std::shared_ptr<obd::IDiagnosticsService> diagnostics_ =
        obd::DiagnosticsServiceBuilder::create(root_, connection_);
    std::shared_ptr<obd::IRoutineService> routines_ =
        obd::RoutineServiceBuilder::create(root_, connection_);
};

TEST_F(SimulatedServicesTest, EcuServiceReadsVehicleInformation) {
    EXPECT_THAT(ecu_->getEcuAddresses(), ElementsAre(0x7E8u, 0x7E9u));
    EXPECT_TRUE(ecu_->isVinSupported());
    EXPECT_EQ(ecu_->readVin(), "WBA3B5C51FK123456");
    EXPECT_EQ(ecu_->readEcuName(), "ECM");
    EXPECT_EQ(ecu_->readEcuDescription(), "EngineControl");
    EXPECT_EQ(ecu_->readStandard(), "EOBD (Europe)");
    EXPECT_EQ(ecu_->readProtocol(), "ISO 15765-4 (CAN 11/500)");
    EXPECT_THAT(ecu_->readCalids(), ElementsAre("0261S12345A0", "1037541236"));
    EXPECT_THAT(ecu_->readCvns(), ElementsAre("1791BC82", "16E062BE"));
    EXPECT_EQ(ecu_->readEsn(), "N13B16A0281734");
    EXPECT_EQ(ecu_->readErotan(), "e1*2007/46*0123");
    EXPECT_EQ(ecu_->readFueledEngineOperation(), "4731");
    EXPECT_EQ(ecu_->readDistanceTraveledSinceEvap(), "37 km");
    EXPECT_FALSE(ecu_->isGtrNumberSupported());
    EXPECT_FALSE(ecu_->isCertificationTestGroupSupported());
    EXPECT_TRUE(ecu_->isParameterSupported(Id::EngineRunTime));
    EXPECT_FALSE(ecu_->isParameterSupported(Id::FuelPressure));
    EXPECT_FALSE(ecu_->readParameters().empty());
}

TEST_F(SimulatedServicesTest, SensorServiceOffersTheTimeAndDistancePids) {
    EXPECT_THAT(sensors_->getPids(),
                IsSupersetOf({Id::RunTimeSinceEngineStart, Id::DistanceWithMilOn,
                              Id::DistanceSinceCodesCleared, Id::TimeRunWithMilOn,
                              Id::TimeSinceCodesCleared, Id::EngineRunTime}));
    EXPECT_THAT(sensors_->getPids(), Not(Contains(Id::SupportedPids21To40)));
    auto distance = sensors_->getSensors(Id::DistanceWithMilOn);
    ASSERT_EQ(distance.size(), 1u);
    EXPECT_EQ(distance[0]->uid, obd::Pid2Uid(Id::DistanceWithMilOn));
    EXPECT_EQ(distance[0]->unit, MeasurementUnit::Kilometer);
    EXPECT_EQ(distance[0]->value->value, "154");
    EXPECT_EQ(distance[0]->limits->maximum, 65535);
    EXPECT_EQ(sensors_->getParameter(Id::FuelPressure), nullptr);
    EXPECT_THAT(sensors_->getSensors(Id::FuelPressure), IsEmpty());

    auto oxygen = sensors_->getParameter(Id::OxygenSensor1);
    ASSERT_NE(oxygen, nullptr);
    ASSERT_EQ(oxygen->sensors.size(), 2u);  // voltage and fuel trim
    EXPECT_EQ(oxygen->sensors[1]->uid, obd::Pid2Uid(Id::OxygenSensor1) + 1);

    auto status = sensors_->getParameter(Id::FuelSystemStatus);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->sensors[0]->limits, nullptr);  // a text, not a number
    EXPECT_EQ(status->sensors[0]->value->value, "Closed loop");
    EXPECT_EQ(status->sensors[0]->value->average, "");
}

TEST_F(SimulatedServicesTest, BatteryVoltageComesFromTheAdapter) {
    EXPECT_TRUE(sensors_->isSupported(Id::BatteryVoltage));
    auto voltage = sensors_->getSensors(Id::BatteryVoltage);
    ASSERT_EQ(voltage.size(), 1u);
    EXPECT_EQ(voltage[0]->unit, MeasurementUnit::Volt);
    EXPECT_GE(std::stod(voltage[0]->value->value), 14.0);
    EXPECT_LE(std::stod(voltage[0]->value->value), 14.5);
    EXPECT_THAT(sensors_->getPids(), Not(Contains(Id::BatteryVoltage)));
}

TEST_F(SimulatedServicesTest, TroubleCodesFreezeFramesAndClearing) {
    auto confirmed = codes_->readConfirmedCodes();
    EXPECT_THAT(Codes(confirmed), ElementsAre("P0301", "P0420"));
    EXPECT_EQ(confirmed[0]->description, "Cylinder 1 Misfire Detected");
    EXPECT_EQ(confirmed[0]->ecuAddress, 0x7E8u);
    EXPECT_EQ(confirmed[0]->rawValue, 0x0301);
    EXPECT_EQ(confirmed[0]->status, obd::DtcStatus::Confirmed);
    EXPECT_THAT(Codes(codes_->readPendingCodes()), ElementsAre("P0171"));
    EXPECT_THAT(Codes(codes_->readPermanentCodes()), ElementsAre("P0420"));
    EXPECT_EQ(*codes_->readMilIndicator(), 1);
    EXPECT_EQ(*codes_->readTroubleCodeCount(), 2);

    EXPECT_EQ(codes_->readFreezeFrameCount(), 1);
    EXPECT_EQ(codes_->readFreezeFrameTroubleCode(0)->code, "P0301");
    EXPECT_EQ(codes_->readFreezeFrameTroubleCode(1), nullptr);
    EXPECT_THAT(codes_->readFreezeFramePids(1), IsEmpty());
    EXPECT_THAT(codes_->readFreezeFramePids(0), Contains(Id::EngineSpeed));
    auto speed = codes_->readFreezeFrameParameter(0, Id::EngineSpeed);
    ASSERT_NE(speed, nullptr);
    EXPECT_EQ(speed->sensors[0]->value->value, "2315");
    EXPECT_EQ(speed->sensors[0]->value->lowest, "");  // a stored reading has no statistics
    EXPECT_EQ(codes_->readFreezeFrameParameter(0, Id::AmbientAirTemperature), nullptr);

    EXPECT_TRUE(codes_->clearTroubleCodes());
    EXPECT_THAT(codes_->readConfirmedCodes(), IsEmpty());
    EXPECT_THAT(codes_->readPendingCodes(), IsEmpty());
    EXPECT_THAT(Codes(codes_->readPermanentCodes()), ElementsAre("P0420"));
    EXPECT_EQ(*codes_->readMilIndicator(), 0);
    EXPECT_EQ(codes_->readFreezeFrameCount(), 0);
    EXPECT_EQ(sensors_->getSensors(Id::DistanceWithMilOn)[0]->value->value, "0");
}

TEST_F(SimulatedServicesTest, DiagnosticsFromMonitorsAndServiceNine) {
    auto readiness = diagnostics_->getReadinessMonitorsSinceReset();
    ASSERT_EQ(readiness.size(), 11u);
    EXPECT_EQ(readiness[3]->name, "Catalyst");
    EXPECT_TRUE(readiness[3]->supported);
    EXPECT_FALSE(readiness[3]->complete);
    EXPECT_EQ(diagnostics_->getReadinessMonitorsThisCycle().size(), 11u);

    auto results = diagnostics_->getDiagnosticMonitors();
    ASSERT_EQ(results.size(), 12u);
    EXPECT_EQ(results[5]->monitorName, "Catalyst Monitor Bank 1");
    EXPECT_FALSE(results[5]->passed);
    EXPECT_THAT(diagnostics_->getSupportedMonitorIds(),
                ElementsAre(0x01, 0x02, 0x21, 0x31, 0x39, 0xA2, 0xA3, 0xA4, 0xA5));

    EXPECT_THAT(diagnostics_->getOxygenSensorLocations(),
                ElementsAre(obd::OxygenSensorLocation::Bank1Sensor1,
                            obd::OxygenSensorLocation::Bank1Sensor2));
    auto oxygen = diagnostics_->getOxygenSensorMonitors(obd::OxygenSensorLocation::Bank1Sensor1);
    ASSERT_EQ(oxygen.size(), 3u);
    EXPECT_EQ(oxygen[0]->name, "Rich to lean sensor threshold voltage");
    EXPECT_EQ(oxygen[0]->unit, MeasurementUnit::Volt);
    EXPECT_TRUE(diagnostics_->areOxygenSensorMonitorsComplete());

    auto counters = diagnostics_->getPerformanceCounters();
    ASSERT_EQ(counters.size(), 11u);
    EXPECT_EQ(counters[1]->name, "Ignition Cycles");
    EXPECT_EQ(counters[1]->numerator, 1338u);
    EXPECT_EQ(counters[2]->numerator, 96u);
    EXPECT_EQ(counters[2]->denominator, 412u);

    auto fuel = diagnostics_->getVodFuelDistanceUsed();
    ASSERT_NE(fuel, nullptr);
    ASSERT_EQ(fuel->entries.size(), 2u);
    EXPECT_EQ(fuel->entries[0].value, "84512.3");
    EXPECT_EQ(fuel->entries[1].unit, MeasurementUnit::Liter);
}

TEST_F(SimulatedServicesTest, RoutinesRecordTheirActivation) {
    EXPECT_TRUE(routines_->isTestRoutineSupported(1));
    EXPECT_FALSE(routines_->isTestRoutineSupported(2));
    EXPECT_EQ(routines_->activateTestRoutine(2), nullptr);
    auto before = routines_->getTestRoutines();
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0]->status, obd::TestRoutineStatus::Available);
    auto activated = routines_->activateTestRoutine(1);
    ASSERT_NE(activated, nullptr);
    EXPECT_EQ(activated->status, obd::TestRoutineStatus::Completed);
    EXPECT_EQ(activated->result, "48 01 00 00 00 00 00");
    EXPECT_EQ(routines_->getTestRoutines()[0]->status, obd::TestRoutineStatus::Completed);
}

TEST_F(SimulatedServicesTest, AnotherEcuAnswersAfterSelection) {
    ASSERT_TRUE(root_->selectEcu(0x7E9));
    EXPECT_EQ(connection_->getSelectedEcu(), 0x7E9u);
    EXPECT_FALSE(ecu_->isVinSupported());
    EXPECT_EQ(ecu_->readEcuName(), "TCM");
    EXPECT_THAT(codes_->readConfirmedCodes(), IsEmpty());
    EXPECT_THAT(sensors_->getPids(),
                ElementsAre(Id::MonitorStatus, Id::EngineSpeed, Id::VehicleSpeed, Id::ObdStandard));
}

TEST_F(SimulatedServicesTest, ClosedConnectionReadsAsNoData) {
    root_->closeConnection();
    EXPECT_FALSE(connection_->isConnected());
    EXPECT_EQ(connection_->getAdapter(), nullptr);
    EXPECT_EQ(connection_->getSelectedEcu(), 0u);
    EXPECT_THAT(sensors_->getPids(), IsEmpty());
    EXPECT_THAT(sensors_->getSensors(Id::BatteryVoltage), IsEmpty());
    EXPECT_EQ(ecu_->readVin(), "");
    EXPECT_EQ(ecu_->readProtocol(), "");
    EXPECT_EQ(codes_->readMilIndicator(), nullptr);
    EXPECT_FALSE(codes_->clearTroubleCodes());
    EXPECT_THAT(diagnostics_->getDiagnosticMonitors(), IsEmpty());
    EXPECT_EQ(diagnostics_->getVodPsa(), nullptr);
}

TEST(DtcReaderTest, CatalogueKnowsTheScenariosCodes) {
    const auto codes = obd::DtcReader::getTroubleCodes();
    EXPECT_THAT(Codes(codes), IsSupersetOf({"P0301", "P0420", "P0171", "P2463", "P2002"}));
    for (const auto& code : codes) {
        EXPECT_EQ(code->status, obd::DtcStatus::Known);
        EXPECT_FALSE(code->description.empty()) << code->code;
    }
}

TEST(SensorStatisticsTest, LowestHighestAndAverageSummariseThisConnection) {
    const Scenario scenario = Scenario::parse(
        R"({"name": "x", "ecus": [{"address": "0x7E8", "pids": {
              "0x0C": {"points": [[0, 800], [10, 2800]]}}}]})",
        "stats.json");
    double now = 0;
    auto bus = std::make_shared<obd::sim::SimulatedBus>(*scenario.model(), [&now] { return now; });
    auto connection = std::make_shared<obd::detail::VehicleConnection>(
        bus, nullptr, obd::DataLinkProtocol::Iso15765Can11Bit500k,
        std::make_shared<obd::detail::EventDispatcher>());
    ASSERT_TRUE(connection->open());
    obd::detail::SensorService sensors(connection);
    auto read = [&](double t) {
        now = t;
        return sensors.getSensors(Id::EngineSpeed).at(0)->value;
    };
    read(0);
    read(10);
    auto value = read(5);
    EXPECT_EQ(value->value, "1800");
    EXPECT_EQ(value->lowest, "800");
    EXPECT_EQ(value->highest, "2800");
    EXPECT_EQ(value->average, "1800");
    // Reopening starts a new summary, and live values start over.
    connection->close();
    now = 0;
    ASSERT_TRUE(connection->open());
    value = read(10);
    EXPECT_EQ(value->lowest, "2800");
    EXPECT_EQ(value->average, "2800");
}

}  // namespace
