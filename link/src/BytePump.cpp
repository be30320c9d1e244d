#include "zelt/link/BytePump.h"

#include <atomic>
#include <condition_variable>
#include <string>
#include <thread>
#include <utility>

#include "obd/DataBridge.h"
#include "orvane/Mutex.h"

namespace zelt::link {

namespace detail {

// Everything the pump's thread uses. It hears the core queue bytes (as a
// logger of the data bridge) and the connection close (as a phase
// listener), and wakes the thread for either.
class PumpState : public obd::IConnectionLogger, public obd::IConnectionPhaseListener {
public:
    PumpState(std::shared_ptr<obd::IConnectionManager> manager,
              std::unique_ptr<ITransport> transport, BytePumpOptions options)
        : transport_(std::move(transport)),
          options_(std::move(options)),
          bridge_(std::move(manager), this),
          dataBridge_(std::dynamic_pointer_cast<obd::IDataBridge>(bridge_.getConnection())) {
        dataBridge_->addLogger(this);
        thread_ = std::thread([this] { run(); });
    }

    ~PumpState() override {
        // First, so that no core thread is still inside onDataSent() when
        // the members go.
        dataBridge_->removeLogger(this);
        stopping_ = true;
        bridge_.invalidate();
        transport_->wake();
        thread_.join();
    }

    PumpState(const PumpState&) = delete;
    PumpState& operator=(const PumpState&) = delete;

    ConnectionBridge& bridge() { return bridge_; }

    // Waits out a hand-over in progress, so that whoever saw the bridge
    // give up on an overflow also sees why. The pump's own thread (a logger
    // asking from inside the hand-over) does not wait for itself.
    std::string lostReason() const {
        orvane::UniqueLock lock(mutex_);
        if (std::this_thread::get_id() != pumpThread_.load()) {
            while (handingOver_) {
                lock.wait(handedOver_);
            }
        }
        return lost_;
    }

    // The core queued bytes for the adapter.
    void onDataSent(const obd::Bytes&) override { transport_->wake(); }
    void onDataReceived(const obd::Bytes&) override {}

    void onPhaseChanged(obd::ConnectionPhase phase) override {
        if (phase == obd::ConnectionPhase::Closed) {
            closed_ = true;
            bridge_.invalidate();
            transport_->wake();
        }
    }

private:
    void run() {
        pumpThread_ = std::this_thread::get_id();
        std::vector<std::uint8_t> out;
        std::vector<std::uint8_t> in;
        while (!stopping_ && bridge_.isValid()) {
            if (bridge_.read(out)) {
                trace(">>", out);
                if (!transport_->send(out.data(), out.size())) {
                    fail("the connection to the adapter was lost");
                    return;
                }
            }
            if (!transport_->receive(in)) {
                fail("the adapter closed the connection");
                return;
            }
            if (in.empty()) {
                continue;  // woken
            }
            if (!withinAnswerBound(in)) {
                fail("the adapter sent more than " + std::to_string(options_.maxAnswerBytes) +
                     " bytes without a prompt; it is not answering as an ELM327 adapter");
                return;
            }
            trace("<<", in);
            if (!bridge_.isValid()) {
                return;  // closed while the adapter was read
            }
            if (!handOver(in)) {
                return;
            }
        }
    }

    // Writes the adapter's bytes into the bridge. The bridge gives up when
    // more answers wait than its bound (a peer that keeps answering what
    // nobody asked for); the reason is set before lostReason() answers
    // anyone who saw the bridge go. False when the bridge gave up.
    bool handOver(const std::vector<std::uint8_t>& bytes) {
        {
            orvane::MutexLock lock(mutex_);
            handingOver_ = true;
        }
        bridge_.write(bytes);
        const bool overflowed = !bridge_.isValid() && !closed_;
        {
            orvane::MutexLock lock(mutex_);
            if (overflowed && !stopping_) {
                lost_ = "the adapter sent more than " +
                        std::to_string(obd::DataBridge::kMaxIncomingBytes) +
                        " bytes of answers nobody asked for; it is not answering as an ELM327 "
                        "adapter";
            }
            handingOver_ = false;
        }
        handedOver_.notify_all();
        return !overflowed;
    }

    // Counts the bytes since the last prompt; each byte is looked at once.
    bool withinAnswerBound(const std::vector<std::uint8_t>& bytes) {
        for (std::uint8_t byte : bytes) {
            sincePrompt_ =
                byte == static_cast<std::uint8_t>(options_.prompt) ? 0 : sincePrompt_ + 1;
            if (sincePrompt_ > options_.maxAnswerBytes) {
                return false;
            }
        }
        return true;
    }

    void trace(const char* direction, const std::vector<std::uint8_t>& bytes) {
        if (options_.trace) {
            options_.trace(direction, bytes);
        }
    }

    // Gives the link up: the core's next wait for the adapter fails at once.
    void fail(const std::string& reason) {
        if (!stopping_) {
            orvane::MutexLock lock(mutex_);
            lost_ = reason;
        }
        bridge_.invalidate();
    }

    // Constant after construction.
    const std::unique_ptr<ITransport> transport_;
    const BytePumpOptions options_;
    ConnectionBridge bridge_;
    const std::shared_ptr<obd::IDataBridge> dataBridge_;

    std::atomic<bool> stopping_{false};
    std::atomic<bool> closed_{false};  // the vehicle connection closed
    std::size_t sincePrompt_ = 0;      // the pump's thread only
    std::thread thread_;
    // Set by the thread itself: thread_ may not be assigned yet when it runs.
    std::atomic<std::thread::id> pumpThread_{};

    mutable orvane::Mutex mutex_;
    mutable std::condition_variable handedOver_;
    std::string lost_ ORVANE_GUARDED_BY(mutex_);
    bool handingOver_ ORVANE_GUARDED_BY(mutex_) = false;
};

}  // namespace detail

BytePump::BytePump(std::shared_ptr<obd::IConnectionManager> manager,
                   std::unique_ptr<ITransport> transport, BytePumpOptions options)
    : state_(std::make_unique<detail::PumpState>(std::move(manager), std::move(transport),
                                                 std::move(options))) {}

BytePump::~BytePump() = default;

ConnectionBridge& BytePump::bridge() {
    return state_->bridge();
}

std::string BytePump::lostReason() const {
    return state_->lostReason();
}

}  // namespace zelt::link
