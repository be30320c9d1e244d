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

class ParameterStressTest : public RepositoryStressTest<ParameterRepository> {
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

    void callAnyGetter(Random& random, Tally& tally, Keeper& keeper) {
        switch (Pick(random, 3)) {
            case 0: {
                const auto pids = repository_.getPids();
                tally.add("getPids empty", pids.empty());
                expectAnswered("ISensorService::getPids", "", DescribeList(pids));
                break;
            }
            case 1: {
                const Id pid = AnyAsked(random);
                const auto parameter = repository_.getParameter(pid);
                tally.add("getParameter null", parameter == nullptr);
                if (parameter) {
                    violations_.check(parameter->pid == pid, [&] {
                        return "getParameter(" + Describe(pid) +
                               ") gave another parameter: " + Describe(parameter, Readings::Left);
                    });
                    checkSensorsOf(pid, parameter->sensors, "getParameter");
                    expectAnswered("ISensorService::getParameter", Describe(pid),
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
                const Sensors values = repository_.getValues(pid, Chance(random, 50));
                checkSensorsOf(pid, values, "getValues");
                expectAnswered("ISensorService::getSensors", Describe(pid),
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
    const Storm storm =
        runStorm("events and clears", [&](Random& random, Tally& tally, Keeper& keeper,
                                          std::size_t) { callAnyGetter(random, tally, keeper); });

    // Values are read anew on every call; the PID list and each parameter
    // are fetched once per clearing, except that an empty list or a missing
    // parameter is not stored (and was handed out as such).
    EXPECT_EQ(root_->count("ISensorService::getSensors"), storm.calls["getValues"]);
    EXPECT_LE(root_->count("ISensorService::getPids"),
              FetchLimit(storm.clearings, 0, storm.calls["getPids empty"]));
    EXPECT_LE(root_->count("ISensorService::getParameter"),
              FetchLimit(storm.clearings, 0, storm.calls["getParameter null"], kAsked.size()));

    // Quiet vehicle, filled caches: the PID list and the parameters the
    // vehicle has come from the cache, the very records; a parameter it
    // lacks is asked for every time.
    driver_.openOn(VehicleDriver::kEngine);
    const auto firstPids = repository_.getPids();
    ASSERT_FALSE(firstPids.empty());
    std::map<Id, std::shared_ptr<ParameterModel>> first;
    for (Id pid : kAsked) {
        first[pid] = repository_.getParameter(pid);
    }
    ASSERT_EQ(first.at(static_cast<Id>(0x22)), nullptr);
    runQuiet(
        "quiet vehicle",
        {"ISensorService::getPids", "ISensorService::getParameter", "ISensorService::getSensors"},
        [&](Random& random, Tally& tally, std::size_t) {
            const Id pid = AnyAsked(random);
            switch (Pick(random, 3)) {
                case 0:
                    violations_.check(repository_.getPids() == firstPids, [] {
                        return std::string("getPids() on a filled cache gave another list");
                    });
                    break;
                case 1:
                    tally.add("ISensorService::getParameter", first.at(pid) == nullptr);
                    violations_.check(repository_.getParameter(pid) == first.at(pid), [&] {
                        return "getParameter(" + Describe(pid) +
                               ") on a filled cache gave another record";
                    });
                    break;
                default:
                    tally.add("ISensorService::getSensors");
                    repository_.getValues(pid, false);
                    break;
            }
        });

    // Callers released together onto an emptied cache share one fetch.
    herd(
        [&] {
            return DescribeList(repository_.getPids()) +
                   Identity(repository_.getParameter(static_cast<Id>(0x0C)));
        },
        {"ISensorService::getPids", "ISensorService::getParameter"});
    expectNoViolations();
}

TEST_F(ParameterStressTest, RepositoriesComeAndGoWhileEventsFly) {
    churn([](ParameterRepository& repository, Random& random, Keeper& keeper) {
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
