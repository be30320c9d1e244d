#include "services/AnswerMemo.h"

namespace obd::detail {

void AnswerMemo::hold() {
    orvane::MutexLock lock(mutex_);
    ++holders_;
}

void AnswerMemo::release() {
    orvane::MutexLock lock(mutex_);
    if (holders_ > 0 && --holders_ == 0) {
        ++generation_;
        answers_.clear();
    }
}

bool AnswerMemo::held() const {
    orvane::MutexLock lock(mutex_);
    return holders_ > 0;
}

std::uint64_t AnswerMemo::generation() const {
    orvane::MutexLock lock(mutex_);
    return generation_;
}

std::optional<AnswerMemo::Bytes> AnswerMemo::find(std::uint32_t ecu, const Bytes& request) const {
    orvane::MutexLock lock(mutex_);
    const auto found = answers_.find({ecu, request});
    if (found == answers_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void AnswerMemo::store(std::uint64_t generation, std::uint32_t ecu, const Bytes& request,
                       Bytes answer) {
    orvane::MutexLock lock(mutex_);
    if (holders_ > 0 && generation == generation_) {
        answers_[{ecu, request}] = std::move(answer);
    }
}

void AnswerMemo::forget() {
    orvane::MutexLock lock(mutex_);
    ++generation_;
    answers_.clear();
}

}  // namespace obd::detail
