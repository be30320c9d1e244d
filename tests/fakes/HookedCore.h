#pragma once

// A core root for tests that wraps another (a FakeRoot, the simulated core).
// Every service it builds wraps the wrapped root's own service, and every
// call of a core operation through it is counted and shown to the test's
// hook before it reaches the wrapped core: the hook may count it, wait, throw,
// or have it answered empty in the core's place. A second hook sees each
// answer the wrapped core gave.
//
// Operations are named by interface and method: "IEcuService::readVin",
// "IAdapter::getName". Attaching and detaching observers go straight to the
// wrapped service, unhooked, so the core's own events, and its order and
// detach guarantees, are the ones the test sees. The wrapped root builds its
// services on its own connection service, never on a wrapper, since a core may
// look at what it is given. The connection manager is handed out as it is.
//
// Thread safety: as the wrapped core. The counts take a lock of their own,
// never held while a hook or the core runs; the core takes one per request
// too. The hooks run on the caller's thread and must be thread safe if the
// services are called from several threads.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "Describe.h"
#include "obd/IQuorvix.h"

namespace zelt::testing {

// One call of a core operation.
struct CoreCall {
    std::string_view operation;  // "ISensorService::getSensors"
    std::string arguments;       // described as Describe.h does, comma-separated; "" for none
    std::uint64_t number;        // 1 for the first call of `operation` through the root
};

// What the call hook makes of a call.
enum class Reply {
    Forward,  // the wrapped core answers
    Empty,    // answered in the core's place with an empty value: null, empty, false, 0
};

namespace hooked_detail {

template <typename T, typename = void>
struct TakesReadings : std::false_type {};
template <typename T>
struct TakesReadings<T, std::void_t<decltype(Describe(std::declval<const T&>(), Readings::Left))>>
    : std::true_type {};

template <typename T>
struct IsList : std::false_type {};
template <typename T>
struct IsList<std::vector<T>> : std::true_type {};

// Any argument or answer of a core operation as a text; lists as DescribeList.
template <typename T>
std::string DescribeAny(const T& value, Readings readings) {
    if constexpr (IsList<T>::value) {
        std::string text = "[" + std::to_string(value.size()) + "]";
        for (const auto& element : value) {
            text += " " + DescribeAny(element, readings);
        }
        return text;
    } else if constexpr (TakesReadings<T>::value) {
        return Describe(value, readings);
    } else if constexpr (std::is_arithmetic_v<T>) {
        return std::to_string(value);
    } else if constexpr (std::is_enum_v<T>) {
        return std::to_string(static_cast<long long>(value));
    } else if constexpr (std::is_same_v<T, std::shared_ptr<std::int32_t>>) {
        return value ? std::to_string(*value) : "null";
    } else if constexpr (std::is_same_v<T, std::shared_ptr<obd::IAdapter>>) {
        return value ? "adapter" : "null";
    } else {
        return Describe(value);
    }
}

inline std::string DescribeArguments() {
    return "";
}
template <typename First, typename... Rest>
std::string DescribeArguments(const First& first, const Rest&... rest) {
    std::string text = DescribeAny(first, Readings::Left);
    ((text += "," + DescribeAny(rest, Readings::Left)), ...);
    return text;
}

}  // namespace hooked_detail

// An answer of the wrapped core, described on demand (see Describe.h). Valid
// during the answer hook only.
class CoreAnswer {
public:
    template <typename T>
    explicit CoreAnswer(const T& value)
        : value_(&value),
          describe_([](const void* answer, Readings readings) {
              return hooked_detail::DescribeAny(*static_cast<const T*>(answer), readings);
          }),
          describeEach_([](const void* answer, Readings readings) {
              const T& typed = *static_cast<const T*>(answer);
              if constexpr (hooked_detail::IsList<T>::value) {
                  std::vector<std::string> texts;
                  for (const auto& element : typed) {
                      texts.push_back(hooked_detail::DescribeAny(element, readings));
                  }
                  return texts;
              } else {
                  return std::vector<std::string>{hooked_detail::DescribeAny(typed, readings)};
              }
          }) {}

