// A whole zelt-scan --json of the built-in vehicle, in process: connect,
// read everything through the six repositories, render the JSON document.

#include <benchmark/benchmark.h>

#include "zelt/app/JsonReport.h"
#include "zelt/app/Scanner.h"
#include "zelt/app/Session.h"

namespace {

void BM_ScanJson_DefaultVehicle(benchmark::State& state) {
    const auto scenario = obd::sim::Scenario::builtIn();
    for (auto _ : state) {
        zelt::app::Session session(scenario);
        const std::string json = zelt::app::ToJson(zelt::app::Scan(session)).dump(2);
        benchmark::DoNotOptimize(json.data());
    }
}
BENCHMARK(BM_ScanJson_DefaultVehicle)->Unit(benchmark::kMillisecond);

}  // namespace
