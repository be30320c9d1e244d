#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "obd/IQuorvix.h"

namespace zelt::testing {

// What an armed core operation throws: a type of its own, so that a test can
// tell it from anything the library or the standard library throws. The
// message names the operation and the call, so no two faults read alike.
class InjectedFault : public std::runtime_error {
public:
    InjectedFault(const std::string& operation, int call)
        : std::runtime_error("injected fault in " + operation + " on call " + std::to_string(call)),
          operation_(operation) {}

    const std::string& operation() const { return operation_; }

private:
    std::string operation_;
};

// The call counters and armed faults that a FaultInjectingCore shares with
// every service it built, so that they outlive the core. Operations are named
// "IEcuService::readVin", "IAdapter::getName" and so on.
//
// Thread safety: every operation may be called from any thread. The mutex is
// never held while a core operation runs.
class FaultPlan {
public:
    // Makes the `nth` call of `operation` from now on (1: the next one) throw
    // an InjectedFault. Replaces a fault armed earlier for `operation`; a
    // fault fires once.
    void arm(const std::string& operation, int nth) {
        std::lock_guard<std::mutex> lock(mutex_);
        Counter& counter = counters_[operation];
        counter.failAt = counter.calls + nth;
    }

    // Counts a call of `operation`, and throws if it is the armed one.
    void enter(const std::string& operation) {
        std::exception_ptr fault;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            Counter& counter = counters_[operation];
            ++counter.calls;
            if (counter.calls != counter.failAt) {
                return;
            }
            counter.failAt = 0;
            fault = std::make_exception_ptr(InjectedFault(operation, counter.calls));
            lastFault_ = fault;
        }
        // Rethrown rather than thrown anew: the caller can then compare what
        // it caught with lastFault() and know it is the very same object.
        std::rethrow_exception(fault);
    }

    // Calls so far per operation that was called at least once; a call that
    // threw counts.
    std::map<std::string, int> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::map<std::string, int> calls;
        for (const auto& entry : counters_) {
            if (entry.second.calls > 0) {
                calls.emplace(entry.first, entry.second.calls);
            }
        }
        return calls;
    }

    // The fault thrown last; null before the first.
    std::exception_ptr lastFault() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lastFault_;
    }

private:
    struct Counter {
        int calls = 0;
        int failAt = 0;  // 0: not armed
    };

    mutable std::mutex mutex_;
    std::map<std::string, Counter> counters_;
    std::exception_ptr lastFault_;
};

namespace fault_detail {

// The shape of every wrapper: a core service of interface `S` whose every
// operation counts its call in the plan, throws if armed and otherwise hands
// the call to the inner service unchanged.
template <typename S>
class FaultingService : public S {
public:
    const std::shared_ptr<S>& inner() const { return inner_; }

protected:
    using Service = S;

    FaultingService(std::shared_ptr<S> inner, std::shared_ptr<FaultPlan> plan,
                    const char* interfaceName)
        : inner_(std::move(inner)), plan_(std::move(plan)), interfaceName_(interfaceName) {}

    template <typename R, typename... Params, typename... Args>
    R forward(const char* method, R (S::*operation)(Params...), Args&&... args) const {
        plan_->enter(interfaceName_ + "::" + method);
        return ((*inner_).*operation)(std::forward<Args>(args)...);
    }

    template <typename R, typename... Params, typename... Args>
    R forward(const char* method, R (S::*operation)(Params...) const, Args&&... args) const {
        plan_->enter(interfaceName_ + "::" + method);
        return ((*inner_).*operation)(std::forward<Args>(args)...);
    }

    const std::shared_ptr<S> inner_;
    const std::shared_ptr<FaultPlan> plan_;
    const std::string interfaceName_;
};

// The operation's name and the operation, so that the two cannot disagree.
#define ZELT_FAULT_POINT(method) #method, &Service::method

class FaultingAdapter final : public FaultingService<obd::IAdapter> {
public:
    FaultingAdapter(std::shared_ptr<obd::IAdapter> inner, std::shared_ptr<FaultPlan> plan)
        : FaultingService(std::move(inner), std::move(plan), "IAdapter") {}

