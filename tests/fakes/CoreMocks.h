#pragma once

#include <gmock/gmock.h>

#include <memory>
#include <string>
#include <vector>

#include "NotifierMock.h"
#include "obd/IQuorvix.h"

namespace zelt::testing {

using obd::ParameterIdentifier::Id;

class MockAdapter : public obd::IAdapter {
public:
    MOCK_METHOD(obd::DataLinkProtocol, getProtocol, (), (const, override));
    MOCK_METHOD(std::string, getName, (), (const, override));
    MOCK_METHOD(std::string, getDescription, (), (const, override));
    MOCK_METHOD(std::string, getIdentification, (), (const, override));
};

class MockConnectionService : public obd::IConnectionService,
                              public NotifierMock<obd::IConnectionServiceObserver> {
public:
    MOCK_METHOD(bool, isConnected, (), (const, override));
    MOCK_METHOD(std::uint32_t, getSelectedEcu, (), (const, override));
    MOCK_METHOD(std::shared_ptr<obd::IAdapter>, getAdapter, (), (override));

    void fireConnectionOpened() {
        notify([](auto& o) { o.onConnectionOpened(); });
    }
    void fireEcuChanged() {
        notify([](auto& o) { o.onEcuChanged(); });
    }
    void fireConnectionClosed() {
        notify([](auto& o) { o.onConnectionClosed(); });
    }
};

class MockEcuService : public obd::IEcuService {
public:
    MOCK_METHOD(std::vector<std::uint32_t>, getEcuAddresses, (), (override));
    MOCK_METHOD(std::vector<std::shared_ptr<obd::ParameterDataModel>>, readParameters, (),
                (override));
    MOCK_METHOD(bool, isParameterSupported, (Id), (override));
    MOCK_METHOD(std::string, readStandard, (), (override));
    MOCK_METHOD(std::string, readProtocol, (), (override));
    MOCK_METHOD(std::string, readEcuName, (), (override));
    MOCK_METHOD(std::string, readEcuDescription, (), (override));
    MOCK_METHOD(bool, isVinSupported, (), (override));
    MOCK_METHOD(std::string, readVin, (), (override));
    MOCK_METHOD(bool, isCalidSupported, (), (override));
    MOCK_METHOD(std::vector<std::string>, readCalids, (), (override));
    MOCK_METHOD(bool, isCvnSupported, (), (override));
    MOCK_METHOD(std::vector<std::string>, readCvns, (), (override));
    MOCK_METHOD(bool, isEsnSupported, (), (override));
    MOCK_METHOD(std::string, readEsn, (), (override));
    MOCK_METHOD(bool, isErotanSupported, (), (override));
    MOCK_METHOD(std::string, readErotan, (), (override));
    MOCK_METHOD(bool, isGtrNumberSupported, (), (override));
    MOCK_METHOD(std::string, readGtrNumber, (), (override));
    MOCK_METHOD(bool, isFueledEngineOperationSupported, (), (override));
    MOCK_METHOD(std::string, readFueledEngineOperation, (), (override));
    MOCK_METHOD(bool, isCertificationTestGroupSupported, (), (override));
    MOCK_METHOD(std::string, readCertificationTestGroup, (), (override));
    MOCK_METHOD(bool, isDistanceTraveledSinceEvapSupported, (), (override));
    MOCK_METHOD(std::string, readDistanceTraveledSinceEvap, (), (override));
    MOCK_METHOD(bool, isMotorcycleCategoryTypeApprovalSupported, (), (override));
    MOCK_METHOD(std::string, readMotorcycleCategoryTypeApproval, (), (override));
};

class MockSensorService : public obd::ISensorService {
public:
    MOCK_METHOD(std::vector<std::shared_ptr<obd::ParameterDataModel>>, readParameters,
                (const std::vector<Id>&), (override));
    MOCK_METHOD(std::vector<Id>, getPids, (), (override));
    MOCK_METHOD(std::shared_ptr<obd::ParameterDataModel>, getParameter, (Id), (override));
    MOCK_METHOD(std::vector<std::shared_ptr<obd::SensorDataModel>>, getSensors, (Id), (override));
    MOCK_METHOD(bool, isSupported, (Id), (override));
};

class MockTroubleCodeService : public obd::ITroubleCodeService {
public:
    using Codes = std::vector<std::shared_ptr<obd::DtcDataModel>>;
    MOCK_METHOD(std::string, describeTroubleCode, (const std::string&), (override));
    MOCK_METHOD(Codes, readConfirmedCodes, (), (override));
    MOCK_METHOD(Codes, readPendingCodes, (), (override));
    MOCK_METHOD(Codes, readPermanentCodes, (), (override));
    MOCK_METHOD(std::shared_ptr<std::int32_t>, readMilIndicator, (), (override));
    MOCK_METHOD(std::shared_ptr<std::int32_t>, readTroubleCodeCount, (), (override));
    MOCK_METHOD(std::uint8_t, readFreezeFrameCount, (), (override));
    MOCK_METHOD(std::shared_ptr<obd::DtcDataModel>, readFreezeFrameTroubleCode, (std::uint8_t),
                (override));
    MOCK_METHOD(std::vector<Id>, readFreezeFramePids, (std::uint8_t), (override));
    MOCK_METHOD(std::shared_ptr<obd::ParameterDataModel>, readFreezeFrameParameter,
                (std::uint8_t, Id), (override));
    MOCK_METHOD(bool, clearTroubleCodes, (), (override));
};

class MockDiagnosticsService : public obd::IDiagnosticsService {
public:
    using Readiness = std::vector<std::shared_ptr<obd::ReadinessMonitorDataModel>>;
    using Monitors = std::vector<std::shared_ptr<obd::DiagnosticMonitorDataModel>>;
    using Counters = std::vector<std::shared_ptr<obd::PerformanceCounterDataModel>>;
    using OxygenMonitors = std::vector<std::shared_ptr<obd::OxygenSensorMonitorDataModel>>;
    using Vod = std::shared_ptr<obd::VehicleOperationDataModel>;
    MOCK_METHOD(std::vector<std::uint8_t>, getSupportedMonitorIds, (), (override));
    MOCK_METHOD(Readiness, getReadinessMonitorsSinceReset, (), (override));
    MOCK_METHOD(Readiness, getReadinessMonitorsThisCycle, (), (override));
    MOCK_METHOD(Monitors, getDiagnosticMonitors, (), (override));
    MOCK_METHOD(Counters, getPerformanceCounters, (), (override));
    MOCK_METHOD(std::vector<obd::OxygenSensorLocation>, getOxygenSensorLocations, (), (override));
    MOCK_METHOD(OxygenMonitors, getOxygenSensorMonitors, (obd::OxygenSensorLocation), (override));
    MOCK_METHOD(bool, areOxygenSensorMonitorsComplete, (), (override));
    MOCK_METHOD(Vod, getVodEngineRunIdleTime, (), (override));
    MOCK_METHOD(Vod, getVodFuelDistanceUsed, (), (override));
    MOCK_METHOD(Vod, getVodPkeEoe, (), (override));
    MOCK_METHOD(Vod, getVodPsa, (), (override));
};

class MockRoutineService : public obd::IRoutineService {
public:
    using Routines = std::vector<std::shared_ptr<obd::TestRoutineDataModel>>;
    MOCK_METHOD(bool, isTestRoutineSupported, (int), (override));
    MOCK_METHOD(Routines, getTestRoutines, (), (override));
    MOCK_METHOD(std::shared_ptr<obd::TestRoutineDataModel>, activateTestRoutine, (int), (override));
};

class MockTroubleshootingService : public obd::ITroubleshootingService,
                                   public NotifierMock<obd::ITroubleshootingServiceObserver> {
public:
    MOCK_METHOD(std::string, sendMessage, (const std::string&, unsigned int), (override));
    MOCK_METHOD(void, enableDataLog, (), (override));
    MOCK_METHOD(bool, isDataLogEnabled, (), (const, override));
    MOCK_METHOD(void, disableDataLog, (), (override));

    void fireLogEntry(const std::shared_ptr<obd::MessageDataModel>& entry) {
        notify([&](auto& o) { o.onLogEntryAdded(entry); });
    }
};

// A core root that hands out the mocks a test put into it. Every service is a
// NiceMock unless the test replaces it (with a StrictMock where "the core was
// not called" is the point).
class FakeRoot : public obd::IQuorvix {
public:
    std::shared_ptr<MockConnectionService> connection =
        std::make_shared<::testing::NiceMock<MockConnectionService>>();
    std::shared_ptr<MockEcuService> ecu = std::make_shared<::testing::NiceMock<MockEcuService>>();
    std::shared_ptr<MockSensorService> sensors =
        std::make_shared<::testing::NiceMock<MockSensorService>>();
    std::shared_ptr<MockTroubleCodeService> troubleCodes =
        std::make_shared<::testing::NiceMock<MockTroubleCodeService>>();
    std::shared_ptr<MockDiagnosticsService> diagnostics =
        std::make_shared<::testing::NiceMock<MockDiagnosticsService>>();
    std::shared_ptr<MockRoutineService> routines =
        std::make_shared<::testing::NiceMock<MockRoutineService>>();
    std::shared_ptr<MockTroubleshootingService> troubleshooting =
        std::make_shared<::testing::NiceMock<MockTroubleshootingService>>();

