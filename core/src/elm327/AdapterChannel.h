#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "bus/PhysicalChannel.h"
#include "bus/RequestChannel.h"
#include "elm327/AnswerParser.h"
#include "obd/DataBridge.h"
#include "obd/DataLinkProtocol.h"
#include "obd/IAdapter.h"
#include "orvane/Mutex.h"
#include "orvane/ThreadAnnotations.h"

namespace obd::elm327 {

// What an ELM327-compatible adapter reported about itself when it was
// initialised. Empty texts until then.
class AdapterInfo : public IAdapter {
public:
    DataLinkProtocol getProtocol() const override;
    std::string getName() const override;
    std::string getDescription() const override;
    std::string getIdentification() const override;

    void set(DataLinkProtocol protocol, std::string identification, std::string description);

private:
    mutable orvane::Mutex mutex_;
    DataLinkProtocol protocol_ ORVANE_GUARDED_BY(mutex_) = DataLinkProtocol::Automatic;
    std::string identification_ ORVANE_GUARDED_BY(mutex_);
    std::string description_ ORVANE_GUARDED_BY(mutex_);
};

// Requests sent through an ELM327-compatible adapter over a byte transport:
// each request travels as hex text ended by a carriage return, the answer
// is read up to the adapter's ">" prompt and parsed per ECU.
//
// The channel is started on a data connection (the adapter is reset and
// initialised) and stopped when the connection closes. When the adapter
// stops answering (no prompt within the timeout) or the transport goes, the
// channel counts as dropped: requests fail at once and the drop handler is
// told, once. An ECU that answers "response pending" (7F xx 78) and no
// final answer within the timeout fails that request only: the adapter is
// stopped and the channel stays.
//
// Thread safety: every operation may be called from any thread; exchanges
// with the adapter are serialised.
class AdapterChannel : public detail::IRequestChannel, public uds::IPhysicalChannel {
public:
    using DropHandler = std::function<void(const std::string& reason)>;

    explicit AdapterChannel(std::shared_ptr<AdapterInfo> info);

    // Resets and initialises the adapter on `connection` and selects
    // `protocol` (Automatic: the adapter searches; another one, searched from
    // with `searchOtherProtocols`). When the adapter's own search finds
    // nothing, the protocols are tried one by one, CAN first. False,
    // with error() telling why, when the adapter does not answer or finds no
    // vehicle.
    bool start(std::shared_ptr<IDataConnection> connection, DataLinkProtocol protocol,
               bool searchOtherProtocols, std::int32_t timeoutMilliseconds);
    void stop();

    void setTimeout(std::int32_t milliseconds);
    // How long the adapter itself waits for the vehicle's answer (ATST, in
    // steps of 4 ms up to 1020 ms); 0 leaves the adapter's own (200 ms).
    // Takes effect at the next request. An adapter that refuses ATST keeps
    // its own.
    void setAdapterTimeout(std::int32_t milliseconds);
    // After the adapter's search found nothing: which protocol answered
    // when tried one by one, e.g. "the adapter's search found nothing
    // (UNABLE TO CONNECT); ISO 9141-2 answered when tried", or that none
    // did. Empty otherwise; cleared by the next start.
    std::string fallbackReport() const;
    // Sends `request` with the adapter's header set to `header` (hex: 3
    // digits for an 11-bit CAN identifier, 8 for a 29-bit one, 6 for the
    // three header bytes of the older buses); every answer that came. The
    // services' own headers are restored before their next request.
    // Nothing, with error() telling why, when the request failed.
    std::optional<std::vector<detail::EcuResponse>> transactWithHeader(const detail::Bytes& request,
                                                                       const std::string& header);
    void setDropHandler(DropHandler handler);
    // Told what the channel passed over without failing (another ECU's or
    // an earlier request's messages in an answer), one line each; called
    // with the exchange under way, so it must not use the channel.
    void setDebugHandler(DropHandler handler);
    // Why the last start or request failed; empty when it did not.
    std::string error() const;
    // The most recent failure since the last start: an error text the
    // adapter answered ("CAN ERROR", "UNABLE TO CONNECT", "BUS INIT:
    // ...ERROR", "?"), why it stopped answering, or why the start failed.
    // Unlike error() a later success does not clear it; "NO DATA" is an
    // answer (nobody answered), not a failure. Empty when nothing failed.
    std::string lastError() const;
    // True once the adapter stopped answering or the transport went, until
    // the next start.
    bool dropped() const;