    obd::DataLinkProtocol getProtocol() const override {
        return forward(ZELT_FAULT_POINT(getProtocol));
    }
    std::string getName() const override { return forward(ZELT_FAULT_POINT(getName)); }
    std::string getDescription() const override {
        return forward(ZELT_FAULT_POINT(getDescription));
    }
    std::string getIdentification() const override {
        return forward(ZELT_FAULT_POINT(getIdentification));
    }
};

// Attaching and detaching go straight to the inner service, uncounted, so
// that the inner service's events reach the observers attached here.
class FaultingConnectionService final : public FaultingService<obd::IConnectionService> {
public:
    FaultingConnectionService(std::shared_ptr<obd::IConnectionService> inner,
                              std::shared_ptr<FaultPlan> plan)
        : FaultingService(std::move(inner), std::move(plan), "IConnectionService") {}

    std::size_t getObserverCount() const override { return inner_->getObserverCount(); }
    void attach(obd::IConnectionServiceObserver* observer) override { inner_->attach(observer); }
    void detach(obd::IConnectionServiceObserver* observer) override { inner_->detach(observer); }

    bool isConnected() const override { return forward(ZELT_FAULT_POINT(isConnected)); }
    std::uint32_t getSelectedEcu() const override {
        return forward(ZELT_FAULT_POINT(getSelectedEcu));
    }
    // The adapter is wrapped too, so that its texts can fail as well.
    std::shared_ptr<obd::IAdapter> getAdapter() override {
        auto adapter = forward(ZELT_FAULT_POINT(getAdapter));
        if (adapter == nullptr) {
            return nullptr;
        }
        return std::make_shared<FaultingAdapter>(std::move(adapter), plan_);
    }
};

class FaultingEcuService final : public FaultingService<obd::IEcuService> {
public:
    FaultingEcuService(std::shared_ptr<obd::IEcuService> inner, std::shared_ptr<FaultPlan> plan)
        : FaultingService(std::move(inner), std::move(plan), "IEcuService") {}

    std::vector<std::uint32_t> getEcuAddresses() override {
        return forward(ZELT_FAULT_POINT(getEcuAddresses));
    }
    std::vector<std::shared_ptr<obd::ParameterDataModel>> readParameters() override {
        return forward(ZELT_FAULT_POINT(readParameters));
    }
    bool isParameterSupported(obd::ParameterIdentifier::Id pid) override {
        return forward(ZELT_FAULT_POINT(isParameterSupported), pid);
    }
    std::string readStandard() override { return forward(ZELT_FAULT_POINT(readStandard)); }
    std::string readProtocol() override { return forward(ZELT_FAULT_POINT(readProtocol)); }
    std::string readEcuName() override { return forward(ZELT_FAULT_POINT(readEcuName)); }
    std::string readEcuDescription() override {
        return forward(ZELT_FAULT_POINT(readEcuDescription));
    }
    bool isVinSupported() override { return forward(ZELT_FAULT_POINT(isVinSupported)); }
    std::string readVin() override { return forward(ZELT_FAULT_POINT(readVin)); }
    bool isCalidSupported() override { return forward(ZELT_FAULT_POINT(isCalidSupported)); }
    std::vector<std::string> readCalids() override { return forward(ZELT_FAULT_POINT(readCalids)); }
    bool isCvnSupported() override { return forward(ZELT_FAULT_POINT(isCvnSupported)); }
    std::vector<std::string> readCvns() override { return forward(ZELT_FAULT_POINT(readCvns)); }
    bool isEsnSupported() override { return forward(ZELT_FAULT_POINT(isEsnSupported)); }
    std::string readEsn() override { return forward(ZELT_FAULT_POINT(readEsn)); }
    bool isErotanSupported() override { return forward(ZELT_FAULT_POINT(isErotanSupported)); }
    std::string readErotan() override { return forward(ZELT_FAULT_POINT(readErotan)); }
    bool isGtrNumberSupported() override { return forward(ZELT_FAULT_POINT(isGtrNumberSupported)); }
    std::string readGtrNumber() override { return forward(ZELT_FAULT_POINT(readGtrNumber)); }
    bool isFueledEngineOperationSupported() override {
        return forward(ZELT_FAULT_POINT(isFueledEngineOperationSupported));
    }
    std::string readFueledEngineOperation() override {
        return forward(ZELT_FAULT_POINT(readFueledEngineOperation));
    }
    bool isCertificationTestGroupSupported() override {
        return forward(ZELT_FAULT_POINT(isCertificationTestGroupSupported));
    }
    std::string readCertificationTestGroup() override {
        return forward(ZELT_FAULT_POINT(readCertificationTestGroup));
    }
    bool isDistanceTraveledSinceEvapSupported() override {
        return forward(ZELT_FAULT_POINT(isDistanceTraveledSinceEvapSupported));
    }
    std::string readDistanceTraveledSinceEvap() override {
        return forward(ZELT_FAULT_POINT(readDistanceTraveledSinceEvap));
    }
    bool isMotorcycleCategoryTypeApprovalSupported() override {
        return forward(ZELT_FAULT_POINT(isMotorcycleCategoryTypeApprovalSupported));
    }
    std::string readMotorcycleCategoryTypeApproval() override {
        return forward(ZELT_FAULT_POINT(readMotorcycleCategoryTypeApproval));
    }
};

class FaultingSensorService final : public FaultingService<obd::ISensorService> {
public:
    using Id = obd::ParameterIdentifier::Id;

