// DongleRepository under concurrent getters while the simulated vehicle's
// connection opens, closes and switches ECU and the troubleshooting data log
// reports every request, all on the core's event thread.

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>

#include "StressHarness.h"
#include "zelt/DongleRepository.h"

namespace zelt::stress {
namespace {

using Messages = std::vector<std::shared_ptr<obd::MessageDataModel>>;
using Id = obd::ParameterIdentifier::Id;

// Requests that the data log reports: adapter commands and vehicle requests.
const std::vector<std::string> kRequests = {"ATI", "ATRV", "01 0C", "01 0D", "09 02"};

// What one thread saw of the message list: the entry of each sequence
// number, and the last list it got.
struct MessageWatch {
    std::map<std::uint64_t, std::shared_ptr<obd::MessageDataModel>> seen;
    Messages last;
};

class DongleStressTest : public RepositoryStressTest<DongleRepository> {
protected:
    // A list holds entries with consecutive numbers, none twice. Against the
    // list this thread got before: either that one is where this one starts
    // (nothing was cleared in between), or everything here arrived after
    // everything there (the log was cleared, and entries arrive in order).
    void checkMessages(const Messages& messages, MessageWatch& watch) {
        const Messages& last = watch.last;
        const bool extendsLast = last.size() <= messages.size() &&
                                 std::equal(last.begin(), last.end(), messages.begin());
        const bool followsLast = last.empty() || messages.empty() || !messages.front() ||
                                 messages.front()->sequence > last.back()->sequence;
        violations_.check(extendsLast || followsLast, [&] {
            return "the log went back: it held " + std::to_string(last.size()) + " entries up to " +
                   std::to_string(last.back()->sequence) + ", now " +
                   std::to_string(messages.size()) + " from " +
                   std::to_string(messages.front()->sequence);
        });
        // What this thread checked before needs no second look.
        for (std::size_t i = extendsLast ? last.size() : 0; i < messages.size(); ++i) {
            if (!messages[i]) {
                violations_.add("getMessages listed a null entry");
                break;
            }
            if (i > 0 && messages[i]->sequence != messages[i - 1]->sequence + 1) {
                violations_.add(
                    "log entries lost or repeated: " + std::to_string(messages[i - 1]->sequence) +
                    " then " + std::to_string(messages[i]->sequence));
            }
            const auto [known, added] = watch.seen.emplace(messages[i]->sequence, messages[i]);
            violations_.check(added || known->second == messages[i], [&] {
                return "two log entries numbered " + std::to_string(messages[i]->sequence);
            });
        }
        watch.last = messages;
    }

    // "14.2 V" and the like: the adapter's reading with the unit.
    void checkVoltage(const std::shared_ptr<std::string>& voltage) {
        if (!voltage) {
            return;
        }
        const std::string& text = *voltage;
        const bool withUnit = text.size() > 2 && text.compare(text.size() - 2, 2, " V") == 0;
        const double volts = std::strtod(text.c_str(), nullptr);
        violations_.check(withUnit && volts > 5 && volts < 20,
                          [&] { return "a battery voltage of " + Describe(voltage); });
    }

    void callAnyGetter(Random& random, Tally& tally, Keeper& keeper, MessageWatch& watch) {
        switch (Pick(random, 6)) {
            case 0: {
                const bool refresh = Chance(random, 30);
                const auto voltage = repository_.getBatteryVoltage(refresh);
                tally.add("voltage refresh", refresh);
                tally.add("voltage null", !refresh && voltage == nullptr);
                checkVoltage(voltage);
                break;
            }
            case 1: {
                const auto name = repository_.getHardwareName();
                const auto description = repository_.getHardwareDescription();
                const auto identification = repository_.getHardwareIdentification();
                // Each is null while the connection is closed.
                violations_.check(!name || *name == adapter_[0],
                                  [&] { return "adapter name " + Describe(name); });
                violations_.check(!description || *description == adapter_[1],
                                  [&] { return "adapter description " + Describe(description); });
                violations_.check(!identification || *identification == adapter_[2], [&] {
                    return "adapter identification " + Describe(identification);
                });
                break;
            }
            case 2:
            case 3: {
                const std::string& request = AnyOf(random, kRequests);
                const std::string answer = repository_.sendMessage(request, 1000);
                violations_.check(request != "ATI" || answer.empty() || answer == adapter_[2],
                                  [&] { return "ATI answered " + answer; });
                break;
            }
            case 4: {
                const Messages messages = repository_.getMessages();
                checkMessages(messages, watch);
                if (!messages.empty() && Chance(random, 10)) {
                    keeper.keep(random, [messages] { return DescribeList(messages); });
                }
                break;
            }
            default:
                violations_.check(repository_.isDataLogEnabled(),
                                  [] { return std::string("the data log switched itself off"); });
                break;
        }
    }

