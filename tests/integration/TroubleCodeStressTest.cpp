// TroubleCodeRepository under concurrent getters while the simulated
// vehicle's connection opens, closes and switches ECU on the core's event
// thread, and the codes are cleared in the vehicle now and then.

#include <gtest/gtest.h>

#include <map>

#include "StressHarness.h"
#include "obd/DtcReader.h"
#include "obd/ParameterIdentifier.h"
#include "zelt/TroubleCodeRepository.h"

namespace zelt::stress {
namespace {

using Id = obd::ParameterIdentifier::Id;
using Codes = TroubleCodeRepository::TroubleCodes;

struct CodeList {
    const char* name;
    TroubleCodeType type;
    std::string call;
    obd::DtcStatus status;
};
const std::vector<CodeList> kCodeLists = {
    {"confirmed", TroubleCodeType::Confirmed, "ITroubleCodeService::readConfirmedCodes",
     obd::DtcStatus::Confirmed},
    {"pending", TroubleCodeType::Pending, "ITroubleCodeService::readPendingCodes",
     obd::DtcStatus::Pending},
    {"permanent", TroubleCodeType::Permanent, "ITroubleCodeService::readPermanentCodes",
     obd::DtcStatus::Permanent},
};

// The default vehicle stores one freeze frame (0) until its codes are
// cleared; frame 1 never exists. 0x22 is in no frame.
const std::vector<std::uint8_t> kFrames = {0, 1};
const std::vector<Id> kFramePids = {static_cast<Id>(0x05), static_cast<Id>(0x0C),
                                    static_cast<Id>(0x0D), static_cast<Id>(0x22)};

// What getDistanceSince and getRuntimeSince read for each lamp state.
struct SinceSensor {
    bool distance;
    MilStatus status;
    Id pid;
};
const std::vector<SinceSensor> kSinceSensors = {
    {true, MilStatus::On, static_cast<Id>(0x21)},
    {true, MilStatus::Off, static_cast<Id>(0x31)},
    {false, MilStatus::On, static_cast<Id>(0x4D)},
    {false, MilStatus::Off, static_cast<Id>(0x4E)},
};

std::string FrameKey(std::uint8_t frame, Id pid) {
    return std::to_string(frame) + "," + Describe(pid);
}

class TroubleCodeStressTest : public RepositoryStressTest<TroubleCodeRepository> {
protected:
    Codes getList(const CodeList& list, bool refresh, bool byType) {
        if (byType) {
            return repository_.getTroubleCodes(list.type, refresh);
        }
        switch (list.type) {
            case TroubleCodeType::Confirmed:
                return repository_.getConfirmedCodes(refresh);
            case TroubleCodeType::Pending:
                return repository_.getPendingCodes(refresh);
            default:
                return repository_.getPermanentCodes(refresh);
        }
    }

    std::shared_ptr<SensorModel> getSince(const SinceSensor& since, bool refresh) {
        return since.distance ? repository_.getDistanceSince(since.status, refresh)
                              : repository_.getRuntimeSince(since.status, refresh);
    }

    void checkCodes(const CodeList& list, const Codes& codes) {
        expectAnswered(list.call, "", DescribeList(codes));
        for (const auto& code : codes) {
            violations_.check(code && code->status == list.status, [&] {
                return std::string("a code of another kind among the ") + list.name +
                       " codes: " + Describe(code);
            });
        }
    }

