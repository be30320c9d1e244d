#include "zelt/publish/Publisher.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>

#include "TlsFiles.h"

namespace zelt::publish {

namespace {

// Messages handed to the client unacknowledged at once: libmosquitto's own
// in-flight limit, so that the client never queues beyond it and the spool
// stays the only queue.
constexpr int kWindow = 20;
constexpr int kKeepAliveSeconds = 30;
constexpr int kLoopTimeoutMs = 100;
constexpr auto kFirstRetry = std::chrono::milliseconds(250);
constexpr auto kLongestRetry = std::chrono::seconds(2);
// A connection lost sooner than this after it was made (the broker handed
// its client id to another client, or drops it at once) is tried again
// after a growing pause, not at once: no storm of reconnections.
constexpr auto kSteadyConnection = std::chrono::seconds(5);
// The offline status gets at least this long, so that a close without time
// to flush still leaves the right status behind.
constexpr auto kStatusGrace = std::chrono::milliseconds(500);
constexpr int kDisconnectRounds = 10;

void CheckFiles(const PublisherSettings& settings) {
    if (settings.broker.tls) {
        CheckTlsFiles(settings.caFile, settings.certFile, settings.keyFile);
    }
    const std::string problem = TopicProblem(settings.statusTopic);
    if (!problem.empty()) {
        throw SettingsError("invalid status topic '" + settings.statusTopic + "': " + problem);
    }
}

// Errors of mosquitto_publish() that sending again cannot mend.
bool Unsendable(int code) {
    return code == MOSQ_ERR_INVAL || code == MOSQ_ERR_MALFORMED_UTF8 ||
           code == MOSQ_ERR_PAYLOAD_SIZE || code == MOSQ_ERR_OVERSIZE_PACKET ||
           code == MOSQ_ERR_QOS_NOT_SUPPORTED;
}

mosquitto* MakeClient(const PublisherSettings& settings, void* owner) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { mosquitto_lib_init(); });
    CheckFiles(settings);
    mosquitto* client =
        mosquitto_new(settings.clientId.empty() ? nullptr : settings.clientId.c_str(), true, owner);
    if (client == nullptr) {
        throw std::runtime_error("cannot make the MQTT client: " +
                                 std::string(std::strerror(errno)));
    }
    return client;
}

std::string Reason(int code, int systemError) {
    if (code == MOSQ_ERR_ERRNO) {
        return std::strerror(systemError);
    }
    if (code == MOSQ_ERR_CONN_LOST) {
        return "connection lost";
    }
    return mosquitto_strerror(code);
}

void CheckCode(int code, const std::string& what) {
    if (code != MOSQ_ERR_SUCCESS) {
        throw SettingsError(what + ": " + mosquitto_strerror(code));
    }
}

}  // namespace

Publisher::Publisher(PublisherSettings settings)
    : settings_(std::move(settings)),
      client_(MakeClient(settings_, this), mosquitto_destroy),
      spool_(settings_.spoolDirectory, settings_.spoolLimit) {
    mosquitto* client = client_.get();
    const BrokerAddress& broker = settings_.broker;
    if (!broker.username.empty()) {
        CheckCode(
            mosquitto_username_pw_set(client, broker.username.c_str(),
                                      broker.password.empty() ? nullptr : broker.password.c_str()),
            "invalid user name or password");
    }
    static const char kOffline[] = "offline";
    CheckCode(mosquitto_will_set(client, settings_.statusTopic.c_str(), sizeof kOffline - 1,
                                 kOffline, 1, true),
              "invalid status topic");
    if (broker.tls) {
        const char* caFile = settings_.caFile.empty() ? nullptr : settings_.caFile.c_str();
        CheckCode(mosquitto_tls_set(
                      client, caFile, caFile != nullptr ? nullptr : "/etc/ssl/certs",
                      settings_.certFile.empty() ? nullptr : settings_.certFile.c_str(),
                      settings_.keyFile.empty() ? nullptr : settings_.keyFile.c_str(), nullptr),
                  "cannot use the TLS files");
    }
    mosquitto_int_option(client, MOSQ_OPT_SEND_MAXIMUM, kWindow);
    // The network thread is ours (run()), not the library's.
    mosquitto_threaded_set(client, true);
    mosquitto_connect_callback_set(client, [](mosquitto*, void* owner, int code) {
        static_cast<Publisher*>(owner)->onConnect(code);
    });
    mosquitto_publish_callback_set(client, [](mosquitto*, void* owner, int messageId) {
        static_cast<Publisher*>(owner)->onPublish(messageId);
    });
    mosquitto_log_callback_set(client, [](mosquitto*, void* owner, int level, const char* text) {
        static_cast<Publisher*>(owner)->onLog(level, text);
    });
    tellSpoolNotices();
}

