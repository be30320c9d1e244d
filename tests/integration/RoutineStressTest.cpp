// RoutineRepository under concurrent listing and activation while the
// simulated vehicle's connection opens, closes and switches ECU on the core's
// event thread.

#include <gtest/gtest.h>

#include "StressHarness.h"
#include "zelt/RoutineRepository.h"

namespace zelt::stress {
namespace {

using Routines = std::vector<std::shared_ptr<obd::TestRoutineDataModel>>;

// The engine ECU offers routine 1; no ECU offers routine 7.
constexpr int kOffered = 1;
constexpr int kNotOffered = 7;

class RoutineStressTest : public RepositoryStressTest<RoutineRepository> {
protected:
    // Ids ascend, and each record is one the core listed or handed out from
    // an activation of that id.
    void checkRoutines(const Routines& routines) {
        for (std::size_t i = 0; i < routines.size(); ++i) {
            const auto& routine = routines[i];
            const std::string described = Describe(routine);
            violations_.check(
                routine && (answered("IRoutineService::getTestRoutines", "each", described) ||
                            answered("IRoutineService::activateTestRoutine",
                                     std::to_string(routine->id), described)),
                [&] { return "a routine record the core never gave: " + described; });
            if (i > 0 && routine && routines[i - 1]) {
                violations_.check(routines[i - 1]->id < routine->id, [&] {
                    return "routines out of order: " + DescribeList(routines);
                });
            }
        }
    }

    void callAnyGetter(Random& random, Tally& tally, Keeper& keeper) {
        switch (Pick(random, 4)) {
            case 0:
            case 1: {
                const bool refresh = Chance(random, 30);
                const Routines routines = repository_.getTestRoutines(refresh);
                tally.add("list refresh", refresh);
                tally.add("list empty", !refresh && routines.empty());
                checkRoutines(routines);
                if (Chance(random, 10)) {
                    keeper.keep(random, [routines] { return DescribeList(routines); });
                }
                break;
            }
            case 2: {
                tally.add("activate");
                const auto activated = repository_.activateTestRoutine(kOffered);
                if (activated) {
                    expectAnswered("IRoutineService::activateTestRoutine", std::to_string(kOffered),
                                   Describe(activated));
                    keeper.keep(random, [activated] { return Describe(activated); });
                }
                break;
            }
            default:
                tally.add("activate");
                violations_.check(repository_.activateTestRoutine(kNotOffered) == nullptr, [] {
                    return std::string("a routine no ECU offers was activated");
                });
                break;
        }
    }
};

TEST_F(RoutineStressTest, ListingsAndActivationsStayWholeAndKeepTheCacheRulesUnderEvents) {
    const Storm storm =
        runStorm("events and clears", [&](Random& random, Tally& tally, Keeper& keeper,
                                          std::size_t) { callAnyGetter(random, tally, keeper); });

    // Every activation reaches the core; the list at most once per clearing
    // and refresh, or again after an empty answer, which is not stored.
    EXPECT_EQ(root_->count("IRoutineService::activateTestRoutine"), storm.calls["activate"]);
    EXPECT_LE(root_->count("IRoutineService::getTestRoutines"),
              FetchLimit(storm.clearings, storm.calls["list refresh"], storm.calls["list empty"]));

    // Quiet vehicle: once listed, the routines come from the cache, the very
    // records, however many threads ask.
    driver_.openOn(VehicleDriver::kEngine);
    const Routines first = repository_.getTestRoutines(false);
    ASSERT_EQ(first.size(), 1u);
    runQuiet("quiet vehicle, refresh false", {"IRoutineService::getTestRoutines"},
             [&](Random&, Tally&, std::size_t) {
                 violations_.check(repository_.getTestRoutines(false) == first, [] {
                     return std::string("the cached routines came back as other records");
                 });
             });

    // Callers released together onto an emptied cache share one fetch.
    herd([&] { return Identity(repository_.getTestRoutines(false)); },
         {"IRoutineService::getTestRoutines"});
    expectNoViolations();
}

TEST_F(RoutineStressTest, RepositoriesComeAndGoWhileEventsFly) {
    churn([](RoutineRepository& repository, Random& random, Keeper& keeper) {
        const Routines routines = repository.getTestRoutines(Chance(random, 50));
        const auto activated = repository.activateTestRoutine(kOffered);
        keeper.keep(random,
                    [routines, activated] { return DescribeList(routines) + Describe(activated); });
    });
}

}  // namespace
}  // namespace zelt::stress