    FaultingSensorService(std::shared_ptr<obd::ISensorService> inner,
                          std::shared_ptr<FaultPlan> plan)
        : FaultingService(std::move(inner), std::move(plan), "ISensorService") {}

    std::vector<std::shared_ptr<obd::ParameterDataModel>> readParameters(
        const std::vector<Id>& pids) override {
        return forward(ZELT_FAULT_POINT(readParameters), pids);
    }
    std::vector<Id> getPids() override { return forward(ZELT_FAULT_POINT(getPids)); }
    std::shared_ptr<obd::ParameterDataModel> getParameter(Id pid) override {
        return forward(ZELT_FAULT_POINT(getParameter), pid);
    }
    std::vector<std::shared_ptr<obd::SensorDataModel>> getSensors(Id pid) override {
        return forward(ZELT_FAULT_POINT(getSensors), pid);
    }
    bool isSupported(Id pid) override { return forward(ZELT_FAULT_POINT(isSupported), pid); }
};

class FaultingTroubleCodeService final : public FaultingService<obd::ITroubleCodeService> {
public:
    using Id = obd::ParameterIdentifier::Id;
    using Codes = std::vector<std::shared_ptr<obd::DtcDataModel>>;

    FaultingTroubleCodeService(std::shared_ptr<obd::ITroubleCodeService> inner,
                               std::shared_ptr<FaultPlan> plan)
        : FaultingService(std::move(inner), std::move(plan), "ITroubleCodeService") {}

    std::string describeTroubleCode(const std::string& code) override {
        return forward(ZELT_FAULT_POINT(describeTroubleCode), code);
    }
    Codes readConfirmedCodes() override { return forward(ZELT_FAULT_POINT(readConfirmedCodes)); }
    Codes readPendingCodes() override { return forward(ZELT_FAULT_POINT(readPendingCodes)); }
    Codes readPermanentCodes() override { return forward(ZELT_FAULT_POINT(readPermanentCodes)); }
    std::shared_ptr<std::int32_t> readMilIndicator() override {
        return forward(ZELT_FAULT_POINT(readMilIndicator));
    }
    std::shared_ptr<std::int32_t> readTroubleCodeCount() override {
        return forward(ZELT_FAULT_POINT(readTroubleCodeCount));
    }
    std::uint8_t readFreezeFrameCount() override {
        return forward(ZELT_FAULT_POINT(readFreezeFrameCount));
    }
    std::shared_ptr<obd::DtcDataModel> readFreezeFrameTroubleCode(std::uint8_t frame) override {
        return forward(ZELT_FAULT_POINT(readFreezeFrameTroubleCode), frame);
    }
    std::vector<Id> readFreezeFramePids(std::uint8_t frame) override {
        return forward(ZELT_FAULT_POINT(readFreezeFramePids), frame);
    }
    std::shared_ptr<obd::ParameterDataModel> readFreezeFrameParameter(std::uint8_t frame,
                                                                      Id pid) override {
        return forward(ZELT_FAULT_POINT(readFreezeFrameParameter), frame, pid);
    }
    bool clearTroubleCodes() override { return forward(ZELT_FAULT_POINT(clearTroubleCodes)); }
};

class FaultingDiagnosticsService final : public FaultingService<obd::IDiagnosticsService> {
public:
    using Readiness = std::vector<std::shared_ptr<obd::ReadinessMonitorDataModel>>;
    using Vod = std::shared_ptr<obd::VehicleOperationDataModel>;

