// Cache hits measured against their floor: one lock of a std::mutex and one
// copy of a vector of shared pointers.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "obd/sim/SimulatedQuorvix.h"
#include "zelt/DiagnosticsRepository.h"
#include "zelt/DongleRepository.h"
#include "zelt/EcuRepository.h"
#include "zelt/ParameterRepository.h"
#include "zelt/TroubleCodeRepository.h"

namespace {

using Codes = std::vector<std::shared_ptr<obd::DtcDataModel>>;

// Allocates every object on cache lines of its own. A record's reference
// count lives in its allocation, and the heap readily puts a record of one
// list into a gap between records of another (the gaps a growing vector
// leaves behind): two threads reading two lists would then write one cache
// line, and the two-thread benchmarks would measure where the heap happened
// to place the records instead of the repository.
template <typename T>
struct CacheLineAllocator {
    using value_type = T;
    static constexpr std::align_val_t kAlignment{128};

    CacheLineAllocator() = default;
    template <typename U>
    CacheLineAllocator(const CacheLineAllocator<U>&) {}

    T* allocate(std::size_t n) {
        return static_cast<T*>(::operator new(n * sizeof(T), kAlignment));
    }
    void deallocate(T* p, std::size_t) { ::operator delete(p, kAlignment); }

    template <typename U>
    bool operator==(const CacheLineAllocator<U>&) const {
        return true;
    }
    template <typename U>
    bool operator!=(const CacheLineAllocator<U>&) const {
        return false;
    }
};

Codes MakeCodes(int count) {
    Codes codes;
    for (int i = 0; i < count; ++i) {
        auto code =
            std::allocate_shared<obd::DtcDataModel>(CacheLineAllocator<obd::DtcDataModel>());
        code->code = "P0" + std::to_string(300 + i);
        codes.push_back(std::move(code));
    }
    return codes;
}

// A trouble code service that answers fixed lists without any work, so that
// a benchmark of a cache hit measures the repository alone.
class FixedTroubleCodeService : public obd::ITroubleCodeService {
public:
    // Each list has records of its own: two lists sharing records would make
    // their readers contend on the same reference counts.
    explicit FixedTroubleCodeService(int count)
        : confirmed_(MakeCodes(count)), pending_(MakeCodes(count)), permanent_(MakeCodes(count)) {}
    std::string describeTroubleCode(const std::string&) override { return {}; }
    Codes readConfirmedCodes() override { return confirmed_; }
    Codes readPendingCodes() override { return pending_; }
    Codes readPermanentCodes() override { return permanent_; }
    std::shared_ptr<std::int32_t> readMilIndicator() override { return nullptr; }
    std::shared_ptr<std::int32_t> readTroubleCodeCount() override { return nullptr; }
    std::uint8_t readFreezeFrameCount() override { return 0; }
    std::shared_ptr<obd::DtcDataModel> readFreezeFrameTroubleCode(std::uint8_t) override {
        return nullptr;
    }
    std::vector<obd::ParameterIdentifier::Id> readFreezeFramePids(std::uint8_t) override {
        return {};
    }
    std::shared_ptr<obd::ParameterDataModel> readFreezeFrameParameter(
        std::uint8_t, obd::ParameterIdentifier::Id) override {
        return nullptr;
    }
    bool clearTroubleCodes() override { return true; }

private:
    Codes confirmed_;
    Codes pending_;
    Codes permanent_;
};

// The simulated core, with the trouble code service replaced by the fixed one.
class BenchRoot : public obd::IQuorvix {
public:
    explicit BenchRoot(int codes) : vehicle_(obd::sim::SimulatedQuorvix::create()), codes_(codes) {
        vehicle_->openConnection();
    }
    ~BenchRoot() override { vehicle_->closeConnection(); }

