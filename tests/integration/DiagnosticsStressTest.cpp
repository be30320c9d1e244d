// DiagnosticsRepository under concurrent getters while the simulated
// vehicle's connection opens, closes and switches ECU on the core's event
// thread.

#include <gtest/gtest.h>

#include <map>

#include "StressHarness.h"
#include "zelt/DiagnosticsRepository.h"

namespace zelt::stress {
namespace {

using Location = obd::OxygenSensorLocation;
using Readiness = DiagnosticsRepository::ReadinessMonitors;
using OperationData = DiagnosticsRepository::VehicleOperationData;

// The engine ECU has sensors 1 and 2 of bank 1; bank 2 has none.
const std::vector<Location> kLocations = {Location::Bank1Sensor1, Location::Bank1Sensor2,
                                          Location::Bank2Sensor1};

// The items of getVehicleOperationData, in their fixed order.
const std::vector<std::string> kOperationDataItems = {
    "IDiagnosticsService::getVodEngineRunIdleTime", "IDiagnosticsService::getVodFuelDistanceUsed",
    "IDiagnosticsService::getVodPkeEoe", "IDiagnosticsService::getVodPsa"};

// The lists without arguments: how the test names them, and their core call.
const std::vector<std::pair<std::string, std::string>> kLists = {
    {"since reset", "IDiagnosticsService::getReadinessMonitorsSinceReset"},
    {"this cycle", "IDiagnosticsService::getReadinessMonitorsThisCycle"},
    {"monitors", "IDiagnosticsService::getDiagnosticMonitors"},
    {"counters", "IDiagnosticsService::getPerformanceCounters"},
    {"locations", "IDiagnosticsService::getOxygenSensorLocations"},
};

// A readiness list holds every monitor of the engine's ignition type: the
// three continuous ones and eight (spark) or six (compression) others.
bool IsWholeReadiness(const Readiness& monitors) {
    return monitors.empty() || monitors.size() == 3 + 8 || monitors.size() == 3 + 6;
}

class DiagnosticsStressTest : public RepositoryStressTest<DiagnosticsRepository> {
protected:
    // The list getter `name` as one text, answered with `refresh`.
    std::string getList(const std::string& name, bool refresh, Keeper* keeper, Random& random) {
        std::string answer;
        std::function<std::string()> describe;
        if (name == "since reset" || name == "this cycle") {
            const Readiness monitors = name == "since reset"
                                           ? repository_.getReadinessMonitorsSinceReset(refresh)
                                           : repository_.getReadinessMonitorsThisCycle(refresh);
            violations_.check(IsWholeReadiness(monitors), [&] {
                return "a readiness list without its full monitor count: " + DescribeList(monitors);
            });
            describe = [monitors] { return DescribeList(monitors); };
        } else if (name == "monitors") {
            describe = [monitors = repository_.getDiagnosticMonitors(refresh)] {
                return DescribeList(monitors);
            };
        } else if (name == "counters") {
            describe = [counters = repository_.getPerformanceCounters(refresh)] {
                return DescribeList(counters);
            };
        } else {
            describe = [locations = repository_.getOxygenSensorLocations(refresh)] {
                return DescribeList(locations);
            };
        }
        if (keeper && Chance(random, 10)) {
            keeper->keep(random, describe);
        }
        return describe();
    }

    // The items come in their fixed order, each one whole answer of its call.
    void checkOperationData(const OperationData& items) {
        std::size_t next = 0;
        for (const auto& item : items) {
            const std::string described = Describe(item);
            std::size_t found = next;
            while (found < kOperationDataItems.size() &&
                   !answered(kOperationDataItems[found], "", described)) {
                ++found;
            }
            violations_.check(item && found < kOperationDataItems.size(), [&] {
                return "getVehicleOperationData gave an item out of order or not from the "
                       "core: " +
                       DescribeList(items);
            });
            next = found + 1;
        }
    }

