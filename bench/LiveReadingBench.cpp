// Live data through the library: ParameterRepository reading engine speed,
// vehicle speed, coolant temperature and engine load, once one PID per
// request (getValues per PID) and once all four together (getValuesOf), over
// the emulated adapter, slow (3840 bytes/s, 30 ms per request) and
// unthrottled. run-benchmarks.py prints the ratio of the two in one run.
//
// Counters: readings/s (all four PIDs read once), requests and requests/s
// (vehicle requests the adapter answered).
//
// BM_Repository_LiveReadingsOfEveryEcu reads the same PIDs from both ECUs of
// the built-in vehicle (the transmission ECU has two of them) at 38400 baud
// and 30 ms per request, with the ELM327's wait after the last answer on:
// one PID per request, each ECU's PIDs in one physical request, and one
// functional request inside a snapshot for both. ceiling/s is what the link
// allows for the exchange that was made: per reading, 30 ms per request and
// the bytes carried at 3840 per second, no wait.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>
#include <vector>

#include "SlowAdapter.h"
#include "obd/IAnswerSnapshot.h"
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

void BM_Repository_LiveReadingsOfEveryEcu(benchmark::State& state) {
    enum Mode { kSingle, kPhysical, kFunctional };
    const auto mode = static_cast<Mode>(state.range(0));
    zelt::bench::Connected connected(zelt::bench::kLatency, zelt::bench::kBytesPerSecond, true);
    if (!connected.root) {
        state.SkipWithError("the emulated adapter did not connect");
        return;
    }
    zelt::ParameterRepository parameters(connected.root);
    const std::vector<Id> watched{Id::EngineSpeed, Id::VehicleSpeed, Id::EngineCoolantTemperature,
                                  static_cast<Id>(0x04)};
    // Each ECU's share of the PIDs, its support bitmaps read once.
    std::vector<std::pair<std::uint32_t, std::vector<Id>>> ecus;
    for (std::uint32_t ecu : connected.root->getEcuAddresses()) {
        connected.root->selectEcu(ecu);
        const auto offered = parameters.getPids();
        ecus.emplace_back(ecu, std::vector<Id>{});
        for (Id pid : watched) {
            if (std::find(offered.begin(), offered.end(), pid) != offered.end()) {
                ecus.back().second.push_back(pid);
            }
        }
    }
    const int readings = 20;
    for (auto _ : state) {
        const long requestsBefore = connected.adapter.requests();
        const long bytesBefore = connected.adapter.bytes();
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < readings; ++i) {
            std::optional<obd::SnapshotScope> snapshot;
            if (mode == kFunctional) {
                snapshot.emplace(connected.root);
            }
            for (const auto& [ecu, pids] : ecus) {
                connected.root->selectEcu(ecu);
                std::size_t answered = 0;
                if (mode == kSingle) {
                    for (Id pid : pids) {
                        answered += parameters.getValues(pid, true).empty() ? 0 : 1;
                    }
                } else {
                    for (const auto& values : parameters.getValuesOf(pids)) {
                        answered += values.empty() ? 0 : 1;
                    }
                }
                if (answered != pids.size()) {
                    state.SkipWithError("a reading came back incomplete");
                    return;
                }
            }
        }
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        const double requests =
            static_cast<double>(connected.adapter.requests() - requestsBefore) / readings;
        const double bytes =
            static_cast<double>(connected.adapter.bytes() - bytesBefore) / readings;
        const double linkSeconds =
            requests * std::chrono::duration<double>(zelt::bench::kLatency).count() +
            bytes / zelt::bench::kBytesPerSecond;
        state.counters["requests/reading"] = requests;
        state.counters["bytes/reading"] = bytes;
        state.counters["readings/s"] = readings / seconds.count();
        state.counters["ceiling/s"] = 1 / linkSeconds;
    }
}
BENCHMARK(BM_Repository_LiveReadingsOfEveryEcu)
    ->ArgNames({"mode"})  // 0 one PID per request, 1 physical, 2 functional
    ->DenseRange(0, 2)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
