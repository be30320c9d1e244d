// The repositories over the simulated core and its built-in vehicle: real
// services, real events on the core's own thread.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "EventWitness.h"
#include "obd/ServiceBuilders.h"
#include "obd/sim/SimulatedQuorvix.h"
#include "zelt/ConnectionBridge.h"
#include "zelt/DiagnosticsRepository.h"
#include "zelt/DongleRepository.h"
#include "zelt/EcuRepository.h"
#include "zelt/MeasurementUnitNames.h"
#include "zelt/ParameterRepository.h"
#include "zelt/RoutineRepository.h"
#include "zelt/TroubleCodeRepository.h"

namespace {

using obd::ParameterIdentifier::Id;
using obd::sim::SimulatedQuorvix;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::SizeIs;
using zelt::testing::EventWitness;

class DefaultVehicleTest : public ::testing::Test {
protected:
    std::shared_ptr<SimulatedQuorvix> root_ = SimulatedQuorvix::create();
};

std::vector<std::string> CodesOf(const std::vector<std::shared_ptr<obd::DtcDataModel>>& codes) {
    std::vector<std::string> texts;
    for (const auto& code : codes) {
        texts.push_back(code->code);
    }
    return texts;
}

// A repository built before the connection opens, with a witness that says
// when the repository has heard the events.
template <typename Repository>
class Opened {
public:
    explicit Opened(const std::shared_ptr<SimulatedQuorvix>& root)
        : root_(root), repository(root), witness_(root) {
        EXPECT_TRUE(root_->openConnection());
        witness_.waitFor(++events_);
    }
    void selectEcu(std::uint32_t ecu) {
        EXPECT_TRUE(root_->selectEcu(ecu));
        witness_.waitFor(++events_);
    }

private:
    std::shared_ptr<SimulatedQuorvix> root_;

public:
    Repository repository;

private:
    EventWitness witness_;
    std::uint64_t events_ = 0;
};

TEST_F(DefaultVehicleTest, EcuRepositoryListsTheEnginesInformation) {
    Opened<zelt::EcuRepository> ecu(root_);
    const auto items = ecu.repository.getEcuInfo(false);
    std::vector<std::pair<int, std::string>> listed;
    for (const auto& item : items) {
        listed.emplace_back(item->id, item->name + ": " + item->value);
    }
    EXPECT_THAT(
        listed,
        ElementsAre(
            std::make_pair(0, "OBD Requirements: EOBD (Europe)"),
            std::make_pair(1, "Protocol: ISO 15765-4 (CAN 11/500)"),
            std::make_pair(2, "ECU Name: ECM"), std::make_pair(3, "ECU Description: EngineControl"),
            std::make_pair(4, "Vehicle Identification Number: WBA3B5C51FK123456"),
            std::make_pair(5, "Calibration Identification #0: 0261S12345A0"),
            std::make_pair(5, "Calibration Identification #1: 1037541236"),
            std::make_pair(6, "Calibration Verification Number #0: 1791BC82"),
            std::make_pair(6, "Calibration Verification Number #1: 16E062BE"),
            std::make_pair(7, "Engine Serial Number: N13B16A0281734"),
            std::make_pair(8, "Exhaust Regulation Or Type Approval Number: e1*2007/46*0123"),
            std::make_pair(10, "Fueled Engine Operation Ignition Cycle Counter: 4731"),
            std::make_pair(12, "Distance Traveled Since Evap Monitoring Decision: 37 km")));
    EXPECT_EQ(*ecu.repository.getIdentificationNumber(false), "WBA3B5C51FK123456");
    const auto parameters = ecu.repository.getParameters(false);
    ASSERT_FALSE(parameters.empty());
    EXPECT_TRUE(ecu.repository.isSupported(parameters.front()));

    // The transmission has no VIN.
    ecu.selectEcu(0x7E9);
    EXPECT_EQ(ecu.repository.getIdentificationNumber(false), nullptr);
    EXPECT_EQ(ecu.repository.getEcuInfo(false)[2]->value, "TCM");
}

TEST_F(DefaultVehicleTest, ParameterRepositoryReadsLiveValuesWithUnits) {
    Opened<zelt::ParameterRepository> parameters(root_);
    EXPECT_THAT(parameters.repository.getPids(), Contains(Id::EngineSpeed));
    const auto speed = parameters.repository.getParameter(Id::EngineSpeed);
    ASSERT_NE(speed, nullptr);
    EXPECT_EQ(speed->name, "Engine Speed");
    const auto values = parameters.repository.getValues(Id::EngineSpeed, false);
    ASSERT_THAT(values, SizeIs(1));
    const auto& value = values[0]->value;
    EXPECT_GE(std::stod(value->rawValue), 780);
    EXPECT_EQ(value->formattedValue,
              value->rawValue + " " + zelt::ConvertMeasurementUnitToString(MeasurementUnit::Rpm));
    EXPECT_FALSE(value->formattedValue4.empty());  // the average of this connection
    EXPECT_EQ(parameters.repository.getParameter(Id::FuelPressure), nullptr);
}

TEST_F(DefaultVehicleTest, TroubleCodeRepositoryReadsAndResetsTheCodes) {
    Opened<zelt::TroubleCodeRepository> codes(root_);
    EXPECT_THAT(CodesOf(codes.repository.getConfirmedCodes(false)), ElementsAre("P0301", "P0420"));
    EXPECT_THAT(CodesOf(codes.repository.getPendingCodes(false)), ElementsAre("P0171"));
    EXPECT_THAT(CodesOf(codes.repository.getPermanentCodes(false)), ElementsAre("P0420"));
    EXPECT_EQ(*codes.repository.getMilStatus(false), zelt::MilStatus::On);
    EXPECT_EQ(codes.repository.getDistanceSince(zelt::MilStatus::On, false)->value->formattedValue,
              "154 " + zelt::ConvertMeasurementUnitToString(MeasurementUnit::Kilometer));
    EXPECT_EQ(codes.repository.getRuntimeSince(zelt::MilStatus::On, false)->value->formattedValue,
              "1 hrs 35 min");
    EXPECT_EQ(codes.repository.getRuntimeSince(zelt::MilStatus::Off, false)->value->formattedValue,
              "48 hrs 0 min");
    EXPECT_EQ(codes.repository.getFreezeFrameTroubleCode(0, false)->code, "P0301");
    EXPECT_THAT(codes.repository.getFreezeFramePids(0, false), Contains(Id::VehicleSpeed));
    EXPECT_EQ(codes.repository.getFreezeFrameParameter(0, Id::EngineSpeed, false)
                  ->sensors[0]
                  ->value->rawValue,
              "2315");
    EXPECT_THAT(codes.repository.getAllTroubleCodes(), Not(IsEmpty()));

    EXPECT_TRUE(codes.repository.resetTroubleCodes());
    EXPECT_THAT(codes.repository.getConfirmedCodes(false), IsEmpty());
    EXPECT_EQ(*codes.repository.getMilStatus(false), zelt::MilStatus::Off);
    EXPECT_EQ(codes.repository.getFreezeFrameTroubleCode(0, false), nullptr);
    EXPECT_THAT(CodesOf(codes.repository.getPermanentCodes(false)), ElementsAre("P0420"));
}

TEST_F(DefaultVehicleTest, DiagnosticsRepositoryReportsMonitors) {
    Opened<zelt::DiagnosticsRepository> diagnostics(root_);
    EXPECT_THAT(diagnostics.repository.getReadinessMonitorsSinceReset(false), SizeIs(11));
    EXPECT_THAT(diagnostics.repository.getReadinessMonitorsThisCycle(false), SizeIs(11));
    EXPECT_THAT(diagnostics.repository.getDiagnosticMonitors(false), SizeIs(12));
    EXPECT_THAT(diagnostics.repository.getPerformanceCounters(false), SizeIs(11));
    EXPECT_THAT(diagnostics.repository.getOxygenSensorLocations(false),
                ElementsAre(obd::OxygenSensorLocation::Bank1Sensor1,
                            obd::OxygenSensorLocation::Bank1Sensor2));
    EXPECT_THAT(diagnostics.repository.getOxygenSensorMonitors(
                    obd::OxygenSensorLocation::Bank1Sensor2, false),
                SizeIs(2));
    EXPECT_TRUE(diagnostics.repository.areOxygenSensorMonitorsComplete(true));
    EXPECT_THAT(diagnostics.repository.getVehicleOperationData(false), SizeIs(4));
}

TEST_F(DefaultVehicleTest, DongleRepositoryTalksToTheAdapterAndCollectsTheDataLog) {
    Opened<zelt::DongleRepository> dongle(root_);
    EXPECT_EQ(*dongle.repository.getHardwareName(), "ELM327");
    EXPECT_EQ(*dongle.repository.getHardwareIdentification(), "ELM327 v1.5");
    const auto voltage = dongle.repository.getBatteryVoltage(false);
    ASSERT_NE(voltage, nullptr);
    EXPECT_GE(std::stod(*voltage), 14.0);
    EXPECT_EQ(dongle.repository.sendMessage("ATDP", 100), "ISO 15765-4 (CAN 11/500)");

    dongle.repository.enableDataLog();
    EXPECT_EQ(dongle.repository.sendMessage("ATI", 100), "ELM327 v1.5");
    // The log entries travel on the event thread ahead of the ECU change.
    dongle.selectEcu(0x7E9);
    std::vector<std::string> texts;
    for (const auto& entry : dongle.repository.getMessages()) {
        texts.push_back(entry->text);
    }
    EXPECT_THAT(texts, ElementsAre("ATI", "ELM327 v1.5", "ECU 7E9 selected"));
}

// Phases arrive on the core's dispatcher thread, in no fixed order with the
// connection events; a test waits for the phase it expects.
class PhaseCounter : public obd::IConnectionPhaseListener {
public:
    void onPhaseChanged(obd::ConnectionPhase phase) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            last_ = phase;
        }
        changed_.notify_all();
    }
    // The last phase once it is `expected`, or whatever it is after a
    // generous deadline.
    obd::ConnectionPhase waitFor(obd::ConnectionPhase expected) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(30), [&] { return last_ == expected; });
        return last_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    obd::ConnectionPhase last_ = obd::ConnectionPhase::Closed;
};