    std::shared_ptr<obd::IConnectionManager> getConnectionManager() override {
        return vehicle_->getConnectionManager();
    }
    std::shared_ptr<obd::IConnectionService> createConnectionService() override {
        return vehicle_->createConnectionService();
    }
    std::shared_ptr<obd::IEcuService> createEcuService(
        std::shared_ptr<obd::IConnectionService> c) override {
        return vehicle_->createEcuService(std::move(c));
    }
    std::shared_ptr<obd::ISensorService> createSensorService(
        std::shared_ptr<obd::IConnectionService> c) override {
        return vehicle_->createSensorService(std::move(c));
    }
    std::shared_ptr<obd::ITroubleCodeService> createTroubleCodeService(
        std::shared_ptr<obd::IConnectionService>) override {
        return std::make_shared<FixedTroubleCodeService>(codes_);
    }
    std::shared_ptr<obd::IDiagnosticsService> createDiagnosticsService(
        std::shared_ptr<obd::IConnectionService> c) override {
        return vehicle_->createDiagnosticsService(std::move(c));
    }
    std::shared_ptr<obd::IRoutineService> createRoutineService(
        std::shared_ptr<obd::IConnectionService> c) override {
        return vehicle_->createRoutineService(std::move(c));
    }
    std::shared_ptr<obd::ITroubleshootingService> createTroubleshootingService(
        std::shared_ptr<obd::IConnectionService> c) override {
        return vehicle_->createTroubleshootingService(std::move(c));
    }

private:
    std::shared_ptr<obd::sim::SimulatedQuorvix> vehicle_;
    int codes_;
};

void BM_Floor_LockCopyVector(benchmark::State& state) {
    std::mutex mutex;
    const Codes cached = MakeCodes(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::lock_guard<std::mutex> lock(mutex);
        Codes copy = cached;
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_Floor_LockCopyVector)->Arg(1)->Arg(10)->Arg(100);

void BM_CacheHit_ConfirmedCodes(benchmark::State& state) {
    auto root = std::make_shared<BenchRoot>(static_cast<int>(state.range(0)));
    zelt::TroubleCodeRepository repository(root);
    repository.getConfirmedCodes(false);
    for (auto _ : state) {
        auto codes = repository.getConfirmedCodes(false);
        benchmark::DoNotOptimize(codes.data());
    }
}
BENCHMARK(BM_CacheHit_ConfirmedCodes)->Arg(1)->Arg(10)->Arg(100);

void BM_CacheHit_EcuInfo(benchmark::State& state) {
    auto root = std::make_shared<BenchRoot>(0);
    zelt::EcuRepository repository(root);
    repository.getEcuInfo(false);
    for (auto _ : state) {
        auto info = repository.getEcuInfo(false);  // still asks the four uncached items
        benchmark::DoNotOptimize(info.data());
    }
}
BENCHMARK(BM_CacheHit_EcuInfo);

void BM_CacheHit_Parameter(benchmark::State& state) {
    auto root = std::make_shared<BenchRoot>(0);
    zelt::ParameterRepository repository(root);
    const auto pid = obd::ParameterIdentifier::Id::EngineSpeed;
    repository.getParameter(pid);
    for (auto _ : state) {
        auto parameter = repository.getParameter(pid);
        benchmark::DoNotOptimize(parameter.get());
    }
}
BENCHMARK(BM_CacheHit_Parameter);

void BM_CacheHit_VehicleOperationData(benchmark::State& state) {
    auto root = std::make_shared<BenchRoot>(0);
    zelt::DiagnosticsRepository repository(root);
    repository.getVehicleOperationData(false);
    for (auto _ : state) {
        auto data = repository.getVehicleOperationData(false);
        benchmark::DoNotOptimize(data.data());
    }
}
BENCHMARK(BM_CacheHit_VehicleOperationData);

void BM_CacheHit_BatteryVoltage(benchmark::State& state) {
    auto root = std::make_shared<BenchRoot>(0);
    zelt::DongleRepository repository(root);
    repository.getBatteryVoltage(false);
    for (auto _ : state) {
        auto voltage = repository.getBatteryVoltage(false);
        benchmark::DoNotOptimize(voltage.get());
    }
}
BENCHMARK(BM_CacheHit_BatteryVoltage);

// The floor of the two-thread benchmarks: each thread locks its own mutex and
// copies its own vector, so nothing is shared but the machine. Two slots of
// one repository should scale as well as this does.
struct alignas(64) FloorSlot {
    std::mutex mutex;
    Codes codes;
};
FloorSlot floorSlots[2];

void BM_Floor_TwoThreads(benchmark::State& state) {
    FloorSlot& slot = floorSlots[state.thread_index()];
    slot.codes = MakeCodes(10);
    for (auto _ : state) {
        std::lock_guard<std::mutex> lock(slot.mutex);
        Codes copy = slot.codes;
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetItemsProcessed(state.iterations());
    slot.codes.clear();
}
BENCHMARK(BM_Floor_TwoThreads)->Threads(1)->Threads(2)->UseRealTime();

// Threads share one repository: set up by thread 0, torn down by it after the
// others stopped (Google Benchmark synchronises the threads around the loop).
std::shared_ptr<zelt::TroubleCodeRepository> sharedRepository;

void BM_Threads_SameSlot(benchmark::State& state) {
    if (state.thread_index() == 0) {
        sharedRepository =
            std::make_shared<zelt::TroubleCodeRepository>(std::make_shared<BenchRoot>(10));
        sharedRepository->getConfirmedCodes(false);
    }
    for (auto _ : state) {
        auto codes = sharedRepository->getConfirmedCodes(false);
        benchmark::DoNotOptimize(codes.data());
    }
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) {
        sharedRepository.reset();
    }
}
BENCHMARK(BM_Threads_SameSlot)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

// Two different slots of one repository, one per thread: they must not
// serialise on each other.
void BM_Threads_TwoSlots(benchmark::State& state) {
    if (state.thread_index() == 0) {
        sharedRepository =
            std::make_shared<zelt::TroubleCodeRepository>(std::make_shared<BenchRoot>(10));
        sharedRepository->getConfirmedCodes(false);
        sharedRepository->getPendingCodes(false);
    }
    const bool confirmed = state.thread_index() % 2 == 0;
    for (auto _ : state) {
        auto codes = confirmed ? sharedRepository->getConfirmedCodes(false)
                               : sharedRepository->getPendingCodes(false);
        benchmark::DoNotOptimize(codes.data());
    }
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) {
        sharedRepository.reset();
    }
}
BENCHMARK(BM_Threads_TwoSlots)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
