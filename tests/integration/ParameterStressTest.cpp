// ParameterRepository under concurrent getters while the simulated vehicle's
// connection opens, closes and switches ECU on the core's event thread.

#include <gtest/gtest.h>

#include <map>

#include "StressHarness.h"
#include "obd/ParameterIdentifier.h"
#include "zelt/ParameterRepository.h"

namespace zelt::stress {
namespace {

using Id = obd::ParameterIdentifier::Id;
using Sensors = std::vector<std::shared_ptr<SensorModel>>;

// Parameters of both ECUs, of one only, of none (0x22) and of the adapter
// (0xF4), with one, two and three sensors.
const std::vector<Id> kAsked = {
    static_cast<Id>(0x05), static_cast<Id>(0x0C), static_cast<Id>(0x0D),
    static_cast<Id>(0x14), static_cast<Id>(0x1C), static_cast<Id>(0x21),
    static_cast<Id>(0x22), static_cast<Id>(0x7F), static_cast<Id>(0xF4),
};

Id AnyAsked(Random& random) {
    return AnyOf(random, kAsked);
}

class ParameterStressTest : public StressTest {
protected:
    // Every sensor belongs to the parameter asked for.
    void checkSensorsOf(Id pid, const Sensors& sensors, const char* getter) {
        for (const auto& sensor : sensors) {
            violations_.check(sensor && obd::Uid2Pid(sensor->uid) == pid, [&] {
                return std::string(getter) + "(" + Describe(pid) +
                       ") gave a sensor of another parameter: " + Describe(sensor, Readings::Left);
            });
        }
    }

    void callAnyGetter(ParameterRepository& repository, Random& random, Tally& tally,
                       Keeper& keeper) {
        switch (Pick(random, 3)) {
            case 0: {
                const auto pids = repository.getPids();
                tally.add("getPids empty", pids.empty());
                expectAnswered(CoreCall::SensorGetPids, "", DescribeList(pids));
                break;
            }
            case 1: {
                const Id pid = AnyAsked(random);
                const auto parameter = repository.getParameter(pid);
                tally.add("getParameter null", parameter == nullptr);
                if (parameter) {
                    violations_.check(parameter->pid == pid, [&] {
                        return "getParameter(" + Describe(pid) +
                               ") gave another parameter: " + Describe(parameter, Readings::Left);
                    });
                    checkSensorsOf(pid, parameter->sensors, "getParameter");
                    expectAnswered(CoreCall::SensorGetParameter, Describe(pid),
                                   Describe(parameter, Readings::Left));
                    if (Chance(random, 10)) {
                        keeper.keep(random, [parameter] {
                            return Describe(parameter, Readings::Included);
                        });
                    }
                }
                break;
            }
            default: {
                const Id pid = AnyAsked(random);
                tally.add("getValues");
                const Sensors values = repository.getValues(pid, Chance(random, 50));
                checkSensorsOf(pid, values, "getValues");
                expectAnswered(CoreCall::SensorGetSensors, Describe(pid),
                               DescribeList(values, Readings::Left));
                if (Chance(random, 10)) {
                    keeper.keep(random,
                                [values] { return DescribeList(values, Readings::Included); });
                }
                break;
            }
        }
    }
};

TEST_F(ParameterStressTest, GettersGiveWholeAnswersAndKeepTheCacheRulesUnderEvents) {
    ParameterRepository repository(root_);
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

    // Values are read anew on every call; the PID list and each parameter
    // are fetched once per clearing, except that an empty list or a missing
    // parameter is not stored (and was handed out as such).
    const Tally calls = Tally::Sum(tallies);
    const std::uint64_t clearings = clears + driver.fired();
    EXPECT_EQ(root_->count(CoreCall::SensorGetSensors), calls["getValues"]);
    EXPECT_LE(root_->count(CoreCall::SensorGetPids),
              FetchLimit(clearings, 0, calls["getPids empty"]));
    EXPECT_LE(root_->count(CoreCall::SensorGetParameter),
              FetchLimit(clearings, 0, calls["getParameter null"], kAsked.size()));

    // Quiet vehicle, filled caches: the PID list and the parameters the
    // vehicle has come from the cache, the very records; a parameter it
    // lacks is asked for every time.
    driver.openOn(VehicleDriver::kEngine);
    const auto firstPids = repository.getPids();
    ASSERT_FALSE(firstPids.empty());
    std::map<Id, std::shared_ptr<ParameterModel>> first;
    for (Id pid : kAsked) {
        first[pid] = repository.getParameter(pid);
    }
    ASSERT_EQ(first.at(static_cast<Id>(0x22)), nullptr);
    const std::uint64_t pidsBefore = root_->count(CoreCall::SensorGetPids);
    const std::uint64_t parametersBefore = root_->count(CoreCall::SensorGetParameter);
    const std::uint64_t valuesBefore = root_->count(CoreCall::SensorGetSensors);
    std::vector<Tally> quietTallies(tallies.size());
    const StressCounts quiet = RunStress(
        QuietLimits(), seed_, violations_,
        [&](Random& random, int thread) {
            Tally& tally = quietTallies[static_cast<std::size_t>(thread)];
            const Id pid = AnyAsked(random);
            switch (Pick(random, 3)) {
                case 0:
                    violations_.check(repository.getPids() == firstPids, [] {
                        return std::string("getPids() on a filled cache gave another list");
                    });
                    break;
                case 1:
                    tally.add("getParameter missing", first.at(pid) == nullptr);
                    violations_.check(repository.getParameter(pid) == first.at(pid), [&] {
                        return "getParameter(" + Describe(pid) +
                               ") on a filled cache gave another record";
                    });
                    break;
                default:
                    tally.add("getValues");
                    repository.getValues(pid, false);
                    break;
            }
        },
        nullptr);
    report("quiet vehicle", quiet);
    const Tally quietCalls = Tally::Sum(quietTallies);
    EXPECT_EQ(root_->count(CoreCall::SensorGetPids), pidsBefore);
    EXPECT_EQ(root_->count(CoreCall::SensorGetParameter),
              parametersBefore + quietCalls["getParameter missing"]);
    EXPECT_EQ(root_->count(CoreCall::SensorGetSensors), valuesBefore + quietCalls["getValues"]);

    // Callers released together onto an emptied cache share one fetch.
    herd([&] { repository.clearCache(); },
         [&] {
             return DescribeList(repository.getPids()) +
                    Identity(repository.getParameter(static_cast<Id>(0x0C)));
         },
         {CoreCall::SensorGetPids, CoreCall::SensorGetParameter});
    expectNoViolations(keepers);
}

TEST_F(ParameterStressTest, RepositoriesComeAndGoWhileEventsFly) {
    churn<ParameterRepository>([](ParameterRepository& repository, Random& random, Keeper& keeper) {
        repository.getPids();
        const auto parameter = repository.getParameter(AnyAsked(random));
        const Sensors values = repository.getValues(AnyAsked(random), false);
        keeper.keep(random, [parameter, values] {
            return Describe(parameter, Readings::Included) +
                   DescribeList(values, Readings::Included);
        });
    });
}

}  // namespace
}  // namespace zelt::stress