    // A physical request of service 01 PIDs of known length is sent with the
    // response count digit on its own.
    std::vector<detail::EcuResponse> transact(const detail::Bytes& request,
                                              std::uint32_t ecu) override;
    // Sends the response count digit (the answers' frames, as the ELM327
    // counts its answer lines) when `frames` is 1 to 15; an adapter that
    // refuses the digit is asked without it from then on, until the next
    // start.
    std::vector<detail::EcuResponse> transactExpecting(const detail::Bytes& request,
                                                       std::uint32_t ecu,
                                                       std::size_t frames) override;
    bool lastRequestFailed() const override;
    std::optional<double> readBatteryVoltage() override;
    void restartClock() override {}

    // Physical addressing (AdapterChannelPhysical.cpp): the header set to
    // the module's request id, the receive filter (ATCRA) to its response
    // id; both are given back to the services before their next request.
    std::optional<std::vector<uds::Bytes>> transactPhysical(const uds::Bytes& request,
                                                            const uds::PhysicalAddress& address,
                                                            std::string& error) override;
    std::size_t maxRequestSize() const override { return kMaxSingleFrameRequest; }
    // One CAN frame: the ELM327 sends no longer request.
    static constexpr std::size_t kMaxSingleFrameRequest = 7;

private:
    // Sends `command` and reads the answer up to the prompt; nothing when
    // the adapter did not answer in time.
    std::optional<std::string> command(const std::string& command, std::int32_t timeout)
        ORVANE_REQUIRES(exchangeMutex_);
    // The adapter's next answer, up to its prompt.
    std::optional<std::string> nextAnswer(std::int32_t timeout) ORVANE_REQUIRES(exchangeMutex_);
    // How answers print on the protocol in use.
    AnswerFormat format() const ORVANE_REQUIRES(exchangeMutex_);
    // After no prompt came for `request` (sent as `text` at `sent`): stops
    // the adapter at work (it answers "STOPPED") and, when what it printed
    // holds the ECU's "response pending", fails the request with error()
    // naming it and returns true. False when the adapter did not answer
    // or no ECU was pending.
    bool stoppedPending(const detail::Bytes& request, const std::string& text,
                        std::chrono::steady_clock::time_point sent) ORVANE_REQUIRES(exchangeMutex_);
    // The answer to a command, past a stray prompt before it.
    std::optional<std::string> answerTo(const std::string& command, std::int32_t timeout)
        ORVANE_REQUIRES(exchangeMutex_);
    // The answer to the first request on a protocol, past a stray prompt;
    // empty (the prompt alone) when the adapter's own answer does not follow
    // within the grace, which counts as a search that found nothing.
    std::optional<std::string> firstAnswer(std::int32_t timeout) ORVANE_REQUIRES(exchangeMutex_);
    // How long an answer that does not belong to its request (or an empty
    // one) is given to be followed by the request's own. The prompt came,
    // so the adapter is idle: only an answer it was already giving can
    // follow, within its wait for the vehicle and the link's delay, not the
    // request timeout.
    std::int32_t grace() const ORVANE_REQUIRES(exchangeMutex_);
    // The text of a command's answer without echo and prompt.
    std::optional<std::string> query(const std::string& command, std::int32_t timeout)
        ORVANE_REQUIRES(exchangeMutex_);
    // False when the header could not be set: `refusal` is then what the
    // adapter answered, empty when it did not answer at all.
    bool selectHeader(std::uint32_t ecu, std::string& refusal) ORVANE_REQUIRES(exchangeMutex_);
    // Sets the header with ATSH`text`; as selectHeader.
    bool sendHeader(const std::string& text, std::string& refusal) ORVANE_REQUIRES(exchangeMutex_);
    // Sends ATST when the adapter's timeout differs from the one wanted.
    void applyAdapterTimeout() ORVANE_REQUIRES(exchangeMutex_);
    // Tries the protocols one by one after the adapter's search found
    // nothing (`first` and `searched`: what it answered); the one that
    // answered, or Automatic with `why`.
    DataLinkProtocol fallBack(AnswerStatus first, const std::string& searched, std::string& why)
        ORVANE_REQUIRES(exchangeMutex_);
    // Whether a request may go out: the channel started and not dropped.
    bool usable() const ORVANE_REQUIRES(exchangeMutex_);
    // Sends `text` as a request to `ecu` (kAllEcus: whoever answers) and
    // reads its answer; fails the request, or drops the channel, as
    // transact() does.
    std::optional<ParsedAnswer> exchangeRequest(const detail::Bytes& request,
                                                const std::string& text, std::uint32_t ecu)
        ORVANE_REQUIRES(exchangeMutex_);
    // Brings the header back to what the services expect after one of the
    // application's. False when the adapter did not take it.
    bool restoreHeader() ORVANE_REQUIRES(exchangeMutex_);
    // Sends a request to the module the header and filter name now.
    std::optional<std::vector<uds::Bytes>> exchangePhysical(const uds::Bytes& request,
                                                            const uds::PhysicalAddress& address,
                                                            std::string& error)
        ORVANE_REQUIRES(exchangeMutex_);
    // Sends ATAR; false when the adapter did not answer.
    bool liftReceiveFilter() ORVANE_REQUIRES(exchangeMutex_);
    // Tells the drop handler with no lock of this channel held but the
    // exchange's, so the handler may read the channel's state.
    void drop(const std::string& reason) ORVANE_EXCLUDES(mutex_);
    void setError(std::string error) ORVANE_EXCLUDES(mutex_);
    void debug(const std::string& line) ORVANE_EXCLUDES(mutex_);
    std::int32_t timeout() const ORVANE_EXCLUDES(mutex_);

