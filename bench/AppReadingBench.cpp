// One --watch reading through the application library, in process: the
// built-in vehicle's engine speed, vehicle speed, coolant temperature and
// intake pressure from every ECU that offers them, with each sensor's exact
// number as the readings' JSON and CSV forms take it. What it measures is
// the library's own work per reading: requests cost nothing here.

#include <benchmark/benchmark.h>

#include <vector>

#include "zelt/app/Readings.h"
#include "zelt/app/Session.h"

namespace {

using Id = obd::ParameterIdentifier::Id;

void BM_App_WatchReading(benchmark::State& state) {
    zelt::app::Session session(obd::sim::Scenario::builtIn());
    const std::vector<Id> pids{Id::EngineSpeed, Id::VehicleSpeed, Id::EngineCoolantTemperature,
                               static_cast<Id>(0x0B)};
    std::vector<zelt::app::Watched> watched = Plan(session, pids, session.ecuAddresses());
    Read(session, watched, true);
    for (auto _ : state) {
        const zelt::app::Reading reading = Read(session, watched, false);
        benchmark::DoNotOptimize(reading.numbers.data());
    }
    state.counters["readings/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_App_WatchReading)->Unit(benchmark::kMicrosecond);

}  // namespace
