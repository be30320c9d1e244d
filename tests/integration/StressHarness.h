#pragma once

// What the concurrency stress tests of the repositories share: a seed, a
// watchdog, a driver that opens, closes and switches the simulated vehicle's
// connection and knows when its events have been delivered, a runner for
// worker threads plus one disturbing thread, a collector of broken
// invariants, a keeper that holds handed-out records until the end, and the
// test frame with the vehicle seen through a hooked root that counts the
// core's calls and keeps a journal, which tells whether an answer of the
// library is one whole answer of the core, and the course every repository's
// test follows over that frame.
//
// Workers never call GoogleTest assertions: they report to Violations, which
// the test thread checks with the seed in the message.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "Describe.h"
#include "EventWitness.h"
#include "HookedCore.h"
#include "obd/ServiceBuilders.h"
#include "obd/sim/SimulatedQuorvix.h"

namespace zelt::stress {

using testing::Describe;
using testing::DescribeList;
using testing::Readings;

using Clock = std::chrono::steady_clock;
using Random = std::mt19937;

// The seed of this run: ZELT_STRESS_SEED when set (to replay the calls of a
// failed run; the threads' interleaving is the scheduler's), otherwise a
// fresh one. Every thread draws from a generator of its own, seeded from it.
inline std::uint32_t StressSeed() {
    if (const char* text = std::getenv("ZELT_STRESS_SEED")) {
        return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
    }
    return std::random_device()();
}

// A number below `bound` (portable: std::mt19937's output is fixed by the
// standard, unlike the distributions').
inline std::size_t Pick(Random& random, std::size_t bound) {
    return static_cast<std::size_t>(random()) % bound;
}
template <typename T>
const T& AnyOf(Random& random, const std::vector<T>& choices) {
    return choices[Pick(random, choices.size())];
}
inline bool Chance(Random& random, std::uint32_t percent) {
    return Pick(random, 100) < percent;
}

// Ends the process with a message when the test has not finished within the
// deadline: a deadlock then fails the test instead of hanging ctest.
class Watchdog {
public:
    Watchdog(std::string what, std::chrono::seconds deadline)
        : what_(std::move(what)), thread_([this, deadline] { watch(deadline); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        finished_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    void watch(std::chrono::seconds deadline) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!finished_.wait_for(lock, deadline, [this] { return done_; })) {
            std::fprintf(stderr,
                         "\nWATCHDOG: %s has not finished after %lld s; a deadlock is likely. "
                         "Aborting.\n",
                         what_.c_str(), static_cast<long long>(deadline.count()));
            std::fflush(stderr);
            std::abort();
        }
    }

    const std::string what_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;  // guarded by mutex_
    std::thread thread_;
};

// Broken invariants reported by any thread.
class Violations {
public:
    void add(std::string what) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++count_;
        if (first_.size() < 10) {
            first_.push_back(std::move(what));
        }
    }
    // Reports `what` unless `holds`.
    void check(bool holds, const std::function<std::string()>& what) {
        if (!holds) {
            add(what());
        }
    }

    std::size_t count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return count_;
    }
    std::string summary() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string text = std::to_string(count_) + " broken invariant(s)";
        for (const std::string& line : first_) {
            text += "\n  " + line;
        }
        return text;
    }

private:
    mutable std::mutex mutex_;
    std::size_t count_ = 0;
    std::vector<std::string> first_;
};