    const std::shared_ptr<AdapterInfo> info_;

    // Taken in this order: exchange, then state.

    // One exchange with the adapter at a time.
    orvane::Mutex exchangeMutex_;
    std::shared_ptr<IDataConnection> connection_ ORVANE_GUARDED_BY(exchangeMutex_);
    // 29-bit identifiers.
    bool extended_ ORVANE_GUARDED_BY(exchangeMutex_) = false;
    // The protocol the adapter found or was told.
    DataLinkProtocol protocol_ ORVANE_GUARDED_BY(exchangeMutex_) = DataLinkProtocol::Automatic;
    std::optional<std::uint32_t> header_ ORVANE_GUARDED_BY(exchangeMutex_);
    // A header of the application's is set (on the older buses the
    // services rely on the adapter's default).
    bool ownHeader_ ORVANE_GUARDED_BY(exchangeMutex_) = false;
    // A receive filter (ATCRA) is set; ATAR lifts it.
    bool receiveFilter_ ORVANE_GUARDED_BY(exchangeMutex_) = false;
    // The module the header and filter name, "7B0/7B8"; empty when none
    // does, so the next physical request to it sends neither again.
    std::string physicalModule_ ORVANE_GUARDED_BY(exchangeMutex_);
    // The wait the adapter was given with ATST, 0: its own.
    std::int32_t adapterTimeoutSent_ ORVANE_GUARDED_BY(exchangeMutex_) = 0;
    // The last command sent. The ELM327 repeats it when sent an empty
    // line, which saves its bytes when a request is asked again at once.
    std::string lastCommand_ ORVANE_GUARDED_BY(exchangeMutex_);
    // The adapter did not repeat a request when asked to (a clone without
    // the feature): requests are sent in full until the next start.
    bool repeatRefused_ ORVANE_GUARDED_BY(exchangeMutex_) = false;
    // The adapter answered "?" to a request ended by the response count
    // digit (a clone without the feature): none is sent until the next start.
    bool countRefused_ ORVANE_GUARDED_BY(exchangeMutex_) = false;

    mutable orvane::Mutex mutex_ ORVANE_ACQUIRED_AFTER(exchangeMutex_);
    std::int32_t timeout_ ORVANE_GUARDED_BY(mutex_) = 1000;
    bool dropped_ ORVANE_GUARDED_BY(mutex_) = false;
    DropHandler dropHandler_ ORVANE_GUARDED_BY(mutex_);
    DropHandler debugHandler_ ORVANE_GUARDED_BY(mutex_);
    std::string error_ ORVANE_GUARDED_BY(mutex_);
    std::string lastError_ ORVANE_GUARDED_BY(mutex_);
    // The wait wanted of the adapter (ATST), 0: its own.
    std::int32_t adapterTimeout_ ORVANE_GUARDED_BY(mutex_) = 0;
    // How the protocol was found after a failed search.
    std::string fallbackReport_ ORVANE_GUARDED_BY(mutex_);
};

}  // namespace obd::elm327