void Publisher::Check(const PublisherSettings& settings) {
    CheckFiles(settings);
    if (!settings.spoolDirectory.empty()) {
        Spool::CheckDirectory(settings.spoolDirectory);
    }
}

Publisher::~Publisher() {
    close(std::chrono::milliseconds(0));
}

bool Publisher::connect(std::chrono::milliseconds wait) {
    network_ = std::thread(&Publisher::run, this);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    orvane::UniqueLock lock(mutex_);
    while (!answered_ && lock.waitUntil(changed_, deadline)) {
    }
    if (!refusal_.empty()) {
        throw LoginRefused("the broker at " + settings_.broker.host + ":" +
                           std::to_string(settings_.broker.port) +
                           " refused the connection: " + refusal_);
    }
    starting_ = false;
    return connected_;
}

void Publisher::publish(std::string topic, std::string payload) {
    std::string notice;
    {
        orvane::MutexLock lock(mutex_);
        spool_.push(std::move(topic), std::move(payload));
        if (spool_.dropped() > 0 && !warnedDrop_) {
            warnedDrop_ = true;
            notice = "the spool is full (" + std::to_string(settings_.spoolLimit) +
                     " bytes): the oldest readings are dropped";
        }
        sendMore();
    }
    tell(notice);
    tellSpoolNotices();
}

Publisher::Outcome Publisher::close(std::chrono::milliseconds flush) {
    {
        orvane::UniqueLock lock(mutex_);
        if (closed_) {
            return outcome_;
        }
        const auto deadline = std::chrono::steady_clock::now() + flush;
        while (network_.joinable() && !spool_.messages().empty() &&
               lock.waitUntil(changed_, deadline)) {
        }
        if (connected_ && publishStatus("offline")) {
            const auto statusDeadline =
                std::max(deadline, std::chrono::steady_clock::now() + kStatusGrace);
            while (statusMessage_ >= 0 && connected_ && lock.waitUntil(changed_, statusDeadline)) {
            }
        }
        stopping_ = true;
        changed_.notify_all();
    }
    if (network_.joinable()) {
        network_.join();
    }
    tellSpoolNotices();
    orvane::MutexLock lock(mutex_);
    closed_ = true;
    const auto& left = spool_.messages();
    outcome_ = Outcome{delivered_,
                       left.size(),
                       spool_.dropped(),
                       static_cast<std::size_t>(std::count_if(
                           left.begin(), left.end(),
                           [](const QueuedMessage& message) { return !message.onDisk; })),
                       spool_.unwritten(),
                       spool_.diskError()};
    return outcome_;
}

void Publisher::run() {
    mosquitto* client = client_.get();
    bool first = true;
    bool open = false;
    auto retry = kFirstRetry;
    for (;;) {
        {
            orvane::MutexLock lock(mutex_);
            if (stopping_) {
                break;
            }
        }
        int code = MOSQ_ERR_SUCCESS;
        if (!open) {
            errno = 0;
            code = first ? mosquitto_connect_async(client, settings_.broker.host.c_str(),
                                                   settings_.broker.port, kKeepAliveSeconds)
                         : mosquitto_reconnect_async(client);
            first = false;
            open = code == MOSQ_ERR_SUCCESS;
        }
        if (open) {
            errno = 0;
            code = mosquitto_loop(client, kLoopTimeoutMs, 1);
            open = code == MOSQ_ERR_SUCCESS;
        }
        if (!open) {
            const int systemError = errno;
            bool steady = false;
            {
                orvane::MutexLock lock(mutex_);
                steady = connected_ &&
                         std::chrono::steady_clock::now() - connectedSince_ >= kSteadyConnection;
            }
            lost(code, systemError);
            // A steady connection that dropped is tried again at once; a
            // broker that stays away or drops each new connection, less and
            // less often.
            retry = steady ? kFirstRetry
                           : std::min<std::chrono::milliseconds>(retry * 2, kLongestRetry);
            pause(steady ? std::chrono::milliseconds(0) : retry);
        }
    }
    if (open) {
        // The DISCONNECT is written by the loop, which ends when the client
        // closed the socket after it.
        mosquitto_disconnect(client);
        for (int round = 0; round < kDisconnectRounds; ++round) {
            if (mosquitto_loop(client, kLoopTimeoutMs, 1) != MOSQ_ERR_SUCCESS) {
                break;
            }
        }
    }
}

