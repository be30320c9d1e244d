#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "obd/DataBridge.h"
#include "obd/ServiceBuilders.h"
#include "obd/sim/SimulatedQuorvix.h"

namespace {

using obd::sim::SimulatedQuorvix;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::Ne;

// Records events with the thread they arrived on; waits for a count.
class Recorder {
public:
    void add(const std::string& event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(event);
        threads_.push_back(std::this_thread::get_id());
        changed_.notify_all();
    }
    std::vector<std::string> waitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return events_.size() >= count; });
        return events_;
    }
    std::vector<std::thread::id> threads() {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
    std::vector<std::thread::id> threads_;
};

class RecordingObserver : public obd::IConnectionServiceObserver {
public:
    void onConnectionOpened() override { recorder.add("opened"); }
    void onEcuChanged() override { recorder.add("ecu changed"); }
    void onConnectionClosed() override { recorder.add("closed"); }
    Recorder recorder;
};

class CoreEventsTest : public ::testing::Test {
protected:
    std::shared_ptr<SimulatedQuorvix> root_ = SimulatedQuorvix::create();
    std::shared_ptr<obd::IConnectionService> connection_ =
        obd::ConnectionServiceBuilder::create(root_);
};

TEST_F(CoreEventsTest, EventsArriveInOrderOnACoreThreadOfTheirOwn) {
    RecordingObserver observer;
    connection_->attach(&observer);
    ASSERT_TRUE(root_->openConnection());
    EXPECT_TRUE(root_->openConnection());  // already open: no second event
    EXPECT_TRUE(root_->selectEcu(0x7E9));
    EXPECT_TRUE(root_->selectEcu(0x7E9));  // no change: no event
    EXPECT_FALSE(root_->selectEcu(0x7EA));
    root_->closeConnection();
    root_->closeConnection();
    EXPECT_THAT(observer.recorder.waitFor(3), ElementsAre("opened", "ecu changed", "closed"));
    EXPECT_THAT(observer.recorder.threads(), Each(Ne(std::this_thread::get_id())));
    connection_->detach(&observer);
}

class BlockingObserver : public obd::IConnectionServiceObserver {
public:
    void onConnectionOpened() override {
        ++calls;
        entered.set_value();
        release.get_future().wait();
        if (detachReturned) {
            ranAfterDetachReturned = true;
        }
    }
    void onEcuChanged() override { ++calls; }
    void onConnectionClosed() override { ++calls; }

    std::promise<void> entered;
    std::promise<void> release;
    std::atomic<bool> detachReturned{false};
    std::atomic<bool> ranAfterDetachReturned{false};
    std::atomic<int> calls{0};
};

TEST_F(CoreEventsTest, DetachWaitsForARunningDeliveryAndEndsDeliveries) {
    BlockingObserver blocking;
    RecordingObserver witness;
    connection_->attach(&blocking);
    connection_->attach(&witness);
    // Opening returns only once its event was delivered, so it waits for the
    // blocked observer on a thread of its own.
    std::thread opener([&] { EXPECT_TRUE(root_->openConnection()); });
    blocking.entered.get_future().wait();

    std::promise<void> detaching;
    std::thread detacher([&] {
        detaching.set_value();
        connection_->detach(&blocking);
        blocking.detachReturned = true;
    });
    detaching.get_future().wait();
    blocking.release.set_value();
    detacher.join();
    opener.join();
    EXPECT_FALSE(blocking.ranAfterDetachReturned);

    root_->closeConnection();
    EXPECT_THAT(witness.recorder.waitFor(2), ElementsAre("opened", "closed"));
    EXPECT_EQ(blocking.calls, 1);
    connection_->detach(&witness);
}

// Runs `act` on the root from inside its first opened event.
class ActingObserver : public obd::IConnectionServiceObserver {
public:
    explicit ActingObserver(std::function<void()> act) : act_(std::move(act)) {}
    void onConnectionOpened() override {
        recorder.add("opened");
        if (!acted_.exchange(true)) {
            act_();  // a change made here must not wait for this very thread
        }
    }
    void onEcuChanged() override { recorder.add("ecu changed"); }
    void onConnectionClosed() override { recorder.add("closed"); }
    Recorder recorder;

private:
    std::function<void()> act_;
    std::atomic<bool> acted_{false};
};

// A call that waits for its events returns at once on the event thread, and
// the connection manager waits outside its lock: neither deadlocks.
TEST_F(CoreEventsTest, ObserverMayChangeTheConnectionFromItsHandler) {
    struct Case {
        const char* what;
        std::function<void(SimulatedQuorvix&)> act;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"select",
         [](SimulatedQuorvix& root) { root.selectEcu(0x7E9); },
         {"opened", "ecu changed"}},
        {"close", [](SimulatedQuorvix& root) { root.closeConnection(); }, {"opened", "closed"}},
        {"manager close",
         [](SimulatedQuorvix& root) { root.getConnectionManager()->closeConnection(); },
         {"opened", "closed"}},
    };
    for (const Case& c : cases) {
        const auto root = SimulatedQuorvix::create();
        const auto connection = obd::ConnectionServiceBuilder::create(root);
        ActingObserver observer([&] { c.act(*root); });
        connection->attach(&observer);
        auto opening = std::async(std::launch::async, [&] { return root->openConnection(); });
        if (opening.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            std::fprintf(stderr, "%s from an observer deadlocked\n", c.what);
            std::_Exit(1);  // the threads cannot be joined
        }
        EXPECT_TRUE(opening.get()) << c.what;
        EXPECT_EQ(observer.recorder.waitFor(c.events.size()), c.events) << c.what;
        connection->detach(&observer);
    }
}