    FaultingDiagnosticsService(std::shared_ptr<obd::IDiagnosticsService> inner,
                               std::shared_ptr<FaultPlan> plan)
        : FaultingService(std::move(inner), std::move(plan), "IDiagnosticsService") {}

    std::vector<std::uint8_t> getSupportedMonitorIds() override {
        return forward(ZELT_FAULT_POINT(getSupportedMonitorIds));
    }
    Readiness getReadinessMonitorsSinceReset() override {
        return forward(ZELT_FAULT_POINT(getReadinessMonitorsSinceReset));
    }
    Readiness getReadinessMonitorsThisCycle() override {
        return forward(ZELT_FAULT_POINT(getReadinessMonitorsThisCycle));
    }
    std::vector<std::shared_ptr<obd::DiagnosticMonitorDataModel>> getDiagnosticMonitors() override {
        return forward(ZELT_FAULT_POINT(getDiagnosticMonitors));
    }
    std::vector<std::shared_ptr<obd::PerformanceCounterDataModel>> getPerformanceCounters()
        override {
        return forward(ZELT_FAULT_POINT(getPerformanceCounters));
    }
    std::vector<obd::OxygenSensorLocation> getOxygenSensorLocations() override {
        return forward(ZELT_FAULT_POINT(getOxygenSensorLocations));
    }
    std::vector<std::shared_ptr<obd::OxygenSensorMonitorDataModel>> getOxygenSensorMonitors(
        obd::OxygenSensorLocation location) override {
        return forward(ZELT_FAULT_POINT(getOxygenSensorMonitors), location);
    }
    bool areOxygenSensorMonitorsComplete() override {
        return forward(ZELT_FAULT_POINT(areOxygenSensorMonitorsComplete));
    }
    Vod getVodEngineRunIdleTime() override {
        return forward(ZELT_FAULT_POINT(getVodEngineRunIdleTime));
    }
    Vod getVodFuelDistanceUsed() override {
        return forward(ZELT_FAULT_POINT(getVodFuelDistanceUsed));
    }
    Vod getVodPkeEoe() override { return forward(ZELT_FAULT_POINT(getVodPkeEoe)); }
    Vod getVodPsa() override { return forward(ZELT_FAULT_POINT(getVodPsa)); }
};

class FaultingRoutineService final : public FaultingService<obd::IRoutineService> {
public:
    FaultingRoutineService(std::shared_ptr<obd::IRoutineService> inner,
                           std::shared_ptr<FaultPlan> plan)
        : FaultingService(std::move(inner), std::move(plan), "IRoutineService") {}

    bool isTestRoutineSupported(int id) override {
        return forward(ZELT_FAULT_POINT(isTestRoutineSupported), id);
    }
    std::vector<std::shared_ptr<obd::TestRoutineDataModel>> getTestRoutines() override {
        return forward(ZELT_FAULT_POINT(getTestRoutines));
    }
    std::shared_ptr<obd::TestRoutineDataModel> activateTestRoutine(int id) override {
        return forward(ZELT_FAULT_POINT(activateTestRoutine), id);
    }
};

// Attaching and detaching go straight to the inner service, uncounted, so
// that its data log entries reach the observers attached here.
class FaultingTroubleshootingService final : public FaultingService<obd::ITroubleshootingService> {
public:
    FaultingTroubleshootingService(std::shared_ptr<obd::ITroubleshootingService> inner,
                                   std::shared_ptr<FaultPlan> plan)
        : FaultingService(std::move(inner), std::move(plan), "ITroubleshootingService") {}

    std::size_t getObserverCount() const override { return inner_->getObserverCount(); }
    void attach(obd::ITroubleshootingServiceObserver* observer) override {
        inner_->attach(observer);
    }
    void detach(obd::ITroubleshootingServiceObserver* observer) override {
        inner_->detach(observer);
    }

    std::string sendMessage(const std::string& message, unsigned int timeoutMilliseconds) override {
        return forward(ZELT_FAULT_POINT(sendMessage), message, timeoutMilliseconds);
    }
    void enableDataLog() override { forward(ZELT_FAULT_POINT(enableDataLog)); }
    bool isDataLogEnabled() const override { return forward(ZELT_FAULT_POINT(isDataLogEnabled)); }
    void disableDataLog() override { forward(ZELT_FAULT_POINT(disableDataLog)); }
};

#undef ZELT_FAULT_POINT

}  // namespace fault_detail

