// EcuRepository under concurrent getters while the simulated vehicle's
// connection opens, closes and switches ECU on the core's event thread.

#include <gtest/gtest.h>

#include <map>

#include "StressHarness.h"
#include "zelt/EcuRepository.h"

namespace zelt::stress {
namespace {

using Items = std::vector<std::shared_ptr<InfoDataModel>>;
using Parameters = std::vector<std::shared_ptr<ParameterModel>>;

constexpr const char* kNotSupported = "Not supported by the vehicle";

// The support test the repository asks for each optional item id.
const std::map<std::int32_t, std::string> kOptionalItemTests = {
    {8, "IEcuService::isErotanSupported"},
    {9, "IEcuService::isGtrNumberSupported"},
    {10, "IEcuService::isFueledEngineOperationSupported"},
    {11, "IEcuService::isCertificationTestGroupSupported"},
    {12, "IEcuService::isDistanceTraveledSinceEvapSupported"},
    {13, "IEcuService::isMotorcycleCategoryTypeApprovalSupported"},
};

// The read whose text each single item holds.
const std::map<std::int32_t, std::string> kItemReads = {
    {0, "IEcuService::readStandard"},
    {1, "IEcuService::readProtocol"},
    {2, "IEcuService::readEcuName"},
    {3, "IEcuService::readEcuDescription"},
    {4, "IEcuService::readVin"},
    {7, "IEcuService::readEsn"},
    {8, "IEcuService::readErotan"},
    {9, "IEcuService::readGtrNumber"},
    {10, "IEcuService::readFueledEngineOperation"},
    {11, "IEcuService::readCertificationTestGroup"},
    {12, "IEcuService::readDistanceTraveledSinceEvap"},
    {13, "IEcuService::readMotorcycleCategoryTypeApproval"},
};

// The items of one id, in order.
Items ItemsWithId(const Items& items, std::int32_t id) {
    Items run;
    for (const auto& item : items) {
        if (item && item->id == id) {
            run.push_back(item);
        }
    }
    return run;
}

class EcuStressTest : public RepositoryStressTest<EcuRepository> {
protected:
    // The ids ascend, every item holds a text the core read, and the
    // calibration items of each kind are one whole list of the core.
    void checkInfo(const Items& info) {
        for (std::size_t i = 0; i < info.size(); ++i) {
            const auto& item = info[i];
            if (!item) {
                violations_.add("getEcuInfo listed a null item");
                continue;
            }
            if (i > 0 && info[i - 1]) {
                const std::int32_t before = info[i - 1]->id;
                violations_.check(
                    before < item->id || (before == item->id && (before == 5 || before == 6)), [&] {
                        return "getEcuInfo ids out of order: " + std::to_string(before) +
                               " before " + std::to_string(item->id);
                    });
            }
            const auto read = kItemReads.find(item->id);
            if (read == kItemReads.end()) {
                continue;
            }
            if (item->id >= 4 && !item->fromVehicle) {
                violations_.check(item->value == kNotSupported, [&] {
                    return "a not-supported item with a text of the vehicle: " + Describe(item);
                });
            } else {
                expectAnswered(read->second, "", Describe(item->value));
            }
        }
        for (const auto& [id, call] : {std::make_pair(5, "IEcuService::readCalids"),
                                       std::make_pair(6, "IEcuService::readCvns")}) {
            const Items run = ItemsWithId(info, id);
            if (run.size() == 1 && !run.front()->fromVehicle) {
                violations_.check(run.front()->value == kNotSupported, [&] {
                    return "a not-supported item with a text of the vehicle: " +
                           Describe(run.front());
                });
                continue;
            }
            std::vector<std::string> texts;
            for (const auto& item : run) {
                texts.push_back(item->value);
            }
            expectAnswered(call, "", DescribeList(texts));
        }
    }