class SelfDetachingObserver : public obd::IConnectionServiceObserver {
public:
    explicit SelfDetachingObserver(obd::IConnectionService& service) : service_(service) {}
    void onConnectionOpened() override {
        ++calls;
        service_.detach(this);  // must not wait for itself
    }
    void onEcuChanged() override { ++calls; }
    void onConnectionClosed() override { ++calls; }
    std::atomic<int> calls{0};

private:
    obd::IConnectionService& service_;
};

TEST_F(CoreEventsTest, ObserverMayDetachFromInsideItsHandler) {
    SelfDetachingObserver self(*connection_);
    RecordingObserver witness;
    connection_->attach(&self);
    connection_->attach(&witness);
    ASSERT_TRUE(root_->openConnection());
    root_->closeConnection();
    EXPECT_THAT(witness.recorder.waitFor(2), ElementsAre("opened", "closed"));
    EXPECT_EQ(self.calls, 1);
    EXPECT_EQ(connection_->getObserverCount(), 1u);
    connection_->detach(&witness);
}

TEST_F(CoreEventsTest, EveryConnectionServiceOfTheRootHearsTheEvents) {
    auto second = root_->createConnectionService();
    RecordingObserver first;
    RecordingObserver other;
    connection_->attach(&first);
    second->attach(&other);
    ASSERT_TRUE(root_->openConnection());
    EXPECT_THAT(first.recorder.waitFor(1), ElementsAre("opened"));
    EXPECT_THAT(other.recorder.waitFor(1), ElementsAre("opened"));
    EXPECT_TRUE(second->isConnected());
    EXPECT_EQ(second->getSelectedEcu(), 0x7E8u);
    connection_->detach(&first);
    second->detach(&other);
}

class CountingObserver : public obd::IConnectionServiceObserver {
public:
    void onConnectionOpened() override { ++count; }
    void onEcuChanged() override { ++count; }
    void onConnectionClosed() override { ++count; }
    int count = 0;  // only touched on the dispatcher thread while attached
};

TEST_F(CoreEventsTest, ServicesAndObserversMayDieWhileEventsFly) {
    std::atomic<bool> stop{false};
    std::thread driver([&] {
        while (!stop) {
            root_->openConnection();
            root_->selectEcu(0x7E9);
            root_->closeConnection();
        }
    });
    for (int i = 0; i < 200; ++i) {
        auto service = root_->createConnectionService();
        auto observer = std::make_unique<CountingObserver>();
        service->attach(observer.get());
        service->detach(observer.get());
        observer.reset();  // no delivery may reach it any more
        service.reset();   // queued events for it are dropped
    }
    stop = true;
    driver.join();
}

class PhaseRecorder : public obd::IConnectionPhaseListener {
public:
    void onPhaseChanged(obd::ConnectionPhase phase) override {
        recorder.add(std::to_string(static_cast<int>(phase)));
    }
    Recorder recorder;
};

TEST_F(CoreEventsTest, ConnectionManagerReportsPhasesAndOpensTheVehicle) {
    auto manager = root_->getConnectionManager();
    EXPECT_EQ(manager, root_->getConnectionManager());
    PhaseRecorder listener;
    manager->addPhaseListener(&listener);
    auto bridge = std::make_shared<obd::DataBridge>();
    manager->attachBridge(bridge);

    // The vehicle speaks CAN 11/500 (6): CAN 29/500 (7) alone fails.
    EXPECT_FALSE(
        manager->openConnection(bridge, obd::DataLinkProtocol::Iso15765Can29Bit500k, false));
    EXPECT_FALSE(root_->isConnectionOpen());
    EXPECT_TRUE(manager->openConnection(bridge, obd::DataLinkProtocol::Iso15765Can29Bit500k, true));
    EXPECT_TRUE(manager->isConnectionOpen());
    EXPECT_EQ(manager->getProtocol(), obd::DataLinkProtocol::Iso15765Can11Bit500k);
    ASSERT_NE(manager->getAdapter(), nullptr);
    EXPECT_EQ(manager->getAdapter()->getName(), "ELM327");
    manager->closeConnection();
    EXPECT_FALSE(root_->isConnectionOpen());

    // 1 initialising, 5 failed; 1, 2 searching, 3 open; 4 closing, 0 closed.
    EXPECT_THAT(listener.recorder.waitFor(7), ElementsAre("1", "5", "1", "2", "3", "4", "0"));
    manager->removePhaseListener(&listener);
    manager->detachBridge(bridge);

    // One dispatcher keeps the order: once the witness hears of the closing,
    // the phases before it have been delivered, to nobody.
    RecordingObserver witness;
    connection_->attach(&witness);
    EXPECT_TRUE(
        manager->openConnection(bridge, obd::DataLinkProtocol::Iso15765Can11Bit500k, false));
    manager->closeConnection();
    witness.recorder.waitFor(2);
    EXPECT_EQ(listener.recorder.waitFor(0).size(), 7u);
    connection_->detach(&witness);
}

}  // namespace