    // Live sensor readings are left out unless asked for.
    std::string describe(Readings readings = Readings::Left) const {
        return describe_(value_, readings);
    }
    // Each element of a list answer; any other answer as one element.
    std::vector<std::string> describeEach(Readings readings = Readings::Left) const {
        return describeEach_(value_, readings);
    }

private:
    const void* value_;
    std::string (*describe_)(const void*, Readings);
    std::vector<std::string> (*describeEach_)(const void*, Readings);
};

using CallHook = std::function<Reply(const CoreCall&)>;
using AnswerHook = std::function<void(const CoreCall&, const CoreAnswer&)>;

namespace hooked_detail {

// What a root shares with every service it built, so that it outlives the
// root: the hooks and the counts.
class Hooks {
public:
    CallHook onCall;
    AnswerHook onAnswer;

    std::uint64_t count(std::string_view operation) const {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = counts_.find(operation);
        return found == counts_.end() ? 0 : found->second;
    }
    std::map<std::string, std::uint64_t> counts() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return {counts_.begin(), counts_.end()};
    }

    // Counts the call, shows it to the hooks and, unless the call hook
    // answers empty, has `forward` answer it.
    template <typename Forward, typename... Args>
    auto call(std::string_view operation, const Forward& forward, const Args&... args)
        -> decltype(forward()) {
        using Result = decltype(forward());
        const CoreCall call{operation, DescribeArguments(args...), enter(operation)};
        if (onCall && onCall(call) == Reply::Empty) {
            return Result();
        }
        if constexpr (std::is_void_v<Result>) {
            forward();
        } else {
            Result answer = forward();
            if (onAnswer) {
                onAnswer(call, CoreAnswer(answer));
            }
            return answer;
        }
    }

private:
    std::uint64_t enter(std::string_view operation) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = counts_.find(operation);
        if (found == counts_.end()) {
            found = counts_.emplace(std::string(operation), 0).first;
        }
        return ++found->second;
    }

    mutable std::mutex mutex_;
    std::map<std::string, std::uint64_t, std::less<>> counts_;  // guarded by mutex_
};

template <typename Service>
class HookedService : public Service {
public:
    HookedService(std::shared_ptr<Service> inner, std::shared_ptr<Hooks> hooks)
        : inner_(std::move(inner)), hooks_(std::move(hooks)) {}

    const std::shared_ptr<Service>& inner() const { return inner_; }

protected:
    const std::shared_ptr<Service> inner_;
    const std::shared_ptr<Hooks> hooks_;
};

