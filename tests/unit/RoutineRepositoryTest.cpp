#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>

#include "AllocationFaults.h"
#include "CoreMocks.h"
#include "CoreRecords.h"
#include "GettersDuringEvents.h"
#include "zelt/RoutineRepository.h"

namespace {

using ::testing::_;
using ::testing::ElementsAre;
using ::testing::InSequence;
using ::testing::Return;
using ::testing::StrictMock;
using zelt::RoutineRepository;
using zelt::testing::FakeRoot;
using zelt::testing::MakeRoutine;
using zelt::testing::MockRoutineService;
using Routine = std::shared_ptr<obd::TestRoutineDataModel>;

class RoutineRepositoryTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeRoot> root = std::make_shared<FakeRoot>();
    std::shared_ptr<MockRoutineService> service = root->routines;
};

// --- the cache (the frame: RepositoryFrameTest) ------------------------------

TEST_F(RoutineRepositoryTest, CacheHitDoesNotCallTheCoreAndReturnsTheSameRecords) {
    RoutineRepository repository(root);
    const Routine routine = MakeRoutine(1);
    EXPECT_CALL(*service, getTestRoutines())
        .Times(1)
        .WillOnce(Return(MockRoutineService::Routines{routine}));

    auto first = repository.getTestRoutines(false);
    auto second = repository.getTestRoutines(false);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].get(), routine.get());
    EXPECT_EQ(first, second);
}

TEST_F(RoutineRepositoryTest, RefreshAsksTheCoreEveryTimeAndReplacesTheEntry) {
    RoutineRepository repository(root);
    const Routine before = MakeRoutine(4, "before");
    const Routine after = MakeRoutine(4, "after");
    EXPECT_CALL(*service, getTestRoutines())
        .WillOnce(Return(MockRoutineService::Routines{before}))
        .WillOnce(Return(MockRoutineService::Routines{after}));

    repository.getTestRoutines(true);
    EXPECT_THAT(repository.getTestRoutines(true), ElementsAre(after));
}

TEST_F(RoutineRepositoryTest, CoreExceptionPassesThroughAndLeavesTheCacheAsItWas) {
    RoutineRepository repository(root);
    const Routine kept = MakeRoutine(2);
    EXPECT_CALL(*service, getTestRoutines())
        .WillOnce(Return(MockRoutineService::Routines{kept}))
        .WillOnce([]() -> MockRoutineService::Routines { throw std::runtime_error("bus error"); });

    repository.getTestRoutines(false);
    EXPECT_THROW(
        {
            try {
                repository.getTestRoutines(true);
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "bus error");
                throw;
            }
        },
        std::runtime_error);
    // The mutex was released and the slot still holds the earlier answer.
    EXPECT_THAT(repository.getTestRoutines(false), ElementsAre(kept));
}

