// Reading live data over a slow adapter link: the emulated ELM327 behind a
// data bridge, carrying about 3840 bytes per second (38400 baud) each way
// and taking 30 ms per vehicle request, as a serial adapter does. Each case
// runs once with one PID per request and once with up to six PIDs per
// request; run-benchmarks.py prints the ratio.
//
// Counters: readings/s or scans/s (what the caller gets per second) and
// requests/s (vehicle requests the adapter answered per second).

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

#include "SlowAdapter.h"
#include "obd/IEcuService.h"
#include "obd/ISensorService.h"

namespace {

using zelt::bench::Connected;
using zelt::bench::SlowAdapter;

constexpr int kLiveReadings = 100;

void Report(benchmark::State& state, const SlowAdapter& adapter, long before, double seconds,
            const char* unit, double done) {
    const double requests = static_cast<double>(adapter.requests() - before);
    state.counters["requests"] = requests;
    state.counters["requests/s"] = requests / seconds;
    state.counters[unit] = done / seconds;
}

// 100 readings of engine speed, vehicle speed, coolant temperature and
// throttle position, as a live data screen polls them.
void BM_Adapter_LiveReadings(benchmark::State& state) {
    Connected connected;
    if (!connected.root) {
        state.SkipWithError("the emulated adapter did not connect");
        return;
    }
    connected.root->setMultiPidRequests(state.range(0) != 0);
    auto sensors = connected.root->createSensorService(connected.root->createConnectionService());
    using Id = obd::ParameterIdentifier::Id;
    const std::vector<Id> pids{Id::EngineSpeed, Id::VehicleSpeed, Id::EngineCoolantTemperature,
                               static_cast<Id>(0x11)};
    for (auto _ : state) {
        const long before = connected.adapter.requests();
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kLiveReadings; ++i) {
            const auto parameters = sensors->readParameters(pids);
            if (parameters.size() != pids.size()) {
                state.SkipWithError("a reading came back incomplete");
                return;
            }
        }
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        Report(state, connected.adapter, before, seconds.count(), "readings/s", kLiveReadings);
    }
}
BENCHMARK(BM_Adapter_LiveReadings)
    ->ArgName("batched")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Every parameter of every ECU: each ECU's supported-PID chain, then all its
// PIDs.
void BM_Adapter_FullScan(benchmark::State& state) {
    Connected connected;
    if (!connected.root) {
        state.SkipWithError("the emulated adapter did not connect");
        return;
    }
    connected.root->setMultiPidRequests(state.range(0) != 0);
    auto ecu = connected.root->createEcuService(connected.root->createConnectionService());
    const std::vector<std::uint32_t> ecus = connected.root->getEcuAddresses();
    for (auto _ : state) {
        const long before = connected.adapter.requests();
        const auto start = std::chrono::steady_clock::now();
        std::size_t parameters = 0;
        for (std::uint32_t address : ecus) {
            connected.root->selectEcu(address);
            parameters += ecu->readParameters().size();
        }
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        state.counters["parameters"] = static_cast<double>(parameters);
        Report(state, connected.adapter, before, seconds.count(), "scans/s", 1);
    }
}
BENCHMARK(BM_Adapter_FullScan)
    ->ArgName("batched")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
