// The repositories over the simulated core and its built-in vehicle: real
// services, real events on the core's own thread.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "obd/ServiceBuilders.h"
#include "obd/sim/SimulatedQuorvix.h"
#include "zelt/RoutineRepository.h"

namespace {

using obd::sim::SimulatedQuorvix;

// Counts connection events. Attached after a repository was built, it hears
// each event after the repository did: one dispatcher thread delivers every
// event to the services in the order they were built.
class EventWitness : public obd::IConnectionServiceObserver {
public:
    explicit EventWitness(const std::shared_ptr<obd::IQuorvix>& root)
        : service_(obd::ConnectionServiceBuilder::create(root)) {
        service_->attach(this);
    }
    ~EventWitness() override { service_->detach(this); }

    void onConnectionOpened() override { count(); }
    void onEcuChanged() override { count(); }
    void onConnectionClosed() override { count(); }

    void waitFor(int events) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return events_ >= events; });
    }

private:
    void count() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++events_;
        changed_.notify_all();
    }

    std::shared_ptr<obd::IConnectionService> service_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int events_ = 0;
};

class DefaultVehicleTest : public ::testing::Test {
protected:
    std::shared_ptr<SimulatedQuorvix> root_ = SimulatedQuorvix::create();
};

TEST_F(DefaultVehicleTest, RoutineRepositoryRunsTheLeakTestAndForgetsItOnReconnect) {
    zelt::RoutineRepository routines(root_);
    EventWitness witness(root_);
    EXPECT_FALSE(routines.isConnected());
    ASSERT_TRUE(root_->openConnection());
    witness.waitFor(1);
    EXPECT_TRUE(routines.isConnected());

    auto listed = routines.getTestRoutines(false);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0]->id, 1);
    EXPECT_EQ(listed[0]->name, "Evaporative System Leak Test");
    EXPECT_EQ(listed[0]->status, obd::TestRoutineStatus::Available);

    auto activated = routines.activateTestRoutine(1);
    ASSERT_NE(activated, nullptr);
    EXPECT_EQ(activated->status, obd::TestRoutineStatus::Completed);
    EXPECT_EQ(routines.getTestRoutines(false)[0], activated);
    EXPECT_EQ(routines.activateTestRoutine(7), nullptr);

    // Closing empties the cache; a closed vehicle lists nothing.
    root_->closeConnection();
    witness.waitFor(2);
    EXPECT_TRUE(routines.getTestRoutines(false).empty());

    // A new connection starts with the routine not yet run.
    ASSERT_TRUE(root_->openConnection());
    witness.waitFor(3);
    listed = routines.getTestRoutines(false);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0]->status, obd::TestRoutineStatus::Available);
}

TEST_F(DefaultVehicleTest, RepositoriesMayBeDestroyedWhileEventsFly) {
    std::atomic<bool> stop{false};
    std::thread driver([&] {
        while (!stop) {
            root_->openConnection();
            root_->selectEcu(0x7E9);
            root_->closeConnection();
        }
    });
    for (int i = 0; i < 100; ++i) {
        zelt::RoutineRepository routines(root_);
        routines.getTestRoutines(false);
    }
    stop = true;
    driver.join();
}

}  // namespace
