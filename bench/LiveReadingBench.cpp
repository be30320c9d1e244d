// Live data through the library: ParameterRepository reading engine speed,
// vehicle speed, coolant temperature and engine load, once one PID per
// request (getValues per PID) and once all four together (getValuesOf), over
// the emulated adapter, slow (3840 bytes/s, 30 ms per request) and
// unthrottled. run-benchmarks.py prints the ratio of the two in one run.
//
// Counters: readings/s (all four PIDs read once), requests and requests/s
// (vehicle requests the adapter answered).

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "SlowAdapter.h"
#include "zelt/ParameterRepository.h"

namespace {

using Id = obd::ParameterIdentifier::Id;

void BM_Repository_LiveReadings(benchmark::State& state) {
    const bool batched = state.range(0) != 0;
    const bool throttled = state.range(1) != 0;
    zelt::bench::Connected connected(
        throttled ? zelt::bench::kLatency : std::chrono::milliseconds(0),
        throttled ? zelt::bench::kBytesPerSecond : 0);
    if (!connected.root) {
        state.SkipWithError("the emulated adapter did not connect");
        return;
    }
    zelt::ParameterRepository parameters(connected.root);
    const std::vector<Id> pids{Id::EngineSpeed, Id::VehicleSpeed, Id::EngineCoolantTemperature,
                               static_cast<Id>(0x04)};
    // The support bitmaps are read once per connection: not part of a reading.
    parameters.getValuesOf(pids);
    const int readings = throttled ? 50 : 500;
    for (auto _ : state) {
        const long before = connected.adapter.requests();
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < readings; ++i) {
            std::size_t sensors = 0;
            if (batched) {
                for (const auto& values : parameters.getValuesOf(pids)) {
                    sensors += values.size();
                }
            } else {
                for (Id pid : pids) {
                    sensors += parameters.getValues(pid, true).size();
                }
            }
            if (sensors != pids.size()) {
                state.SkipWithError("a reading came back incomplete");
                return;
            }
        }
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        const double requests = static_cast<double>(connected.adapter.requests() - before);
        state.counters["requests"] = requests;
        state.counters["requests/s"] = requests / seconds.count();
        state.counters["readings/s"] = readings / seconds.count();
    }
}
BENCHMARK(BM_Repository_LiveReadings)
    ->ArgNames({"batched", "throttled"})
    ->ArgsProduct({{0, 1}, {1, 0}})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