    void callAnyGetter(Random& random, Tally& tally, Keeper& keeper) {
        const bool refresh = Chance(random, 30);
        switch (Pick(random, 4)) {
            case 0: {
                const auto& [name, call] = AnyOf(random, kLists);
                tally.add(name + " refresh", refresh);
                expectAnswered(call, "", getList(name, refresh, &keeper, random));
                break;
            }
            case 1: {
                const Location location = AnyOf(random, kLocations);
                const auto monitors = repository_.getOxygenSensorMonitors(location, refresh);
                tally.add("oxygen refresh", refresh);
                tally.add("oxygen empty", !refresh && monitors.empty());
                for (const auto& monitor : monitors) {
                    violations_.check(monitor && monitor->location == location, [&] {
                        return "an oxygen sensor monitor of another location: " + Describe(monitor);
                    });
                }
                expectAnswered("IDiagnosticsService::getOxygenSensorMonitors", Describe(location),
                               DescribeList(monitors));
                break;
            }
            case 2:
                tally.add("complete refresh", refresh);
                repository_.areOxygenSensorMonitorsComplete(refresh);
                break;
            default: {
                tally.add("operation data refresh", refresh);
                const OperationData items = repository_.getVehicleOperationData(refresh);
                checkOperationData(items);
                if (Chance(random, 10)) {
                    keeper.keep(random, [items] { return DescribeList(items); });
                }
                break;
            }
        }
    }
};

TEST_F(DiagnosticsStressTest, GettersGiveWholeAnswersAndKeepTheCacheRulesUnderEvents) {
    const Storm storm =
        runStorm("events and clears", [&](Random& random, Tally& tally, Keeper& keeper,
                                          std::size_t) { callAnyGetter(random, tally, keeper); });

    // Every list and item is fetched at most once per clearing and refresh;
    // this cycle's readiness asks for the since-reset list without
    // refreshing it. A refresh of one oxygen sensor location drops the
    // cached lists of all, and an empty list is not stored.
    const Tally& calls = storm.calls;
    const std::uint64_t clearings = storm.clearings;
    for (const auto& [name, call] : kLists) {
        EXPECT_LE(root_->count(call), FetchLimit(clearings, calls[name + " refresh"])) << name;
    }
    EXPECT_LE(root_->count("IDiagnosticsService::areOxygenSensorMonitorsComplete"),
              FetchLimit(clearings, calls["complete refresh"]));
    for (std::string item : kOperationDataItems) {
        EXPECT_LE(root_->count(item), FetchLimit(clearings, calls["operation data refresh"]))
            << item;
    }
    EXPECT_LE(root_->count("IDiagnosticsService::getOxygenSensorMonitors"),
              FetchLimit(clearings + calls["oxygen refresh"], calls["oxygen refresh"],
                         calls["oxygen empty"], kLocations.size()));

    // Quiet vehicle: after one round with refresh false the same calls from
    // several threads do not reach the core, except for a location without
    // monitors, and give the very records.
    driver_.openOn(VehicleDriver::kEngine);
    Random warmUp(seed_);
    std::map<std::string, std::string> first;
    for (const auto& [name, call] : kLists) {
        first[name] = getList(name, false, nullptr, warmUp);
    }
    std::map<Location, DiagnosticsRepository::OxygenSensorMonitors> firstMonitors;
    for (Location location : kLocations) {
        firstMonitors[location] = repository_.getOxygenSensorMonitors(location, false);
    }
    ASSERT_FALSE(firstMonitors.at(Location::Bank1Sensor1).empty());
    const bool firstComplete = repository_.areOxygenSensorMonitorsComplete(false);
    const OperationData firstData = repository_.getVehicleOperationData(false);
    ASSERT_FALSE(firstData.empty());
    std::vector<std::string> watched = {"IDiagnosticsService::getOxygenSensorMonitors",
                                        "IDiagnosticsService::areOxygenSensorMonitorsComplete"};
    for (const auto& list : kLists) {
        watched.push_back(list.second);
    }
    watched.insert(watched.end(), kOperationDataItems.begin(), kOperationDataItems.end());
    runQuiet(
        "quiet vehicle, refresh false", watched, [&](Random& random, Tally& tally, std::size_t) {
            switch (Pick(random, 4)) {
                case 0: {
                    const std::string& name = AnyOf(random, kLists).first;
                    violations_.check(getList(name, false, nullptr, random) == first.at(name),
                                      [&] { return "the cached " + name + " list changed"; });
                    break;
                }
                case 1: {
                    const Location location = AnyOf(random, kLocations);
                    const auto& expected = firstMonitors.at(location);
                    // A location without monitors is asked every time.
                    tally.add("IDiagnosticsService::getOxygenSensorMonitors", expected.empty());
                    violations_.check(
                        repository_.getOxygenSensorMonitors(location, false) == expected,
                        [] { return std::string("cached oxygen sensor monitors changed"); });
                    break;
                }
                case 2:
                    violations_.check(
                        repository_.areOxygenSensorMonitorsComplete(false) == firstComplete,
                        [] { return std::string("the cached completeness changed"); });
                    break;
                default:
                    violations_.check(repository_.getVehicleOperationData(false) == firstData, [] {
                        return std::string(
                            "cached vehicle operation data came back as other records");
                    });
                    break;
            }
        });

    // Callers released together onto an emptied cache share one fetch.
    herd(
        [&] {
            return Identity(repository_.getReadinessMonitorsThisCycle(false)) +
                   Identity(repository_.getReadinessMonitorsSinceReset(false)) +
                   Identity(repository_.getDiagnosticMonitors(false)) +
                   Identity(repository_.getPerformanceCounters(false)) +
                   DescribeList(repository_.getOxygenSensorLocations(false)) +
                   Identity(repository_.getOxygenSensorMonitors(Location::Bank1Sensor1, false)) +
                   std::to_string(repository_.areOxygenSensorMonitorsComplete(false)) +
                   Identity(repository_.getVehicleOperationData(false));
        },
        watched);
    expectNoViolations();
}

TEST_F(DiagnosticsStressTest, RepositoriesComeAndGoWhileEventsFly) {
    churn([](DiagnosticsRepository& repository, Random& random, Keeper& keeper) {
        const Readiness monitors = repository.getReadinessMonitorsThisCycle(Chance(random, 50));
        const OperationData items = repository.getVehicleOperationData(false);
        const auto oxygen = repository.getOxygenSensorMonitors(Location::Bank1Sensor1, false);
        keeper.keep(random, [monitors, items, oxygen] {
            return DescribeList(monitors) + DescribeList(items) + DescribeList(oxygen);
        });
    });
}

}  // namespace
}  // namespace zelt::stress