TEST_F(DefaultVehicleTest, ConnectionBridgeOpensTheVehicleAndCarriesBytes) {
    PhaseCounter phases;
    EventWitness witness(root_);
    zelt::ConnectionBridge bridge(root_->getConnectionManager(), &phases);
    EXPECT_TRUE(bridge.connect(obd::DataLinkProtocol::Automatic, false));
    EXPECT_TRUE(root_->isConnectionOpen());
    witness.waitFor(1);
    EXPECT_EQ(phases.waitFor(obd::ConnectionPhase::Open), obd::ConnectionPhase::Open);

    // Bytes from the application reach the connection end, and back.
    bridge.write({'4', '1', '>'});
    std::vector<std::uint8_t> received;
    EXPECT_TRUE(bridge.getConnection()->receive(received, 0));
    EXPECT_THAT(received, ElementsAre('4', '1', '>'));
    bridge.getConnection()->send({'0', '1', '\r'});
    std::vector<std::uint8_t> sent;
    EXPECT_TRUE(bridge.read(sent));
    EXPECT_THAT(sent, ElementsAre('0', '1', '\r'));

    bridge.disconnect();
    EXPECT_FALSE(root_->isConnectionOpen());
    witness.waitFor(2);
    EXPECT_EQ(phases.waitFor(obd::ConnectionPhase::Closed), obd::ConnectionPhase::Closed);
}