// The answers the core gave, as descriptions (Describe.h), by operation and
// arguments. Each routine of a list is noted by itself too, as "each": the
// library merges lists by id. A freeze frame holds constant values, so its
// readings are part of what identifies it.
class AnswerJournal {
public:
    void add(const testing::CoreCall& call, const testing::CoreAnswer& answer) {
        const bool frame = call.operation == "ITroubleCodeService::readFreezeFrameParameter";
        std::vector<std::string> entries = {
            key(call.operation, call.arguments,
                answer.describe(frame ? Readings::Included : Readings::Left))};
        if (call.operation == "IRoutineService::getTestRoutines") {
            for (const std::string& routine : answer.describeEach()) {
                entries.push_back(key(call.operation, "each", routine));
            }
        }
        std::lock_guard<std::mutex> lock(mutex_);
        answers_.insert(entries.begin(), entries.end());
    }
    bool contains(std::string_view operation, const std::string& arguments,
                  const std::string& answer) const {
        const std::string entry = key(operation, arguments, answer);
        std::lock_guard<std::mutex> lock(mutex_);
        return answers_.count(entry) != 0;
    }

private:
    static std::string key(std::string_view operation, const std::string& arguments,
                           const std::string& answer) {
        return std::string(operation) + "(" + arguments + ") => " + answer;
    }

    mutable std::mutex mutex_;
    std::set<std::string> answers_;  // guarded by mutex_
};

// Hears every entry of one troubleshooting service's data log while it lives
// and checks that the core numbers them one by one. Lets a test know the last
// entry the core delivered.
class LogTap : public obd::ITroubleshootingServiceObserver {
public:
    explicit LogTap(std::shared_ptr<obd::ITroubleshootingService> service)
        : service_(std::move(service)) {
        service_->attach(this);
    }
    ~LogTap() override { service_->detach(this); }
    LogTap(const LogTap&) = delete;
    LogTap& operator=(const LogTap&) = delete;

    void onLogEntryAdded(const std::shared_ptr<obd::MessageDataModel>& entry) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!entry || entry->sequence != lastSequence_ + 1) {
            outOfOrder_ = true;
        }
        if (entry) {
            lastSequence_ = entry->sequence;
        }
    }

    std::uint64_t lastSequence() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lastSequence_;
    }
    // True when the core delivered a null entry or skipped or repeated a number.
    bool sawOutOfOrder() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return outOfOrder_;
    }

private:
    const std::shared_ptr<obd::ITroubleshootingService> service_;
    mutable std::mutex mutex_;
    std::uint64_t lastSequence_ = 0;  // guarded by mutex_
    bool outOfOrder_ = false;         // guarded by mutex_
};

// Changes the simulated vehicle's connection and counts the events that
// causes. Only the driver changes the connection, so it knows exactly which
// calls made the core post an event.
//
// Build it after the repositories that must have heard an event when
// settle() returns.
class VehicleDriver {
public:
    static constexpr std::uint32_t kEngine = 0x7E8;
    static constexpr std::uint32_t kTransmission = 0x7E9;

    explicit VehicleDriver(std::shared_ptr<obd::sim::SimulatedQuorvix> vehicle)
        : vehicle_(std::move(vehicle)), witness_(vehicle_) {}

    void open() {
        const bool wasOpen = vehicle_->isConnectionOpen();
        vehicle_->openConnection();
        if (!wasOpen && vehicle_->isConnectionOpen()) {
            fired_.fetch_add(1);
        }
    }
    void close() {
        const bool wasOpen = vehicle_->isConnectionOpen();
        vehicle_->closeConnection();
        if (wasOpen) {
            fired_.fetch_add(1);
        }
    }
    // REQUIRES: the connection is open.
    void select(std::uint32_t ecu) {
        const std::uint32_t before = vehicle_->getSelectedEcu();
        if (vehicle_->selectEcu(ecu) && before != ecu) {
            fired_.fetch_add(1);
        }
    }
    // One event: open when closed; otherwise switch to the other ECU or,
    // less often, close.
    void fireRandomEvent(Random& random) {
        if (!vehicle_->isConnectionOpen()) {
            open();
        } else if (Chance(random, 70)) {
            select(vehicle_->getSelectedEcu() == kEngine ? kTransmission : kEngine);
        } else {
            close();
        }
    }
    // Leaves the connection open on `ecu` and waits until every event so far
    // has been delivered.
    void openOn(std::uint32_t ecu) {
        open();
        select(ecu);
        settle();
    }

    std::uint64_t fired() const { return fired_.load(); }

