#include "zelt/app/Recording.h"

#include <nlohmann/json.hpp>

#include "zelt/app/Errors.h"

namespace zelt::app {

namespace {

// One character per byte (Latin-1), so that every byte the adapter sent,
// garbage included, survives the JSON text unchanged.
std::string AsText(const std::string& bytes) {
    std::string text;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

}  // namespace

Recording::Recording(const std::string& path, const std::string& settingsJson,
                     std::unique_ptr<obd::elm327::DialogueAnonymiser> anonymiser)
    : out_(path, std::ios::binary | std::ios::trunc), anonymiser_(std::move(anonymiser)) {
    orvane::MutexLock lock(mutex_);
    if (!out_) {
        throw InputError("cannot write the recording " + path);
    }
    nlohmann::json header = {{"format", "zelt-adapter-recording"},
                             {"version", 1},
                             {"settings", nlohmann::json::parse(settingsJson)}};
    out_ << header.dump() << '\n' << std::flush;
}

void Recording::bytes(const char* direction, const std::vector<std::uint8_t>& data) {
    orvane::MutexLock lock(mutex_);
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - start_)
                         .count();
    if (direction[0] == '>') {
        if (command_.empty()) {
            sentAt_ = now;
        }
        command_.append(data.begin(), data.end());
        return;
    }
    for (std::uint8_t byte : data) {
        if (byte == '>') {
            finish();
        } else {
            answer_ += static_cast<char>(byte);
        }
    }
}

void Recording::finish() {
    // The command as sent without its carriage return; the answer as
    // received, up to the prompt.
    std::string command = command_;
    while (!command.empty() && (command.back() == '\r' || command.back() == '\n')) {
        command.pop_back();
    }
    const std::string answer = anonymiser_ ? anonymiser_->mask(command, answer_) : answer_;
    const nlohmann::json exchange = {
        {"t", sentAt_}, {"command", AsText(command)}, {"answer", AsText(answer)}};
    out_ << exchange.dump() << '\n' << std::flush;
    command_.clear();
    answer_.clear();
}

}  // namespace zelt::app
