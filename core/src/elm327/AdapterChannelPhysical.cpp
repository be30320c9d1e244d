// Requests to one module by physical addressing: the adapter's header names
// the module's request id and its receive filter the response id, so that
// only that module's answers (and on CAN its flow control) are taken.

#include <cstdio>

#include "bus/Protocols.h"
#include "elm327/AdapterChannel.h"

namespace obd::elm327 {

using bus::IsLegacy;

namespace {

// Priority byte of the 29-bit identifiers ISO 15765-4 uses, which the
// ELM327 sets by default; other priorities need the four-byte header.
constexpr std::uint32_t kDefaultPriority = 0x18;

// The header: 3 digits on 11-bit; on 29-bit 6 when the priority is the
// default one, else all 8.
std::string HeaderText(std::uint32_t id, bool extended) {
    char text[16];
    if (!extended) {
        std::snprintf(text, sizeof text, "%03X", static_cast<unsigned>(id & 0x7FF));
    } else if ((id >> 24) == kDefaultPriority) {
        std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(id & 0xFFFFFF));
    } else {
        std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(id));
    }
    return text;
}

// The receive filter takes the whole identifier: 3 digits or 8.
std::string FilterText(std::uint32_t id, bool extended) {
    char text[16];
    std::snprintf(text, sizeof text, extended ? "%08X" : "%03X",
                  static_cast<unsigned>(id & (extended ? 0x1FFFFFFF : 0x7FF)));
    return text;
}

std::string RequestHex(const uds::Bytes& request) {
    std::string text;
    char digits[3];
    for (std::uint8_t byte : request) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += digits;
    }
    return text;
}

}  // namespace

bool AdapterChannel::liftReceiveFilter() {
    if (!query("ATAR", timeout())) {
        return false;
    }
    receiveFilter_ = false;
    return true;
}

std::optional<std::vector<uds::Bytes>> AdapterChannel::transactPhysical(
    const uds::Bytes& request, const uds::PhysicalAddress& address, std::string& error) {
    orvane::MutexLock exchange(exchangeMutex_);
    if (!usable()) {
        error = "the connection to the adapter is not open";
        return std::nullopt;
    }
    if (request.empty() || request.size() > kMaxSingleFrameRequest) {
        error = "a request has 1 to 7 bytes";
        return std::nullopt;
    }
    if (IsLegacy(protocol_) || address.extended != extended_) {
        error = std::string("the vehicle's bus does not carry ") +
                (address.extended ? "29-bit" : "11-bit") + " CAN identifiers";
        return std::nullopt;
    }
    const std::string header = HeaderText(address.request, address.extended);
    const std::string filter = FilterText(address.response, address.extended);
    if (ownHeader_ && physicalModule_ == header + "/" + filter) {
        return exchangePhysical(request, address, error);
    }
    ownHeader_ = true;
    header_.reset();
    physicalModule_.clear();
    std::string refusal;
    if (!sendHeader(header, refusal)) {
        if (refusal.empty()) {
            drop("the adapter stopped answering");
        }
        error = refusal.empty() ? "the adapter stopped answering" : refusal;
        return std::nullopt;
    }
    // A clone without ATCRA still works: the answers are picked by sender.
    const auto filtered = query("ATCRA" + filter, timeout());
    if (!filtered) {
        drop("the adapter stopped answering");
        error = "the adapter stopped answering";
        return std::nullopt;
    }
    receiveFilter_ = *filtered == "OK";
    physicalModule_ = header + "/" + filter;
    return exchangePhysical(request, address, error);
}

std::optional<std::vector<uds::Bytes>> AdapterChannel::exchangePhysical(
    const uds::Bytes& request, const uds::PhysicalAddress& address, std::string& error) {
    // Any sender passes here: a clone with headers off names none, and the
    // module's own answers are picked below.
    auto parsed = exchangeRequest(request, RequestHex(request), detail::kAllEcus);
    if (!parsed) {
        error = this->error();
        return std::nullopt;
    }
    std::vector<uds::Bytes> messages;
    for (detail::EcuResponse& response : parsed->responses) {
        if (response.ecu == address.response || response.ecu == kUnknownSender) {
            messages.push_back(std::move(response.payload));
        }
    }
    return messages;
}

}  // namespace obd::elm327
