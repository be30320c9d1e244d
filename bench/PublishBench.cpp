// Readings published at QoS 1 to Debian's mosquitto on loopback, each
// acknowledged by the broker before the run ends: the publisher's rate, to
// set against the rate --watch reads readings from the unthrottled emulated
// adapter (BM_Repository_LiveReadings, batched, unthrottled).
// run-benchmarks.py prints the two side by side.
//
// Counters: readings/s (acknowledged), dropped (must stay 0).

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "LocalBroker.h"
#include "zelt/publish/Publisher.h"

namespace {

// About the size of one reading of four PIDs as --watch writes it in JSON.
constexpr std::size_t kReadingBytes = 900;

void BM_Publish_QoS1(benchmark::State& state) {
    const int readings = static_cast<int>(state.range(0));
    zelt::testing::LocalBroker broker;
    broker.start();
    zelt::publish::PublisherSettings settings;
    settings.broker.host = "127.0.0.1";
    settings.broker.port = broker.port();
    settings.broker.topic = "bench/car";
    settings.statusTopic = "bench/car/status";
    settings.clientId = "zelt-bench";
    settings.spoolLimit = std::size_t{64} << 20U;
    const std::string reading(kReadingBytes, 'r');
    for (auto _ : state) {
        zelt::publish::Publisher publisher(settings);
        if (!publisher.connect(std::chrono::seconds(5))) {
            state.SkipWithError("the broker did not answer");
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < readings; ++i) {
            publisher.publish(settings.broker.topic, reading);
        }
        const auto outcome = publisher.close(std::chrono::seconds(60));
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(seconds.count());
        state.counters["readings/s"] = static_cast<double>(outcome.delivered) / seconds.count();
        state.counters["dropped"] = static_cast<double>(outcome.dropped + outcome.leftQueued);
    }
}
BENCHMARK(BM_Publish_QoS1)
    ->ArgName("readings")
    ->Arg(5000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
