#include "zelt/publish/Spool.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace zelt::publish {

namespace fs = std::filesystem;

namespace {

// A message file is "<sequence, 20 digits>.msg": names sort as sequences do.
// It holds the topic, a line feed, then the payload as it is.
constexpr const char* kSuffix = ".msg";
constexpr std::size_t kDigits = 20;

std::size_t Size(const QueuedMessage& message) {
    return message.topic.size() + message.payload.size();
}

std::string SystemReason() {
    return errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
}

}  // namespace

Spool::Spool(std::string directory, std::size_t limitBytes)
    : directory_(std::move(directory)), limitBytes_(limitBytes) {
    if (!directory_.empty()) {
        load();
    }
}

std::string Spool::fileName(std::uint64_t sequence) const {
    std::string digits = std::to_string(sequence);
    digits.insert(0, kDigits - std::min(kDigits, digits.size()), '0');
    return (fs::path(directory_) / (digits + kSuffix)).string();
}

void Spool::load() {
    std::error_code error;
    fs::create_directories(directory_, error);
    if (error || !fs::is_directory(directory_)) {
        throw std::runtime_error("cannot use the spool directory '" + directory_ +
                                 "': " + (error ? error.message() : "not a directory"));
    }
    std::vector<fs::path> files;
    for (fs::directory_iterator it(directory_, error), end; !error && it != end;
         it.increment(error)) {
        const fs::path& path = it->path();
        const std::string stem = path.stem().string();
        if (path.extension() == ".tmp") {
            fs::remove(path, error);  // a write a killed run left unfinished
            error.clear();
        } else if (path.extension() == kSuffix && stem.size() == kDigits &&
                   stem.find_first_not_of("0123456789") == std::string::npos) {
            files.push_back(path);
        }
    }
    if (error) {
        throw std::runtime_error("cannot read the spool directory '" + directory_ +
                                 "': " + error.message());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& path : files) {
        std::ifstream in(path, std::ios::binary);
        QueuedMessage message;
        message.sequence = std::stoull(path.stem().string());
        nextSequence_ = std::max(nextSequence_, message.sequence + 1);
        if (!std::getline(in, message.topic) || message.topic.empty()) {
            fs::remove(path, error);  // a file cut short before its topic: nothing to send
            continue;
        }
        message.payload.assign(std::istreambuf_iterator<char>(in), {});
        bytes_ += Size(message);
        messages_.push_back(std::move(message));
    }
    while (bytes_ > limitBytes_) {
        dropOldest();
    }
}

void Spool::push(std::string topic, std::string payload) {
    QueuedMessage message{nextSequence_++, std::move(topic), std::move(payload)};
    const std::size_t size = Size(message);
    if (size > limitBytes_) {
        ++dropped_;
        return;
    }
    while (!messages_.empty() && bytes_ + size > limitBytes_) {
        dropOldest();
    }
    if (!directory_.empty()) {
        // Written aside, then renamed: a run killed while writing leaves no
        // half message under a message's name.
        const std::string name = fileName(message.sequence);
        const std::string temporary = name + ".tmp";
        errno = 0;
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << message.topic << '\n' << message.payload;
        out.close();
        std::error_code error;
        if (!out) {
            diskError_ = "cannot write '" + temporary + "'" + SystemReason();
            fs::remove(temporary, error);
        } else {
            fs::rename(temporary, name, error);
            if (error) {
                diskError_ = "cannot write '" + name + "': " + error.message();
            }
        }
    }
    bytes_ += size;
    messages_.push_back(std::move(message));
}

bool Spool::remove(std::uint64_t sequence) {
    const auto found =
        std::find_if(messages_.begin(), messages_.end(),
                     [&](const QueuedMessage& message) { return message.sequence == sequence; });
    if (found == messages_.end()) {
        return false;
    }
    if (!directory_.empty()) {
        std::error_code error;
        fs::remove(fileName(sequence), error);
    }
    bytes_ -= Size(*found);
    messages_.erase(found);
    return true;
}

void Spool::dropOldest() {
    remove(messages_.front().sequence);
    ++dropped_;
}

}  // namespace zelt::publish
