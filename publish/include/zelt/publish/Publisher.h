#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "orvane/Mutex.h"
#include "zelt/publish/BrokerAddress.h"
#include "zelt/publish/Spool.h"

struct mosquitto;

namespace zelt::publish {

// The broker answered the login with a refusal (bad user name or password,
// not authorised, client id rejected). The message is one line for the user.
class LoginRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct PublisherSettings {
    BrokerAddress broker;
    std::string clientId;
    // TLS (mqtts://): the CA certificates that vouch for the broker (empty:
    // the system's), and a client certificate with its key (both or none).
    std::string caFile;
    std::string certFile;
    std::string keyFile;
    // Retained "online" while connected, "offline" after a clean close or,
    // as the broker's last will, after the connection was lost.
    std::string statusTopic;
    // Where messages wait for the broker across runs; empty: memory only.
    std::string spoolDirectory;
    std::size_t spoolLimit = std::size_t{4} << 20U;
    // Told, from any thread, what the user should know: the broker lost or
    // back, the first message dropped from a full spool.
    std::function<void(const std::string&)> notice;
};

// Publishes messages to an MQTT broker at QoS 1, in order, and loses none
// while the broker is away: they wait in a bounded spool (memory, and disk
// when asked) and are sent when it is back. A message leaves the spool only
// once the broker acknowledged it, so a message may arrive twice (after a
// reconnect or a restart of the program), never not at all unless the
// spool's bound dropped it.
//
// Uses libmosquitto on a network thread of its own; publish() never waits
// for the network. Thread-safe. Not copyable: the thread refers to it.
class Publisher {
public:
    // Checks the settings and takes over the spool (locked while the
    // publisher lives). Throws SettingsError for TLS files that cannot be
    // used or a status topic no broker takes, std::runtime_error when the
    // spool directory cannot be used (another process holds it) or the
    // client cannot be made.
    explicit Publisher(PublisherSettings settings);

    // Throws what the constructor throws, without making a client or
    // taking over the spool: for a check before anything else is done.
    static void Check(const PublisherSettings& settings);
    // Closes as close() does with no time to flush.
    ~Publisher();

    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Starts connecting and waits at most `wait` for the broker's answer.
    // True when connected; false when the broker did not answer in time (it
    // is tried again in the background, messages wait meanwhile). Throws
    // LoginRefused when the broker refused the login.
    bool connect(std::chrono::milliseconds wait);

    // Queues `payload` for `topic`.
    void publish(std::string topic, std::string payload);

    struct Outcome {
        std::size_t delivered = 0;      // acknowledged by the broker
        std::size_t leftQueued = 0;     // still in the spool
        std::uint64_t dropped = 0;      // dropped: the spool was full, or unsendable in memory
        std::size_t leftNotOnDisk = 0;  // of leftQueued, those lost with the process
        std::uint64_t unwritten = 0;    // messages whose spool file could not be written
        std::string diskError;          // why the last could not
    };
    // Waits at most `flush` for the queued messages, publishes the offline
    // status, disconnects and stops the network thread. Later calls return
    // the same outcome.
    Outcome close(std::chrono::milliseconds flush);

private:
    void run();
    void onConnect(int code);
    void onPublish(int messageId);
    void lost(int code, int systemError);
    void onLog(int level, const char* text);
    void tell(const std::string& notice) const;
    void tellSpoolNotices() ORVANE_EXCLUDES(mutex_);
    void sendMore() ORVANE_REQUIRES(mutex_);
    bool publishStatus(const char* status) ORVANE_REQUIRES(mutex_);
    void pause(std::chrono::milliseconds duration);

    // Constant after construction.
    const PublisherSettings settings_;
    std::unique_ptr<mosquitto, void (*)(mosquitto*)> client_;

    orvane::Mutex mutex_;
    std::condition_variable changed_;
    Spool spool_ ORVANE_GUARDED_BY(mutex_);
    // Messages handed to the client and not yet acknowledged, by message id.
    std::map<int, std::uint64_t> inFlight_ ORVANE_GUARDED_BY(mutex_);
    std::uint64_t nextToSend_ ORVANE_GUARDED_BY(mutex_) = 0;  // the first sequence not handed over
    int statusMessage_ ORVANE_GUARDED_BY(mutex_) = -1;  // the offline status, while unacknowledged
    bool connected_ ORVANE_GUARDED_BY(mutex_) = false;
    std::chrono::steady_clock::time_point connectedSince_ ORVANE_GUARDED_BY(mutex_);
    bool answered_ ORVANE_GUARDED_BY(mutex_) = false;  // the broker answered (or failed) once
    std::string refusal_ ORVANE_GUARDED_BY(mutex_);
    bool warnedLoss_ ORVANE_GUARDED_BY(mutex_) = false;  // since the last connection
    bool starting_ ORVANE_GUARDED_BY(mutex_) = true;     // connect() still waits: it reports
    bool stopping_ ORVANE_GUARDED_BY(mutex_) = false;
    bool closed_ ORVANE_GUARDED_BY(mutex_) = false;
    bool warnedDrop_ ORVANE_GUARDED_BY(mutex_) = false;
    std::size_t delivered_ ORVANE_GUARDED_BY(mutex_) = 0;
    Outcome outcome_ ORVANE_GUARDED_BY(mutex_);
    std::thread network_;

    // The last error the client logged (a TLS failure's detail); its own
    // mutex, as the client logs from inside calls made under mutex_.
    orvane::Mutex logMutex_ ORVANE_ACQUIRED_AFTER(mutex_);
    std::string lastLog_ ORVANE_GUARDED_BY(logMutex_);
};

}  // namespace zelt::publish