    // Waits until every event fired so far has reached every observer. The
    // core delivers in order on one thread, so whatever it posted before the
    // last event has been delivered as well: log entries, the connection's own
    // notes about the event included.
    void settle() { witness_.waitFor(fired_.load()); }
    // Closes and opens the connection (on the first ECU) and waits until the
    // core has delivered everything it posted until it was open again.
    void reopen() {
        close();
        open();
        settle();
    }
    // Waits until at most `backlog` events are still on their way, so that a
    // fast driver cannot pile up events faster than the core delivers them.
    void limitBacklog(std::uint64_t backlog) {
        const std::uint64_t fired = fired_.load();
        if (fired > backlog) {
            witness_.waitFor(fired - backlog);
        }
    }

private:
    const std::shared_ptr<obd::sim::SimulatedQuorvix> vehicle_;
    testing::EventWitness witness_;
    std::atomic<std::uint64_t> fired_{0};
};

// The workers' step count, which paces the disturbing thread: it waits for
// the workers to make progress instead of sleeping. The count is relaxed and
// only the worker that reaches the disturber's target takes the lock, so that
// pacing adds as little ordering between the workers as it can: ordering
// there would hide their races from ThreadSanitizer.
class Progress {
public:
    void tick() {
        const std::uint64_t steps = steps_.fetch_add(1, std::memory_order_relaxed) + 1;
        if (steps >= wanted_.load(std::memory_order_relaxed) &&
            wanted_.exchange(kNobody, std::memory_order_relaxed) != kNobody) {
            // Waits until the disturber is awake, so that it acts now rather
            // than whenever the scheduler gets round to it: the workers
            // outnumber the cores.
            std::unique_lock<std::mutex> lock(mutex_);
            handedOver_ = true;
            moved_.notify_all();
            takenOver_.wait(lock, [this] { return !handedOver_ || finished_; });
        }
    }
    // Ends the pacing; also when the disturber gives up.
    void finish() {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        moved_.notify_all();
        takenOver_.notify_all();
    }
    std::uint64_t steps() const { return steps_.load(std::memory_order_relaxed); }
    // Waits until the workers have made `steps` steps in all; false when they
    // finished first.
    bool waitFor(std::uint64_t steps) {
        std::unique_lock<std::mutex> lock(mutex_);
        takeOver();
        while (!finished_ && steps_.load(std::memory_order_relaxed) < steps) {
            // Armed again after every wake-up: a worker may have disarmed it
            // for an earlier target.
            wanted_.store(steps, std::memory_order_relaxed);
            moved_.wait(lock);
        }
        takeOver();
        return !finished_;
    }

private:
    static constexpr std::uint64_t kNobody = std::numeric_limits<std::uint64_t>::max();

    // Releases a worker that handed over. REQUIRES: mutex_ held.
    void takeOver() {
        if (handedOver_) {
            handedOver_ = false;
            takenOver_.notify_all();
        }
    }

    std::atomic<std::uint64_t> steps_{0};
    std::atomic<std::uint64_t> wanted_{kNobody};
    std::mutex mutex_;
    std::condition_variable moved_;
    std::condition_variable takenOver_;
    bool handedOver_ = false;  // guarded by mutex_: a worker waits for the disturber
    bool finished_ = false;    // guarded by mutex_
};

// Calls a worker made, by kind, to weigh the core's calls against. Each
// worker keeps its own, summed after the run, so that counting adds no
// ordering between the workers.
class Tally {
public:
    void add(const std::string& what, bool counts = true) {
        if (counts) {
            ++counts_[what];
        }
    }
    std::uint64_t operator[](const std::string& what) const {
        const auto found = counts_.find(what);
        return found == counts_.end() ? 0 : found->second;
    }
    static Tally Sum(const std::vector<Tally>& tallies) {
        Tally sum;
        for (const Tally& tally : tallies) {
            for (const auto& [what, count] : tally.counts_) {
                sum.counts_[what] += count;
            }
        }
        return sum;
    }

private:
    std::map<std::string, std::uint64_t> counts_;
};

