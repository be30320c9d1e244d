#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "orvane/Mutex.h"
#include "zelt/app/Readings.h"
#include "zelt/app/Report.h"
#include "zelt/app/Session.h"

namespace zelt::scan {

// What the feed reads, and how often.
struct FeedSettings {
    // The parameters to read; empty: the live data of the watched ECU.
    std::vector<obd::ParameterIdentifier::Id> pids;
    // The ECUs of the report (empty: all that answered); live values come
    // from the first of them.
    std::vector<std::uint32_t> ecus;
    std::chrono::milliseconds interval{1000};
    // How many readings are kept for viewers that join later.
    std::size_t history = 300;
    // A report older than this is scanned again when asked for.
    std::chrono::milliseconds reportMaxAge{10000};
    bool overAdapter = false;
};

// One reading of the watched parameters: its values[i] belong to
// watched()[i].
struct FeedReading {
    int number = 0;    // from 1, one more per reading
    std::string time;  // ISO 8601, UTC, milliseconds
    app::Reading values;
};

// The one reader of the vehicle for the dashboard: a thread that reads the
// watched parameters every interval and scans the report when a viewer asks
// for a newer one, so that any number of viewers cause the same requests to
// the vehicle as one. Nobody else touches the session while the feed runs.
//
// Thread safe: every public method may be called from any thread. The
// session must outlive the feed.
class VehicleFeed {
public:
    // Scans the report and describes the watched parameters on the calling
    // thread (so that an unknown PID is refused before anything is served),
    // then starts the reader. Throws like Plan() and Scan().
    VehicleFeed(app::Session& session, FeedSettings settings);
    // Stops the reader and wakes every waiting viewer.
    ~VehicleFeed();

    VehicleFeed(const VehicleFeed&) = delete;
    VehicleFeed& operator=(const VehicleFeed&) = delete;

    const std::vector<app::Watched>& watched() const { return watched_; }

    // Ends the reader; waiting viewers return at once.
    void stop();

    // The readings after `after` that the history still holds, oldest first
    // (all of them when `after` is newer than any: it came from an earlier
    // run); waits for one until `deadline` or the feed's end (ended() says
    // so).
    std::vector<std::shared_ptr<const FeedReading>> readingsAfter(
        int after, std::chrono::steady_clock::time_point deadline);
    // Why the feed ended: "stopped", or why the vehicle was lost; empty while
    // it runs.
    std::string ended() const;

    // A report no older than the settings allow: scanned anew by the reader
    // when the last one is older (at most `wait` is waited for it).
    std::shared_ptr<const app::Report> report(std::chrono::milliseconds wait);
    // Has the reader clear the trouble codes of the report's ECUs and
    // returns the report with the codes before and after; null when the
    // feed ended first or it took longer than `wait`.
    std::shared_ptr<const app::Report> clearCodes(std::chrono::milliseconds wait);

private:
    using Clock = std::chrono::steady_clock;

    void run();
    void scan(bool clearCodes);
    void read();

    app::Session& session_;
    const FeedSettings settings_;
    // Constant after construction.
    std::uint32_t watchedEcu_ = 0;
    std::vector<app::Watched> watched_;  // described in the constructor, constant after

    mutable orvane::Mutex mutex_;
    std::condition_variable changed_;  // a reading, a report, a request or the end
    std::deque<std::shared_ptr<const FeedReading>> history_ ORVANE_GUARDED_BY(mutex_);
    int readings_ ORVANE_GUARDED_BY(mutex_) = 0;
    std::shared_ptr<const app::Report> report_ ORVANE_GUARDED_BY(mutex_);
    Clock::time_point reportTime_ ORVANE_GUARDED_BY(mutex_);
    long long reports_ ORVANE_GUARDED_BY(mutex_) = 0;
    bool reportWanted_ ORVANE_GUARDED_BY(mutex_) = false;
    bool clearWanted_ ORVANE_GUARDED_BY(mutex_) = false;
    long long clears_ ORVANE_GUARDED_BY(mutex_) = 0;
    std::shared_ptr<const app::Report> cleared_ ORVANE_GUARDED_BY(mutex_);
    std::string ended_ ORVANE_GUARDED_BY(mutex_);

    std::thread reader_;  // last: starts once everything above is set
};

}  // namespace zelt::scan