    void callAnyGetter(Random& random, Tally& tally, Keeper& keeper) {
        const bool refresh = Chance(random, 30);
        switch (Pick(random, 9)) {
            case 0: {
                const CodeList& list = AnyOf(random, kCodeLists);
                tally.add(std::string(list.name) + " refresh", refresh);
                const Codes codes = getList(list, refresh, Chance(random, 50));
                checkCodes(list, codes);
                if (Chance(random, 10)) {
                    keeper.keep(random, [codes] { return DescribeList(codes); });
                }
                break;
            }
            case 1:
                violations_.check(
                    repository_.getTroubleCodes(static_cast<TroubleCodeType>(3), refresh).empty(),
                    [] { return std::string("getTroubleCodes(3) gave codes"); });
                break;
            case 2: {
                const auto status = repository_.getMilStatus(refresh);
                tally.add("mil refresh", refresh);
                tally.add("mil null", !refresh && status == nullptr);
                break;
            }
            case 3: {
                const SinceSensor& since = AnyOf(random, kSinceSensors);
                const auto sensor = getSince(since, refresh);
                tally.add("since refresh", refresh);
                tally.add("since null", !refresh && sensor == nullptr);
                violations_.check(!sensor || obd::Uid2Pid(sensor->uid) == since.pid, [&] {
                    return "getDistanceSince/getRuntimeSince gave the sensor of another "
                           "parameter: " +
                           Describe(sensor, Readings::Left);
                });
                if (sensor && Chance(random, 10)) {
                    keeper.keep(random, [sensor] { return Describe(sensor, Readings::Included); });
                }
                break;
            }
            case 4: {
                const std::uint8_t frame = AnyOf(random, kFrames);
                const auto code = repository_.getFreezeFrameTroubleCode(frame, refresh);
                tally.add("frame code refresh", refresh);
                tally.add("frame code null", !refresh && code == nullptr);
                if (code) {
                    expectAnswered("ITroubleCodeService::readFreezeFrameTroubleCode",
                                   std::to_string(frame), Describe(code));
                }
                break;
            }
            case 5: {
                const std::uint8_t frame = AnyOf(random, kFrames);
                const auto pids = repository_.getFreezeFramePids(frame, refresh);
                tally.add("frame pids refresh", refresh);
                tally.add("frame pids empty", !refresh && pids.empty());
                expectAnswered("ITroubleCodeService::readFreezeFramePids", std::to_string(frame),
                               DescribeList(pids));
                break;
            }
            case 6: {
                const std::uint8_t frame = AnyOf(random, kFrames);
                const Id pid = AnyOf(random, kFramePids);
                const auto parameter = repository_.getFreezeFrameParameter(frame, pid, refresh);
                tally.add("frame parameter refresh", refresh);
                tally.add("frame parameter null", !refresh && parameter == nullptr);
                if (parameter) {
                    violations_.check(parameter->pid == pid, [&] {
                        return "getFreezeFrameParameter gave another parameter: " +
                               Describe(parameter, Readings::Included);
                    });
                    expectAnswered("ITroubleCodeService::readFreezeFrameParameter",
                                   FrameKey(frame, pid), Describe(parameter, Readings::Included));
                    if (Chance(random, 10)) {
                        keeper.keep(random, [parameter] {
                            return Describe(parameter, Readings::Included);
                        });
                    }
                }
                break;
            }
            case 7: {
                const Codes all = repository_.getAllTroubleCodes();
                violations_.check(all.size() == catalogueSize_, [&] {
                    return "getAllTroubleCodes gave " + std::to_string(all.size()) +
                           " codes instead of " + std::to_string(catalogueSize_);
                });
                break;
            }
            default:
                repository_.isConnected();
                break;
        }
    }