TEST_F(DefaultVehicleTest, RoutineRepositoryRunsTheLeakTestAndForgetsItOnReconnect) {
    zelt::RoutineRepository routines(root_);
    EventWitness witness(root_);
    EXPECT_FALSE(routines.isConnected());
    ASSERT_TRUE(root_->openConnection());
    witness.waitFor(1);
    EXPECT_TRUE(routines.isConnected());

    auto listed = routines.getTestRoutines(false);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0]->id, 1);
    EXPECT_EQ(listed[0]->name, "Evaporative System Leak Test");
    EXPECT_EQ(listed[0]->status, obd::TestRoutineStatus::Available);

    auto activated = routines.activateTestRoutine(1);
    ASSERT_NE(activated, nullptr);
    EXPECT_EQ(activated->status, obd::TestRoutineStatus::Completed);
    EXPECT_EQ(routines.getTestRoutines(false)[0], activated);
    EXPECT_EQ(routines.activateTestRoutine(7), nullptr);

    // Closing empties the cache; a closed vehicle lists nothing.
    root_->closeConnection();
    witness.waitFor(2);
    EXPECT_TRUE(routines.getTestRoutines(false).empty());

    // A new connection starts with the routine not yet run.
    ASSERT_TRUE(root_->openConnection());
    witness.waitFor(3);
    listed = routines.getTestRoutines(false);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0]->status, obd::TestRoutineStatus::Available);
}

TEST_F(DefaultVehicleTest, RepositoriesMayBeDestroyedWhileEventsFly) {
    std::atomic<bool> stop{false};
    std::thread driver([&] {
        while (!stop) {
            root_->openConnection();
            root_->selectEcu(0x7E9);
            root_->closeConnection();
        }
    });
    for (int i = 0; i < 100; ++i) {
        zelt::RoutineRepository routines(root_);
        routines.getTestRoutines(false);
    }
    stop = true;
    driver.join();
}

}  // namespace
