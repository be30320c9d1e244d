#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace zelt::publish {

// One message waiting for the broker's acknowledgement.
struct QueuedMessage {
    std::uint64_t sequence = 0;  // increases with each message, across runs with a directory
    std::string topic;
    std::string payload;
};

// The messages not yet acknowledged, oldest first, in memory and, with a
// directory, one file each on disk so that the next run finds them.
//
// Bounded: topics and payloads together stay within `limitBytes`; a message
// that would pass the bound drops the oldest ones, which are counted. A file
// that cannot be written leaves the message in memory and is reported by
// diskError().
//
// Not thread-safe: its owner guards it.
class Spool {
public:
    // Memory only when `directory` is empty. Otherwise creates it when
    // missing and takes over what a previous run left there, in order.
    // Throws std::runtime_error when the directory cannot be made or read.
    Spool(std::string directory, std::size_t limitBytes);

    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // Appends a message, dropping the oldest while the bound is passed (a
    // message larger than the bound itself is dropped at once).
    void push(std::string topic, std::string payload);
    // Forgets the message `sequence` (acknowledged); false when it is gone
    // already.
    bool remove(std::uint64_t sequence);

    const std::deque<QueuedMessage>& messages() const { return messages_; }
    std::uint64_t dropped() const { return dropped_; }
    // Why the last file could not be written; empty when all were.
    const std::string& diskError() const { return diskError_; }

private:
    std::string fileName(std::uint64_t sequence) const;
    void load();
    void dropOldest();

    const std::string directory_;
    const std::size_t limitBytes_;
    std::deque<QueuedMessage> messages_;
    std::size_t bytes_ = 0;
    std::uint64_t nextSequence_ = 1;
    std::uint64_t dropped_ = 0;
    std::string diskError_;
};

}  // namespace zelt::publish
