#include "obd/elm327/AdapterQuorvix.h"

#include <algorithm>
#include <cctype>

#include "bus/Hex.h"
#include "root/Root.h"

namespace obd::elm327 {

namespace {

std::vector<AdapterQuorvix::RawAnswer> RawAnswers(std::vector<detail::EcuResponse> responses) {
    std::vector<AdapterQuorvix::RawAnswer> answers;
    for (detail::EcuResponse& response : responses) {
        answers.push_back({response.ecu, std::move(response.payload)});
    }
    return answers;
}

std::unique_ptr<detail::Root> MakeRoot() {
    // What the adapter reports of itself is filled in when the connection
    // opens.
    auto info = std::make_shared<AdapterInfo>();
    return std::make_unique<detail::Root>(std::make_shared<AdapterChannel>(info), info);
}

}  // namespace

std::shared_ptr<AdapterQuorvix> AdapterQuorvix::create() {
    return std::shared_ptr<AdapterQuorvix>(new AdapterQuorvix());
}

AdapterQuorvix::AdapterQuorvix() : VehicleRoot(MakeRoot()) {}

AdapterQuorvix::~AdapterQuorvix() = default;

std::string AdapterQuorvix::lastAdapterError() const {
    return root().adapter()->lastError();
}

bool AdapterQuorvix::isAdapterLost() const {
    return root().adapter()->dropped();
}

std::string AdapterQuorvix::protocolFallback() const {
    return root().adapter()->fallbackReport();
}

void AdapterQuorvix::setDebugListener(std::function<void(const std::string&)> listener) {
    root().adapter()->setDebugHandler(std::move(listener));
}

void AdapterQuorvix::setTimeout(std::chrono::milliseconds timeout) {
    const auto milliseconds = static_cast<std::int32_t>(
        std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 1, INT32_MAX));
    root().manager()->setTimeout(milliseconds);
    root().adapter()->setAdapterTimeout(std::max(milliseconds / 2, 1));
}

std::optional<std::vector<AdapterQuorvix::RawAnswer>> AdapterQuorvix::sendRawRequest(
    const std::vector<std::uint8_t>& request, std::uint32_t ecu) {
    auto& channel = *root().adapter();
    if (!isConnectionOpen()) {
        return std::nullopt;
    }
    // A raw request may change what the vehicle reports.
    root().connection()->answerMemo().forget();
    auto responses = channel.transact(request, ecu);  // 0 is every ECU
    if (responses.empty() && !channel.error().empty()) {
        return std::nullopt;
    }
    return RawAnswers(std::move(responses));
}

std::optional<std::vector<AdapterQuorvix::RawAnswer>> AdapterQuorvix::sendRawRequestWithHeader(
    const std::vector<std::uint8_t>& request, const std::string& header) {
    if (!isConnectionOpen()) {
        return std::nullopt;
    }
    root().connection()->answerMemo().forget();
    auto responses = root().adapter()->transactWithHeader(request, header);
    if (!responses) {
        return std::nullopt;
    }
    return RawAnswers(std::move(*responses));
}

std::optional<DataLinkProtocol> AdapterQuorvix::parseProtocol(const std::string& text) {
    std::string lower;
    for (char c : text) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (lower == "auto") {
        return DataLinkProtocol::Automatic;
    }
    if (text.size() == 1 && text[0] >= '1' && text[0] <= '9') {
        return static_cast<DataLinkProtocol>(text[0] - '0');
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> AdapterQuorvix::parseRequest(const std::string& text) {
    auto bytes = bus::ParseHex(text);
    if (!bytes || bytes->empty() || bytes->size() > 7) {
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::uint32_t> AdapterQuorvix::parseEcu(const std::string& text) {
    const std::string digits =
        text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? text.substr(2)
                                                                                : text;
    if (digits.empty() || digits.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : digits) {
        const int digit = bus::HexDigitValue(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

}  // namespace obd::elm327