// The cache rule as a bound on the core's calls: a cached value is fetched
// at most once per key after each clearing (and once before the first),
// once per call with `refresh` set, and once per call whose answer was not
// worth storing.
inline std::uint64_t FetchLimit(std::uint64_t clearings, std::uint64_t refreshes,
                                std::uint64_t unstored = 0, std::uint64_t keys = 1) {
    return (clearings + 1) * keys + refreshes + unstored;
}

struct StressLimits {
    int threads = 4;
    int iterations = 5000;  // per worker
    std::chrono::milliseconds budget{2000};
    // The disturbing thread acts after the workers made 1 to `pace` steps.
    std::uint32_t pace = 24;

    // ZELT_STRESS_SCALE (e.g. 10 for a long run) multiplies the iterations
    // and the time. The iterations usually end a phase in a plain build, the
    // time under the sanitizers.
    StressLimits scaled() const {
        StressLimits limits = *this;
        if (const char* text = std::getenv("ZELT_STRESS_SCALE")) {
            const double scale = std::strtod(text, nullptr);
            if (scale > 0) {
                limits.iterations = static_cast<int>(iterations * scale);
                limits.budget = std::chrono::milliseconds(
                    static_cast<std::int64_t>(static_cast<double>(budget.count()) * scale));
            }
        }
        return limits;
    }
};

// Workers calling getters while the vehicle and the cache are disturbed.
inline StressLimits StormLimits() {
    return StressLimits{4, 5000, std::chrono::milliseconds(2000)}.scaled();
}
// Workers calling getters on a quiet vehicle.
inline StressLimits QuietLimits() {
    return StressLimits{4, 1000, std::chrono::milliseconds(1000)}.scaled();
}
// Rounds of threads released together onto an emptied cache.
inline StressLimits HerdLimits() {
    return StressLimits{4, 100, std::chrono::milliseconds(1000)}.scaled();
}
// Threads building and destroying repositories.
inline StressLimits ChurnLimits() {
    return StressLimits{2, 1000, std::chrono::milliseconds(1000)}.scaled();
}

struct StressCounts {
    std::vector<int> iterations;  // per worker
    std::uint64_t disturbances = 0;
    std::chrono::milliseconds elapsed{0};

    int totalIterations() const {
        int total = 0;
        for (int n : iterations) {
            total += n;
        }
        return total;
    }
    std::string describe() const {
        std::ostringstream text;
        text << iterations.size() << " threads x "
             << (iterations.empty() ? 0 : totalIterations() / static_cast<int>(iterations.size()))
             << " calls (" << totalIterations() << " in all), ";
        if (disturbances > 0) {
            text << disturbances << " disturbances, ";
        }
        text << elapsed.count() << " ms";
        return text.str();
    }
};

