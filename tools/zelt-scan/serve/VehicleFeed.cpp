#include "VehicleFeed.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "zelt/app/AdapterStatus.h"
#include "zelt/app/Profiles.h"
#include "zelt/app/Scanner.h"

namespace zelt::scan {

// The command line is an application of the application library.
using namespace app;  // NOLINT(google-build-using-namespace)

VehicleFeed::VehicleFeed(Session& session, FeedSettings settings)
    : session_(session), settings_(std::move(settings)) {
    auto first = std::make_shared<Report>(Scan(session_, settings_.ecus, settings_.overAdapter));
    ScanProfile(session_, *first);
    if (first->ecus.empty()) {
        throw std::runtime_error("no ECU answered");
    }
    watchedEcu_ = first->ecus.front().address;
    if (settings_.pids.empty()) {
        // The report read the live data a moment ago: its records describe it.
        for (const auto& parameter : first->ecus.front().liveData) {
            watched_.push_back({parameter->pid, watchedEcu_, parameter, {}});
        }
    } else {
        watched_ = Plan(session_, settings_.pids, {watchedEcu_});
        Read(session_, watched_, true);
    }
    {
        orvane::MutexLock lock(mutex_);
        report_ = std::move(first);
        reportTime_ = Clock::now();
        reports_ = 1;
    }
    reader_ = std::thread([this] { run(); });
}

VehicleFeed::~VehicleFeed() {
    stop();
    reader_.join();
}

void VehicleFeed::stop() {
    orvane::MutexLock lock(mutex_);
    if (ended_.empty()) {
        ended_ = "stopped";
    }
    changed_.notify_all();
}

std::string VehicleFeed::ended() const {
    orvane::MutexLock lock(mutex_);
    return ended_;
}

void VehicleFeed::run() {
    auto next = Clock::now();
    try {
        for (;;) {
            bool scanWanted = false;
            bool clearWanted = false;
            {
                orvane::UniqueLock lock(mutex_);
                while (ended_.empty() && !reportWanted_ && !clearWanted_ && Clock::now() < next) {
                    lock.waitUntil(changed_, next);
                }
                if (!ended_.empty()) {
                    return;
                }
                std::swap(scanWanted, reportWanted_);
                std::swap(clearWanted, clearWanted_);
            }
            if (scanWanted || clearWanted) {
                scan(clearWanted);
            }
            if (Clock::now() >= next) {
                read();
                // A slow vehicle gets its next reading at once, never a burst.
                next = std::max(next + settings_.interval, Clock::now());
            }
            const std::string gone = AdapterGone(session_);
            if (!gone.empty()) {
                throw std::runtime_error(gone);
            }
        }
    } catch (const std::exception& error) {
        orvane::MutexLock lock(mutex_);
        ended_ = error.what();
        changed_.notify_all();
    }
}

void VehicleFeed::scan(bool clearCodes) {
    auto report = std::make_shared<Report>(Scan(session_, settings_.ecus, settings_.overAdapter));
    ScanProfile(session_, *report);
    if (clearCodes) {
        ClearTroubleCodes(session_, *report);
        ClearProfileCodes(session_, *report);
    }
    orvane::MutexLock lock(mutex_);
    report_ = report;
    reportTime_ = Clock::now();
    ++reports_;
    if (clearCodes) {
        cleared_ = std::move(report);
        ++clears_;
    }
    changed_.notify_all();
}

void VehicleFeed::read() {
    auto reading = std::make_shared<FeedReading>();
    reading->time = IsoTime();
    reading->values = Read(session_, watched_, false);
    if (!AdapterGone(session_).empty()) {
        return;  // the reading during which the adapter went is no data
    }
    orvane::MutexLock lock(mutex_);
    reading->number = ++readings_;
    history_.push_back(std::move(reading));
    if (history_.size() > settings_.history) {
        history_.pop_front();
    }
    changed_.notify_all();
}

std::vector<std::shared_ptr<const FeedReading>> VehicleFeed::readingsAfter(
    int after, Clock::time_point deadline) {
    orvane::UniqueLock lock(mutex_);
    if (after > readings_) {
        after = 0;  // a viewer of an earlier run of the server
    }
    while (ended_.empty() && (history_.empty() || history_.back()->number <= after)) {
        if (!lock.waitUntil(changed_, deadline)) {
            break;
        }
    }
    std::vector<std::shared_ptr<const FeedReading>> newer;
    for (const auto& reading : history_) {
        if (reading->number > after) {
            newer.push_back(reading);
        }
    }
    return newer;
}

std::shared_ptr<const Report> VehicleFeed::report(std::chrono::milliseconds wait) {
    orvane::UniqueLock lock(mutex_);
    if (Clock::now() - reportTime_ <= settings_.reportMaxAge) {
        return report_;
    }
    const long long seen = reports_;
    reportWanted_ = true;
    changed_.notify_all();
    const auto deadline = Clock::now() + wait;
    while (ended_.empty() && reports_ == seen) {
        if (!lock.waitUntil(changed_, deadline)) {
            break;
        }
    }
    return report_;  // the newest there is
}

std::shared_ptr<const Report> VehicleFeed::clearCodes(std::chrono::milliseconds wait) {
    orvane::UniqueLock lock(mutex_);
    const long long seen = clears_;
    clearWanted_ = true;
    changed_.notify_all();
    const auto deadline = Clock::now() + wait;
    while (ended_.empty() && clears_ == seen) {
        if (!lock.waitUntil(changed_, deadline)) {
            return nullptr;
        }
    }
    return clears_ == seen ? nullptr : cleared_;
}

}  // namespace zelt::scan
