#include "services/AnswerMemo.h"

namespace obd::detail {

void AnswerMemo::hold() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++holders_;
}

void AnswerMemo::release() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (holders_ > 0 && --holders_ == 0) {
        ++generation_;
        answers_.clear();
    }
}

bool AnswerMemo::held() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return holders_ > 0;
}

std::uint64_t AnswerMemo::generation() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return generation_;
}

std::optional<AnswerMemo::Bytes> AnswerMemo::find(std::uint32_t ecu, const Bytes& request) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = answers_.find({ecu, request});
    if (found == answers_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void AnswerMemo::store(std::uint64_t generation, std::uint32_t ecu, const Bytes& request,
                       Bytes answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (holders_ > 0 && generation == generation_) {
        answers_[{ecu, request}] = std::move(answer);
    }
}

void AnswerMemo::forget() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++generation_;
    answers_.clear();
}

}  // namespace obd::detail
