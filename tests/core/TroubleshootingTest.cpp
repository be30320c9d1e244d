#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "obd/ServiceBuilders.h"
#include "obd/sim/SimulatedQuorvix.h"

namespace {

using obd::MessageDirection;
using obd::sim::SimulatedQuorvix;
using ::testing::ElementsAre;

class LogRecorder : public obd::ITroubleshootingServiceObserver {
public:
    void onLogEntryAdded(const std::shared_ptr<obd::MessageDataModel>& entry) override {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(entry);
        threads_.push_back(std::this_thread::get_id());
        added_.notify_all();
    }
    std::vector<std::shared_ptr<obd::MessageDataModel>> waitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        added_.wait(lock, [&] { return entries_.size() >= count; });
        return entries_;
    }
    std::vector<std::thread::id> threads() {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_;
    }

private:
    std::mutex mutex_;
    std::condition_variable added_;
    std::vector<std::shared_ptr<obd::MessageDataModel>> entries_;
    std::vector<std::thread::id> threads_;
};

class TroubleshootingTest : public ::testing::Test {
protected:
    TroubleshootingTest() {
        root_->openConnection();
        service_->attach(&log_);
    }
    ~TroubleshootingTest() override { service_->detach(&log_); }

    std::shared_ptr<SimulatedQuorvix> root_ = SimulatedQuorvix::create();
    std::shared_ptr<obd::IConnectionService> connection_ =
        obd::ConnectionServiceBuilder::create(root_);
    std::shared_ptr<obd::ITroubleshootingService> service_ =
        obd::TroubleshootingServiceBuilder::create(root_, connection_);
    LogRecorder log_;
};

TEST_F(TroubleshootingTest, AnswersAdapterCommandsAndRawRequests) {
    EXPECT_EQ(service_->sendMessage("ATI", 100), "ELM327 v1.5");
    EXPECT_EQ(service_->sendMessage("at@1", 100), "OBDII to RS232 Interpreter");
    const std::string volts = service_->sendMessage("ATRV", 100);
    ASSERT_EQ(volts.size(), 5u);  // e.g. "14.2V"
    EXPECT_EQ(volts.back(), 'V');
    EXPECT_GE(std::stod(volts), 14.0);
    EXPECT_LE(std::stod(volts), 14.5);
    EXPECT_EQ(service_->sendMessage("ATDP", 100), "ISO 15765-4 (CAN 11/500)");
    EXPECT_EQ(service_->sendMessage("ATXYZ", 100), "?");
    // Both ECUs support the PID list and answer the broadcast, one line each.
    EXPECT_EQ(service_->sendMessage("01 00", 100), "41 00 BE 3F B8 13\n41 00 80 18 00 10");
    EXPECT_EQ(service_->sendMessage("ATH1", 100), "OK");
    EXPECT_EQ(service_->sendMessage("0100", 100), "7E8 41 00 BE 3F B8 13\n7E9 41 00 80 18 00 10");
    EXPECT_EQ(service_->sendMessage("09 02", 100),
              "7E8 49 02 01 57 42 41 33 42 35 43 35 31 46 4B 31 32 33 34 35 36");
    EXPECT_EQ(service_->sendMessage("01 0A", 100), "NO DATA");
    EXPECT_EQ(service_->sendMessage("01 0", 100), "?");
    root_->closeConnection();
    EXPECT_EQ(service_->sendMessage("ATI", 100), "");
}

TEST_F(TroubleshootingTest, DataLogReportsEveryRequestAndAnswerInSequence) {
    EXPECT_FALSE(service_->isDataLogEnabled());
    auto sensors = obd::SensorServiceBuilder::create(root_, connection_);
    sensors->getPids();                 // the support bitmaps, kept for the connection
    service_->sendMessage("ATI", 100);  // not logged: the log is off
    service_->enableDataLog();
    EXPECT_TRUE(service_->isDataLogEnabled());
    service_->sendMessage("ATI", 100);
    service_->sendMessage("01 1C", 100);
    // Requests of the other services are logged too.
    sensors->getParameter(obd::ParameterIdentifier::Id::DistanceWithMilOn);
    service_->disableDataLog();
    service_->sendMessage("ATRV", 100);
    service_->enableDataLog();
    root_->selectEcu(0x7E9);

    const auto entries = log_.waitFor(8);
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i]->sequence, i + 1);
        texts.push_back(entries[i]->text);
    }
    EXPECT_THAT(texts, ElementsAre("ATI", "ELM327 v1.5", "01 1C", "7E8 41 1C 06", "7E9 41 1C 06",
                                   "7E0 01 21", "7E8 41 21 00 9A", "ECU 7E9 selected"));
    EXPECT_EQ(entries[0]->direction, MessageDirection::Request);
    EXPECT_EQ(entries[1]->direction, MessageDirection::Response);
    EXPECT_EQ(entries[7]->direction, MessageDirection::Info);
    for (std::thread::id thread : log_.threads()) {
        EXPECT_NE(thread, std::this_thread::get_id());
    }
}

// Holds the event thread in its first log entry until released.
struct BlockingLog : obd::ITroubleshootingServiceObserver {
    void onLogEntryAdded(const std::shared_ptr<obd::MessageDataModel>&) override {
        if (!held.exchange(true)) {
            entered.set_value();
        }
        released.wait();
    }
    std::atomic<bool> held{false};
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
};

// Selecting the selected ECU changes nothing: no wait for the event thread.
TEST_F(TroubleshootingTest, SelectingTheSelectedEcuAgainWaitsForNoEvent) {
    BlockingLog busy;
    service_->attach(&busy);
    service_->enableDataLog();
    service_->sendMessage("ATI", 100);
    busy.entered.get_future().wait();
    auto again = std::async(std::launch::async, [&] { return root_->selectEcu(0x7E8); });
    const bool returned = again.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    busy.release.set_value();
    EXPECT_TRUE(returned && again.get());
    service_->detach(&busy);
}

}  // namespace
