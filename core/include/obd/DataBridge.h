#pragma once

// The byte bridge between the core and a transport that only the application
// can reach (a socket, a serial port): the core writes requests into one end,
// the application carries them and hands the answers back in.
//
// Thread safety: DataBridge may be used from any thread, both ends at once;
// one internal mutex guards the byte queues. receive() blocks its caller until
// bytes arrive, the timeout passes or the bridge is invalidated. Loggers are
// called on the thread of the set() or send() that moved the bytes, outside
// the queues' lock but under a second one that add/removeLogger() take.
//
// Ownership: the application creates the DataBridge (as a shared pointer),
// gives it to the connection manager and keeps it for the connection's life.
// Loggers are not owned: a logger must outlive its registration; once
// removeLogger() has returned, no call reaches it any more.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <vector>

#include "Export.h"
#include "orvane/Mutex.h"
#include "orvane/ThreadAnnotations.h"

namespace obd {

// A sequence of raw bytes on a vehicle connection.
using Bytes = std::vector<std::uint8_t>;

// Watches the bytes that cross a data bridge (for traces and data logs).
class OBD_API IConnectionLogger {
public:
    virtual ~IConnectionLogger();
    // Bytes the core sent towards the vehicle.
    virtual void onDataSent(const Bytes& data) = 0;
    // Bytes that arrived from the vehicle.
    virtual void onDataReceived(const Bytes& data) = 0;
};

// The application's end of a data bridge: it carries bytes between the core
// and the real transport (a socket, a serial port) that only it can reach.
class OBD_API IDataBridge {
public:
    virtual ~IDataBridge();
    // Marks the bridge dead: get() stops delivering, and receive() delivers
    // only what had arrived before (an adapter's last answer may say why
    // the connection went). Returns whether it was valid before.
    virtual bool invalidate() = 0;
    // Takes every byte the core has sent and the application not yet taken;
    // false when there was none. Does not wait.
    virtual bool get(Bytes& data) = 0;
    // Hands bytes that arrived from the vehicle to the core.
    virtual void set(const Bytes& data) = 0;
    // Adds a watcher of the bytes that cross the bridge; not owned.
    // Loggers are called on the thread that moves the bytes; a logger must
    // not add or remove loggers from inside its callbacks. Once
    // removeLogger() has returned, the logger is not called again and no
    // call to it is still running, so its owner may destroy it.
    virtual void addLogger(IConnectionLogger* logger) = 0;
    // Removes a watcher added with addLogger().
    virtual void removeLogger(IConnectionLogger* logger) = 0;
};

// The core's end of a data bridge, used by the connection manager.
class OBD_API IDataConnection {
public:
    virtual ~IDataConnection();
    // From now on receive() delivers the bytes up to and including this
    // character (an adapter's prompt, for example).
    virtual void setDelimiter(char delimiter) = 0;
    // False once the bridge has been invalidated.
    virtual bool isValid() const = 0;
    // Waits up to `timeoutMilliseconds` for incoming bytes: up to and
    // including the delimiter when one is set, else whatever has arrived.
    // False on timeout or when the bridge is invalid; `data` is then empty.
    virtual bool receive(Bytes& data, std::int32_t timeoutMilliseconds) = 0;
    // Queues bytes for the application to send to the vehicle.
    virtual void send(const Bytes& data) = 0;
};

// An in-memory bridge between the two ends. Both ends may be used from
// different threads at once.
//
// Bounded: bytes from the vehicle that the core has not taken are held up to
// kMaxIncomingBytes, far more than any adapter's answer. A peer that sends
// more without a delimiter is not an adapter answering: set() then marks
// the bridge dead (as invalidate()) and drops what it held.
class OBD_API DataBridge : public IDataBridge, public IDataConnection {
public:
    // The most bytes from the vehicle held for the core at once.
    static constexpr std::size_t kMaxIncomingBytes = std::size_t{64} * 1024;

    DataBridge() = default;
    DataBridge(const DataBridge&) = delete;
    DataBridge& operator=(const DataBridge&) = delete;
    ~DataBridge() override;

    bool invalidate() override;
    bool get(Bytes& data) override;
    void set(const Bytes& data) override;
    void addLogger(IConnectionLogger* logger) override;
    void removeLogger(IConnectionLogger* logger) override;

    void setDelimiter(char delimiter) override;
    bool isValid() const override;
    bool receive(Bytes& data, std::int32_t timeoutMilliseconds) override;
    void send(const Bytes& data) override;

private:
    // Takes the first delimited chunk (or everything without a delimiter)
    // from `incoming_`.
    bool takeIncoming(Bytes& data) ORVANE_REQUIRES(mutex_);

    mutable orvane::Mutex mutex_;
    std::condition_variable arrived_;
    bool valid_ ORVANE_GUARDED_BY(mutex_) = true;
    bool hasDelimiter_ ORVANE_GUARDED_BY(mutex_) = false;
    char delimiter_ ORVANE_GUARDED_BY(mutex_) = 0;
    std::deque<std::uint8_t> incoming_ ORVANE_GUARDED_BY(mutex_);  // vehicle -> core
    // The first bytes of incoming_ already searched for the delimiter, so
    // that each byte is searched once however it arrives.
    std::size_t searched_ ORVANE_GUARDED_BY(mutex_) = 0;
    Bytes outgoing_ ORVANE_GUARDED_BY(mutex_);  // core -> vehicle
    // Held while the loggers are called, so that removeLogger() waits for a
    // call in progress. Taken without mutex_ held, never the other way round.
    orvane::Mutex loggersMutex_ ORVANE_ACQUIRED_BEFORE(mutex_);
    std::vector<IConnectionLogger*> loggers_ ORVANE_GUARDED_BY(loggersMutex_);
};

}  // namespace obd