// A core root for tests that wraps another (a FakeRoot, the simulated core):
// every service it builds wraps the inner root's service, counts the calls of
// each operation and throws an InjectedFault from the call a test armed with
// failOn(). Unarmed calls, and the notifiers' attach and detach, reach the
// inner service unchanged, so its answers and its events come through.
//
// The inner root builds its services with its own connection service, never
// with a wrapper, since a core may look at what it is given. The connection
// manager is handed out as it is: no repository calls it.
//
// Thread safety: as the inner root, plus the counters' own mutex.
class FaultInjectingCore final : public obd::IQuorvix {
public:
    explicit FaultInjectingCore(std::shared_ptr<obd::IQuorvix> inner)
        : inner_(std::move(inner)), plan_(std::make_shared<FaultPlan>()) {}

    // Makes the `nth` call of `operation` from now on throw (1: the next
    // one), whichever service built by this core makes it. `operation` names
    // the interface and the operation: "ITroubleCodeService::readConfirmedCodes".
    void failOn(const std::string& operation, int nth = 1) { plan_->arm(operation, nth); }

    // Calls so far per operation, through every service this core built.
    std::map<std::string, int> calls() const { return plan_->calls(); }
    // The fault thrown last; a caught exception that compares equal is the
    // very object thrown. Null before the first fault.
    std::exception_ptr lastFault() const { return plan_->lastFault(); }

    std::shared_ptr<obd::IConnectionManager> getConnectionManager() override {
        return inner_->getConnectionManager();
    }
    std::shared_ptr<obd::IConnectionService> createConnectionService() override {
        return std::make_shared<fault_detail::FaultingConnectionService>(
            inner_->createConnectionService(), plan_);
    }
    std::shared_ptr<obd::IEcuService> createEcuService(
        std::shared_ptr<obd::IConnectionService> connection) override {
        return std::make_shared<fault_detail::FaultingEcuService>(
            inner_->createEcuService(unwrap(std::move(connection))), plan_);
    }
    std::shared_ptr<obd::ISensorService> createSensorService(
        std::shared_ptr<obd::IConnectionService> connection) override {
        return std::make_shared<fault_detail::FaultingSensorService>(
            inner_->createSensorService(unwrap(std::move(connection))), plan_);
    }
    std::shared_ptr<obd::ITroubleCodeService> createTroubleCodeService(
        std::shared_ptr<obd::IConnectionService> connection) override {
        return std::make_shared<fault_detail::FaultingTroubleCodeService>(
            inner_->createTroubleCodeService(unwrap(std::move(connection))), plan_);
    }
    std::shared_ptr<obd::IDiagnosticsService> createDiagnosticsService(
        std::shared_ptr<obd::IConnectionService> connection) override {
        return std::make_shared<fault_detail::FaultingDiagnosticsService>(
            inner_->createDiagnosticsService(unwrap(std::move(connection))), plan_);
    }
    std::shared_ptr<obd::IRoutineService> createRoutineService(
        std::shared_ptr<obd::IConnectionService> connection) override {
        return std::make_shared<fault_detail::FaultingRoutineService>(
            inner_->createRoutineService(unwrap(std::move(connection))), plan_);
    }
    std::shared_ptr<obd::ITroubleshootingService> createTroubleshootingService(
        std::shared_ptr<obd::IConnectionService> connection) override {
        return std::make_shared<fault_detail::FaultingTroubleshootingService>(
            inner_->createTroubleshootingService(unwrap(std::move(connection))), plan_);
    }

private:
    // The inner connection service behind one of ours; any other as it is.
    static std::shared_ptr<obd::IConnectionService> unwrap(
        std::shared_ptr<obd::IConnectionService> connection) {
        if (const auto ours =
                std::dynamic_pointer_cast<fault_detail::FaultingConnectionService>(connection)) {
            return ours->inner();
        }
        return connection;
    }

    const std::shared_ptr<obd::IQuorvix> inner_;
    const std::shared_ptr<FaultPlan> plan_;
};

}  // namespace zelt::testing
