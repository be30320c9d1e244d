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

class RoutineStressTest : public StressTest {
protected:
    // Ids ascend, and each record is one the core listed or handed out from
    // an activation of that id.
    void checkRoutines(const Routines& routines) {
        for (std::size_t i = 0; i < routines.size(); ++i) {
            const auto& routine = routines[i];
            const std::string described = Describe(routine);
            violations_.check(
                routine && (root_->answered(CoreCall::RoutineGetTestRoutines, "each", described) ||
                            root_->answered(CoreCall::RoutineActivateTestRoutine,
                                            std::to_string(routine->id), described)),
                [&] { return "a routine record the core never gave: " + described; });
            if (i > 0 && routine && routines[i - 1]) {
                violations_.check(routines[i - 1]->id < routine->id, [&] {
                    return "routines out of order: " + DescribeList(routines);
                });
            }
        }
    }

    void callAnyGetter(RoutineRepository& repository, Random& random, Tally& tally,
                       Keeper& keeper) {
        switch (Pick(random, 4)) {
            case 0:
            case 1: {
                const bool refresh = Chance(random, 30);
                const Routines routines = repository.getTestRoutines(refresh);
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
                const auto activated = repository.activateTestRoutine(kOffered);
                if (activated) {
                    expectAnswered(CoreCall::RoutineActivateTestRoutine, std::to_string(kOffered),
                                   Describe(activated));
                    keeper.keep(random, [activated] { return Describe(activated); });
                }
                break;
            }
            default:
                tally.add("activate");
                violations_.check(repository.activateTestRoutine(kNotOffered) == nullptr, [] {
                    return std::string("a routine no ECU offers was activated");
                });
                break;
        }
    }
};

TEST_F(RoutineStressTest, ListingsAndActivationsStayWholeAndKeepTheCacheRulesUnderEvents) {
    RoutineRepository repository(root_);
    VehicleDriver driver(vehicle_);
    driver.open();
    const StressLimits limits = StormLimits();
    std::vector<Tally> tallies(static_cast<std::size_t>(limits.threads));
    std::vector<Keeper> keepers(tallies.size());
    std::uint64_t clears = 0;
    runWithEvents(
        "events and clears", limits, driver, 4,
        [&](Random&) {
            ++clears;
            repository.clearCache();
        },
        [&](Random& random, int thread) {
            const auto t = static_cast<std::size_t>(thread);
            callAnyGetter(repository, random, tallies[t], keepers[t]);
        });

    // Every activation reaches the core; the list at most once per clearing
    // and refresh, or again after an empty answer, which is not stored.
    const Tally calls = Tally::Sum(tallies);
    EXPECT_EQ(root_->count(CoreCall::RoutineActivateTestRoutine), calls["activate"]);
    EXPECT_LE(root_->count(CoreCall::RoutineGetTestRoutines),
              FetchLimit(clears + driver.fired(), calls["list refresh"], calls["list empty"]));

    // Quiet vehicle: once listed, the routines come from the cache, the very
    // records, however many threads ask.
    driver.openOn(VehicleDriver::kEngine);
    const Routines first = repository.getTestRoutines(false);
    ASSERT_EQ(first.size(), 1u);
    const std::uint64_t before = root_->count(CoreCall::RoutineGetTestRoutines);
    const StressCounts quiet = RunStress(
        QuietLimits(), seed_, violations_,
        [&](Random&, int) {
            violations_.check(repository.getTestRoutines(false) == first, [] {
                return std::string("the cached routines came back as other records");
            });
        },
        nullptr);
    report("quiet vehicle, refresh false", quiet);
    EXPECT_EQ(root_->count(CoreCall::RoutineGetTestRoutines), before);

    // Callers released together onto an emptied cache share one fetch.
    herd([&] { repository.clearCache(); },
         [&] { return Identity(repository.getTestRoutines(false)); },
         {CoreCall::RoutineGetTestRoutines});
    expectNoViolations(keepers);
}

TEST_F(RoutineStressTest, RepositoriesComeAndGoWhileEventsFly) {
    churn<RoutineRepository>([](RoutineRepository& repository, Random& random, Keeper& keeper) {
        const Routines routines = repository.getTestRoutines(Chance(random, 50));
        const auto activated = repository.activateTestRoutine(kOffered);
        keeper.keep(random,
                    [routines, activated] { return DescribeList(routines) + Describe(activated); });
    });
}

}  // namespace
}  // namespace zelt::stress
