// Finding the rate of an adapter on a serial port: at each rate, ask it for
// its identification and listen for its prompt.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "orvane/Mutex.h"
#include "zelt/link/Address.h"
#include "zelt/link/Transport.h"

namespace zelt::link {

namespace {

// Whether the adapter answers "ATI" with its prompt within `timeout`. At a
// wrong rate it hears noise and what it prints reaches us as noise too: only
// an answer that ends in the prompt counts.
bool AnswersWithPrompt(ITransport& transport, std::chrono::milliseconds timeout) {
    static const std::uint8_t kProbe[] = {'A', 'T', 'I', '\r'};
    if (!transport.send(kProbe, sizeof kProbe)) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // receive() waits without a limit: an alarm wakes it at the deadline.
    orvane::Mutex mutex;
    std::condition_variable finished;
    bool done = false;  // guarded by mutex
    std::thread alarm([&] {
        orvane::UniqueLock lock(mutex);
        while (!done) {
            if (!lock.waitUntil(finished, deadline)) {
                if (!done) {
                    transport.wake();
                }
                return;
            }
        }
    });
    bool prompt = false;
    std::vector<std::uint8_t> data;
    while (!prompt && std::chrono::steady_clock::now() < deadline) {
        if (!transport.receive(data)) {
            break;
        }
        if (!data.empty()) {
            prompt = data.back() == '>';
        }
    }
    {
        orvane::MutexLock lock(mutex);
        done = true;
    }
    finished.notify_one();
    alarm.join();
    return prompt;
}

}  // namespace

std::vector<int> ProbedBaudRates() {
    const std::vector<int> supported = SupportedBaudRates();
    std::vector<int> rates;
    for (int rate : {38400, 9600, 115200, 57600, 230400, 500000}) {
        if (std::find(supported.begin(), supported.end(), rate) != supported.end()) {
            rates.push_back(rate);
        }
    }
    return rates;
}

std::unique_ptr<ITransport> OpenSerialTransportFindingRate(const std::string& device,
                                                           std::chrono::milliseconds probeTimeout,
                                                           int& baudRate) {
    std::string tried;
    for (int rate : ProbedBaudRates()) {
        auto transport = OpenSerialTransport(device, rate);
        if (AnswersWithPrompt(*transport, probeTimeout)) {
            baudRate = rate;
            return transport;
        }
        tried += (tried.empty() ? "" : ", ") + std::to_string(rate);
    }
    throw std::runtime_error("no adapter answered on " + device + " at " + tried +
                             " baud (give the rate: serial:" + device + ":BAUD)");
}

}  // namespace zelt::link
