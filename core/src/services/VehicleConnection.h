#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bus/RequestChannel.h"
#include "events/EventDispatcher.h"
#include "events/ObserverList.h"
#include "obd/DataLinkProtocol.h"
#include "obd/IAdapter.h"
#include "obd/IConnectionServiceObserver.h"
#include "obd/TestRoutineDataModel.h"
#include "orvane/Mutex.h"
#include "orvane/ThreadAnnotations.h"
#include "services/AnswerMemo.h"
#include "services/DataLog.h"
#include "services/SensorStatistics.h"
#include "services/SupportCache.h"

namespace obd::detail {

// The vehicle connection of one root, shared by all services built from it:
// whether it is open, which ECUs answered and which one is selected, the
// channel requests travel over, the statistics of sensor readings and the
// routine activations of this connection. It reports connection events to
// every connection service's observers, and every request and answer to the
// data logs, through the root's dispatcher, so that nothing is delivered
// from inside a service call.
//
// Thread safety: all operations may be called from any thread. Requests are
// serialised; the state may be read while a request runs.
class VehicleConnection {
public:
    using ConnectionObservers = ObserverList<IConnectionServiceObserver>;

    VehicleConnection(std::shared_ptr<IRequestChannel> channel, std::shared_ptr<IAdapter> adapter,
                      DataLinkProtocol protocol, std::shared_ptr<EventDispatcher> dispatcher);

    VehicleConnection(const VehicleConnection&) = delete;
    VehicleConnection& operator=(const VehicleConnection&) = delete;

    // Opens the connection: asks every ECU for its supported PIDs, keeps
    // those that answered and selects the first. False when none answered.
    // Opening an open connection does nothing and answers true.
    bool open() ORVANE_EXCLUDES(busMutex_, stateMutex_);
    void close() ORVANE_EXCLUDES(busMutex_, stateMutex_);
    // False when the connection is closed or no such ECU answered. Selecting
    // the selected ECU again reports nothing.
    bool selectEcu(std::uint32_t ecu) ORVANE_EXCLUDES(stateMutex_);

    bool isOpen() const ORVANE_EXCLUDES(stateMutex_);
    std::uint32_t selectedEcu() const ORVANE_EXCLUDES(stateMutex_);  // 0 when closed
    std::vector<std::uint32_t> ecus() const ORVANE_EXCLUDES(stateMutex_);
    std::shared_ptr<IAdapter> adapter() const;  // null when closed
    // The adapter's protocol (it may find it only when opening).
    DataLinkProtocol protocol() const { return adapter_ ? adapter_->getProtocol() : protocol_; }

    // Sends a request to `ecu` (kAllEcus: every ECU); nothing is sent while
    // the connection is closed. `frames`: how many frames the answers take
    // in all, when known (see IRequestChannel::transactExpecting).
    std::vector<EcuResponse> transact(const Bytes& request, std::uint32_t ecu,
                                      std::size_t frames = 0) ORVANE_EXCLUDES(busMutex_);
    // The answer of `ecu`, if it sent one; nothing when `ecu` is 0 (no ECU
    // selected) or the connection is closed.
    std::optional<Bytes> request(const Bytes& request, std::uint32_t ecu)
        ORVANE_EXCLUDES(busMutex_);
    std::optional<double> batteryVoltage();
    // Whether the calling thread's last request failed rather than being
    // answered (nobody answering is an answer).
    bool lastRequestFailed() const { return channel_->lastRequestFailed(); }

    // Whether one request of `service` may carry several ids: on CAN, unless
    // switched off (to compare with one request per id) or refused on this
    // connection (see SupportCache::multiPidRefused).
    bool multiPidRequests(std::uint8_t service = 0x01) const;
    void setMultiPidRequests(bool enabled) { multiPidRequests_ = enabled; }

    // Reports an exchange that did not go through transact() (an adapter
    // command) to the data logs.
    void logExchange(const std::string& request, const std::string& answer)
        ORVANE_EXCLUDES(busMutex_);

    void addConnectionObservers(const std::shared_ptr<ConnectionObservers>& observers);
    void addDataLog(const std::shared_ptr<DataLog>& log);

    SensorStatistics& statistics() { return statistics_; }
    // Emptied when the connection opens or closes; kept per ECU, so
    // selecting another ECU leaves it as it is.
    SupportCache& supportCache() { return supportCache_; }
    // Emptied when the connection opens or closes and after a request that
    // changes what the vehicle reports (clearing codes, running a routine).
    AnswerMemo& answerMemo() { return answerMemo_; }
    const std::shared_ptr<EventDispatcher>& dispatcher() const { return dispatcher_; }
    // True while a connection event posted earlier has not reached every
    // observer yet: a caller that promises its readers the state after a
    // change waits for the dispatcher only then.
    bool eventsUnderway() const { return *eventsUnderway_ > 0; }

    // The routine records of this connection, per ECU and routine id.
    std::shared_ptr<TestRoutineDataModel> routineRecord(std::uint32_t ecu, int id) const;
    void setRoutineRecord(std::uint32_t ecu, std::shared_ptr<TestRoutineDataModel> record);

private:
    enum class Event { Opened, EcuChanged, Closed };

    // Holding stateMutex_ keeps events queued in the order the state changed.
    void post(Event event) ORVANE_REQUIRES(stateMutex_);
    // Adds an entry to every enabled data log; may run with stateMutex_ held.
    void log(MessageDirection direction, const std::string& text) ORVANE_EXCLUDES(logsMutex_);
    std::vector<EcuResponse> exchange(const Bytes& request, std::uint32_t ecu,
                                      std::size_t frames = 0) ORVANE_REQUIRES(busMutex_);

    // Constant after construction.
    const std::shared_ptr<IRequestChannel> channel_;
    const std::shared_ptr<IAdapter> adapter_;
    const DataLinkProtocol protocol_;
    const std::shared_ptr<EventDispatcher> dispatcher_;
    // Thread safe on their own.
    SensorStatistics statistics_;
    SupportCache supportCache_;
    AnswerMemo answerMemo_;
    std::atomic<bool> multiPidRequests_{true};
    // Connection events posted and not yet delivered; shared with the posted
    // tasks, which may run after the connection is gone.
    const std::shared_ptr<std::atomic<int>> eventsUnderway_ = std::make_shared<std::atomic<int>>(0);

    // The three mutexes are taken in this order: bus, state, logs.

    // Held for a whole request and its log entries.
    orvane::Mutex busMutex_;

    mutable orvane::Mutex stateMutex_ ORVANE_ACQUIRED_AFTER(busMutex_);
    bool open_ ORVANE_GUARDED_BY(stateMutex_) = false;
    std::vector<std::uint32_t> ecus_ ORVANE_GUARDED_BY(stateMutex_);
    std::uint32_t selected_ ORVANE_GUARDED_BY(stateMutex_) = 0;
    std::map<std::pair<std::uint32_t, int>, std::shared_ptr<TestRoutineDataModel>> routines_
        ORVANE_GUARDED_BY(stateMutex_);
    std::vector<std::weak_ptr<ConnectionObservers>> connectionObservers_
        ORVANE_GUARDED_BY(stateMutex_);

    orvane::Mutex logsMutex_ ORVANE_ACQUIRED_AFTER(stateMutex_);
    std::vector<std::weak_ptr<DataLog>> logs_ ORVANE_GUARDED_BY(logsMutex_);
};

}  // namespace obd::detail