    // One random getter call with random `refresh`, its answer checked and
    // sometimes kept.
    void callAnyGetter(Random& random, Tally& tally, Keeper& keeper, Parameters& lastParameters) {
        const bool refresh = Chance(random, 30);
        switch (Pick(random, 4)) {
            case 0: {
                tally.add("getEcuInfo");
                tally.add("getEcuInfo refresh", refresh);
                const Items info = repository_.getEcuInfo(refresh);
                checkInfo(info);
                if (Chance(random, 10)) {
                    keeper.keep(random, [info] { return DescribeList(info); });
                }
                break;
            }
            case 1: {
                tally.add("getIdentificationNumber refresh", refresh);
                const auto vin = repository_.getIdentificationNumber(refresh);
                if (vin) {
                    expectAnswered("IEcuService::readVin", "", Describe(*vin));
                }
                break;
            }
            case 2: {
                tally.add("getParameters refresh", refresh);
                lastParameters = repository_.getParameters(refresh);
                expectAnswered("IEcuService::readParameters", "",
                               DescribeList(lastParameters, Readings::Left));
                if (Chance(random, 10)) {
                    keeper.keep(random, [parameters = lastParameters] {
                        return DescribeList(parameters, Readings::Included);
                    });
                }
                break;
            }
            default:
                if (!lastParameters.empty()) {
                    tally.add("isSupported");
                    repository_.isSupported(AnyOf(random, lastParameters));
                }
                break;
        }
    }
};

TEST_F(EcuStressTest, GettersGiveWholeAnswersAndKeepTheCacheRulesUnderEvents) {
    std::vector<Parameters> lastParameters(static_cast<std::size_t>(StormLimits().threads));
    const Storm storm = runStorm(
        "events and clears", [&](Random& random, Tally& tally, Keeper& keeper, std::size_t thread) {
            callAnyGetter(random, tally, keeper, lastParameters[thread]);
        });

    // The four uncached items are asked exactly once per getEcuInfo call;
    // every cached value is fetched at most once per refresh and per
    // clearing (an event or clearCache), plus the first time.
    const Tally& calls = storm.calls;
    for (const char* uncached : {"IEcuService::readStandard", "IEcuService::readProtocol",
                                 "IEcuService::readEcuName", "IEcuService::readEcuDescription"}) {
        EXPECT_EQ(root_->count(uncached), calls["getEcuInfo"]) << uncached;
    }
    EXPECT_LE(root_->count("IEcuService::isVinSupported"),
              FetchLimit(storm.clearings,
                         calls["getEcuInfo refresh"] + calls["getIdentificationNumber refresh"]));
    for (const char* listed : {"IEcuService::isCalidSupported", "IEcuService::isCvnSupported",
                               "IEcuService::isEsnSupported"}) {
        EXPECT_LE(root_->count(listed), FetchLimit(storm.clearings, calls["getEcuInfo refresh"]))
            << listed;
    }
    EXPECT_LE(root_->count("IEcuService::readParameters"),
              FetchLimit(storm.clearings, calls["getParameters refresh"]));
    EXPECT_EQ(root_->count("IEcuService::isParameterSupported"), calls["isSupported"]);

    // Quiet vehicle, filled caches: concurrent calls with refresh false are
    // served from the cache, with the very records cached, and only the
    // uncached items and the unsupported optional items reach the core.
    driver_.openOn(VehicleDriver::kEngine);
    const Items firstInfo = repository_.getEcuInfo(false);
    const Parameters firstParameters = repository_.getParameters(false);
    ASSERT_FALSE(firstParameters.empty());
    std::vector<std::string> cached = {"IEcuService::isVinSupported",   "IEcuService::readVin",
                                       "IEcuService::isCalidSupported", "IEcuService::readCalids",
                                       "IEcuService::isCvnSupported",   "IEcuService::readCvns",
                                       "IEcuService::isEsnSupported",   "IEcuService::readEsn",
                                       "IEcuService::readParameters"};
    std::vector<std::string> askedEveryTime = {"IEcuService::readStandard"};
    for (const auto& [id, test] : kOptionalItemTests) {
        (ItemsWithId(firstInfo, id).empty() ? askedEveryTime : cached).push_back(test);
    }
    std::vector<std::string> watched = cached;
    watched.insert(watched.end(), askedEveryTime.begin(), askedEveryTime.end());
    runQuiet(
        "quiet vehicle, refresh false", watched, [&](Random& random, Tally& tally, std::size_t) {
            if (Chance(random, 50)) {
                for (std::string call : askedEveryTime) {
                    tally.add(call);
                }
                const Items info = repository_.getEcuInfo(false);
                violations_.check(info.size() == firstInfo.size(), [&] {
                    return "getEcuInfo(false) on a quiet vehicle changed its length: " +
                           DescribeList(info);
                });
                for (std::size_t i = 0; i < info.size() && i < firstInfo.size(); ++i) {
                    violations_.check(info[i]->id < 4 || info[i] == firstInfo[i], [&] {
                        return "getEcuInfo(false) rebuilt the cached item " + Describe(info[i]);
                    });
                }
            } else {
                violations_.check(repository_.getParameters(false) == firstParameters, [] {
                    return std::string("getParameters(false) on a filled cache gave new records");
                });
            }
        });

    // Callers released together onto an emptied cache share one fetch.
    herd(
        [&] {
            std::string identity;
            for (const auto& item : repository_.getEcuInfo(false)) {
                identity += item->id >= 4 ? Identity(item) : "";
            }
            return identity + Identity(repository_.getParameters(false));
        },
        cached);
    expectNoViolations();
}

TEST_F(EcuStressTest, RepositoriesComeAndGoWhileEventsFly) {
    churn([](EcuRepository& repository, Random& random, Keeper& keeper) {
        const Items info = repository.getEcuInfo(Chance(random, 50));
        const Parameters parameters = repository.getParameters(Chance(random, 50));
        keeper.keep(random, [info, parameters] {
            return DescribeList(info) + DescribeList(parameters, Readings::Included);
        });
    });
}

}  // namespace
}  // namespace zelt::stress
