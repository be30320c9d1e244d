#pragma once

// A core root that passes every call on to a real root, counts the calls per
// operation and notes every answer, so that tests can hold the repositories to
// their cache rules while the real core answers, and tell whether a list the
// library handed out is one whole answer of the core. The counters are relaxed
// atomics; the answer journal takes a lock per core call, as the simulated
// core itself does on every request.
//
// Thread safety: every operation may be called from any thread, as the
// wrapped core's.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Describe.h"
#include "obd/IQuorvix.h"

namespace zelt::testing {

// Every core service operation the decorator counts, as
// X(ServiceOperation).
#define ZELT_COUNTED_CORE_CALLS(X)                  \
    X(ConnectionIsConnected)                        \
    X(ConnectionGetSelectedEcu)                     \
    X(ConnectionGetAdapter)                         \
    X(EcuGetEcuAddresses)                           \
    X(EcuReadParameters)                            \
    X(EcuIsParameterSupported)                      \
    X(EcuReadStandard)                              \
    X(EcuReadProtocol)                              \
    X(EcuReadEcuName)                               \
    X(EcuReadEcuDescription)                        \
    X(EcuIsVinSupported)                            \
    X(EcuReadVin)                                   \
    X(EcuIsCalidSupported)                          \
    X(EcuReadCalids)                                \
    X(EcuIsCvnSupported)                            \
    X(EcuReadCvns)                                  \
    X(EcuIsEsnSupported)                            \
    X(EcuReadEsn)                                   \
    X(EcuIsErotanSupported)                         \
    X(EcuReadErotan)                                \
    X(EcuIsGtrNumberSupported)                      \
    X(EcuReadGtrNumber)                             \
    X(EcuIsFueledEngineOperationSupported)          \
    X(EcuReadFueledEngineOperation)                 \
    X(EcuIsCertificationTestGroupSupported)         \
    X(EcuReadCertificationTestGroup)                \
    X(EcuIsDistanceTraveledSinceEvapSupported)      \
    X(EcuReadDistanceTraveledSinceEvap)             \
    X(EcuIsMotorcycleCategoryTypeApprovalSupported) \
    X(EcuReadMotorcycleCategoryTypeApproval)        \
    X(SensorReadParameters)                         \
    X(SensorGetPids)                                \
    X(SensorGetParameter)                           \
    X(SensorGetSensors)                             \
    X(SensorIsSupported)                            \
    X(CodesDescribeTroubleCode)                     \
    X(CodesReadConfirmedCodes)                      \
    X(CodesReadPendingCodes)                        \
    X(CodesReadPermanentCodes)                      \
    X(CodesReadMilIndicator)                        \
    X(CodesReadTroubleCodeCount)                    \
    X(CodesReadFreezeFrameCount)                    \
    X(CodesReadFreezeFrameTroubleCode)              \
    X(CodesReadFreezeFramePids)                     \
    X(CodesReadFreezeFrameParameter)                \
    X(CodesClearTroubleCodes)                       \
    X(DiagnosticsGetSupportedMonitorIds)            \
    X(DiagnosticsGetReadinessMonitorsSinceReset)    \
    X(DiagnosticsGetReadinessMonitorsThisCycle)     \
    X(DiagnosticsGetDiagnosticMonitors)             \
    X(DiagnosticsGetPerformanceCounters)            \
    X(DiagnosticsGetOxygenSensorLocations)          \
    X(DiagnosticsGetOxygenSensorMonitors)           \
    X(DiagnosticsAreOxygenSensorMonitorsComplete)   \
    X(DiagnosticsGetVodEngineRunIdleTime)           \
    X(DiagnosticsGetVodFuelDistanceUsed)            \
    X(DiagnosticsGetVodPkeEoe)                      \
    X(DiagnosticsGetVodPsa)                         \
    X(RoutineIsTestRoutineSupported)                \
    X(RoutineGetTestRoutines)                       \
    X(RoutineActivateTestRoutine)                   \
    X(TroubleshootingSendMessage)                   \
    X(TroubleshootingEnableDataLog)                 \
    X(TroubleshootingIsDataLogEnabled)              \
    X(TroubleshootingDisableDataLog)

enum class CoreCall : std::size_t {
#define ZELT_COUNTED_CORE_CALL_ENUMERATOR(name) name,
    ZELT_COUNTED_CORE_CALLS(ZELT_COUNTED_CORE_CALL_ENUMERATOR)
#undef ZELT_COUNTED_CORE_CALL_ENUMERATOR
};

inline constexpr std::size_t kCoreCallCount = 0
#define ZELT_COUNTED_CORE_CALL_ONE(name) +1
    ZELT_COUNTED_CORE_CALLS(ZELT_COUNTED_CORE_CALL_ONE)
#undef ZELT_COUNTED_CORE_CALL_ONE
    ;

inline const char* CoreCallName(CoreCall call) {
    static constexpr std::array<const char*, kCoreCallCount> kNames = {
#define ZELT_COUNTED_CORE_CALL_NAME(name) #name,
        ZELT_COUNTED_CORE_CALLS(ZELT_COUNTED_CORE_CALL_NAME)
#undef ZELT_COUNTED_CORE_CALL_NAME
    };
    return kNames[static_cast<std::size_t>(call)];
}

// The calls counted so far, per operation.
class CoreCallCounts {
public:
    void add(CoreCall call) {
        counts_[static_cast<std::size_t>(call)].fetch_add(1, std::memory_order_relaxed);
    }
    std::uint64_t operator[](CoreCall call) const {
        return counts_[static_cast<std::size_t>(call)].load(std::memory_order_relaxed);
    }

private:
    std::array<std::atomic<std::uint64_t>, kCoreCallCount> counts_{};
};

// The answers the core gave, as descriptions (Describe.h), by operation and
// arguments.
class AnswerJournal {
public:
    void add(CoreCall call, const std::string& arguments, const std::string& answer) {
        std::string entry = key(call, arguments, answer);
        std::lock_guard<std::mutex> lock(mutex_);
        answers_.insert(std::move(entry));
    }
    bool contains(CoreCall call, const std::string& arguments, const std::string& answer) const {
        const std::string entry = key(call, arguments, answer);
        std::lock_guard<std::mutex> lock(mutex_);
        return answers_.count(entry) != 0;
    }

private:
    static std::string key(CoreCall call, const std::string& arguments, const std::string& answer) {
        return std::string(CoreCallName(call)) + "(" + arguments + ") => " + answer;
    }

