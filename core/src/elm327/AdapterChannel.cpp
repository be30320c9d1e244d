#include "elm327/AdapterChannel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "bus/Hex.h"
#include "bus/IsoTp.h"
#include "j1979/Codec.h"

namespace obd::elm327 {

namespace {

// Searching for the protocol tries each in turn.
constexpr std::int32_t kSearchTimeout = 15000;

std::string RequestText(const detail::Bytes& request) {
    std::string text = bus::ToHex(request);
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    return text;
}

// Whether one ECU's answer to `request` is known to fit into one CAN frame
// (seven bytes: the service byte and the PID records). Only then is the
// expected-answer count sent: adapters differ in whether they count
// messages or frames, and a count of one would cut a multi-frame answer
// (a VIN, a list of codes, several PIDs at once) short on those that count
// frames.
bool AnswerFitsOneFrame(const detail::Bytes& request) {
    constexpr std::size_t kSingleFrameBytes = 7;
    if (request.size() < 2 || request[0] != 0x01) {
        return false;
    }
    std::size_t answerBytes = 1;  // 41
    for (std::size_t i = 1; i < request.size(); ++i) {
        const std::size_t length = j1979::CurrentDataLength(request[i]);
        if (length == 0) {
            return false;
        }
        answerBytes += 1 + length;
    }
    return answerBytes <= kSingleFrameBytes;
}

// The first line of an answer that is not the command's echo.
std::string FirstLine(const std::string& answer, const std::string& command) {
    for (const std::string& line : SplitLines(answer)) {
        if (line != command) {
            return line;
        }
    }
    return {};
}

bool IsExtended(DataLinkProtocol protocol) {
    return protocol == DataLinkProtocol::Iso15765Can29Bit500k ||
           protocol == DataLinkProtocol::Iso15765Can29Bit250k;
}

}  // namespace

DataLinkProtocol AdapterInfo::getProtocol() const {
    orvane::MutexLock lock(mutex_);
    return protocol_;
}

std::string AdapterInfo::getName() const {
    orvane::MutexLock lock(mutex_);
    // "ELM327 v1.5" names an "ELM327".
    return identification_.substr(0, identification_.find(' '));
}

std::string AdapterInfo::getDescription() const {
    orvane::MutexLock lock(mutex_);
    return description_;
}

std::string AdapterInfo::getIdentification() const {
    orvane::MutexLock lock(mutex_);
    return identification_;
}

void AdapterInfo::set(DataLinkProtocol protocol, std::string identification,
                      std::string description) {
    orvane::MutexLock lock(mutex_);
    protocol_ = protocol;
    identification_ = std::move(identification);
    description_ = std::move(description);
}

AdapterChannel::AdapterChannel(std::shared_ptr<AdapterInfo> info) : info_(std::move(info)) {}

void AdapterChannel::setTimeout(std::int32_t milliseconds) {
    orvane::MutexLock lock(mutex_);
    timeout_ = milliseconds;
}

void AdapterChannel::setDropHandler(DropHandler handler) {
    orvane::MutexLock lock(mutex_);
    dropHandler_ = std::move(handler);
}

std::string AdapterChannel::error() const {
    orvane::MutexLock lock(mutex_);
    return error_;
}

std::string AdapterChannel::lastError() const {
    orvane::MutexLock lock(mutex_);
    return lastError_;
}

bool AdapterChannel::dropped() const {
    orvane::MutexLock lock(mutex_);
    return dropped_;
}

void AdapterChannel::setError(std::string error) {
    orvane::MutexLock lock(mutex_);
    if (!error.empty()) {
        lastError_ = error;
    }
    error_ = std::move(error);
}

void AdapterChannel::drop(const std::string& reason) {
    DropHandler handler;
    {
        orvane::MutexLock lock(mutex_);
        error_ = reason;
        lastError_ = reason;
        if (dropped_) {
            return;
        }
        dropped_ = true;
        handler = dropHandler_;
    }
    if (handler) {
        handler(reason);
    }
}

std::optional<std::string> AdapterChannel::command(const std::string& text, std::int32_t timeout) {
    if (!connection_ || !connection_->isValid()) {
        return std::nullopt;
    }
    const std::string line = text + "\r";
    connection_->send(Bytes(line.begin(), line.end()));
    Bytes answer;
    if (!connection_->receive(answer, timeout)) {
        return std::nullopt;
    }
    return std::string(answer.begin(), answer.end());
}

std::optional<std::string> AdapterChannel::query(const std::string& text, std::int32_t timeout) {
    auto answer = command(text, timeout);
    if (!answer) {
        return std::nullopt;
    }
    return FirstLine(*answer, text);
}

bool AdapterChannel::start(std::shared_ptr<IDataConnection> connection, DataLinkProtocol protocol,
                           bool searchOtherProtocols, std::int32_t timeoutMilliseconds) {
    orvane::MutexLock exchange(exchangeMutex_);
    {
        orvane::MutexLock lock(mutex_);
        timeout_ = timeoutMilliseconds;
        dropped_ = false;
        error_.clear();
        lastError_.clear();
    }
    connection_ = std::move(connection);
    header_.reset();
    if (!connection_) {
        setError("no data connection to the adapter");
        return false;
    }
    connection_->setDelimiter('>');
    const std::int32_t timeout = std::max<std::int32_t>(timeoutMilliseconds, 1);

    auto fail = [&](const std::string& why) ORVANE_REQUIRES(exchangeMutex_) {
        setError(why);
        connection_.reset();
        return false;
    };

    // A reset answers with the identification; whatever the adapter still
    // had to say before it is read and dropped along with it.
    // A reset takes an adapter longer than a request.
    const auto reset = command("ATZ", timeout * 2);
    if (!reset) {
        return fail("the adapter did not answer (no prompt after ATZ)");
    }
    for (const char* setting : {"ATE0", "ATL0", "ATS0", "ATH1"}) {
        const auto answer = query(setting, timeout);
        if (!answer) {
            return fail(std::string("the adapter did not answer ") + setting);
        }
        if (*answer != "OK") {
            return fail(std::string("the adapter refused ") + setting + ": " + *answer);
        }
    }
    const int number = static_cast<int>(protocol);
    std::string select = "ATSP";
    if (protocol != DataLinkProtocol::Automatic && searchOtherProtocols) {
        select += 'A';
    }
    select += std::to_string(number);
    const auto selected = query(select, timeout);
    if (!selected || *selected != "OK") {
        return fail("the adapter refused " + select);
    }

    // The first request makes the adapter find (or try) the protocol.
    const auto probe = command("0100", std::max(timeout, kSearchTimeout));
    if (!probe) {
        return fail("the adapter did not answer the first request");
    }
    const ParsedAnswer first = ParseAnswer(*probe, "0100", AnswerFormat{});
    if (first.status == AnswerStatus::Error) {
        return fail(first.message);
    }

    DataLinkProtocol found = protocol;
    if (const auto described = query("ATDPN", timeout)) {
        // "A6" after a search, "6" when chosen.
        std::string digits = *described;
        if (!digits.empty() && digits[0] == 'A') {
            digits.erase(0, 1);
        }
        if (digits.size() == 1 && digits[0] >= '1' && digits[0] <= '9') {
            found = static_cast<DataLinkProtocol>(digits[0] - '0');
        }
    }
    extended_ = IsExtended(found);
    const std::string identification = query("ATI", timeout).value_or("");
    const std::string description = query("AT@1", timeout).value_or("");
    info_->set(found, identification == "?" ? "" : identification,
               description == "?" ? "" : description);
    return true;
}

void AdapterChannel::stop() {
    orvane::MutexLock exchange(exchangeMutex_);
    connection_.reset();
    header_.reset();
}

bool AdapterChannel::selectHeader(std::uint32_t ecu, std::string& refusal) {
    if (header_ == ecu) {
        return true;
    }
    char text[16];
    if (ecu == detail::kAllEcus) {
        std::snprintf(text, sizeof text, "%s", extended_ ? "DB33F1" : "7DF");
    } else if (extended_) {
        // An ECU answering as 18DAF1xx is asked on 18DAxxF1.
        std::snprintf(text, sizeof text, "DA%02XF1", static_cast<unsigned>(ecu & 0xFF));
    } else {
        std::snprintf(text, sizeof text, "%03X",
                      static_cast<unsigned>(ecu - bus::kResponseToRequestOffset) & 0x7FF);
    }
    const std::string select = std::string("ATSH") + text;
    const auto answer = query(select, timeout());
    if (!answer) {
        return false;
    }
    if (*answer != "OK") {
        refusal = "the adapter refused " + select + ": " + *answer;
        return false;
    }
    header_ = ecu;
    return true;
}

std::int32_t AdapterChannel::timeout() const {
    orvane::MutexLock lock(mutex_);
    return timeout_;
}

std::vector<detail::EcuResponse> AdapterChannel::transact(const detail::Bytes& request,
                                                          std::uint32_t ecu) {
    orvane::MutexLock exchange(exchangeMutex_);
    {
        orvane::MutexLock lock(mutex_);
        if (dropped_) {
            return {};
        }
    }
    if (!connection_ || request.empty() || request.size() > 7) {
        return {};
    }
    std::string refusal;
    if (!selectHeader(ecu, refusal)) {
        // An adapter that answers, even with "?", is still there: only
        // this request fails.
        if (refusal.empty()) {
            drop("the adapter stopped answering");
        } else {
            setError(refusal);
        }
        return {};
    }
    std::string text = RequestText(request);
    if (ecu != detail::kAllEcus && AnswerFitsOneFrame(request)) {
        // One ECU answers a physical request: the adapter need not wait for
        // more once it has come.
        text += '1';
    }
    const auto answer = command(text, timeout());
    if (!answer) {
        drop(connection_->isValid() ? "the adapter stopped answering (no prompt within " +
                                          std::to_string(timeout()) + " ms)"
                                    : "the connection to the adapter was lost");
        return {};
    }
    ParsedAnswer parsed = ParseAnswer(*answer, text, AnswerFormat{});
    if (parsed.status == AnswerStatus::Error) {
        setError(parsed.message);
        return {};
    }
    setError({});
    return std::move(parsed.responses);
}

std::optional<double> AdapterChannel::readBatteryVoltage() {
    orvane::MutexLock exchange(exchangeMutex_);
    {
        orvane::MutexLock lock(mutex_);
        if (dropped_) {
            return std::nullopt;
        }
    }
    const auto answer = query("ATRV", timeout());
    if (!answer || answer->empty()) {
        return std::nullopt;
    }
    // "12.6V"
    char* end = nullptr;
    const double volts = std::strtod(answer->c_str(), &end);
    if (end == answer->c_str() || (*end != 'V' && *end != 'v' && *end != '\0')) {
        return std::nullopt;
    }
    return volts;
}

}  // namespace obd::elm327
