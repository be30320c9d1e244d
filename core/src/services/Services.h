#pragma once

// The core's services over a vehicle connection. Each builds J1979 requests,
// sends them to the selected ECU through the connection and decodes the
// answers; none keeps a cache. A closed connection reads as "no data": null
// pointers, empty vectors, empty texts and false.
//
// Thread safety: every operation may be called from any thread.

#include <memory>

#include "events/ObserverList.h"
#include "obd/IConnectionService.h"
#include "obd/IDiagnosticsService.h"
#include "obd/IEcuService.h"
#include "obd/IRoutineService.h"
#include "obd/ISensorBatchReader.h"
#include "obd/ISensorService.h"
#include "obd/ITroubleCodeService.h"
#include "obd/ITroubleshootingService.h"
#include "orvane/Mutex.h"
#include "orvane/ThreadAnnotations.h"
#include "services/DataLog.h"
#include "services/J1979Client.h"
#include "services/ProfileParameters.h"
#include "services/VehicleConnection.h"

namespace obd::detail {

// Connection events reach the observers on the dispatcher thread; after
// detach() has returned an observer hears nothing more (detach waits for a
// delivery to it that is running on another thread).
class ConnectionService : public IConnectionService {
public:
    explicit ConnectionService(std::shared_ptr<VehicleConnection> connection);
    ~ConnectionService() override;

    std::size_t getObserverCount() const override;
    void attach(IConnectionServiceObserver* observer) override;
    void detach(IConnectionServiceObserver* observer) override;

    bool isConnected() const override;
    std::uint32_t getSelectedEcu() const override;
    std::shared_ptr<IAdapter> getAdapter() override;

    const std::shared_ptr<VehicleConnection>& connection() const { return connection_; }

private:
    const std::shared_ptr<VehicleConnection> connection_;
    const std::shared_ptr<VehicleConnection::ConnectionObservers> observers_;
};

class EcuService : public IEcuService {
public:
    explicit EcuService(std::shared_ptr<VehicleConnection> connection);

    std::vector<std::uint32_t> getEcuAddresses() override;
    std::vector<std::shared_ptr<ParameterDataModel>> readParameters() override;
    bool isParameterSupported(ParameterIdentifier::Id pid) override;
    std::string readStandard() override;
    std::string readProtocol() override;
    std::string readEcuName() override;
    std::string readEcuDescription() override;
    bool isVinSupported() override;
    std::string readVin() override;
    bool isCalidSupported() override;
    std::vector<std::string> readCalids() override;
    bool isCvnSupported() override;
    std::vector<std::string> readCvns() override;
    bool isEsnSupported() override;
    std::string readEsn() override;
    bool isErotanSupported() override;
    std::string readErotan() override;
    bool isGtrNumberSupported() override;
    std::string readGtrNumber() override;
    bool isFueledEngineOperationSupported() override;
    std::string readFueledEngineOperation() override;
    bool isCertificationTestGroupSupported() override;
    std::string readCertificationTestGroup() override;
    bool isDistanceTraveledSinceEvapSupported() override;
    std::string readDistanceTraveledSinceEvap() override;
    bool isMotorcycleCategoryTypeApprovalSupported() override;
    std::string readMotorcycleCategoryTypeApproval() override;

private:
    bool isInfoSupported(std::uint8_t type);
    std::string readInfoText(std::uint8_t type);
    std::vector<std::string> readInfoList(std::uint8_t type, std::size_t itemSize, bool hex);

    J1979Client client_;
};

// Profile parameters (ids from kFirstProfileParameter) are read through
// `profiles`, when the root has one.
class SensorService : public ISensorService, public ISensorBatchReader {
public:
    explicit SensorService(std::shared_ptr<VehicleConnection> connection,
                           std::shared_ptr<ProfileParameters> profiles = nullptr);

    std::vector<std::shared_ptr<ParameterDataModel>> readParameters(
        const std::vector<ParameterIdentifier::Id>& pids) override;
    std::vector<ParameterIdentifier::Id> getPids() override;
    std::shared_ptr<ParameterDataModel> getParameter(ParameterIdentifier::Id pid) override;
    std::vector<std::shared_ptr<SensorDataModel>> getSensors(ParameterIdentifier::Id pid) override;
    bool isSupported(ParameterIdentifier::Id pid) override;

    std::vector<std::vector<std::shared_ptr<SensorDataModel>>> readSensors(
        const std::vector<ParameterIdentifier::Id>& pids) override;

private:
    std::shared_ptr<ParameterDataModel> batteryVoltage();