    mutable std::mutex mutex_;
    std::set<std::string> answers_;  // guarded by mutex_
};

// Hears every entry of one troubleshooting service's data log, ahead of the
// observers attached after it, and checks that the core numbers them one by
// one. Lets a test know the last entry the core delivered.
class LogTap : public obd::ITroubleshootingServiceObserver {
public:
    void onLogEntryAdded(const std::shared_ptr<obd::MessageDataModel>& entry) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++entries_;
        if (!entry || entry->sequence != lastSequence_ + 1) {
            outOfOrder_ = true;
        }
        if (entry) {
            lastSequence_ = entry->sequence;
        }
    }

    std::uint64_t entries() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }
    std::uint64_t lastSequence() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lastSequence_;
    }
    // True when the core delivered a null entry or skipped or repeated a number.
    bool sawOutOfOrder() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return outOfOrder_;
    }

private:
    mutable std::mutex mutex_;
    std::uint64_t entries_ = 0;
    std::uint64_t lastSequence_ = 0;
    bool outOfOrder_ = false;
};

namespace counting_detail {

// What every decorator shares: the counts and the journal of one root.
struct Books {
    CoreCallCounts counts;
    AnswerJournal journal;

    // Counts a call and passes `answer` through, noting its description.
    template <typename T, typename... Options>
    T note(CoreCall call, const std::string& arguments, T answer, Options... options) {
        journal.add(call, arguments, DescribeAnswer(answer, options...));
        return answer;
    }

private:
    template <typename T, typename... Options>
    static std::string DescribeAnswer(const std::vector<T>& answer, Options... options) {
        return DescribeList(answer, options...);
    }
    template <typename T, typename... Options>
    static std::string DescribeAnswer(const T& answer, Options... options) {
        return Describe(answer, options...);
    }
};

using BooksPtr = std::shared_ptr<Books>;
using Id = obd::ParameterIdentifier::Id;

class ConnectionService : public obd::IConnectionService {
public:
    ConnectionService(std::shared_ptr<obd::IConnectionService> inner, BooksPtr books)
        : inner_(std::move(inner)), books_(std::move(books)) {}

    const std::shared_ptr<obd::IConnectionService>& inner() const { return inner_; }

    std::size_t getObserverCount() const override { return inner_->getObserverCount(); }
    // Observers are attached to the wrapped service itself, so the core's own
    // delivery and detach guarantees are the ones under test.
    void attach(obd::IConnectionServiceObserver* observer) override { inner_->attach(observer); }
    void detach(obd::IConnectionServiceObserver* observer) override { inner_->detach(observer); }

