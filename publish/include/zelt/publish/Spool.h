#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace zelt::publish {

// One message waiting for the broker's acknowledgement.
struct QueuedMessage {
    std::uint64_t sequence = 0;  // increases with each message, across runs with a directory
    std::string topic;
    std::string payload;
    bool onDisk = false;      // its file was written and synced
    bool handedOver = false;  // the MQTT client holds it until acknowledged
};

// The messages not yet acknowledged, oldest first, in memory and, with a
// directory, one file each on disk so that the next run finds them.
//
// Bounded: the topics and payloads not yet handed over to the client stay
// within `limitBytes` (those handed over are the client's, bounded by its
// window, and are never dropped); a message that would pass the bound drops
// the oldest ones, which are counted, those an earlier run left included.
//
// On disk, a message counts as kept only once its file was written, synced
// and renamed into place; a write that failed is counted (unwritten()) and
// the message stays in memory only. One process per directory: it is locked
// while the spool lives. A file that cannot be sent (a name that is no
// message number, a topic no broker takes, a file cut short) is moved into
// "quarantine/" in the directory, and a notice says so.
//
// Not thread-safe: its owner guards it.
class Spool {
public:
    // Memory only when `directory` is empty. Otherwise creates it when
    // missing, locks it and takes over what a previous run left there, in
    // order. Throws std::runtime_error when the directory cannot be made,
    // read or locked (another process uses it).
    Spool(std::string directory, std::size_t limitBytes);
    ~Spool();

    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // Checks that `directory` can be made, locked and written, without
    // taking it over; throws as the constructor does.
    static void CheckDirectory(const std::string& directory);

    // Appends a message, dropping the oldest while the bound is passed (a
    // message larger than the bound itself is dropped at once).
    void push(std::string topic, std::string payload);
    // The client holds message `sequence` now: it no longer counts against
    // the bound and is not dropped.
    void handOver(std::uint64_t sequence);
    // Forgets the message `sequence` (acknowledged); false when it is gone
    // already.
    bool remove(std::uint64_t sequence);
    // Moves the message `sequence`, which cannot be sent, out of the queue
    // and its file into quarantine, with a notice naming `reason`.
    void setAside(std::uint64_t sequence, const std::string& reason);

    const std::deque<QueuedMessage>& messages() const { return messages_; }
    std::uint64_t dropped() const { return dropped_; }
    // Messages whose file could not be written, and why the last could not.
    std::uint64_t unwritten() const { return unwritten_; }
    const std::string& diskError() const { return diskError_; }
    // What the user should be told since the last call.
    std::vector<std::string> takeNotices();

private:
    struct Found;
    std::string fileName(std::uint64_t sequence) const;
    void load();
    void keep(const Found& file);
    void quarantine(const std::string& path, const std::string& reason);
    void write(QueuedMessage& message);
    void dropOldest();

    const std::string directory_;
    const std::size_t limitBytes_;
    int lock_ = -1;  // the locked file's descriptor, with a directory
    std::deque<QueuedMessage> messages_;
    std::size_t bytes_ = 0;  // of the messages not handed over
    std::uint64_t nextSequence_ = 1;
    std::uint64_t dropped_ = 0;
    std::uint64_t unwritten_ = 0;
    std::string diskError_;
    std::vector<std::string> notices_;
};

}  // namespace zelt::publish