    // The adapter's name, description and identification as the core has them.
    std::vector<std::string> adapter_;
};

TEST_F(DongleStressTest, LogEntriesArriveWholeInOrderAndOnceUnderEvents) {
    {
        const auto adapter = obd::ConnectionServiceBuilder::create(vehicle_)->getAdapter();
        ASSERT_NE(adapter, nullptr);
        adapter_ = {adapter->getName(), adapter->getDescription(), adapter->getIdentification()};
    }
    // The repository's own log, heard from its first entry on.
    const auto log = root_->innerTroubleshootingService(0);
    ASSERT_NE(log, nullptr);
    const auto tap = std::make_unique<LogTap>(log);
    // Through the repository, so that every request from now on is logged to
    // it.
    repository_.enableDataLog();

    std::vector<MessageWatch> watches(static_cast<std::size_t>(StormLimits().threads));
    const Storm storm =
        runStorm("events, clears and log entries",
                 [&](Random& random, Tally& tally, Keeper& keeper, std::size_t thread) {
                     callAnyGetter(random, tally, keeper, watches[thread]);
                 });

    // Once everything the core posted has been delivered, the list ends with
    // the last entry the core reported.
    driver_.reopen();
    EXPECT_FALSE(tap->sawOutOfOrder());
    const Messages afterStorm = repository_.getMessages();
    ASSERT_FALSE(afterStorm.empty());
    EXPECT_EQ(afterStorm.back()->sequence, tap->lastSequence());
    checkMessages(afterStorm, watches[0]);

    // The same entry under one number in every thread's view.
    std::map<std::uint64_t, std::shared_ptr<obd::MessageDataModel>> seen;
    for (const MessageWatch& watch : watches) {
        for (const auto& [sequence, entry] : watch.seen) {
            const auto [known, added] = seen.emplace(sequence, entry);
            EXPECT_TRUE(added || known->second == entry) << "two entries numbered " << sequence;
        }
    }

    // The voltage is read at most once per ECU change or clearing, per
    // refresh and per call that found no reading.
    EXPECT_LE(
        root_->count("ISensorService::getSensors"),
        FetchLimit(storm.clearings, storm.calls["voltage refresh"], storm.calls["voltage null"]));

    // Quiet vehicle: after a clearing, exactly the entries the core reports
    // from then on arrive, while several threads send requests and read the
    // list; the cached voltage is not read again.
    driver_.reopen();
    const std::uint64_t lastBefore = tap->lastSequence();
    repository_.clearCache();
    const Messages empty = repository_.getMessages();
    EXPECT_TRUE(empty.empty()) << DescribeList(empty);
    const auto firstVoltage = repository_.getBatteryVoltage(false);
    ASSERT_NE(firstVoltage, nullptr);
    std::vector<MessageWatch> quietWatches(watches.size());
    runQuiet("requests on a quiet vehicle", {"ISensorService::getSensors"},
             [&](Random& random, Tally&, std::size_t thread) {
                 if (Chance(random, 50)) {
                     repository_.sendMessage(AnyOf(random, kRequests), 1000);
                 } else if (Chance(random, 50)) {
                     checkMessages(repository_.getMessages(), quietWatches[thread]);
                 } else {
                     violations_.check(repository_.getBatteryVoltage(false) == firstVoltage, [] {
                         return std::string("the cached voltage came back as another text");
                     });
                 }
             });
    driver_.reopen();
    const Messages logged = repository_.getMessages();
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.front()->sequence, lastBefore + 1);
    EXPECT_EQ(logged.back()->sequence, tap->lastSequence());
    EXPECT_EQ(logged.size(), tap->lastSequence() - lastBefore);
    checkMessages(logged, quietWatches[0]);

    // Callers released together onto an emptied cache share one reading.
    herd([&] { return Identity(repository_.getBatteryVoltage(false)); },
         {"ISensorService::getSensors"});
    expectNoViolations();
}

TEST_F(DongleStressTest, RepositoriesComeAndGoWhileEntriesAndEventsFly) {
    churn([](DongleRepository& repository, Random& random, Keeper& keeper) {
        repository.enableDataLog();
        // Entries are still on their way when the repository goes.
        repository.sendMessage(AnyOf(random, kRequests), 1000);
        repository.sendMessage(AnyOf(random, kRequests), 1000);
        const Messages messages = repository.getMessages();
        const auto voltage = repository.getBatteryVoltage(Chance(random, 50));
        keeper.keep(random,
                    [messages, voltage] { return DescribeList(messages) + Describe(voltage); });
    });
}

}  // namespace
}  // namespace zelt::stress