    const std::size_t catalogueSize_ = obd::DtcReader::getTroubleCodes().size();
};

TEST_F(TroubleCodeStressTest, GettersGiveWholeAnswersAndKeepTheCacheRulesUnderEvents) {
    std::uint64_t resets = 0;
    const Storm storm = runStorm(
        "events, clears and resets",
        [&](Random& random, Tally& tally, Keeper& keeper, std::size_t) {
            callAnyGetter(random, tally, keeper);
        },
        [&](Random& random) -> std::uint64_t {
            if (Chance(random, 10)) {
                // Empties the caches before and after asking the vehicle.
                ++resets;
                repository_.resetTroubleCodes();
                return 2;
            }
            repository_.clearCache();
            return 1;
        });

    // Each cached value is fetched at most once per key and clearing, once
    // per refresh, and once per call that got an answer not worth storing.
    const Tally& calls = storm.calls;
    const std::uint64_t clearings = storm.clearings;
    for (const CodeList& list : kCodeLists) {
        EXPECT_LE(root_->count(list.call),
                  FetchLimit(clearings, calls[std::string(list.name) + " refresh"]))
            << list.name;
    }
    EXPECT_LE(root_->count("ITroubleCodeService::readMilIndicator"),
              FetchLimit(clearings, calls["mil refresh"], calls["mil null"]));
    EXPECT_LE(
        root_->count("ISensorService::isSupported"),
        FetchLimit(clearings, calls["since refresh"], calls["since null"], kSinceSensors.size()));
    EXPECT_LE(root_->count("ITroubleCodeService::readFreezeFrameTroubleCode"),
              FetchLimit(clearings, calls["frame code refresh"], calls["frame code null"],
                         kFrames.size()));
    EXPECT_LE(root_->count("ITroubleCodeService::readFreezeFramePids"),
              FetchLimit(clearings, calls["frame pids refresh"], calls["frame pids empty"],
                         kFrames.size()));
    EXPECT_LE(root_->count("ITroubleCodeService::readFreezeFrameParameter"),
              FetchLimit(clearings, calls["frame parameter refresh"], calls["frame parameter null"],
                         kFrames.size() * kFramePids.size()));
    EXPECT_EQ(root_->count("ITroubleCodeService::clearTroubleCodes"), resets);

    // Quiet vehicle: after one round of calls with refresh false, the same
    // calls from several threads are served from the cache with the very
    // records, except for keys whose answer was not worth storing. A sensor
    // the vehicle lacks stops at the support test.
    driver_.openOn(VehicleDriver::kEngine);
    std::map<std::string, Codes> firstLists;
    for (const CodeList& list : kCodeLists) {
        firstLists[list.name] = getList(list, false, false);
    }
    const auto firstMil = repository_.getMilStatus(false);
    std::map<Id, std::shared_ptr<SensorModel>> firstSince;
    for (const SinceSensor& since : kSinceSensors) {
        firstSince[since.pid] = getSince(since, false);
    }
    std::map<std::uint8_t, std::shared_ptr<obd::DtcDataModel>> firstFrameCodes;
    std::map<std::uint8_t, std::vector<Id>> firstFramePids;
    std::map<std::string, std::shared_ptr<ParameterModel>> firstFrameParameters;
    for (std::uint8_t frame : kFrames) {
        firstFrameCodes[frame] = repository_.getFreezeFrameTroubleCode(frame, false);
        firstFramePids[frame] = repository_.getFreezeFramePids(frame, false);
        for (Id pid : kFramePids) {
            firstFrameParameters[FrameKey(frame, pid)] =
                repository_.getFreezeFrameParameter(frame, pid, false);
        }
    }
    const std::vector<std::string> watched = {"ITroubleCodeService::readConfirmedCodes",
                                              "ITroubleCodeService::readPendingCodes",
                                              "ITroubleCodeService::readPermanentCodes",
                                              "ITroubleCodeService::readMilIndicator",
                                              "ISensorService::isSupported",
                                              "ISensorService::getSensors",
                                              "ITroubleCodeService::readFreezeFrameTroubleCode",
                                              "ITroubleCodeService::readFreezeFramePids",
                                              "ITroubleCodeService::readFreezeFrameParameter"};
    runQuiet(
        "quiet vehicle, refresh false", watched, [&](Random& random, Tally& tally, std::size_t) {
            const std::uint8_t frame = AnyOf(random, kFrames);
            switch (Pick(random, 6)) {
                case 0: {
                    const CodeList& list = AnyOf(random, kCodeLists);
                    violations_.check(
                        getList(list, false, Chance(random, 50)) == firstLists.at(list.name), [&] {
                            return std::string("the cached ") + list.name +
                                   " codes came back as other records";
                        });
                    break;
                }
                case 1:
                    violations_.check(repository_.getMilStatus(false) == firstMil, [] {
                        return std::string("the cached lamp state came back as another record");
                    });
                    break;
                case 2: {
                    const SinceSensor& since = AnyOf(random, kSinceSensors);
                    const auto& first = firstSince.at(since.pid);
                    tally.add("ISensorService::isSupported", first == nullptr);
                    violations_.check(getSince(since, false) == first || !first, [&] {
                        return "the cached sensor " + Describe(since.pid) +
                               " came back as another record";
                    });
                    break;
                }
                case 3: {
                    const auto& first = firstFrameCodes.at(frame);
                    tally.add("ITroubleCodeService::readFreezeFrameTroubleCode", first == nullptr);
                    violations_.check(
                        repository_.getFreezeFrameTroubleCode(frame, false) == first || !first,
                        [] { return std::string("a cached freeze frame code changed"); });
                    break;
                }
                case 4: {
                    const auto& first = firstFramePids.at(frame);
                    tally.add("ITroubleCodeService::readFreezeFramePids", first.empty());
                    violations_.check(repository_.getFreezeFramePids(frame, false) == first, [] {
                        return std::string("cached freeze frame pids changed");
                    });
                    break;
                }
                default: {
                    const Id pid = AnyOf(random, kFramePids);
                    const auto& first = firstFrameParameters.at(FrameKey(frame, pid));
                    tally.add("ITroubleCodeService::readFreezeFrameParameter", first == nullptr);
                    violations_.check(
                        repository_.getFreezeFrameParameter(frame, pid, false) == first || !first,
                        [] { return std::string("a cached freeze frame parameter changed"); });
                    break;
                }
            }
        });

    // Callers released together onto an emptied cache share one fetch.
    herd(
        [&] {
            return Identity(repository_.getConfirmedCodes(false)) +
                   Identity(repository_.getPendingCodes(false)) +
                   Identity(repository_.getPermanentCodes(false)) +
                   Identity(repository_.getMilStatus(false)) +
                   Identity(repository_.getDistanceSince(MilStatus::Off, false));
        },
        {"ITroubleCodeService::readConfirmedCodes", "ITroubleCodeService::readPendingCodes",
         "ITroubleCodeService::readPermanentCodes", "ITroubleCodeService::readMilIndicator",
         "ISensorService::isSupported", "ISensorService::getSensors"});
    expectNoViolations();
}

TEST_F(TroubleCodeStressTest, RepositoriesComeAndGoWhileEventsFly) {
    churn([](TroubleCodeRepository& repository, Random& random, Keeper& keeper) {
        const Codes codes = repository.getConfirmedCodes(Chance(random, 50));
        const auto parameter = repository.getFreezeFrameParameter(0, static_cast<Id>(0x0C), false);
        const auto sensor = repository.getDistanceSince(MilStatus::On, false);
        keeper.keep(random, [codes, parameter, sensor] {
            return DescribeList(codes) + Describe(parameter, Readings::Included) +
                   Describe(sensor, Readings::Included);
        });
    });
}

}  // namespace
}  // namespace zelt::stress