    bool isConnected() const override {
        books_->counts.add(CoreCall::ConnectionIsConnected);
        return inner_->isConnected();
    }
    std::uint32_t getSelectedEcu() const override {
        books_->counts.add(CoreCall::ConnectionGetSelectedEcu);
        return inner_->getSelectedEcu();
    }
    std::shared_ptr<obd::IAdapter> getAdapter() override {
        books_->counts.add(CoreCall::ConnectionGetAdapter);
        return inner_->getAdapter();
    }

private:
    const std::shared_ptr<obd::IConnectionService> inner_;
    const BooksPtr books_;
};

// Operations without arguments: counted, and noted when they answer data.
#define ZELT_COUNTED(Result, name, call)    \
    Result name() override {                \
        books_->counts.add(CoreCall::call); \
        return inner_->name();              \
    }
#define ZELT_NOTED(Result, name, call)                           \
    Result name() override {                                     \
        books_->counts.add(CoreCall::call);                      \
        return books_->note(CoreCall::call, "", inner_->name()); \
    }

class EcuService : public obd::IEcuService {
public:
    EcuService(std::shared_ptr<obd::IEcuService> inner, BooksPtr books)
        : inner_(std::move(inner)), books_(std::move(books)) {}

    ZELT_COUNTED(std::vector<std::uint32_t>, getEcuAddresses, EcuGetEcuAddresses)
    std::vector<std::shared_ptr<obd::ParameterDataModel>> readParameters() override {
        books_->counts.add(CoreCall::EcuReadParameters);
        return books_->note(CoreCall::EcuReadParameters, "", inner_->readParameters(),
                            Readings::Left);
    }
    bool isParameterSupported(Id pid) override {
        books_->counts.add(CoreCall::EcuIsParameterSupported);
        return inner_->isParameterSupported(pid);
    }
    ZELT_NOTED(std::string, readStandard, EcuReadStandard)
    ZELT_NOTED(std::string, readProtocol, EcuReadProtocol)
    ZELT_NOTED(std::string, readEcuName, EcuReadEcuName)
    ZELT_NOTED(std::string, readEcuDescription, EcuReadEcuDescription)
    ZELT_COUNTED(bool, isVinSupported, EcuIsVinSupported)
    ZELT_NOTED(std::string, readVin, EcuReadVin)
    ZELT_COUNTED(bool, isCalidSupported, EcuIsCalidSupported)
    ZELT_NOTED(std::vector<std::string>, readCalids, EcuReadCalids)
    ZELT_COUNTED(bool, isCvnSupported, EcuIsCvnSupported)
    ZELT_NOTED(std::vector<std::string>, readCvns, EcuReadCvns)
    ZELT_COUNTED(bool, isEsnSupported, EcuIsEsnSupported)
    ZELT_NOTED(std::string, readEsn, EcuReadEsn)
    ZELT_COUNTED(bool, isErotanSupported, EcuIsErotanSupported)
    ZELT_NOTED(std::string, readErotan, EcuReadErotan)
    ZELT_COUNTED(bool, isGtrNumberSupported, EcuIsGtrNumberSupported)
    ZELT_NOTED(std::string, readGtrNumber, EcuReadGtrNumber)
    ZELT_COUNTED(bool, isFueledEngineOperationSupported, EcuIsFueledEngineOperationSupported)
    ZELT_NOTED(std::string, readFueledEngineOperation, EcuReadFueledEngineOperation)
    ZELT_COUNTED(bool, isCertificationTestGroupSupported, EcuIsCertificationTestGroupSupported)
    ZELT_NOTED(std::string, readCertificationTestGroup, EcuReadCertificationTestGroup)
    ZELT_COUNTED(bool, isDistanceTraveledSinceEvapSupported,
                 EcuIsDistanceTraveledSinceEvapSupported)
    ZELT_NOTED(std::string, readDistanceTraveledSinceEvap, EcuReadDistanceTraveledSinceEvap)
    ZELT_COUNTED(bool, isMotorcycleCategoryTypeApprovalSupported,
                 EcuIsMotorcycleCategoryTypeApprovalSupported)
    ZELT_NOTED(std::string, readMotorcycleCategoryTypeApproval,
               EcuReadMotorcycleCategoryTypeApproval)

private:
    const std::shared_ptr<obd::IEcuService> inner_;
    const BooksPtr books_;
};

class SensorService : public obd::ISensorService {
public:
    SensorService(std::shared_ptr<obd::ISensorService> inner, BooksPtr books)
        : inner_(std::move(inner)), books_(std::move(books)) {}