void Publisher::onConnect(int code) {
    std::string notice;
    {
        orvane::MutexLock lock(mutex_);
        answered_ = true;
        if (code != 0) {
            refusal_ = mosquitto_connack_string(code);
        } else {
            connected_ = true;
            connectedSince_ = std::chrono::steady_clock::now();
            refusal_.clear();
            publishStatus("online");
            if (warnedLoss_ && !spool_.messages().empty()) {
                notice = "connected to the broker again; sending " +
                         std::to_string(spool_.messages().size()) + " queued messages";
            }
            warnedLoss_ = false;
            sendMore();
        }
        changed_.notify_all();
    }
    tell(notice);
}

void Publisher::onPublish(int messageId) {
    orvane::MutexLock lock(mutex_);
    if (messageId == statusMessage_) {
        statusMessage_ = -1;
    }
    const auto found = inFlight_.find(messageId);
    if (found != inFlight_.end()) {
        if (spool_.remove(found->second)) {
            ++delivered_;
        }
        inFlight_.erase(found);
        sendMore();
    }
    changed_.notify_all();
}

void Publisher::onLog(int level, const char* text) {
    if (level == MOSQ_LOG_ERR && text != nullptr) {
        orvane::MutexLock lock(logMutex_);
        lastLog_ = text;
    }
}

void Publisher::lost(int code, int systemError) {
    std::string why = Reason(code, systemError);
    {
        orvane::MutexLock lock(logMutex_);
        if (code == MOSQ_ERR_TLS && !lastLog_.empty()) {
            why += " (" + lastLog_ + ")";
        }
    }
    std::string notice;
    {
        orvane::MutexLock lock(mutex_);
        const bool wasConnected = connected_;
        connected_ = false;
        answered_ = true;
        if (!refusal_.empty()) {
            why = "refused: " + refusal_;
        }
        // A refused login at the start is connect()'s to report.
        if (!warnedLoss_ && !stopping_ && !(starting_ && !refusal_.empty())) {
            warnedLoss_ = true;
            notice =
                std::string(wasConnected ? "lost the broker at " : "cannot reach the broker at ") +
                settings_.broker.host + ":" + std::to_string(settings_.broker.port) + " (" + why +
                "); readings wait in the queue until it answers";
        }
        changed_.notify_all();
    }
    tell(notice);
}

void Publisher::sendMore() {
    if (!connected_ || stopping_) {
        return;
    }
    while (inFlight_.size() < static_cast<std::size_t>(kWindow)) {
        const auto& messages = spool_.messages();
        const std::uint64_t first = nextToSend_;
        const auto next = std::find_if(
            messages.begin(), messages.end(),
            [first](const QueuedMessage& message) { return message.sequence >= first; });
        if (next == messages.end()) {
            return;
        }
        const std::uint64_t sequence = next->sequence;
        int messageId = 0;
        const int code = mosquitto_publish(client_.get(), &messageId, next->topic.c_str(),
                                           static_cast<int>(next->payload.size()),
                                           next->payload.data(), 1, false);
        if (Unsendable(code)) {
            // Set aside, not retried for ever: the messages behind it go on.
            spool_.setAside(sequence, mosquitto_strerror(code));
            continue;
        }
        if (code != MOSQ_ERR_SUCCESS) {
            return;  // tried again on the next acknowledgement or connection
        }
        spool_.handOver(sequence);
        inFlight_[messageId] = sequence;
        nextToSend_ = sequence + 1;
    }
}

bool Publisher::publishStatus(const char* status) {
    int messageId = 0;
    if (mosquitto_publish(client_.get(), &messageId, settings_.statusTopic.c_str(),
                          static_cast<int>(std::strlen(status)), status, 1,
                          true) != MOSQ_ERR_SUCCESS) {
        return false;
    }
    statusMessage_ = messageId;
    return true;
}

void Publisher::pause(std::chrono::milliseconds duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    orvane::UniqueLock lock(mutex_);
    while (!stopping_ && lock.waitUntil(changed_, until)) {
    }
}

void Publisher::tellSpoolNotices() {
    std::vector<std::string> notices;
    {
        orvane::MutexLock lock(mutex_);
        notices = spool_.takeNotices();
    }
    for (const std::string& notice : notices) {
        tell(notice);
    }
}

void Publisher::tell(const std::string& notice) const {
    if (!notice.empty() && settings_.notice) {
        settings_.notice(notice);
    }
}

}  // namespace zelt::publish