// Runs `limits.threads` workers, each calling `step(random, thread)` until it
// has made `limits.iterations` steps or the budget is spent, while
// `disturb(random)`, unless empty, runs on one more thread, each time after
// the workers made a few more steps, until they are all done. An exception
// escaping a worker or the disturber is a violation.
inline StressCounts RunStress(const StressLimits& limits, std::uint32_t seed,
                              Violations& violations, const std::function<void(Random&, int)>& step,
                              const std::function<void(Random&)>& disturb) {
    StressCounts counts;
    counts.iterations.assign(static_cast<std::size_t>(limits.threads), 0);
    Progress progress;
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + limits.budget;

    std::thread disturber;
    if (disturb) {
        disturber = std::thread([&] {
            Random random(seed ^ 0x9E3779B9u);
            try {
                while (progress.waitFor(progress.steps() + 1 + Pick(random, limits.pace))) {
                    disturb(random);
                    ++counts.disturbances;
                }
            } catch (const std::exception& error) {
                violations.add(std::string("the disturbing thread threw: ") + error.what());
                progress.finish();
            } catch (...) {
                violations.add("the disturbing thread threw");
                progress.finish();
            }
        });
    }
    std::vector<std::thread> workers;
    for (int t = 0; t < limits.threads; ++t) {
        workers.emplace_back([&, t] {
            Random random(seed + static_cast<std::uint32_t>(t) + 1);
            int& done = counts.iterations[static_cast<std::size_t>(t)];
            try {
                while (done < limits.iterations && Clock::now() < deadline) {
                    step(random, t);
                    ++done;
                    progress.tick();
                }
            } catch (const std::exception& error) {
                violations.add("worker " + std::to_string(t) + " threw: " + error.what());
            } catch (...) {
                violations.add("worker " + std::to_string(t) + " threw");
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    progress.finish();
    if (disturber.joinable()) {
        disturber.join();
    }
    counts.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    return counts;
}

// Which records an answer holds (their addresses, not their contents): two
// callers served from one cached answer get the same identities.
template <typename T>
std::string Identity(const std::shared_ptr<T>& record) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%p ", static_cast<const void*>(record.get()));
    return buffer;
}
template <typename T>
std::string Identity(const std::vector<std::shared_ptr<T>>& records) {
    std::string text = "[";
    for (const auto& record : records) {
        text += Identity(record);
    }
    return text + "]";
}

// Up to `limits.iterations` rounds, as long as the budget lasts: runs
// `clear`, then releases `limits.threads` threads at once, each running
// `call`, and reports a violation unless they all answered the same (see
// Identity): on an emptied cache, one caller asks the core and the others get
// its answer. Returns the number of rounds run.
inline int RunHerd(const StressLimits& limits, Violations& violations,
                   const std::function<void()>& clear, const std::function<std::string()>& call) {
    const int threads = limits.threads;
    const Clock::time_point deadline = Clock::now() + limits.budget;
    int round = 0;
    for (; round < limits.iterations && Clock::now() < deadline; ++round) {
        clear();
        std::mutex mutex;
        std::condition_variable gate;
        bool open = false;
        std::vector<std::string> answers(static_cast<std::size_t>(threads));
        std::vector<std::thread> herd;
        for (int t = 0; t < threads; ++t) {
            herd.emplace_back([&, t] {
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    gate.wait(lock, [&] { return open; });
                }
                answers[static_cast<std::size_t>(t)] = call();
            });
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            open = true;
        }
        gate.notify_all();
        for (std::thread& thread : herd) {
            thread.join();
        }
        for (const std::string& answer : answers) {
            violations.check(answer == answers.front(), [&] {
                return "callers released together onto an emptied cache got different "
                       "records:\n  " +
                       answers.front() + "\n  " + answer;
            });
        }
    }
    return round;
}

// Holds some of the records a worker was handed, with their description at
// the time, and checks at the end that each still reads the same: records
// must stay valid (AddressSanitizer reports a freed one) and never change.
class Keeper {
public:
    explicit Keeper(std::size_t capacity = 48) : capacity_(capacity) {}

    // `describe` captures the records by shared pointer and reads all their
    // fields.
    void keep(Random& random, std::function<std::string()> describe) {
        std::string now = describe();
        Kept kept{std::move(describe), std::move(now)};
        if (kept_.size() < capacity_) {
            kept_.push_back(std::move(kept));
        } else {
            kept_[Pick(random, capacity_)] = std::move(kept);
        }
    }

    void verify(Violations& violations) const {
        for (const Kept& kept : kept_) {
            const std::string later = kept.describe();
            violations.check(later == kept.when, [&] {
                return "a record changed after it was handed out: was\n" + kept.when + "\nnow\n" +
                       later;
            });
        }
    }

private:
    struct Kept {
        std::function<std::string()> describe;
        std::string when;
    };
    const std::size_t capacity_;
    std::vector<Kept> kept_;
};

// The whole-test frame: a seed, a watchdog, the simulated vehicle seen
// through a hooked root that counts the core's calls and notes its answers,
// and the violations collected.
class StressTest : public ::testing::Test {
protected:
    StressTest()
        : seed_(StressSeed()),
          watchdog_(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                        " (seed " + std::to_string(seed_) + ")",
                    std::chrono::seconds(60)),
          seedTrace_(__FILE__, __LINE__, "seed " + std::to_string(seed_)) {
        RecordProperty("seed", std::to_string(seed_));
        root_->onAnswer([this](const testing::CoreCall& call, const testing::CoreAnswer& answer) {
            journal_.add(call, answer);
        });
    }

    // Workers run `step` while the disturbing thread changes the connection
    // through `driver` or, one time in `clearOneIn`, calls `clear`.
    StressCounts runWithEvents(const std::string& phase, const StressLimits& limits,
                               VehicleDriver& driver, std::uint32_t clearOneIn,
                               const std::function<void(Random&)>& clear,
                               const std::function<void(Random&, int)>& step) {
        const StressCounts counts =
            RunStress(limits, seed_, violations_, step, [&](Random& random) {
                if (Pick(random, clearOneIn) == 0) {
                    clear(random);
                } else {
                    driver.fireRandomEvent(random);
                    driver.limitBacklog(4);
                }
            });
        report(phase, counts);
        return counts;
    }

    // Herds of four callers onto a cache that `clear` just emptied (see
    // RunHerd): each round, every operation in `fetchedOnce` reaches the core
    // exactly once.
    void herd(const std::function<void()>& clear, const std::function<std::string()>& call,
              const std::vector<std::string>& fetchedOnce) {
        std::map<std::string, std::uint64_t> before;
        for (const std::string& fetched : fetchedOnce) {
            before[fetched] = root_->count(fetched);
        }
        const int rounds = RunHerd(HerdLimits(), violations_, clear, call);
        std::cout << "[  STRESS  ] herds: " << rounds << " rounds of 4 threads" << std::endl;
        for (const std::string& fetched : fetchedOnce) {
            EXPECT_EQ(root_->count(fetched), before[fetched] + static_cast<std::uint64_t>(rounds))
                << fetched;
        }
    }

    // Reports `answer` unless the core gave it to `call` with `arguments`.
    void expectAnswered(std::string_view operation, const std::string& arguments,
                        const std::string& answer) {
        violations_.check(answered(operation, arguments, answer), [&] {
            return "not an answer the core gave to " + std::string(operation) + "(" + arguments +
                   "): " + answer;
        });
    }

    // Whether the core gave `answer` (a description, see Describe.h) to
    // `operation` with `arguments`.
    bool answered(std::string_view operation, const std::string& arguments,
                  const std::string& answer) const {
        return journal_.contains(operation, arguments, answer);
    }

    // Checks the kept records, then that no invariant was broken.
    void expectNoViolations(const std::vector<Keeper>& keepers) {
        for (const Keeper& keeper : keepers) {
            keeper.verify(violations_);
        }
        EXPECT_EQ(violations_.count(), 0u)
            << "seed " << seed_ << " (rerun with ZELT_STRESS_SEED=" << seed_
            << "): " << violations_.summary();
    }
    // Prints what a phase did, for the log of a run.
    void report(const std::string& phase, const StressCounts& counts) {
        std::cout << "[  STRESS  ] " << phase << ": " << counts.describe() << ", seed " << seed_
                  << std::endl;
        RecordProperty(phase, counts.describe());
    }

    const std::uint32_t seed_;
    Watchdog watchdog_;
    ::testing::ScopedTrace seedTrace_;
    Violations violations_;
    std::shared_ptr<obd::sim::SimulatedQuorvix> vehicle_ = obd::sim::SimulatedQuorvix::create();
    AnswerJournal journal_;
    std::shared_ptr<testing::HookedCore> root_ = std::make_shared<testing::HookedCore>(vehicle_);
};

// The course every repository's stress test follows, with what is particular
// to the repository passed in: a storm of getter calls while the connection
// changes and the cache is cleared, then a quiet phase on a filled cache, a
// herd onto an emptied cache, and repositories built and destroyed while
// events fly. Records the workers keep are checked at the end.
template <typename Repository>
class RepositoryStressTest : public StressTest {
protected:
    // What a storm leaves for the test's bounds on the core's calls.
    struct Storm {
        Tally calls;              // the workers' tallies, summed
        std::uint64_t clearings;  // connection events plus the clearings `clear` reported
    };
    // One getter call of worker `thread`, counted in `tally`.
    using StormStep = std::function<void(Random&, Tally&, Keeper&, std::size_t thread)>;
    // Empties the cache, one way or another, and returns how many clearings
    // of the cache that makes.
    using Clear = std::function<std::uint64_t(Random&)>;
    // One call on a quiet vehicle; `tally` counts, under the operation's name
    // ("ISensorService::getSensors"), each call the core is expected to get.
    using QuietStep = std::function<void(Random&, Tally&, std::size_t thread)>;

    RepositoryStressTest() { driver_.open(); }

    // Workers run `step` while the disturbing thread changes the connection
    // or, one time in four, calls `clear` (by default clearCache()).
    Storm runStorm(const std::string& phase, const StormStep& step, const Clear& clear = nullptr) {
        const StressLimits limits = StormLimits();
        std::vector<Tally> tallies(static_cast<std::size_t>(limits.threads));
        keepers_.resize(std::max(keepers_.size(), tallies.size()));
        std::uint64_t clearings = 0;
        runWithEvents(
            phase, limits, driver_, 4,
            [&](Random& random) {
                if (clear) {
                    clearings += clear(random);
                } else {
                    ++clearings;
                    repository_.clearCache();
                }
            },
            [&](Random& random, int thread) {
                const auto t = static_cast<std::size_t>(thread);
                step(random, tallies[t], keepers_[t], t);
            });
        return Storm{Tally::Sum(tallies), clearings + driver_.fired()};
    }

    // Workers run `step` on a quiet vehicle, with nothing disturbing them:
    // each call in `watched` reaches the core exactly as often as the steps
    // counted it, and no more.
    void runQuiet(const std::string& phase, const std::vector<std::string>& watched,
                  const QuietStep& step) {
        std::map<std::string, std::uint64_t> before;
        for (const std::string& call : watched) {
            before[call] = root_->count(call);
        }
        const StressLimits limits = QuietLimits();
        std::vector<Tally> tallies(static_cast<std::size_t>(limits.threads));
        const StressCounts counts = RunStress(
            limits, seed_, violations_,
            [&](Random& random, int thread) {
                const auto t = static_cast<std::size_t>(thread);
                step(random, tallies[t], t);
            },
            nullptr);
        report(phase, counts);
        const Tally calls = Tally::Sum(tallies);
        for (const std::string& call : watched) {
            EXPECT_EQ(root_->count(call), before[call] + calls[call]) << call;
        }
    }

    // Herds onto the cache just emptied by clearCache() (see StressTest::herd).
    void herd(const std::function<std::string()>& call,
              const std::vector<std::string>& fetchedOnce) {
        StressTest::herd([this] { repository_.clearCache(); }, call, fetchedOnce);
    }

    // Two threads build a repository, `use` it and destroy it, over and over,
    // while connection events fly; `use` may keep records for the end.
    void churn(const std::function<void(Repository&, Random&, Keeper&)>& use) {
        const StressLimits limits = ChurnLimits();
        keepers_.resize(std::max(keepers_.size(), static_cast<std::size_t>(limits.threads)));
        const StressCounts counts = RunStress(
            limits, seed_, violations_,
            [&](Random& random, int thread) {
                Repository repository(root_);
                use(repository, random, keepers_[static_cast<std::size_t>(thread)]);
            },
            [&](Random& random) {
                driver_.fireRandomEvent(random);
                driver_.limitBacklog(4);
            });
        report("build, use, destroy", counts);
        driver_.settle();
        expectNoViolations();
    }

    // Checks the records the workers kept, then that no invariant was broken.
    void expectNoViolations() { StressTest::expectNoViolations(keepers_); }

    Repository repository_{root_};
    // Built after the repository, so that settle() waits until it heard every
    // event.
    VehicleDriver driver_{vehicle_};
    std::vector<Keeper> keepers_;
};

}  // namespace zelt::stress
