#include "zelt/publish/Spool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "zelt/publish/BrokerAddress.h"

namespace zelt::publish {

namespace fs = std::filesystem;

namespace {

// A message file is "<sequence, 20 digits>.msg": names sort as sequences do.
// It holds the topic, a line feed, then the payload as it is.
constexpr const char* kSuffix = ".msg";
constexpr std::size_t kDigits = 20;
constexpr const char* kLockName = ".lock";
constexpr const char* kQuarantine = "quarantine";
// Files are read in pieces of this size, never more than they hold.
constexpr std::size_t kReadPiece = std::size_t{64} << 10U;

std::size_t Size(const QueuedMessage& message) {
    return message.topic.size() + message.payload.size();
}

std::string SystemReason() {
    return std::strerror(errno);
}

// The sequence a file's stem names; 0 when it names none (sequences start
// at 1, and the last number is kept free so that the next one exists).
std::uint64_t SequenceOf(const std::string& stem) {
    if (stem.size() != kDigits || stem.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    errno = 0;
    const unsigned long long value = std::strtoull(stem.c_str(), nullptr, 10);
    return errno == ERANGE || value == UINT64_MAX ? 0 : value;
}

// Writes all of `data`; false with errno set when it could not.
bool WriteAll(int file, const std::string& data) {
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t now = ::write(file, data.data() + written, data.size() - written);
        if (now < 0 && errno == EINTR) {
            continue;
        }
        if (now <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(now);
    }
    return true;
}

// Holds an exclusive lock on `directory`'s lock file; the descriptor, which
// keeps it until closed.
int LockDirectory(const std::string& directory) {
    std::error_code error;
    fs::create_directories(directory, error);
    if (error || !fs::is_directory(directory)) {
        throw std::runtime_error("cannot use the spool directory '" + directory +
                                 "': " + (error ? error.message() : "not a directory"));
    }
    const std::string path = (fs::path(directory) / kLockName).string();
    const int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (file < 0) {
        throw std::runtime_error("cannot use the spool directory '" + directory +
                                 "': " + SystemReason());
    }
    if (::flock(file, LOCK_EX | LOCK_NB) != 0) {
        const bool taken = errno == EWOULDBLOCK;
        const std::string reason = SystemReason();
        ::close(file);
        throw std::runtime_error(taken ? "another run uses the spool directory '" + directory +
                                             "'; give each run its own --spool"
                                       : "cannot lock the spool directory '" + directory +
                                             "': " + reason);
    }
    return file;
}

}  // namespace

// A message file found at start-up.
struct Spool::Found {
    std::uint64_t sequence;
    fs::path path;
    std::uintmax_t size;
};

Spool::Spool(std::string directory, std::size_t limitBytes)
    : directory_(std::move(directory)), limitBytes_(limitBytes) {
    if (!directory_.empty()) {
        lock_ = LockDirectory(directory_);
        load();
    }
}

Spool::~Spool() {
    if (lock_ >= 0) {
        ::close(lock_);
    }
}

void Spool::CheckDirectory(const std::string& directory) {
    const int lock = LockDirectory(directory);
    ::close(lock);
    if (::access(directory.c_str(), W_OK | X_OK) != 0) {
        throw std::runtime_error("cannot write in the spool directory '" + directory +
                                 "': " + SystemReason());
    }
}

std::string Spool::fileName(std::uint64_t sequence) const {
    std::string digits = std::to_string(sequence);
    digits.insert(0, kDigits - std::min(kDigits, digits.size()), '0');
    return (fs::path(directory_) / (digits + kSuffix)).string();
}

void Spool::load() {
    std::error_code error;
    std::vector<Found> files;
    std::vector<fs::path> unnamed;
    for (fs::directory_iterator it(directory_, error), end; !error && it != end;
         it.increment(error)) {
        const fs::path& path = it->path();
        std::error_code ignored;
        if (path.extension() == ".tmp") {
            fs::remove(path, ignored);  // a write a killed run left unfinished
        } else if (path.extension() == kSuffix && it->is_regular_file(ignored)) {
            const std::uint64_t sequence = SequenceOf(path.stem().string());
            if (sequence == 0) {
                unnamed.push_back(path);
            } else {
                files.push_back({sequence, path, it->file_size(ignored)});
            }
        }
    }
    if (error) {
        throw std::runtime_error("cannot read the spool directory '" + directory_ +
                                 "': " + error.message());
    }
    for (const fs::path& path : unnamed) {
        quarantine(path.string(), "its name is no message number");
    }
    std::sort(files.begin(), files.end(),
              [](const Found& a, const Found& b) { return a.sequence < b.sequence; });
    // The newest that fit the bound are kept, judged by their size before
    // any is read: a file over the bound costs no memory.
    std::size_t fitting = 0;
    std::size_t bytes = 0;
    for (auto it = files.rbegin(); it != files.rend(); ++it, ++fitting) {
        const std::uintmax_t size = it->size > 0 ? it->size - 1 : 0;  // less the line feed
        if (size > limitBytes_ - bytes) {
            break;
        }
        bytes += static_cast<std::size_t>(size);
    }
    const std::size_t over = files.size() - fitting;
    for (std::size_t i = 0; i < files.size(); ++i) {
        nextSequence_ = std::max(nextSequence_, files[i].sequence + 1);
        if (i < over) {
            fs::remove(files[i].path, error);
            ++dropped_;
        } else {
            keep(files[i]);
        }
    }
    if (over > 0) {
        notices_.push_back(std::to_string(over) + " messages an earlier run left in '" +
                           directory_ + "' were dropped: more than the spool holds (" +
                           std::to_string(limitBytes_) + " bytes)");
    }
}

void Spool::keep(const Found& file) {
    std::ifstream in(file.path, std::ios::binary);
    std::string content;
    content.reserve(static_cast<std::size_t>(file.size));
    std::string piece(kReadPiece, '\0');
    while (in && content.size() < file.size) {
        in.read(piece.data(), static_cast<std::streamsize>(std::min<std::uintmax_t>(
                                  kReadPiece, file.size - content.size())));
        content.append(piece.data(), static_cast<std::size_t>(in.gcount()));
    }
    const std::size_t feed = content.find('\n');
    if (content.size() != file.size || feed == std::string::npos || feed == 0) {
        quarantine(file.path.string(), "it is cut short or cannot be read");
        return;
    }
    QueuedMessage message{file.sequence, content.substr(0, feed), content.substr(feed + 1), true,
                          false};
    const std::string problem = TopicProblem(message.topic);
    if (!problem.empty()) {
        quarantine(file.path.string(), problem);
        return;
    }
    bytes_ += Size(message);
    messages_.push_back(std::move(message));
}

void Spool::quarantine(const std::string& path, const std::string& reason) {
    const fs::path aside = fs::path(directory_) / kQuarantine;
    std::error_code error;
    fs::create_directories(aside, error);
    if (!error) {
        fs::rename(path, aside / fs::path(path).filename(), error);
    }
    notices_.push_back("cannot send '" + path + "' (" + reason + "): " +
                       (error ? "left where it is (" + error.message() + ")"
                              : "set aside in '" + aside.string() + "'"));
}

void Spool::push(std::string topic, std::string payload) {
    QueuedMessage message{nextSequence_++, std::move(topic), std::move(payload), false, false};
    const std::size_t size = Size(message);
    if (size > limitBytes_) {
        ++dropped_;
        return;
    }
    while (bytes_ + size > limitBytes_ && bytes_ > 0) {
        dropOldest();
    }
    if (!directory_.empty()) {
        write(message);
    }
    bytes_ += size;
    messages_.push_back(std::move(message));
}

void Spool::write(QueuedMessage& message) {
    // Written aside, synced, then renamed: a run killed while writing leaves
    // no half message under a message's name, and a message counts as kept
    // only once it is on the disk.
    const std::string name = fileName(message.sequence);
    const std::string temporary = name + ".tmp";
    const int file = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool written = file >= 0 && WriteAll(file, message.topic + '\n') &&
                   WriteAll(file, message.payload) && ::fsync(file) == 0;
    const std::string reason = SystemReason();
    if (file >= 0) {
        written = ::close(file) == 0 && written;
    }
    std::error_code error;
    if (written) {
        fs::rename(temporary, name, error);
    }
    if (!written || error) {
        ++unwritten_;
        diskError_ = "cannot write '" + name + "': " + (error ? error.message() : reason);
        fs::remove(temporary, error);
        return;
    }
    message.onDisk = true;
}

void Spool::handOver(std::uint64_t sequence) {
    for (QueuedMessage& message : messages_) {
        if (message.sequence == sequence && !message.handedOver) {
            message.handedOver = true;
            bytes_ -= Size(message);
        }
    }
}

bool Spool::remove(std::uint64_t sequence) {
    const auto found =
        std::find_if(messages_.begin(), messages_.end(),
                     [&](const QueuedMessage& message) { return message.sequence == sequence; });
    if (found == messages_.end()) {
        return false;
    }
    if (found->onDisk) {
        std::error_code error;
        fs::remove(fileName(sequence), error);
    }
    if (!found->handedOver) {
        bytes_ -= Size(*found);
    }
    messages_.erase(found);
    return true;
}

void Spool::setAside(std::uint64_t sequence, const std::string& reason) {
    const auto found =
        std::find_if(messages_.begin(), messages_.end(),
                     [&](const QueuedMessage& message) { return message.sequence == sequence; });
    if (found == messages_.end()) {
        return;
    }
    if (found->onDisk) {
        quarantine(fileName(sequence), reason);
    } else {
        notices_.push_back("cannot send a message on '" + found->topic + "' (" + reason +
                           "): dropped");
        ++dropped_;
    }
    if (!found->handedOver) {
        bytes_ -= Size(*found);
    }
    messages_.erase(found);
}

void Spool::dropOldest() {
    const auto oldest =
        std::find_if(messages_.begin(), messages_.end(),
                     [](const QueuedMessage& message) { return !message.handedOver; });
    if (oldest != messages_.end()) {
        remove(oldest->sequence);
        ++dropped_;
    }
}

std::vector<std::string> Spool::takeNotices() {
    std::vector<std::string> notices;
    notices.swap(notices_);
    return notices;
}

}  // namespace zelt::publish