    // The connection service each domain service was built with.
    std::vector<std::shared_ptr<obd::IConnectionService>> connectionsPassed;

    // Registration calls are expected in any number unless a test says
    // otherwise. (NiceMock cannot quiet them: they are declared in a virtual
    // base, which NiceMock does not reach.)
    FakeRoot() {
        using ::testing::AnyNumber;
        EXPECT_CALL(*connection, attach).Times(AnyNumber());
        EXPECT_CALL(*connection, detach).Times(AnyNumber());
        EXPECT_CALL(*connection, getObserverCount).Times(AnyNumber());
        EXPECT_CALL(*troubleshooting, attach).Times(AnyNumber());
        EXPECT_CALL(*troubleshooting, detach).Times(AnyNumber());
        EXPECT_CALL(*troubleshooting, getObserverCount).Times(AnyNumber());
    }

    std::shared_ptr<obd::IConnectionManager> getConnectionManager() override { return nullptr; }
    std::shared_ptr<obd::IConnectionService> createConnectionService() override {
        return connection;
    }
    std::shared_ptr<obd::IEcuService> createEcuService(
        std::shared_ptr<obd::IConnectionService> c) override {
        connectionsPassed.push_back(std::move(c));
        return ecu;
    }
    std::shared_ptr<obd::ISensorService> createSensorService(
        std::shared_ptr<obd::IConnectionService> c) override {
        connectionsPassed.push_back(std::move(c));
        return sensors;
    }
    std::shared_ptr<obd::ITroubleCodeService> createTroubleCodeService(
        std::shared_ptr<obd::IConnectionService> c) override {
        connectionsPassed.push_back(std::move(c));
        return troubleCodes;
    }
    std::shared_ptr<obd::IDiagnosticsService> createDiagnosticsService(
        std::shared_ptr<obd::IConnectionService> c) override {
        connectionsPassed.push_back(std::move(c));
        return diagnostics;
    }
    std::shared_ptr<obd::IRoutineService> createRoutineService(
        std::shared_ptr<obd::IConnectionService> c) override {
        connectionsPassed.push_back(std::move(c));
        return routines;
    }
    std::shared_ptr<obd::ITroubleshootingService> createTroubleshootingService(
        std::shared_ptr<obd::IConnectionService> c) override {
        connectionsPassed.push_back(std::move(c));
        return troubleshooting;
    }
};

}  // namespace zelt::testing
