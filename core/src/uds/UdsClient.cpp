#include "uds/UdsClient.h"

#include <algorithm>

#include "j1979/Codec.h"
#include "j1979/Numbers.h"
#include "uds/NegativeResponses.h"

namespace obd::uds {

namespace {

constexpr std::uint8_t kReadDataByIdentifier = 0x22;
constexpr std::uint8_t kReadDtcInformation = 0x19;
constexpr std::uint8_t kReportDtcByStatusMask = 0x02;
constexpr std::uint8_t kAllStatusBits = 0xFF;
constexpr std::uint8_t kClearDiagnosticInformation = 0x14;
constexpr std::size_t kDtcRecordSize = 4;

Reply Missing(std::string why) {
    Reply reply;
    reply.why = std::move(why);
    return reply;
}

std::string IdText(std::uint16_t id) {
    return j1979::detail::HexByte(static_cast<std::uint8_t>(id >> 8)) +
           j1979::detail::HexByte(static_cast<std::uint8_t>(id)).substr(2);
}

}  // namespace

std::string StatusText(std::uint8_t bits) {
    std::string text;
    auto add = [&](std::uint8_t bit, const char* name) {
        if (bits & bit) {
            text += (text.empty() ? "" : ", ") + std::string(name);
        }
    };
    add(status::kConfirmed, "confirmed");
    add(status::kPending, "pending");
    add(status::kTestFailed, "test failed");
    add(status::kWarningIndicator, "warning indicator");
    return text;
}

Reply UdsClient::request(const PhysicalAddress& address, const Bytes& request) {
    std::string error;
    const auto messages = channel_.transactPhysical(request, address, error);
    if (!messages) {
        return Missing(error);
    }
    bool pending = false;
    for (const Bytes& message : *messages) {
        if (message.empty()) {
            continue;
        }
        if (message[0] == kNegativeResponse && message.size() >= 3 && message[1] == request[0]) {
            if (message[2] == kResponsePending) {
                pending = true;  // the final answer follows
                continue;
            }
            Reply reply = Missing(NegativeResponseText(message[2]));
            reply.refusal = message[2];
            return reply;
        }
        if (message[0] == request[0] + kPositiveResponseOffset) {
            Reply reply;
            reply.data = Bytes(message.begin() + 1, message.end());
            return reply;
        }
    }
    return Missing(pending ? "no final answer after \"response pending\"" : "no answer");
}

bool UdsClient::readShared(const PhysicalAddress& address, const std::vector<Identifier>& group,
                           std::map<std::uint16_t, Reply>& results, bool& refused) {
    Bytes message{kReadDataByIdentifier};
    for (const Identifier& id : group) {
        message.push_back(static_cast<std::uint8_t>(id.id >> 8));
        message.push_back(static_cast<std::uint8_t>(id.id));
    }
    const Reply reply = request(address, message);
    if (!reply.ok()) {
        // A module that takes one id per request refuses the form; each id
        // is asked alone, which also gives each refusal its own reason.
        refused = reply.refusal.has_value();
        return false;
    }
    // The records follow in the order asked; ISO 14229 lets a module leave
    // out the ids it does not support.
    const Bytes& data = *reply.data;
    std::size_t at = 0;
    for (std::size_t i = 0; i < group.size() && at + 2 <= data.size(); ++i) {
        const Identifier& id = group[i];
        if (data[at] != (id.id >> 8) || data[at + 1] != (id.id & 0xFF)) {
            continue;
        }
        const std::size_t end = i + 1 == group.size() ? data.size() : at + 2 + id.length;
        if (end > data.size()) {
            return false;
        }
        Reply record;
        record.data = Bytes(data.begin() + static_cast<std::ptrdiff_t>(at + 2),
                            data.begin() + static_cast<std::ptrdiff_t>(end));
        results[id.id] = std::move(record);
        at = end;
    }
    return at == data.size();
}

std::map<std::uint16_t, Reply> UdsClient::readIdentifiers(const PhysicalAddress& address,
                                                          const std::vector<Identifier>& ids,
                                                          bool& sharedRefused) {
    std::map<std::uint16_t, Reply> results;
    const std::size_t perRequest = (channel_.maxRequestSize() - 1) / 2;
    std::vector<Identifier> group;
    auto flush = [&] {
        if (group.size() > 1 && !sharedRefused) {
            std::map<std::uint16_t, Reply> shared;
            if (readShared(address, group, shared, sharedRefused)) {
                results.insert(shared.begin(), shared.end());
            }
        }
        group.clear();
    };
    for (const Identifier& id : ids) {
        const bool grouped = std::any_of(
            group.begin(), group.end(), [&](const Identifier& other) { return other.id == id.id; });
        if (id.length == 0 || grouped || results.count(id.id) != 0) {
            continue;
        }
        group.push_back(id);
        if (group.size() == perRequest) {
            flush();
        }
    }
    flush();
    // What a shared request did not bring is asked alone.
    for (const Identifier& id : ids) {
        if (results.count(id.id) == 0) {
            Reply reply =
                request(address, {kReadDataByIdentifier, static_cast<std::uint8_t>(id.id >> 8),
                                  static_cast<std::uint8_t>(id.id)});
            if (reply.ok()) {
                Bytes& data = *reply.data;
                if (data.size() < 2 || data[0] != (id.id >> 8) || data[1] != (id.id & 0xFF)) {
                    reply = Missing("the answer is for another identifier than " + IdText(id.id));
                } else {
                    data.erase(data.begin(), data.begin() + 2);
                }
            }
            results[id.id] = std::move(reply);
        }
    }
    return results;
}

Reply UdsClient::readLocal(const PhysicalAddress& address, std::uint8_t service, std::uint8_t id) {
    Reply reply = request(address, {service, id});
    if (reply.ok()) {
        Bytes& data = *reply.data;
        if (data.empty() || data[0] != id) {
            return Missing("the answer is for another identifier than " +
                           j1979::detail::HexByte(id));
        }
        data.erase(data.begin());
    }
    return reply;
}

std::optional<std::vector<ModuleCode>> UdsClient::readCodes(const PhysicalAddress& address,
                                                            std::string& why) {
    const Reply reply =
        request(address, {kReadDtcInformation, kReportDtcByStatusMask, kAllStatusBits});
    if (!reply.ok()) {
        why = reply.why;
        return std::nullopt;
    }
    // Sub-function echo, the module's status availability mask, then the
    // records of three code bytes and a status byte.
    const Bytes& data = *reply.data;
    if (data.size() < 2 || data[0] != kReportDtcByStatusMask ||
        (data.size() - 2) % kDtcRecordSize != 0) {
        why = "a malformed answer to service 19 02";
        return std::nullopt;
    }
    std::vector<ModuleCode> codes;
    for (std::size_t at = 2; at + kDtcRecordSize <= data.size(); at += kDtcRecordSize) {
        ModuleCode code;
        code.raw = static_cast<std::uint32_t>(data[at]) << 16 |
                   static_cast<std::uint32_t>(data[at + 1]) << 8 | data[at + 2];
        code.status = data[at + 3];
        code.baseCode = j1979::DecodeTroubleCode(static_cast<std::uint16_t>(code.raw >> 8));
        code.code = code.baseCode + "-" + j1979::detail::HexByte(data[at + 2]).substr(2);
        codes.push_back(std::move(code));
    }
    return codes;
}

Reply UdsClient::clearCodes(const PhysicalAddress& address) {
    return request(address, {kClearDiagnosticInformation, 0xFF, 0xFF, 0xFF});
}

}  // namespace obd::uds
