#include "services/SupportCache.h"

#include <utility>

namespace obd::detail {

std::uint64_t SupportCache::generation() const {
    orvane::MutexLock lock(mutex_);
    return generation_;
}

std::optional<std::set<std::uint8_t>> SupportCache::find(std::uint32_t ecu, std::uint8_t service,
                                                         int frame) const {
    orvane::MutexLock lock(mutex_);
    const auto found = announced_.find(Key{ecu, service, frame});
    if (found == announced_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void SupportCache::store(std::uint64_t generation, std::uint32_t ecu, std::uint8_t service,
                         int frame, std::set<std::uint8_t> ids) {
    orvane::MutexLock lock(mutex_);
    if (generation == generation_) {
        announced_[Key{ecu, service, frame}] = std::move(ids);
    }
}

bool SupportCache::multiPidRefused(std::uint8_t service) const {
    orvane::MutexLock lock(mutex_);
    return multiPidRefused_.count(0x01) != 0 || multiPidRefused_.count(service) != 0;
}

void SupportCache::refuseMultiPid(std::uint64_t generation, std::uint8_t service) {
    orvane::MutexLock lock(mutex_);
    if (generation == generation_) {
        multiPidRefused_.insert(service);
    }
}

void SupportCache::clear() {
    orvane::MutexLock lock(mutex_);
    ++generation_;
    announced_.clear();
    multiPidRefused_.clear();
}

}  // namespace obd::detail
