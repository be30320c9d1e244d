// A whole zelt-scan --json of the built-in vehicle, in process: connect,
// read everything through the six repositories, render the JSON document.

#include <benchmark/benchmark.h>

#include "JsonReport.h"
#include "Scanner.h"
#include "Session.h"

namespace {

void BM_ScanJson_DefaultVehicle(benchmark::State& state) {
    const auto scenario = obd::sim::Scenario::builtIn();
    for (auto _ : state) {
        zelt::scan::Session session(scenario);
        const std::string json = zelt::scan::ToJson(zelt::scan::Scan(session)).dump(2);
        benchmark::DoNotOptimize(json.data());
    }
}
BENCHMARK(BM_ScanJson_DefaultVehicle)->Unit(benchmark::kMillisecond);

}  // namespace
