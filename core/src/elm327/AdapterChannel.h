#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "elm327/AnswerParser.h"
#include "obd/DataBridge.h"
#include "obd/DataLinkProtocol.h"
#include "obd/IAdapter.h"
#include "services/RequestChannel.h"

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
    mutable std::mutex mutex_;
    DataLinkProtocol protocol_ = DataLinkProtocol::Automatic;  // guarded by mutex_
    std::string identification_;                               // guarded by mutex_
    std::string description_;                                  // guarded by mutex_
};

// Requests sent through an ELM327-compatible adapter over a byte transport:
// each request travels as hex text ended by a carriage return, the answer
// is read up to the adapter's ">" prompt and parsed per ECU.
//
// The channel is started on a data connection (the adapter is reset and
// initialised) and stopped when the connection closes. When the adapter
// stops answering (no prompt within the timeout) or the transport goes, the
// channel counts as dropped: requests fail at once and the drop handler is
// told, once.
//
// Thread safety: every operation may be called from any thread; exchanges
// with the adapter are serialised.
class AdapterChannel : public detail::IRequestChannel {
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

    std::vector<detail::EcuResponse> transact(const detail::Bytes& request,
                                              std::uint32_t ecu) override;
    std::optional<double> readBatteryVoltage() override;
    void restartClock() override {}

private:
    // Sends `command` and reads the answer up to the prompt; nothing when
    // the adapter did not answer in time. REQUIRES: exchangeMutex_ held.
    std::optional<std::string> command(const std::string& command, std::int32_t timeout);
    // The adapter's next answer, up to its prompt. REQUIRES: exchangeMutex_ held.
    std::optional<std::string> nextAnswer(std::int32_t timeout);
    // How answers print on the protocol in use. REQUIRES: exchangeMutex_ held.
    AnswerFormat format() const;
    // The text of a command's answer without echo and prompt.
    std::optional<std::string> query(const std::string& command, std::int32_t timeout);
    // False when the header could not be set: `refusal` is then what the
    // adapter answered, empty when it did not answer at all.
    bool selectHeader(std::uint32_t ecu, std::string& refusal);  // REQUIRES: exchangeMutex_ held
    // Sets the header with ATSH`text`; as selectHeader. REQUIRES: exchangeMutex_ held.
    bool sendHeader(const std::string& text, std::string& refusal);
    // Sends ATST when the adapter's timeout differs from the one wanted.
    // REQUIRES: exchangeMutex_ held.
    void applyAdapterTimeout();
    // Tries the protocols one by one after the adapter's search found
    // nothing (`first` and `searched`: what it answered); the one that
    // answered, or Automatic with `why`. REQUIRES: exchangeMutex_ held.
    DataLinkProtocol fallBack(AnswerStatus first, const std::string& searched, std::string& why);
    // Whether a request may go out: the channel started and not dropped.
    // REQUIRES: exchangeMutex_ held.
    bool usable() const;
    // Sends `text` as a request and reads its answer; fails the request, or
    // drops the channel, as transact() does. REQUIRES: exchangeMutex_ held.
    std::optional<ParsedAnswer> exchangeRequest(const detail::Bytes& request,
                                                const std::string& text);
    // Brings the header back to what the services expect after one of the
    // application's. False when the adapter did not take it.
    // REQUIRES: exchangeMutex_ held.
    bool restoreHeader();
    void drop(const std::string& reason);
    void setError(std::string error);
    std::int32_t timeout() const;

    const std::shared_ptr<AdapterInfo> info_;

    std::mutex exchangeMutex_;                     // one exchange with the adapter at a time
    std::shared_ptr<IDataConnection> connection_;  // guarded by exchangeMutex_
    bool extended_ = false;                        // 29-bit identifiers; guarded by exchangeMutex_
    // The protocol the adapter found or was told; guarded by exchangeMutex_.
    DataLinkProtocol protocol_ = DataLinkProtocol::Automatic;
    std::optional<std::uint32_t> header_;  // guarded by exchangeMutex_
    // A header of the application's is set (on the older buses the
    // services rely on the adapter's default); guarded by exchangeMutex_.
    bool ownHeader_ = false;
    // The wait the adapter was given with ATST, 0: its own; guarded by
    // exchangeMutex_.
    std::int32_t adapterTimeoutSent_ = 0;

    mutable std::mutex mutex_;
    std::int32_t timeout_ = 1000;  // guarded by mutex_
    bool dropped_ = false;         // guarded by mutex_
    DropHandler dropHandler_;      // guarded by mutex_
    std::string error_;            // guarded by mutex_
    std::string lastError_;        // guarded by mutex_

    // The wait wanted of the adapter (ATST), 0: its own; guarded by mutex_.
    std::int32_t adapterTimeout_ = 0;
    // How the protocol was found after a failed search; guarded by mutex_.
    std::string fallbackReport_;
};

}  // namespace obd::elm327
