// Reading live data over a slow adapter link: the emulated ELM327 behind a
// data bridge, carrying about 3840 bytes per second (38400 baud) each way
// and taking 30 ms per vehicle request, as a serial adapter does. Each case
// runs once with one PID per request and once with up to six PIDs per
// request; run-benchmarks.py prints the ratio.
//
// Counters: readings/s or scans/s (what the caller gets per second) and
// requests/s (vehicle requests the adapter answered per second).

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "obd/DataBridge.h"
#include "obd/IConnectionManager.h"
#include "obd/IEcuService.h"
#include "obd/ISensorService.h"
#include "obd/elm327/AdapterQuorvix.h"
#include "obd/sim/EmulatedAdapter.h"

namespace {

using obd::sim::Scenario;

constexpr int kBytesPerSecond = 3840;
constexpr std::chrono::milliseconds kLatency{30};
constexpr int kLiveReadings = 100;

// The adapter on the far end of a data bridge, carried by a thread of its
// own as an application carries bytes to a serial port. Counts the vehicle
// requests (not the AT commands) it is sent.
class SlowAdapter {
public:
    SlowAdapter() : emulator_(Scenario::builtIn(), Options()) {
        pump_ = std::thread([this] { run(); });
    }
    ~SlowAdapter() {
        stop_ = true;
        pump_.join();
    }
    SlowAdapter(const SlowAdapter&) = delete;
    SlowAdapter& operator=(const SlowAdapter&) = delete;

    const std::shared_ptr<obd::DataBridge>& bridge() const { return bridge_; }
    long requests() const { return requests_; }

private:
    static obd::sim::EmulatedAdapterOptions Options() {
        obd::sim::EmulatedAdapterOptions options;
        options.latency = kLatency;
        options.bytesPerSecond = kBytesPerSecond;
        return options;
    }

    void run() {
        obd::Bytes data;
        std::string command;
        while (!stop_) {
            if (!bridge_->get(data)) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                continue;
            }
            for (std::uint8_t byte : data) {
                if (byte != '\r') {
                    command += static_cast<char>(byte);
                    continue;
                }
                if (command.rfind("AT", 0) != 0) {
                    ++requests_;
                }
                command.clear();
            }
            const std::string answer = emulator_.receive(std::string(data.begin(), data.end()));
            bridge_->set(obd::Bytes(answer.begin(), answer.end()));
        }
    }

    obd::sim::EmulatedAdapter emulator_;
    const std::shared_ptr<obd::DataBridge> bridge_ = std::make_shared<obd::DataBridge>();
    std::atomic<bool> stop_{false};
    std::atomic<long> requests_{0};
    std::thread pump_;
};

// A root connected through a fresh slow adapter.
struct Connected {
    Connected() {
        if (!root->getConnectionManager()->openConnection(adapter.bridge(),
                                                          obd::DataLinkProtocol::Automatic, true)) {
            root.reset();
        }
    }
    ~Connected() {
        if (root) {
            root->getConnectionManager()->closeConnection();
        }
    }

    SlowAdapter adapter;
    std::shared_ptr<obd::elm327::AdapterQuorvix> root = obd::elm327::AdapterQuorvix::create();
};

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