    std::vector<std::shared_ptr<obd::ParameterDataModel>> readParameters(
        const std::vector<Id>& pids) override {
        books_->counts.add(CoreCall::SensorReadParameters);
        return inner_->readParameters(pids);
    }
    ZELT_NOTED(std::vector<Id>, getPids, SensorGetPids)
    std::shared_ptr<obd::ParameterDataModel> getParameter(Id pid) override {
        books_->counts.add(CoreCall::SensorGetParameter);
        return books_->note(CoreCall::SensorGetParameter, Describe(pid), inner_->getParameter(pid),
                            Readings::Left);
    }
    std::vector<std::shared_ptr<obd::SensorDataModel>> getSensors(Id pid) override {
        books_->counts.add(CoreCall::SensorGetSensors);
        return books_->note(CoreCall::SensorGetSensors, Describe(pid), inner_->getSensors(pid),
                            Readings::Left);
    }
    bool isSupported(Id pid) override {
        books_->counts.add(CoreCall::SensorIsSupported);
        return inner_->isSupported(pid);
    }

private:
    const std::shared_ptr<obd::ISensorService> inner_;
    const BooksPtr books_;
};

class TroubleCodeService : public obd::ITroubleCodeService {
public:
    using Codes = std::vector<std::shared_ptr<obd::DtcDataModel>>;

    TroubleCodeService(std::shared_ptr<obd::ITroubleCodeService> inner, BooksPtr books)
        : inner_(std::move(inner)), books_(std::move(books)) {}

    std::string describeTroubleCode(const std::string& code) override {
        books_->counts.add(CoreCall::CodesDescribeTroubleCode);
        return inner_->describeTroubleCode(code);
    }
    ZELT_NOTED(Codes, readConfirmedCodes, CodesReadConfirmedCodes)
    ZELT_NOTED(Codes, readPendingCodes, CodesReadPendingCodes)
    ZELT_NOTED(Codes, readPermanentCodes, CodesReadPermanentCodes)
    std::shared_ptr<std::int32_t> readMilIndicator() override {
        books_->counts.add(CoreCall::CodesReadMilIndicator);
        return inner_->readMilIndicator();
    }
    ZELT_COUNTED(std::shared_ptr<std::int32_t>, readTroubleCodeCount, CodesReadTroubleCodeCount)
    ZELT_COUNTED(std::uint8_t, readFreezeFrameCount, CodesReadFreezeFrameCount)
    std::shared_ptr<obd::DtcDataModel> readFreezeFrameTroubleCode(std::uint8_t frame) override {
        books_->counts.add(CoreCall::CodesReadFreezeFrameTroubleCode);
        return books_->note(CoreCall::CodesReadFreezeFrameTroubleCode, std::to_string(frame),
                            inner_->readFreezeFrameTroubleCode(frame));
    }
    std::vector<Id> readFreezeFramePids(std::uint8_t frame) override {
        books_->counts.add(CoreCall::CodesReadFreezeFramePids);
        return books_->note(CoreCall::CodesReadFreezeFramePids, std::to_string(frame),
                            inner_->readFreezeFramePids(frame));
    }
    std::shared_ptr<obd::ParameterDataModel> readFreezeFrameParameter(std::uint8_t frame,
                                                                      Id pid) override {
        books_->counts.add(CoreCall::CodesReadFreezeFrameParameter);
        // A freeze frame holds constant values, so the readings identify it.
        return books_->note(CoreCall::CodesReadFreezeFrameParameter,
                            std::to_string(frame) + "," + Describe(pid),
                            inner_->readFreezeFrameParameter(frame, pid), Readings::Included);
    }
    ZELT_COUNTED(bool, clearTroubleCodes, CodesClearTroubleCodes)

private:
    const std::shared_ptr<obd::ITroubleCodeService> inner_;
    const BooksPtr books_;
};

class DiagnosticsService : public obd::IDiagnosticsService {
public:
    DiagnosticsService(std::shared_ptr<obd::IDiagnosticsService> inner, BooksPtr books)
        : inner_(std::move(inner)), books_(std::move(books)) {}