    J1979Client client_;
    const std::shared_ptr<ProfileParameters> profiles_;
};

class TroubleCodeService : public ITroubleCodeService {
public:
    explicit TroubleCodeService(std::shared_ptr<VehicleConnection> connection);

    std::string describeTroubleCode(const std::string& code) override;
    std::vector<std::shared_ptr<DtcDataModel>> readConfirmedCodes() override;
    std::vector<std::shared_ptr<DtcDataModel>> readPendingCodes() override;
    std::vector<std::shared_ptr<DtcDataModel>> readPermanentCodes() override;
    std::shared_ptr<std::int32_t> readMilIndicator() override;
    std::shared_ptr<std::int32_t> readTroubleCodeCount() override;
    std::uint8_t readFreezeFrameCount() override;
    std::shared_ptr<DtcDataModel> readFreezeFrameTroubleCode(std::uint8_t frame) override;
    std::vector<ParameterIdentifier::Id> readFreezeFramePids(std::uint8_t frame) override;
    std::shared_ptr<ParameterDataModel> readFreezeFrameParameter(
        std::uint8_t frame, ParameterIdentifier::Id pid) override;
    bool clearTroubleCodes() override;

private:
    std::vector<std::shared_ptr<DtcDataModel>> readCodes(std::uint8_t service, DtcStatus status);
    std::shared_ptr<DtcDataModel> freezeFrameTroubleCode(std::uint32_t ecu, std::uint8_t frame);

    J1979Client client_;
};

class DiagnosticsService : public IDiagnosticsService {
public:
    explicit DiagnosticsService(std::shared_ptr<VehicleConnection> connection);

    std::vector<std::uint8_t> getSupportedMonitorIds() override;
    std::vector<std::shared_ptr<ReadinessMonitorDataModel>> getReadinessMonitorsSinceReset()
        override;
    std::vector<std::shared_ptr<ReadinessMonitorDataModel>> getReadinessMonitorsThisCycle()
        override;
    std::vector<std::shared_ptr<DiagnosticMonitorDataModel>> getDiagnosticMonitors() override;
    std::vector<std::shared_ptr<PerformanceCounterDataModel>> getPerformanceCounters() override;
    std::vector<OxygenSensorLocation> getOxygenSensorLocations() override;
    std::vector<std::shared_ptr<OxygenSensorMonitorDataModel>> getOxygenSensorMonitors(
        OxygenSensorLocation location) override;
    bool areOxygenSensorMonitorsComplete() override;
    std::shared_ptr<VehicleOperationDataModel> getVodEngineRunIdleTime() override;
    std::shared_ptr<VehicleOperationDataModel> getVodFuelDistanceUsed() override;
    std::shared_ptr<VehicleOperationDataModel> getVodPkeEoe() override;
    std::shared_ptr<VehicleOperationDataModel> getVodPsa() override;

private:
    std::vector<std::shared_ptr<ReadinessMonitorDataModel>> readiness(std::uint8_t pid);
    std::vector<std::shared_ptr<DiagnosticMonitorDataModel>> monitorResults(std::uint32_t ecu,
                                                                            std::uint8_t mid);
    std::shared_ptr<VehicleOperationDataModel> vehicleOperationData(std::uint8_t type);

    J1979Client client_;
};

class RoutineService : public IRoutineService {
public:
    explicit RoutineService(std::shared_ptr<VehicleConnection> connection);

    bool isTestRoutineSupported(int id) override;
    std::vector<std::shared_ptr<TestRoutineDataModel>> getTestRoutines() override;
    std::shared_ptr<TestRoutineDataModel> activateTestRoutine(int id) override;

private:
    J1979Client client_;
};

// Adapter commands and raw requests as text. Log entries reach the
// observers on the dispatcher thread, with the same detach guarantee as the
// connection service's events.
class TroubleshootingService : public ITroubleshootingService {
public:
    explicit TroubleshootingService(std::shared_ptr<VehicleConnection> connection);
    ~TroubleshootingService() override;

    std::size_t getObserverCount() const override;
    void attach(ITroubleshootingServiceObserver* observer) override;
    void detach(ITroubleshootingServiceObserver* observer) override;

    std::string sendMessage(const std::string& message, unsigned int timeoutMilliseconds) override;
    void enableDataLog() override;
    bool isDataLogEnabled() const override;
    void disableDataLog() override;

private:
    std::string adapterCommand(const std::string& command);
    std::string request(const std::string& message);

    const std::shared_ptr<VehicleConnection> connection_;
    const std::shared_ptr<DataLog> log_;
    orvane::Mutex mutex_;
    // Answers show the ECU address.
    bool headers_ ORVANE_GUARDED_BY(mutex_) = false;
};

}  // namespace obd::detail
