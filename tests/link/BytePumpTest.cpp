#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "obd/DataBridge.h"
#include "obd/elm327/AdapterQuorvix.h"
#include "obd/sim/EmulatedAdapter.h"
#include "zelt/link/BytePump.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using obd::elm327::AdapterQuorvix;
using zelt::link::BytePump;

// The emulated adapter as a transport: what the pump sends is answered at
// once. Once `chatter()` is on, every receive() also brings bytes of its
// own (prompts included, as an adapter that keeps printing), so that a pump
// that does not stop would go on reading for ever.
class EmulatorTransport : public zelt::link::ITransport {
public:
    bool send(const std::uint8_t* data, std::size_t size) override {
        const std::string answer =
            adapter_.receive(std::string(reinterpret_cast<const char*>(data), size));
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.insert(pending_.end(), answer.begin(), answer.end());
        changed_.notify_all();
        return true;
    }

    bool receive(Bytes& data) override {
        std::unique_lock<std::mutex> lock(mutex_);
        ++receives_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !pending_.empty() || woken_ || chatter_; });
        woken_ = false;
        data.swap(pending_);
        pending_.clear();
        if (chatter_) {
            const std::string noise = "?\r\r>";
            data.insert(data.end(), noise.begin(), noise.end());
        }
        return true;
    }

    void wake() override {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
        changed_.notify_all();
    }

    void chatter() {
        std::lock_guard<std::mutex> lock(mutex_);
        chatter_ = true;
        changed_.notify_all();
    }

    // Waits until receive() has been entered `count` times in all; false if
    // that does not happen within `patience`.
    bool awaitReceives(int count, std::chrono::milliseconds patience) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return receives_ >= count; });
    }
    int receives() {
        std::lock_guard<std::mutex> lock(mutex_);
        return receives_;
    }

private:
    obd::sim::EmulatedAdapter adapter_{obd::sim::Scenario::builtIn()};
    std::mutex mutex_;
    std::condition_variable changed_;
    Bytes pending_;
    bool woken_ = false;
    bool chatter_ = false;
    int receives_ = 0;
};

// A peer that never stops: every read brings another `chunk`, by default
// 4 KiB without a prompt.
class FloodTransport : public zelt::link::ITransport {
public:
    explicit FloodTransport(std::string chunk = std::string(4096, 'A'))
        : chunk_(std::move(chunk)) {}
    bool send(const std::uint8_t*, std::size_t) override { return true; }
    bool receive(Bytes& data) override {
        ++reads;
        data.assign(chunk_.begin(), chunk_.end());
        return true;
    }
    void wake() override {}

    std::atomic<int> reads{0};

private:
    const std::string chunk_;
};

// Counts the bytes the core's end of a bridge was handed.
class ReceivedBytes : public obd::IConnectionLogger {
public:
    void onDataSent(const Bytes&) override {}
    void onDataReceived(const Bytes& data) override { total += data.size(); }
    std::atomic<std::size_t> total{0};
};

std::shared_ptr<obd::IDataBridge> DataBridgeOf(BytePump& pump) {
    return std::dynamic_pointer_cast<obd::IDataBridge>(pump.bridge().getConnection());
}

TEST(BytePumpTest, AFloodWithoutPromptIsCutAtTheAnswerBoundWithAReason) {
    auto root = AdapterQuorvix::create();
    auto flood = std::make_unique<FloodTransport>();
    FloodTransport& peer = *flood;
    BytePump pump(root->getConnectionManager(), std::move(flood));
    ReceivedBytes received;
    DataBridgeOf(pump)->addLogger(&received);

    // Opening waits for the adapter's prompt; the pump gives the link up
    // first, so the opening fails at once instead of at its timeout.
    EXPECT_FALSE(pump.bridge().connect(obd::DataLinkProtocol::Automatic, true));
    EXPECT_THAT(pump.lostReason(), ::testing::HasSubstr("65536 bytes without a prompt"));
    EXPECT_FALSE(pump.bridge().isValid());
    EXPECT_LE(received.total.load(), 64u * 1024u);
    EXPECT_LE(peer.reads.load(), 64 * 1024 / 4096 + 1) << "the pump stopped reading";
    DataBridgeOf(pump)->removeLogger(&received);
}

// Answers nobody asked for, each with its prompt, pass the pump's bound on
// one answer. Nobody reads them here: the bridge holds up to its bound,
// then gives the link up, and the pump says why and stops reading.
TEST(BytePumpTest, AnswersNobodyAskedForAreHeldUpToTheBridgesBound) {
    auto root = AdapterQuorvix::create();
    std::string answers;
    while (answers.size() < 4096) {
        answers += "?\r\r>";
    }
    auto chatter = std::make_unique<FloodTransport>(answers);
    FloodTransport& peer = *chatter;
    BytePump pump(root->getConnectionManager(), std::move(chatter));
    ReceivedBytes held;
    DataBridgeOf(pump)->addLogger(&held);

    for (int i = 0; i < 500 && pump.bridge().isValid(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(pump.bridge().isValid());
    // Copied first: the assertion takes a reference, which a DLL's
    // constant cannot give on Windows.
    const std::size_t bound = obd::DataBridge::kMaxIncomingBytes;
    EXPECT_LE(held.total.load(), bound);
    EXPECT_THAT(pump.lostReason(), ::testing::HasSubstr("65536 bytes of answers nobody asked for"));
    EXPECT_LE(peer.reads.load(), 64 * 1024 / 4096 + 2) << "the pump stopped reading";
    DataBridgeOf(pump)->removeLogger(&held);
}

TEST(BytePumpTest, ClosingTheConnectionStopsTheReading) {
    auto root = AdapterQuorvix::create();
    auto transport = std::make_unique<EmulatorTransport>();
    EmulatorTransport& adapter = *transport;
    BytePump pump(root->getConnectionManager(), std::move(transport));
    ASSERT_TRUE(pump.bridge().connect(obd::DataLinkProtocol::Automatic, true));
    ASSERT_FALSE(root->getEcuAddresses().empty());

    root->closeConnection();
    // The close reaches the pump on the core's event thread: it invalidates
    // its bridge and stops reading the adapter.
    for (int i = 0; i < 500 && pump.bridge().isValid(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(pump.bridge().isValid());
    adapter.chatter();
    const int before = adapter.receives();
    EXPECT_FALSE(adapter.awaitReceives(before + 2, std::chrono::milliseconds(500)))
        << "the pump kept reading after the connection closed";
    EXPECT_FALSE(pump.bridge().isValid());
    EXPECT_EQ(pump.lostReason(), "") << "a close the application asked for is no loss";
}

}  // namespace