    ZELT_COUNTED(std::vector<std::uint8_t>, getSupportedMonitorIds,
                 DiagnosticsGetSupportedMonitorIds)
    ZELT_NOTED(std::vector<std::shared_ptr<obd::ReadinessMonitorDataModel>>,
               getReadinessMonitorsSinceReset, DiagnosticsGetReadinessMonitorsSinceReset)
    ZELT_NOTED(std::vector<std::shared_ptr<obd::ReadinessMonitorDataModel>>,
               getReadinessMonitorsThisCycle, DiagnosticsGetReadinessMonitorsThisCycle)
    ZELT_NOTED(std::vector<std::shared_ptr<obd::DiagnosticMonitorDataModel>>, getDiagnosticMonitors,
               DiagnosticsGetDiagnosticMonitors)
    ZELT_NOTED(std::vector<std::shared_ptr<obd::PerformanceCounterDataModel>>,
               getPerformanceCounters, DiagnosticsGetPerformanceCounters)
    ZELT_NOTED(std::vector<obd::OxygenSensorLocation>, getOxygenSensorLocations,
               DiagnosticsGetOxygenSensorLocations)
    std::vector<std::shared_ptr<obd::OxygenSensorMonitorDataModel>> getOxygenSensorMonitors(
        obd::OxygenSensorLocation location) override {
        books_->counts.add(CoreCall::DiagnosticsGetOxygenSensorMonitors);
        return books_->note(CoreCall::DiagnosticsGetOxygenSensorMonitors, Describe(location),
                            inner_->getOxygenSensorMonitors(location));
    }
    ZELT_COUNTED(bool, areOxygenSensorMonitorsComplete, DiagnosticsAreOxygenSensorMonitorsComplete)
    ZELT_NOTED(std::shared_ptr<obd::VehicleOperationDataModel>, getVodEngineRunIdleTime,
               DiagnosticsGetVodEngineRunIdleTime)
    ZELT_NOTED(std::shared_ptr<obd::VehicleOperationDataModel>, getVodFuelDistanceUsed,
               DiagnosticsGetVodFuelDistanceUsed)
    ZELT_NOTED(std::shared_ptr<obd::VehicleOperationDataModel>, getVodPkeEoe,
               DiagnosticsGetVodPkeEoe)
    ZELT_NOTED(std::shared_ptr<obd::VehicleOperationDataModel>, getVodPsa, DiagnosticsGetVodPsa)

private:
    const std::shared_ptr<obd::IDiagnosticsService> inner_;
    const BooksPtr books_;
};

class RoutineService : public obd::IRoutineService {
public:
    RoutineService(std::shared_ptr<obd::IRoutineService> inner, BooksPtr books)
        : inner_(std::move(inner)), books_(std::move(books)) {}

    bool isTestRoutineSupported(int id) override {
        books_->counts.add(CoreCall::RoutineIsTestRoutineSupported);
        return inner_->isTestRoutineSupported(id);
    }
    // Each record is noted by itself too: the library merges lists by id.
    std::vector<std::shared_ptr<obd::TestRoutineDataModel>> getTestRoutines() override {
        books_->counts.add(CoreCall::RoutineGetTestRoutines);
        auto routines =
            books_->note(CoreCall::RoutineGetTestRoutines, "", inner_->getTestRoutines());
        for (const auto& routine : routines) {
            books_->note(CoreCall::RoutineGetTestRoutines, "each", routine);
        }
        return routines;
    }
    std::shared_ptr<obd::TestRoutineDataModel> activateTestRoutine(int id) override {
        books_->counts.add(CoreCall::RoutineActivateTestRoutine);
        return books_->note(CoreCall::RoutineActivateTestRoutine, std::to_string(id),
                            inner_->activateTestRoutine(id));
    }

private:
    const std::shared_ptr<obd::IRoutineService> inner_;
    const BooksPtr books_;
};

class TroubleshootingService : public obd::ITroubleshootingService {
public:
    // `tap` is attached to the wrapped service at once, so that it is listed
    // ahead of every observer attached through this decorator.
    TroubleshootingService(std::shared_ptr<obd::ITroubleshootingService> inner, BooksPtr books,
                           std::shared_ptr<LogTap> tap)
        : inner_(std::move(inner)), books_(std::move(books)), tap_(std::move(tap)) {
        inner_->attach(tap_.get());
    }
    ~TroubleshootingService() override { inner_->detach(tap_.get()); }

    TroubleshootingService(const TroubleshootingService&) = delete;
    TroubleshootingService& operator=(const TroubleshootingService&) = delete;

