#pragma once

// The emulated ELM327 over the built-in vehicle, behind a data bridge, for
// the benchmarks that measure what a slow adapter link costs.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "obd/DataBridge.h"
#include "obd/IConnectionManager.h"
#include "obd/elm327/AdapterQuorvix.h"
#include "obd/sim/EmulatedAdapter.h"

namespace zelt::bench {

using obd::sim::Scenario;

// A serial adapter at 38400 baud: about 3840 bytes per second each way, and
// 30 ms per vehicle request.
constexpr int kBytesPerSecond = 3840;
constexpr std::chrono::milliseconds kLatency{30};

// The adapter on the far end of a data bridge, carried by a thread of its
// own as an application carries bytes to a serial port. Counts the vehicle
// requests (not the AT commands) it is sent and the bytes it carries.
class SlowAdapter {
public:
    // `latency` per vehicle request and `bytesPerSecond` each way (0: no
    // limit); with `answerWait`, the ELM327's wait after the last answer.
    explicit SlowAdapter(std::chrono::milliseconds latency = kLatency,
                         int bytesPerSecond = kBytesPerSecond, bool answerWait = false)
        : emulator_(Scenario::builtIn(), Options(latency, bytesPerSecond, answerWait)) {
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
    long bytes() const { return bytes_; }  // both ways

private:
    static obd::sim::EmulatedAdapterOptions Options(std::chrono::milliseconds latency,
                                                    int bytesPerSecond, bool answerWait) {
        obd::sim::EmulatedAdapterOptions options;
        options.latency = latency;
        options.bytesPerSecond = bytesPerSecond;
        if (answerWait) {
            options.answerWait.reset();
        }
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
            bytes_ += static_cast<long>(data.size() + answer.size());
            bridge_->set(obd::Bytes(answer.begin(), answer.end()));
        }
    }

    obd::sim::EmulatedAdapter emulator_;
    const std::shared_ptr<obd::DataBridge> bridge_ = std::make_shared<obd::DataBridge>();
    std::atomic<bool> stop_{false};
    std::atomic<long> requests_{0};
    std::atomic<long> bytes_{0};
    std::thread pump_;
};

// A root connected through a fresh adapter.
struct Connected {
    explicit Connected(std::chrono::milliseconds latency = kLatency,
                       int bytesPerSecond = kBytesPerSecond, bool answerWait = false)
        : adapter(latency, bytesPerSecond, answerWait) {
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

}  // namespace zelt::bench