// An operation of `Interface`, counted, hooked and forwarded, without
// arguments and with.
#define ZELT_HOOKED(Interface, method) \
    hooks_->call(#Interface "::" #method, [&] { return inner_->method(); })
#define ZELT_HOOKED_WITH(Interface, method, ...) \
    hooks_->call(                                \
        #Interface "::" #method, [&] { return inner_->method(__VA_ARGS__); }, __VA_ARGS__)

using Id = obd::ParameterIdentifier::Id;

class Adapter final : public HookedService<obd::IAdapter> {
public:
    using HookedService::HookedService;

    obd::DataLinkProtocol getProtocol() const override {
        return ZELT_HOOKED(IAdapter, getProtocol);
    }
    std::string getName() const override { return ZELT_HOOKED(IAdapter, getName); }
    std::string getDescription() const override { return ZELT_HOOKED(IAdapter, getDescription); }
    std::string getIdentification() const override {
        return ZELT_HOOKED(IAdapter, getIdentification);
    }
};

class ConnectionService final : public HookedService<obd::IConnectionService> {
public:
    using HookedService::HookedService;

    std::size_t getObserverCount() const override { return inner_->getObserverCount(); }
    void attach(obd::IConnectionServiceObserver* observer) override { inner_->attach(observer); }
    void detach(obd::IConnectionServiceObserver* observer) override { inner_->detach(observer); }

    bool isConnected() const override { return ZELT_HOOKED(IConnectionService, isConnected); }
    std::uint32_t getSelectedEcu() const override {
        return ZELT_HOOKED(IConnectionService, getSelectedEcu);
    }
    // The adapter is hooked too.
    std::shared_ptr<obd::IAdapter> getAdapter() override {
        auto adapter = ZELT_HOOKED(IConnectionService, getAdapter);
        return adapter ? std::make_shared<Adapter>(std::move(adapter), hooks_) : nullptr;
    }
};

class EcuService final : public HookedService<obd::IEcuService> {
public:
    using HookedService::HookedService;

    std::vector<std::uint32_t> getEcuAddresses() override {
        return ZELT_HOOKED(IEcuService, getEcuAddresses);
    }
    std::vector<std::shared_ptr<obd::ParameterDataModel>> readParameters() override {
        return ZELT_HOOKED(IEcuService, readParameters);
    }
    bool isParameterSupported(Id pid) override {
        return ZELT_HOOKED_WITH(IEcuService, isParameterSupported, pid);
    }
    std::string readStandard() override { return ZELT_HOOKED(IEcuService, readStandard); }
    std::string readProtocol() override { return ZELT_HOOKED(IEcuService, readProtocol); }
    std::string readEcuName() override { return ZELT_HOOKED(IEcuService, readEcuName); }
    std::string readEcuDescription() override {
        return ZELT_HOOKED(IEcuService, readEcuDescription);
    }
    bool isVinSupported() override { return ZELT_HOOKED(IEcuService, isVinSupported); }
    std::string readVin() override { return ZELT_HOOKED(IEcuService, readVin); }
    bool isCalidSupported() override { return ZELT_HOOKED(IEcuService, isCalidSupported); }
    std::vector<std::string> readCalids() override { return ZELT_HOOKED(IEcuService, readCalids); }
    bool isCvnSupported() override { return ZELT_HOOKED(IEcuService, isCvnSupported); }
    std::vector<std::string> readCvns() override { return ZELT_HOOKED(IEcuService, readCvns); }
    bool isEsnSupported() override { return ZELT_HOOKED(IEcuService, isEsnSupported); }
    std::string readEsn() override { return ZELT_HOOKED(IEcuService, readEsn); }
    bool isErotanSupported() override { return ZELT_HOOKED(IEcuService, isErotanSupported); }
    std::string readErotan() override { return ZELT_HOOKED(IEcuService, readErotan); }
    bool isGtrNumberSupported() override { return ZELT_HOOKED(IEcuService, isGtrNumberSupported); }
    std::string readGtrNumber() override { return ZELT_HOOKED(IEcuService, readGtrNumber); }
    bool isFueledEngineOperationSupported() override {
        return ZELT_HOOKED(IEcuService, isFueledEngineOperationSupported);
    }
    std::string readFueledEngineOperation() override {
        return ZELT_HOOKED(IEcuService, readFueledEngineOperation);
    }
    bool isCertificationTestGroupSupported() override {
        return ZELT_HOOKED(IEcuService, isCertificationTestGroupSupported);
    }
    std::string readCertificationTestGroup() override {
        return ZELT_HOOKED(IEcuService, readCertificationTestGroup);
    }
    bool isDistanceTraveledSinceEvapSupported() override {
        return ZELT_HOOKED(IEcuService, isDistanceTraveledSinceEvapSupported);
    }
    std::string readDistanceTraveledSinceEvap() override {
        return ZELT_HOOKED(IEcuService, readDistanceTraveledSinceEvap);
    }
    bool isMotorcycleCategoryTypeApprovalSupported() override {
        return ZELT_HOOKED(IEcuService, isMotorcycleCategoryTypeApprovalSupported);
    }
    std::string readMotorcycleCategoryTypeApproval() override {
        return ZELT_HOOKED(IEcuService, readMotorcycleCategoryTypeApproval);
    }
};

class SensorService final : public HookedService<obd::ISensorService> {
public:
    using HookedService::HookedService;

    std::vector<std::shared_ptr<obd::ParameterDataModel>> readParameters(
        const std::vector<Id>& pids) override {
        return ZELT_HOOKED_WITH(ISensorService, readParameters, pids);
    }
    std::vector<Id> getPids() override { return ZELT_HOOKED(ISensorService, getPids); }
    std::shared_ptr<obd::ParameterDataModel> getParameter(Id pid) override {
        return ZELT_HOOKED_WITH(ISensorService, getParameter, pid);
    }
    std::vector<std::shared_ptr<obd::SensorDataModel>> getSensors(Id pid) override {
        return ZELT_HOOKED_WITH(ISensorService, getSensors, pid);
    }
    bool isSupported(Id pid) override { return ZELT_HOOKED_WITH(ISensorService, isSupported, pid); }
};

class TroubleCodeService final : public HookedService<obd::ITroubleCodeService> {
public:
    using HookedService::HookedService;
    using Codes = std::vector<std::shared_ptr<obd::DtcDataModel>>;

    std::string describeTroubleCode(const std::string& code) override {
        return ZELT_HOOKED_WITH(ITroubleCodeService, describeTroubleCode, code);
    }
    Codes readConfirmedCodes() override {
        return ZELT_HOOKED(ITroubleCodeService, readConfirmedCodes);
    }
    Codes readPendingCodes() override { return ZELT_HOOKED(ITroubleCodeService, readPendingCodes); }
    Codes readPermanentCodes() override {
        return ZELT_HOOKED(ITroubleCodeService, readPermanentCodes);
    }
    std::shared_ptr<std::int32_t> readMilIndicator() override {
        return ZELT_HOOKED(ITroubleCodeService, readMilIndicator);
    }
    std::shared_ptr<std::int32_t> readTroubleCodeCount() override {
        return ZELT_HOOKED(ITroubleCodeService, readTroubleCodeCount);
    }
    std::uint8_t readFreezeFrameCount() override {
        return ZELT_HOOKED(ITroubleCodeService, readFreezeFrameCount);
    }
    std::shared_ptr<obd::DtcDataModel> readFreezeFrameTroubleCode(std::uint8_t frame) override {
        return ZELT_HOOKED_WITH(ITroubleCodeService, readFreezeFrameTroubleCode, frame);
    }
    std::vector<Id> readFreezeFramePids(std::uint8_t frame) override {
        return ZELT_HOOKED_WITH(ITroubleCodeService, readFreezeFramePids, frame);
    }
    std::shared_ptr<obd::ParameterDataModel> readFreezeFrameParameter(std::uint8_t frame,
                                                                      Id pid) override {
        return ZELT_HOOKED_WITH(ITroubleCodeService, readFreezeFrameParameter, frame, pid);
    }
    bool clearTroubleCodes() override {
        return ZELT_HOOKED(ITroubleCodeService, clearTroubleCodes);
    }
};

class DiagnosticsService final : public HookedService<obd::IDiagnosticsService> {
public:
    using HookedService::HookedService;
    using Readiness = std::vector<std::shared_ptr<obd::ReadinessMonitorDataModel>>;
    using Vod = std::shared_ptr<obd::VehicleOperationDataModel>;

    std::vector<std::uint8_t> getSupportedMonitorIds() override {
        return ZELT_HOOKED(IDiagnosticsService, getSupportedMonitorIds);
    }
    Readiness getReadinessMonitorsSinceReset() override {
        return ZELT_HOOKED(IDiagnosticsService, getReadinessMonitorsSinceReset);
    }
    Readiness getReadinessMonitorsThisCycle() override {
        return ZELT_HOOKED(IDiagnosticsService, getReadinessMonitorsThisCycle);
    }
    std::vector<std::shared_ptr<obd::DiagnosticMonitorDataModel>> getDiagnosticMonitors() override {
        return ZELT_HOOKED(IDiagnosticsService, getDiagnosticMonitors);
    }
    std::vector<std::shared_ptr<obd::PerformanceCounterDataModel>> getPerformanceCounters()
        override {
        return ZELT_HOOKED(IDiagnosticsService, getPerformanceCounters);
    }
    std::vector<obd::OxygenSensorLocation> getOxygenSensorLocations() override {
        return ZELT_HOOKED(IDiagnosticsService, getOxygenSensorLocations);
    }
    std::vector<std::shared_ptr<obd::OxygenSensorMonitorDataModel>> getOxygenSensorMonitors(
        obd::OxygenSensorLocation location) override {
        return ZELT_HOOKED_WITH(IDiagnosticsService, getOxygenSensorMonitors, location);
    }
    bool areOxygenSensorMonitorsComplete() override {
        return ZELT_HOOKED(IDiagnosticsService, areOxygenSensorMonitorsComplete);
    }
    Vod getVodEngineRunIdleTime() override {
        return ZELT_HOOKED(IDiagnosticsService, getVodEngineRunIdleTime);
    }
    Vod getVodFuelDistanceUsed() override {
        return ZELT_HOOKED(IDiagnosticsService, getVodFuelDistanceUsed);
    }
    Vod getVodPkeEoe() override { return ZELT_HOOKED(IDiagnosticsService, getVodPkeEoe); }
    Vod getVodPsa() override { return ZELT_HOOKED(IDiagnosticsService, getVodPsa); }
};

class RoutineService final : public HookedService<obd::IRoutineService> {
public:
    using HookedService::HookedService;

    bool isTestRoutineSupported(int id) override {
        return ZELT_HOOKED_WITH(IRoutineService, isTestRoutineSupported, id);
    }
    std::vector<std::shared_ptr<obd::TestRoutineDataModel>> getTestRoutines() override {
        return ZELT_HOOKED(IRoutineService, getTestRoutines);
    }
    std::shared_ptr<obd::TestRoutineDataModel> activateTestRoutine(int id) override {
        return ZELT_HOOKED_WITH(IRoutineService, activateTestRoutine, id);
    }
};

class TroubleshootingService final : public HookedService<obd::ITroubleshootingService> {
public:
    using HookedService::HookedService;

    std::size_t getObserverCount() const override { return inner_->getObserverCount(); }
    void attach(obd::ITroubleshootingServiceObserver* observer) override {
        inner_->attach(observer);
    }
    void detach(obd::ITroubleshootingServiceObserver* observer) override {
        inner_->detach(observer);
    }

    std::string sendMessage(const std::string& message, unsigned int timeout) override {
        return ZELT_HOOKED_WITH(ITroubleshootingService, sendMessage, message, timeout);
    }
    void enableDataLog() override { ZELT_HOOKED(ITroubleshootingService, enableDataLog); }
    bool isDataLogEnabled() const override {
        return ZELT_HOOKED(ITroubleshootingService, isDataLogEnabled);
    }
    void disableDataLog() override { ZELT_HOOKED(ITroubleshootingService, disableDataLog); }
};

#undef ZELT_HOOKED
#undef ZELT_HOOKED_WITH

}  // namespace hooked_detail

class HookedCore final : public obd::IQuorvix {
public:
    explicit HookedCore(std::shared_ptr<obd::IQuorvix> inner) : inner_(std::move(inner)) {}

    // Runs before every call through a service of this root, after it was
    // counted. REQUIRES: no such call is under way.
    void onCall(CallHook hook) { hooks_->onCall = std::move(hook); }
    // Runs after every call the wrapped core answered (void ones aside).
    // REQUIRES: no such call is under way.
    void onAnswer(AnswerHook hook) { hooks_->onAnswer = std::move(hook); }

    // Calls of `operation` so far, those the call hook threw from included.
    std::uint64_t count(std::string_view operation) const { return hooks_->count(operation); }
    // Calls so far per operation called at least once.
    std::map<std::string, std::uint64_t> counts() const { return hooks_->counts(); }

    // The wrapped core's troubleshooting service behind the `index`-th one
    // built here (from 0); null if there is none or it is gone. An observer
    // attached to it hears the data log as the service's own observers do.
    std::shared_ptr<obd::ITroubleshootingService> innerTroubleshootingService(
        std::size_t index) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return index < troubleshooting_.size() ? troubleshooting_[index].lock() : nullptr;
    }

    std::shared_ptr<obd::IConnectionManager> getConnectionManager() override {
        return inner_->getConnectionManager();
    }
    std::shared_ptr<obd::IConnectionService> createConnectionService() override {
        return std::make_shared<hooked_detail::ConnectionService>(inner_->createConnectionService(),
                                                                  hooks_);
    }
    std::shared_ptr<obd::IEcuService> createEcuService(
        std::shared_ptr<obd::IConnectionService> connection) override {
        return std::make_shared<hooked_detail::EcuService>(
            inner_->createEcuService(unwrap(std::move(connection))), hooks_);
    }
    std::shared_ptr<obd::ISensorService> createSensorService(
        std::shared_ptr<obd::IConnectionService> connection) override {
        return std::make_shared<hooked_detail::SensorService>(
            inner_->createSensorService(unwrap(std::move(connection))), hooks_);
    }
    std::shared_ptr<obd::ITroubleCodeService> createTroubleCodeService(
        std::shared_ptr<obd::IConnectionService> connection) override {
        return std::make_shared<hooked_detail::TroubleCodeService>(
            inner_->createTroubleCodeService(unwrap(std::move(connection))), hooks_);
    }
    std::shared_ptr<obd::IDiagnosticsService> createDiagnosticsService(
        std::shared_ptr<obd::IConnectionService> connection) override {
        return std::make_shared<hooked_detail::DiagnosticsService>(
            inner_->createDiagnosticsService(unwrap(std::move(connection))), hooks_);
    }
    std::shared_ptr<obd::IRoutineService> createRoutineService(
        std::shared_ptr<obd::IConnectionService> connection) override {
        return std::make_shared<hooked_detail::RoutineService>(
            inner_->createRoutineService(unwrap(std::move(connection))), hooks_);
    }
    std::shared_ptr<obd::ITroubleshootingService> createTroubleshootingService(
        std::shared_ptr<obd::IConnectionService> connection) override {
        auto inner = inner_->createTroubleshootingService(unwrap(std::move(connection)));
        {
            std::lock_guard<std::mutex> lock(mutex_);
            troubleshooting_.push_back(inner);
        }
        return std::make_shared<hooked_detail::TroubleshootingService>(std::move(inner), hooks_);
    }

private:
    // The wrapped connection service behind one of ours; any other as it is.
    static std::shared_ptr<obd::IConnectionService> unwrap(
        std::shared_ptr<obd::IConnectionService> connection) {
        if (const auto ours =
                std::dynamic_pointer_cast<hooked_detail::ConnectionService>(connection)) {
            return ours->inner();
        }
        return connection;
    }

    const std::shared_ptr<obd::IQuorvix> inner_;
    const std::shared_ptr<hooked_detail::Hooks> hooks_ = std::make_shared<hooked_detail::Hooks>();
    mutable std::mutex mutex_;
    std::vector<std::weak_ptr<obd::ITroubleshootingService>> troubleshooting_;  // guarded by mutex_
};

}  // namespace zelt::testing
