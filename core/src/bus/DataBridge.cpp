#include "obd/DataBridge.h"

#include <algorithm>
#include <chrono>

namespace obd {

DataBridge::~DataBridge() = default;

bool DataBridge::invalidate() {
    bool wasValid;
    {
        orvane::MutexLock lock(mutex_);
        wasValid = valid_;
        valid_ = false;
    }
    arrived_.notify_all();
    return wasValid;
}

bool DataBridge::get(Bytes& data) {
    orvane::MutexLock lock(mutex_);
    data.clear();
    if (!valid_ || outgoing_.empty()) {
        return false;
    }
    data.swap(outgoing_);
    return true;
}

void DataBridge::set(const Bytes& data) {
    bool accepted = false;
    {
        orvane::MutexLock lock(mutex_);
        if (!valid_) {
            return;
        }
        if (data.size() > kMaxIncomingBytes - incoming_.size()) {
            valid_ = false;
            incoming_.clear();
            searched_ = 0;
        } else {
            incoming_.insert(incoming_.end(), data.begin(), data.end());
            accepted = true;
        }
    }
    arrived_.notify_all();
    if (accepted) {
        orvane::MutexLock lock(loggersMutex_);
        for (IConnectionLogger* logger : loggers_) {
            logger->onDataReceived(data);
        }
    }
}

void DataBridge::addLogger(IConnectionLogger* logger) {
    orvane::MutexLock lock(loggersMutex_);
    loggers_.push_back(logger);
}

void DataBridge::removeLogger(IConnectionLogger* logger) {
    orvane::MutexLock lock(loggersMutex_);
    loggers_.erase(std::remove(loggers_.begin(), loggers_.end(), logger), loggers_.end());
}

void DataBridge::setDelimiter(char delimiter) {
    orvane::MutexLock lock(mutex_);
    hasDelimiter_ = true;
    delimiter_ = delimiter;
    searched_ = 0;
}

bool DataBridge::isValid() const {
    orvane::MutexLock lock(mutex_);
    return valid_;
}

bool DataBridge::takeIncoming(Bytes& data) {
    auto end = incoming_.end();
    if (hasDelimiter_) {
        auto found = std::find(incoming_.begin() + static_cast<std::ptrdiff_t>(searched_),
                               incoming_.end(), static_cast<std::uint8_t>(delimiter_));
        if (found == incoming_.end()) {
            searched_ = incoming_.size();
            return false;
        }
        end = found + 1;
    } else if (incoming_.empty()) {
        return false;
    }
    data.assign(incoming_.begin(), end);
    incoming_.erase(incoming_.begin(), end);
    searched_ = 0;
    return true;
}

bool DataBridge::receive(Bytes& data, std::int32_t timeoutMilliseconds) {
    data.clear();
    orvane::UniqueLock lock(mutex_);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(std::max<std::int32_t>(timeoutMilliseconds, 0));
    // What arrived before the connection went is still delivered: an
    // adapter's last answer ("BUSY", "LV RESET") says why it went.
    for (;;) {
        if (takeIncoming(data)) {
            return true;
        }
        if (!valid_ || !lock.waitUntil(arrived_, deadline)) {
            return takeIncoming(data);
        }
    }
}

void DataBridge::send(const Bytes& data) {
    {
        orvane::MutexLock lock(mutex_);
        if (!valid_) {
            return;
        }
        outgoing_.insert(outgoing_.end(), data.begin(), data.end());
    }
    orvane::MutexLock lock(loggersMutex_);
    for (IConnectionLogger* logger : loggers_) {
        logger->onDataSent(data);
    }
}

}  // namespace obd
