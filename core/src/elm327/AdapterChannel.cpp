#include "elm327/AdapterChannel.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>

#include "bus/Addressing.h"
#include "bus/Hex.h"
#include "bus/Protocols.h"
#include "j1979/Codec.h"
#include "j1979/Responses.h"
#include "obd/NegativeResponse.h"

namespace obd::elm327 {

// The protocol table is the bus layer's.
using bus::FindProtocol;
using bus::Framing;
using bus::IsLegacy;
using bus::kTesterAddress;
using bus::ProtocolInfo;
using bus::ProtocolName;

namespace {

// Whether this thread's last request failed: read by the same thread right
// after the request, so that no other thread's request comes between.
thread_local bool tLastRequestFailed = false;

// Searching for the protocol tries each in turn.
constexpr std::int32_t kSearchTimeout = 15000;

// The adapter's own wait for the vehicle until told otherwise (ATST 32,
// 50 steps of 4 ms: ELM327 datasheet), and the most ATST can set (FF).
constexpr std::int32_t kAdapterDefaultWait = 200;
constexpr std::int32_t kAdapterLongestWait = 1020;
// What the link may add to the adapter's wait (a Bluetooth or Wi-Fi hop).
constexpr std::int32_t kLinkMargin = 250;

std::string RequestText(const detail::Bytes& request) {
    std::string text = bus::ToHex(request);
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    return text;
}

// The CAN frames one ECU's answer to `request` takes, when known: for
// service 01 PIDs of known length.
std::size_t AnswerFrames(const detail::Bytes& request) {
    if (request.size() < 2 || request[0] != 0x01) {
        return 0;
    }
    return j1979::CurrentDataAnswerFrames({request.begin() + 1, request.end()});
}

// The response count digit is one hex digit.
constexpr std::size_t kMostCountedFrames = 15;

// The first line of an answer that is not the command's echo, which some
// adapters print in lowercase.
std::string FirstLine(const std::string& answer, const std::string& command) {
    auto echoes = [&command](const std::string& line) {
        return std::equal(line.begin(), line.end(), command.begin(), command.end(),
                          [](char a, char b) {
                              return std::toupper(static_cast<unsigned char>(a)) ==
                                     std::toupper(static_cast<unsigned char>(b));
                          });
    };
    for (const std::string& line : SplitLines(answer)) {
        if (!echoes(line)) {
            return line;
        }
    }
    return {};
}

// Whether the adapter's own search ended without a vehicle.
bool FoundNothing(const ParsedAnswer& answer) {
    return answer.status == AnswerStatus::NoData ||
           (answer.status == AnswerStatus::Error &&
            answer.message.find("UNABLE TO CONNECT") != std::string::npos);
}

// The adapter's default header on the older buses (ELM327 datasheet): the
// functional request of SAE J1979 (61 6A F1 on J1850 PWM, 68 6A F1 on VPW
// and ISO 9141-2, C1 33 F1 on ISO 14230-4, whose length the adapter fills
// in).
std::string DefaultLegacyHeader(const ProtocolInfo& info) {
    const unsigned format = info.requestPriority == 0xC0 ? 0xC1 : info.requestPriority;
    char text[8];
    std::snprintf(text, sizeof text, "%02X%02X%02X", format,
                  static_cast<unsigned>(info.functionalTarget),
                  static_cast<unsigned>(kTesterAddress));
    return text;
}

// ATST counts in steps of 4 ms (ELM327 datasheet), from 1 to FF.
std::string AdapterTimeoutCommand(std::int32_t milliseconds) {
    constexpr std::int32_t kStep = 4;
    constexpr std::int32_t kDefaultSteps = 0x32;  // the adapter's own, about 200 ms
    const std::int32_t steps =
        milliseconds <= 0 ? kDefaultSteps : std::clamp((milliseconds + kStep - 1) / kStep, 1, 0xFF);
    char text[8];
    std::snprintf(text, sizeof text, "ATST%02X", static_cast<unsigned>(steps));
    return text;
}

// A header the application gives: an 11-bit CAN identifier (3 hex
// digits), a 29-bit one (8) or the three header bytes of the older buses
// (6).
bool IsHeader(const std::string& text) {
    return (text.size() == 3 || text.size() == 6 || text.size() == 8) &&
           text.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos &&
           (text.size() != 3 || std::stoul(text, nullptr, 16) <= 0x7FF) &&
           (text.size() != 8 || std::stoul(text, nullptr, 16) <= 0x1FFFFFFF);
}

bool IsExtended(DataLinkProtocol protocol) {
    const ProtocolInfo* info = FindProtocol(protocol);
    return info && info->framing == Framing::Can29;
}

// Whether one ECU's message answers `request`: a positive response to its
// service and, for the services with PIDs, to a PID asked for (an ECU leaves
// out the PIDs it lacks, so its first one is one asked for), or a negative
// response to its service.
bool AnswersRequest(const detail::Bytes& payload, const detail::Bytes& request) {
    if (payload.size() >= 2 && payload[0] == j1979::kNegativeResponse) {
        return payload[1] == request[0];
    }
    const bool hasPid = request.size() >= 2 && (request[0] == 0x01 || request[0] == 0x02 ||
                                                request[0] == 0x09 || request[0] == 0x06);
    return !payload.empty() && payload[0] == request[0] + j1979::kPositiveResponseOffset &&
           (!hasPid || (payload.size() >= 2 && std::find(request.begin() + 1, request.end(),
                                                         payload[1]) != request.end()));
}

// Whether `text`, parsed as `parsed`, answers `request` sent to `ecu`
// (kAllEcus: to all, or to whoever the header names): some ECU's message
// answers it (from the ECU asked for, when one was), or the adapter said why
// there is none. A stray prompt, an empty answer or the previous request's
// answer does not.
bool Belongs(const std::string& text, const ParsedAnswer& parsed, const detail::Bytes& request,
             const std::string& command, std::uint32_t ecu) {
    switch (parsed.status) {
        case AnswerStatus::Error:
            return true;
        case AnswerStatus::NoData:
            return !FirstLine(text, command).empty();
        case AnswerStatus::Answered:
            break;
    }
    return std::any_of(parsed.responses.begin(), parsed.responses.end(),
                       [&](const detail::EcuResponse& response) {
                           return (ecu == detail::kAllEcus || response.ecu == ecu) &&
                                  AnswersRequest(response.payload, request);
                       });
}

// Takes out of `parsed` the messages that do not answer `request` to `ecu`
// (another ECU's, another service's, an earlier request's), each described
// in `aside`.
void SetAsideStrays(ParsedAnswer& parsed, const detail::Bytes& request, std::uint32_t ecu,
                    std::vector<std::string>& aside) {
    auto stray = [&](const detail::EcuResponse& response) {
        return (ecu != detail::kAllEcus && response.ecu != ecu) ||
               !AnswersRequest(response.payload, request);
    };
    for (const detail::EcuResponse& response : parsed.responses) {
        if (stray(response)) {
            char sender[16];
            std::snprintf(sender, sizeof sender, "%X", static_cast<unsigned>(response.ecu));
            aside.push_back(std::string(sender) + ": " + bus::ToHex(response.payload));
        }
    }
    parsed.responses.erase(std::remove_if(parsed.responses.begin(), parsed.responses.end(), stray),
                           parsed.responses.end());
}

// Why the vehicle gives no connection when every ECU refuses the first
// request (7F 01 xx); empty when one accepted it.
std::string RefusalOfServiceOne(const ParsedAnswer& parsed) {
    if (parsed.status != AnswerStatus::Answered || parsed.responses.empty()) {
        return {};
    }
    for (const detail::EcuResponse& response : parsed.responses) {
        if (response.payload.size() < 3 || response.payload[0] != j1979::kNegativeResponse) {
            return {};
        }
    }
    const detail::EcuResponse& first = parsed.responses.front();
    char sender[16];
    std::snprintf(sender, sizeof sender, "%X", static_cast<unsigned>(first.ecu));
    return std::string("the vehicle refuses OBD service 01 (ECU ") + sender + " answered " +
           bus::ToHex(first.payload) + ", " + NegativeResponseName(first.payload[2]) +
           "): check that the ignition is on, choose the protocol by hand, or the vehicle "
           "may not be OBD-II compliant";
}

// Whether the text an adapter printed before it was stopped holds an
// ECU's "response pending" (7F xx 78) to `request`: the ECU was still
// working on it.
bool HoldsPending(const std::string& stopped, const std::string& command,
                  const detail::Bytes& request, const AnswerFormat& format) {
    std::string lines;
    for (const std::string& line : SplitLines(stopped)) {
        if (line != "STOPPED") {
            lines += line + "\r";
        }
    }
    const ParsedAnswer parsed = ParseAnswer(lines, command, format);
    return std::any_of(
        parsed.responses.begin(), parsed.responses.end(), [&](const detail::EcuResponse& response) {
            return j1979::IsResponsePending(response.payload) && response.payload[1] == request[0];
        });
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

void AdapterChannel::setAdapterTimeout(std::int32_t milliseconds) {
    orvane::MutexLock lock(mutex_);
    adapterTimeout_ = std::max<std::int32_t>(milliseconds, 0);
}

std::string AdapterChannel::fallbackReport() const {
    orvane::MutexLock lock(mutex_);
    return fallbackReport_;
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

void AdapterChannel::setDebugHandler(DropHandler handler) {
    orvane::MutexLock lock(mutex_);
    debugHandler_ = std::move(handler);
}

void AdapterChannel::debug(const std::string& line) {
    DropHandler handler;
    {
        orvane::MutexLock lock(mutex_);
        handler = debugHandler_;
    }
    if (handler) {
        handler(line);
    }
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
    // Whatever came after the last prompt belongs to no request of ours.
    Bytes stale;
    while (connection_->receive(stale, 0)) {
    }
    const std::string line = text + "\r";
    connection_->send(Bytes(line.begin(), line.end()));
    if (!text.empty()) {
        lastCommand_ = text;
    }
    return nextAnswer(timeout);
}

std::optional<std::string> AdapterChannel::nextAnswer(std::int32_t timeout) {
    Bytes answer;
    if (!connection_->receive(answer, timeout)) {
        return std::nullopt;
    }
    return std::string(answer.begin(), answer.end());
}

bool AdapterChannel::stoppedPending(const detail::Bytes& request, const std::string& text,
                                    std::chrono::steady_clock::time_point sent) {
    // Any character stops an ELM327 at work; a space is ignored by an idle
    // one.
    connection_->send(Bytes{' '});
    const auto stopped = nextAnswer(grace());
    if (!stopped || !HoldsPending(*stopped, text, request, format())) {
        return false;
    }
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - sent);
    setError("the module answered \"response pending\" and no final answer in " +
             std::to_string(waited.count()) + " ms (the request timeout is " +
             std::to_string(timeout()) + " ms); request " + text + " was stopped");
    return true;
}

std::optional<std::string> AdapterChannel::answerTo(const std::string& text, std::int32_t timeout) {
    auto answer = command(text, timeout);
    if (answer && FirstLine(*answer, text).empty()) {
        // Every command has an answer: an empty one was a stray prompt,
        // and this command's answer is the next.
        answer = nextAnswer(timeout);
    }
    return answer;
}

std::optional<std::string> AdapterChannel::firstAnswer(std::int32_t timeout) {
    auto answer = command("0100", timeout);
    if (answer && FirstLine(*answer, "0100").empty()) {
        // A stray prompt is followed by the answer at once; nothing more
        // means the adapter's search found nothing.
        if (auto next = nextAnswer(grace())) {
            return next;
        }
    }
    return answer;
}

std::int32_t AdapterChannel::grace() const {
    const std::int32_t wait = adapterTimeoutSent_ > 0
                                  ? std::min(adapterTimeoutSent_, kAdapterLongestWait)
                                  : kAdapterDefaultWait;
    return std::min(timeout(), wait + kLinkMargin);
}

std::optional<std::string> AdapterChannel::query(const std::string& text, std::int32_t timeout) {
    const auto answer = answerTo(text, timeout);
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
        fallbackReport_.clear();
    }
    connection_ = std::move(connection);
    header_.reset();
    ownHeader_ = false;
    receiveFilter_ = false;
    physicalModule_.clear();
    lastCommand_.clear();
    repeatRefused_ = false;
    countRefused_ = false;
    protocol_ = DataLinkProtocol::Automatic;
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

    // A warm start answers with the identification. ATZ is not sent: many
    // Bluetooth adapters drop the link on it. An adapter that does not
    // know ATWS is set to its defaults instead. Waking up takes an adapter
    // longer than a request.
    const std::int32_t resetTimeout = timeout * 3;
    const auto reset = query("ATWS", resetTimeout);
    if (!reset) {
        return fail("the adapter did not answer (no prompt after ATWS)");
    }
    if (*reset == "?" && !query("ATD", resetTimeout)) {
        return fail("the adapter did not answer ATD");
    }
    // Echo, line feeds, spaces and adaptive timing are conveniences: an
    // adapter that refuses one is read as it prints. Headers are needed to
    // tell the ECUs apart.
    for (const char* setting : {"ATE0", "ATL0", "ATS0", "ATAT1", "ATH1"}) {
        const auto answer = query(setting, timeout);
        if (!answer) {
            return fail(std::string("the adapter did not answer ") + setting);
        }
        if (*answer != "OK" && std::string(setting) == "ATH1") {
            return fail(std::string("the adapter refused ") + setting + ": " + *answer);
        }
    }
    adapterTimeoutSent_ = 0;  // the reset gave the adapter its own
    applyAdapterTimeout();
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

    // The first request makes the adapter find (or try) the protocol, and
    // wakes up the bus of the older ones (a 5-baud start takes seconds).
    const auto probe = firstAnswer(std::max(timeout, kSearchTimeout));
    if (!probe) {
        return fail("the adapter did not answer the first request");
    }
    DataLinkProtocol found = protocol;
    if (const auto described = query("ATDPN", timeout)) {
        // "A6" after a search, "6" when chosen.
        std::string digits = *described;
        if (!digits.empty() && std::toupper(static_cast<unsigned char>(digits[0])) == 'A') {
            digits.erase(0, 1);
        }
        if (digits.size() == 1 && FindProtocol(digits[0] - '0') != nullptr) {
            found = static_cast<DataLinkProtocol>(digits[0] - '0');
        }
    }
    protocol_ = found;
    extended_ = IsExtended(found);
    const ParsedAnswer first = ParseAnswer(*probe, "0100", format());
    if (protocol == DataLinkProtocol::Automatic && FoundNothing(first)) {
        const std::string searched = first.status == AnswerStatus::Error ? first.message
                                     : FirstLine(*probe, "0100").empty() ? "an empty answer"
                                                                         : "NO DATA";
        std::string why;
        found = fallBack(first.status, searched, why);
        if (found == DataLinkProtocol::Automatic) {
            return fail(why);
        }
    } else if (first.status == AnswerStatus::Error) {
        return fail(first.message);
    } else if (const std::string refusal = RefusalOfServiceOne(first); !refusal.empty()) {
        return fail(refusal);
    }
    const std::string identification = query("ATI", timeout).value_or("");
    const std::string description = query("AT@1", timeout).value_or("");
    info_->set(found, identification == "?" ? "" : identification,
               description == "?" ? "" : description);
    return true;
}

DataLinkProtocol AdapterChannel::fallBack(AnswerStatus first, const std::string& searched,
                                          std::string& why) {
    // CAN first (every vehicle sold in the US since 2008, in the EU since
    // about 2004), then the ISO buses of older European and Asian
    // vehicles, the quick start before the slow one, then J1850 (older US
    // vehicles).
    constexpr int kFallbackOrder[] = {6, 8, 7, 9, 3, 5, 4, 2, 1};
    const std::int32_t wait = timeout();
    std::string tried;
    for (int number : kFallbackOrder) {
        const auto candidate = static_cast<DataLinkProtocol>(number);
        const std::string select = "ATSP" + std::to_string(number);
        const auto selected = query(select, wait);
        if (!selected) {
            why = "the adapter did not answer " + select;
            return DataLinkProtocol::Automatic;
        }
        tried += (tried.empty() ? "" : ", ") + std::to_string(number);
        if (*selected != "OK") {
            continue;
        }
        protocol_ = candidate;
        extended_ = IsExtended(candidate);
        const auto answer = firstAnswer(std::max(wait, kSearchTimeout));
        if (!answer) {
            why = "the adapter did not answer the first request on " + ProtocolName(candidate);
            return DataLinkProtocol::Automatic;
        }
        if (ParseAnswer(*answer, "0100", format()).status == AnswerStatus::Answered) {
            orvane::MutexLock lock(mutex_);
            fallbackReport_ = "the adapter's search found nothing (" + searched + "); " +
                              ProtocolName(candidate) + " answered when tried";
            return candidate;
        }
    }
    protocol_ = DataLinkProtocol::Automatic;
    const std::string report = "the adapter's search found nothing (" + searched +
                               "), nor did protocols " + tried + " tried one by one";
    {
        orvane::MutexLock lock(mutex_);
        fallbackReport_ = report;
    }
    // The adapter's own error text says best what went wrong.
    why = first == AnswerStatus::Error ? searched : "no vehicle answered: " + report;
    return DataLinkProtocol::Automatic;
}

void AdapterChannel::applyAdapterTimeout() {
    std::int32_t wanted = 0;
    {
        orvane::MutexLock lock(mutex_);
        wanted = adapterTimeout_;
    }
    if (wanted == adapterTimeoutSent_) {
        return;
    }
    // An adapter that refuses ATST (older clones) keeps its own: it is not
    // asked again.
    if (query(AdapterTimeoutCommand(wanted), timeout())) {
        adapterTimeoutSent_ = wanted;
    }
}

AnswerFormat AdapterChannel::format() const {
    AnswerFormat format;
    format.headers = true;
    format.protocol = protocol_;
    return format;
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
        // ATSH takes the last three bytes of a 29-bit id; ATCP sets the first.
        std::snprintf(text, sizeof text, "%06X",
                      static_cast<unsigned>(bus::RequestIdFor(ecu) & 0xFFFFFF));
    } else {
        std::snprintf(text, sizeof text, "%03X", static_cast<unsigned>(bus::RequestIdFor(ecu)));
    }
    if (!sendHeader(text, refusal)) {
        return false;
    }
    header_ = ecu;
    return true;
}

bool AdapterChannel::sendHeader(const std::string& text, std::string& refusal) {
    const std::string select = "ATSH" + text;
    const auto answer = query(select, timeout());
    if (!answer) {
        return false;
    }
    if (*answer != "OK") {
        refusal = "the adapter refused " + select + ": " + *answer;
        return false;
    }
    return true;
}

std::int32_t AdapterChannel::timeout() const {
    orvane::MutexLock lock(mutex_);
    return timeout_;
}

bool AdapterChannel::usable() const {
    orvane::MutexLock lock(mutex_);
    return !dropped_ && connection_ != nullptr;
}

bool AdapterChannel::restoreHeader() {
    if (!ownHeader_) {
        return true;
    }
    header_.reset();
    physicalModule_.clear();
    if (receiveFilter_ && !liftReceiveFilter()) {
        return false;
    }
    const ProtocolInfo* info = FindProtocol(protocol_);
    if (info && IsLegacy(protocol_)) {
        // The older buses are asked with the adapter's default header.
        std::string refusal;
        if (!sendHeader(DefaultLegacyHeader(*info), refusal)) {
            return false;
        }
    }
    ownHeader_ = false;
    return true;
}

bool AdapterChannel::lastRequestFailed() const {
    return tLastRequestFailed;
}

std::vector<detail::EcuResponse> AdapterChannel::transact(const detail::Bytes& request,
                                                          std::uint32_t ecu) {
    // One ECU answers a physical request.
    return transactExpecting(request, ecu, ecu == detail::kAllEcus ? 0 : AnswerFrames(request));
}

std::vector<detail::EcuResponse> AdapterChannel::transactExpecting(const detail::Bytes& request,
                                                                   std::uint32_t ecu,
                                                                   std::size_t frames) {
    orvane::MutexLock exchange(exchangeMutex_);
    tLastRequestFailed = true;
    if (!usable() || request.empty() || request.size() > 7) {
        return {};
    }
    // The older buses are always asked functionally (their physical
    // headers differ from bus to bus); the answer of the ECU asked for is
    // picked out below.
    const bool legacy = IsLegacy(protocol_);
    std::string refusal;
    if (!restoreHeader() || (!legacy && !selectHeader(ecu, refusal))) {
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
    if (!legacy && !countRefused_ && frames >= 1 && frames <= kMostCountedFrames) {
        // The adapter need not wait for more once the last has come. A count
        // too high for an adapter that counts messages rather than frames
        // only costs the wait it would have had anyway.
        text += "0123456789ABCDEF"[frames];
    }
    auto parsed = exchangeRequest(request, text, legacy ? detail::kAllEcus : ecu);
    if (!parsed) {
        return {};
    }
    if (legacy && ecu != detail::kAllEcus) {
        parsed->responses.erase(std::remove_if(parsed->responses.begin(), parsed->responses.end(),
                                               [ecu](const detail::EcuResponse& response) {
                                                   return response.ecu != ecu;
                                               }),
                                parsed->responses.end());
    }
    tLastRequestFailed = false;
    return std::move(parsed->responses);
}

std::optional<std::vector<detail::EcuResponse>> AdapterChannel::transactWithHeader(
    const detail::Bytes& request, const std::string& header) {
    orvane::MutexLock exchange(exchangeMutex_);
    if (!usable()) {
        setError("the connection to the adapter is not open");
        return std::nullopt;
    }
    if (request.empty() || request.size() > 7) {
        setError("a request has 1 to 7 bytes, not " + std::to_string(request.size()));
        return std::nullopt;
    }
    if (!IsHeader(header)) {
        setError("invalid header '" + header +
                 "': give 3 hex digits (11-bit CAN), 8 (29-bit CAN) or 6 (3 header bytes)");
        return std::nullopt;
    }
    // From here on the adapter's header is not the services' any more.
    ownHeader_ = true;
    header_.reset();
    std::string refusal;
    if (!sendHeader(header, refusal)) {
        if (refusal.empty()) {
            drop("the adapter stopped answering");
        } else {
            setError(refusal);
        }
        return std::nullopt;
    }
    auto parsed = exchangeRequest(request, RequestText(request), detail::kAllEcus);
    if (!parsed) {
        return std::nullopt;
    }
    return std::move(parsed->responses);
}

std::optional<ParsedAnswer> AdapterChannel::exchangeRequest(const detail::Bytes& request,
                                                            const std::string& text,
                                                            std::uint32_t ecu) {
    applyAdapterTimeout();
    // The same request again (a watch reading its PIDs): an empty line has
    // the adapter repeat it, a dozen bytes fewer on a slow link.
    const bool repeat = !repeatRefused_ && text == lastCommand_;
    const auto sent = std::chrono::steady_clock::now();
    auto answer = command(repeat ? std::string() : text, timeout());
    if (repeat && !answer && connection_->isValid()) {
        // A late answer, or an adapter that ignores an empty line. It gets
        // one more wait before the request goes in full: a character sent
        // while the adapter works would stop it.
        answer = nextAnswer(timeout());
        if (!answer) {
            if (stoppedPending(request, text, sent)) {
                return std::nullopt;
            }
            repeatRefused_ = true;
            return exchangeRequest(request, text, ecu);
        }
    }
    if (repeat && answer && FirstLine(*answer, text) == "?") {
        // A clone without the feature: asked in full, now and from now on.
        repeatRefused_ = true;
        return exchangeRequest(request, text, ecu);
    }
    if (!answer && connection_->isValid() && stoppedPending(request, text, sent)) {
        return std::nullopt;
    }
    if (!answer) {
        drop(connection_->isValid() ? "the adapter stopped answering (no prompt within " +
                                          std::to_string(timeout()) + " ms)"
                                    : "the connection to the adapter was lost");
        return std::nullopt;
    }
    ParsedAnswer parsed = ParseAnswer(*answer, text, format());
    if (!Belongs(*answer, parsed, request, text, ecu)) {
        // Out of step (a stray prompt, a late answer): the answer to this
        // request may follow, but only within the grace, since the prompt
        // says the adapter is done; anything else fails the request.
        const bool empty = FirstLine(*answer, text).empty();
        const auto next = nextAnswer(grace());
        parsed = next ? ParseAnswer(*next, text, format()) : ParsedAnswer{};
        if (!next || !Belongs(*next, parsed, request, text, ecu)) {
            // Whatever the adapter did with an empty line, it is not
            // trusted with one again.
            repeatRefused_ = repeatRefused_ || repeat;
            setError(empty && !next ? "the adapter's answer to request " + text + " was empty"
                                    : "the adapter's answer does not belong to request " + text);
            return std::nullopt;
        }
    }
    if (parsed.status == AnswerStatus::Error && parsed.message == "?" && text.size() % 2 != 0 &&
        !countRefused_) {
        // A clone without the response count digit: asked without it, now
        // and from now on.
        countRefused_ = true;
        return exchangeRequest(request, text.substr(0, text.size() - 1), ecu);
    }
    if (parsed.status == AnswerStatus::Error) {
        setError(parsed.message);
        return std::nullopt;
    }
    std::vector<std::string> aside;
    SetAsideStrays(parsed, request, ecu, aside);
    for (const std::string& message : aside) {
        std::string line = "set aside from the answer to " + text;
        line += ": ";
        line += message;
        debug(line);
    }
    setError({});
    return parsed;
}

std::optional<double> AdapterChannel::readBatteryVoltage() {
    orvane::MutexLock exchange(exchangeMutex_);
    if (!usable()) {
        return std::nullopt;
    }
    const auto answer = query("ATRV", timeout());
    if (!answer) {
        return std::nullopt;
    }
    return ReadVoltage(*answer);
}

}  // namespace obd::elm327