    std::size_t getObserverCount() const override { return inner_->getObserverCount(); }
    void attach(obd::ITroubleshootingServiceObserver* observer) override {
        inner_->attach(observer);
    }
    void detach(obd::ITroubleshootingServiceObserver* observer) override {
        inner_->detach(observer);
    }

    std::string sendMessage(const std::string& message, unsigned int timeout) override {
        books_->counts.add(CoreCall::TroubleshootingSendMessage);
        return inner_->sendMessage(message, timeout);
    }
    ZELT_COUNTED(void, enableDataLog, TroubleshootingEnableDataLog)
    bool isDataLogEnabled() const override {
        books_->counts.add(CoreCall::TroubleshootingIsDataLogEnabled);
        return inner_->isDataLogEnabled();
    }
    ZELT_COUNTED(void, disableDataLog, TroubleshootingDisableDataLog)

private:
    const std::shared_ptr<obd::ITroubleshootingService> inner_;
    const BooksPtr books_;
    const std::shared_ptr<LogTap> tap_;
};

#undef ZELT_COUNTED
#undef ZELT_NOTED

}  // namespace counting_detail

class CountingQuorvix : public obd::IQuorvix {
public:
    explicit CountingQuorvix(std::shared_ptr<obd::IQuorvix> inner) : inner_(std::move(inner)) {}

    std::uint64_t count(CoreCall call) const { return books_->counts[call]; }
    // Whether the core gave `answer` (a description, see Describe.h) to
    // `call` with `arguments`.
    bool answered(CoreCall call, const std::string& arguments, const std::string& answer) const {
        return books_->journal.contains(call, arguments, answer);
    }

    // The tap on the data log of the `index`-th troubleshooting service built
    // (counting from 0); null if there is none.
    std::shared_ptr<LogTap> logTap(std::size_t index) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return index < taps_.size() ? taps_[index] : nullptr;
    }

    std::shared_ptr<obd::IConnectionManager> getConnectionManager() override {
        return inner_->getConnectionManager();
    }
    std::shared_ptr<obd::IConnectionService> createConnectionService() override {
        return std::make_shared<counting_detail::ConnectionService>(
            inner_->createConnectionService(), books_);
    }
    std::shared_ptr<obd::IEcuService> createEcuService(
        std::shared_ptr<obd::IConnectionService> connection) override {
        return std::make_shared<counting_detail::EcuService>(
            inner_->createEcuService(unwrap(connection)), books_);
    }
    std::shared_ptr<obd::ISensorService> createSensorService(
        std::shared_ptr<obd::IConnectionService> connection) override {
        return std::make_shared<counting_detail::SensorService>(
            inner_->createSensorService(unwrap(connection)), books_);
    }
    std::shared_ptr<obd::ITroubleCodeService> createTroubleCodeService(
        std::shared_ptr<obd::IConnectionService> connection) override {
        return std::make_shared<counting_detail::TroubleCodeService>(
            inner_->createTroubleCodeService(unwrap(connection)), books_);
    }
    std::shared_ptr<obd::IDiagnosticsService> createDiagnosticsService(
        std::shared_ptr<obd::IConnectionService> connection) override {
        return std::make_shared<counting_detail::DiagnosticsService>(
            inner_->createDiagnosticsService(unwrap(connection)), books_);
    }
    std::shared_ptr<obd::IRoutineService> createRoutineService(
        std::shared_ptr<obd::IConnectionService> connection) override {
        return std::make_shared<counting_detail::RoutineService>(
            inner_->createRoutineService(unwrap(connection)), books_);
    }
    std::shared_ptr<obd::ITroubleshootingService> createTroubleshootingService(
        std::shared_ptr<obd::IConnectionService> connection) override {
        auto tap = std::make_shared<LogTap>();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            taps_.push_back(tap);
        }
        return std::make_shared<counting_detail::TroubleshootingService>(
            inner_->createTroubleshootingService(unwrap(connection)), books_, std::move(tap));
    }

private:
    // The wrapped root builds its services on its own connection service, as
    // it would without the decorator.
    static std::shared_ptr<obd::IConnectionService> unwrap(
        const std::shared_ptr<obd::IConnectionService>& connection) {
        if (auto* counting = dynamic_cast<counting_detail::ConnectionService*>(connection.get())) {
            return counting->inner();
        }
        return connection;
    }

    const std::shared_ptr<obd::IQuorvix> inner_;
    const std::shared_ptr<counting_detail::Books> books_ =
        std::make_shared<counting_detail::Books>();
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<LogTap>> taps_;  // guarded by mutex_
};

}  // namespace zelt::testing