TEST_F(RoutineRepositoryTest, ClearCacheWaitsForAGetterRunningOnTheSameSlot) {
    RoutineRepository repository(root);
    std::promise<void> insideCore;
    std::promise<void> releaseCore;
    auto release = releaseCore.get_future().share();
    EXPECT_CALL(*service, getTestRoutines())
        .WillOnce([&] {
            insideCore.set_value();
            release.wait();
            return MockRoutineService::Routines{MakeRoutine(1)};
        })
        .WillOnce(Return(MockRoutineService::Routines{MakeRoutine(9)}));

    auto getter = std::async(std::launch::async, [&] { return repository.getTestRoutines(false); });
    insideCore.get_future().wait();

    std::atomic<bool> cleared{false};
    auto clearer = std::async(std::launch::async, [&] {
        repository.clearCache();
        cleared = true;
    });
    // clearCache cannot finish while the getter holds the slot.
    EXPECT_EQ(clearer.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    EXPECT_FALSE(cleared);
    releaseCore.set_value();
    EXPECT_EQ(getter.get().size(), 1u);
    clearer.get();

    // The clearing ran after the fill, so the next call asks the core again.
    EXPECT_EQ(repository.getTestRoutines(false).at(0)->id, 9);
}

TEST_F(RoutineRepositoryTest, EventsFromAnotherThreadWhileGettersRun) {
    RoutineRepository repository(root);
    std::atomic<int> calls{0};
    ON_CALL(*service, getTestRoutines).WillByDefault([&] {
        ++calls;
        return MockRoutineService::Routines{MakeRoutine(1), MakeRoutine(2)};
    });
    ON_CALL(*service, activateTestRoutine).WillByDefault([](int id) { return MakeRoutine(id); });

    zelt::testing::RunGettersDuringEvents(*root->connection, 300, 100, [&](int round, int t) {
        auto routines = repository.getTestRoutines(round % 3 == t);
        for (const auto& routine : routines) {
            EXPECT_TRUE(routine->id == 1 || routine->id == 2);
        }
        if (round % 10 == 0) {
            repository.activateTestRoutine(2);
        }
    });
    EXPECT_GT(calls.load(), 0);
}

// --- routines ----------------------------------------------------------------

TEST_F(RoutineRepositoryTest, ListIsOrderedByIdentifier) {
    RoutineRepository repository(root);
    EXPECT_CALL(*service, getTestRoutines())
        .WillOnce(
            Return(MockRoutineService::Routines{MakeRoutine(5), MakeRoutine(1), MakeRoutine(3)}));
    std::vector<int> ids;
    for (const auto& routine : repository.getTestRoutines(false)) {
        ids.push_back(routine->id);
    }
    EXPECT_THAT(ids, ElementsAre(1, 3, 5));
}

TEST_F(RoutineRepositoryTest, LaterRecordWithTheSameIdentifierWins) {
    RoutineRepository repository(root);
    const Routine later = MakeRoutine(7, "later");
    EXPECT_CALL(*service, getTestRoutines())
        .WillOnce(Return(MockRoutineService::Routines{MakeRoutine(7, "earlier"), later}));
    EXPECT_THAT(repository.getTestRoutines(false), ElementsAre(later));
}

TEST_F(RoutineRepositoryTest, RefreshMergesSoDroppedAndEmptyAnswersKeepCachedRoutines) {
    RoutineRepository repository(root);
    const Routine one = MakeRoutine(1), two = MakeRoutine(2), twoNew = MakeRoutine(2);
    EXPECT_CALL(*service, getTestRoutines())
        .WillOnce(Return(MockRoutineService::Routines{one, two}))
        .WillOnce(Return(MockRoutineService::Routines{twoNew}))
        .WillOnce(Return(MockRoutineService::Routines{}));

    repository.getTestRoutines(false);
    EXPECT_THAT(repository.getTestRoutines(true), ElementsAre(one, twoNew));
    EXPECT_THAT(repository.getTestRoutines(true), ElementsAre(one, twoNew));
}

TEST_F(RoutineRepositoryTest, AllocationFailingMidMergeLeavesTheCacheAsItWas) {
#ifdef _WIN32
    // A DLL keeps its own operator new: the test binary's replacement cannot
    // reach the library's allocations, only its own, which would fail here.
    GTEST_SKIP() << "allocations inside the library cannot be intercepted on Windows";
#endif
    RoutineRepository repository(root);
    const Routine kept = MakeRoutine(1);
    std::unique_ptr<zelt::testing::FailingAllocation> failing;
    EXPECT_CALL(*service, getTestRoutines())
        .WillOnce(Return(MockRoutineService::Routines{kept}))
        .WillOnce([&] {
            MockRoutineService::Routines answer{MakeRoutine(2), MakeRoutine(3)};
            // The second allocation from here on lands inside the merge.
            failing = std::make_unique<zelt::testing::FailingAllocation>(2);
            return answer;
        });

    repository.getTestRoutines(false);
    EXPECT_THROW(repository.getTestRoutines(true), std::bad_alloc);
    if (!failing->fired()) {
        GTEST_SKIP() << "allocations inside the library cannot be intercepted here";
    }
    failing.reset();
    EXPECT_THAT(repository.getTestRoutines(false), ElementsAre(kept));
}

TEST_F(RoutineRepositoryTest, EmptyListIsNotCached) {
    RoutineRepository repository(root);
    EXPECT_CALL(*service, getTestRoutines())
        .Times(2)
        .WillRepeatedly(Return(MockRoutineService::Routines{}));
    EXPECT_TRUE(repository.getTestRoutines(false).empty());
    EXPECT_TRUE(repository.getTestRoutines(false).empty());
}

TEST_F(RoutineRepositoryTest, ActivationResultReplacesTheListedRoutine) {
    RoutineRepository repository(root);
    const Routine listed = MakeRoutine(3), activated = MakeRoutine(3, "done");
    EXPECT_CALL(*service, getTestRoutines())
        .WillOnce(Return(MockRoutineService::Routines{MakeRoutine(1), listed}));
    EXPECT_CALL(*service, activateTestRoutine(3)).WillOnce(Return(activated));

    repository.getTestRoutines(false);
    EXPECT_EQ(repository.activateTestRoutine(3), activated);
    EXPECT_EQ(repository.getTestRoutines(false).at(1), activated);
}

TEST_F(RoutineRepositoryTest, ActivationIsFiledUnderTheAskedIdentifier) {
    auto strict = std::make_shared<StrictMock<MockRoutineService>>();
    root->routines = strict;
    RoutineRepository repository(root);
    const Routine answer = MakeRoutine(42);  // the core's record names another id
    EXPECT_CALL(*strict, activateTestRoutine(6)).WillOnce(Return(answer));

    repository.activateTestRoutine(6);
    // The cache is no longer empty, so the list is not asked for.
    EXPECT_THAT(repository.getTestRoutines(false), ElementsAre(answer));
}

TEST_F(RoutineRepositoryTest, NullActivationChangesNothing) {
    RoutineRepository repository(root);
    const Routine listed = MakeRoutine(3);
    EXPECT_CALL(*service, getTestRoutines()).WillOnce(Return(MockRoutineService::Routines{listed}));
    EXPECT_CALL(*service, activateTestRoutine(3)).WillOnce(Return(nullptr));

    repository.getTestRoutines(false);
    EXPECT_EQ(repository.activateTestRoutine(3), nullptr);
    EXPECT_THAT(repository.getTestRoutines(false), ElementsAre(listed));
}

}  // namespace
