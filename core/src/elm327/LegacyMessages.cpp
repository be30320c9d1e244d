#include "elm327/LegacyMessages.h"

#include <algorithm>

#include "j1979/InfoTypes.h"
#include "j1979/Responses.h"
#include "j1979/VehicleOperationData.h"
#include "obd/ParameterIdentifier.h"

namespace obd::elm327 {

// The protocol table is the bus layer's.
using bus::Framing;
using bus::kTesterAddress;
using bus::ProtocolInfo;

namespace {

using j1979::kNegativeResponse;
constexpr std::uint8_t kVehicleInformation = 0x49;
constexpr std::size_t kCodeBytes = 2;
constexpr std::size_t kCodesPerMessage = 3;
constexpr std::size_t kInformationBytesPerMessage = 4;

// Trouble code answers (services 03, 07 and 0A): on CAN a count, then the
// codes; on the older buses three codes a message, filled with 00 00.
bool IsTroubleCodeAnswer(std::uint8_t service) {
    return service == 0x43 || service == 0x47 || service == 0x4A;
}

// The size of one data item of a service 09 PID (J1979 service 09 table);
// 0 when the PID has a single item of any size. On these buses no message
// carries the item count: it follows from the size.
std::size_t InformationItemSize(std::uint8_t pid) {
    namespace info = detail::info;
    switch (pid) {
        case info::kVin:
        case info::kEsn:
        case info::kErotan:
            return 17;
        case info::kCalid:
            return 16;
        case info::kCvn:
            return 4;
        case info::kPerformanceSpark:
        case info::kPerformanceCompression:
        case info::kFueledEngineOperation:
        case info::kDistanceSinceEvap:
            return 2;
        case info::kEcuName:
            return 20;
        default:
            // Vehicle operation data: unsigned 32-bit numbers.
            return detail::FindVodRecord(pid) != nullptr ? 4 : 0;
    }
}

std::optional<Bytes> JoinTroubleCodes(const std::vector<Bytes>& messages) {
    Bytes codes;
    for (const Bytes& message : messages) {
        if ((message.size() - 1) % kCodeBytes != 0) {
            return std::nullopt;
        }
        for (std::size_t i = 1; i + 1 < message.size(); i += kCodeBytes) {
            if (message[i] != 0 || message[i + 1] != 0) {  // 00 00 fills the message
                codes.push_back(message[i]);
                codes.push_back(message[i + 1]);
            }
        }
    }
    const std::size_t count = codes.size() / kCodeBytes;
    if (count > 0xFF) {
        return std::nullopt;
    }
    Bytes answer{messages.front()[0], static_cast<std::uint8_t>(count)};
    answer.insert(answer.end(), codes.begin(), codes.end());
    return answer;
}

std::optional<Bytes> JoinInformation(std::vector<Bytes> messages) {
    const std::uint8_t pid = messages.front()[1];
    for (const Bytes& message : messages) {
        if (message.size() < 3 || message[1] != pid) {
            return std::nullopt;
        }
    }
    if (messages.size() == 1 && messages.front().size() == 3) {
        return messages.front();  // a message count (PIDs 01, 03, ...): no data
    }
    if (IsSupportId(pid)) {
        // 49 00 01 BE 1F B8 10 -> 49 00 BE 1F B8 10
        if (messages.size() != 1 || messages.front().size() != 3 + kInformationBytesPerMessage) {
            return std::nullopt;
        }
        Bytes answer{kVehicleInformation, pid};
        answer.insert(answer.end(), messages.front().begin() + 3, messages.front().end());
        return answer;
    }
    std::stable_sort(messages.begin(), messages.end(),
                     [](const Bytes& a, const Bytes& b) { return a[2] < b[2]; });
    Bytes data;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const Bytes& message = messages[i];
        if (message[2] != i + 1 || message.size() != 3 + kInformationBytesPerMessage) {
            return std::nullopt;  // a message missing, repeated or cut
        }
        data.insert(data.end(), message.begin() + 3, message.end());
    }
    // The items fill the last bytes; the first message is filled with 00
    // before them (the VIN's 17 bytes travel in 20). An item of any size is
    // text, which starts with no 00.
    const std::size_t size = InformationItemSize(pid);
    const std::size_t count = size == 0 ? 1 : data.size() / size;
    const std::size_t fill =
        size != 0 ? data.size() - count * size
                  : static_cast<std::size_t>(
                        std::find_if(data.begin(), data.begin() + kInformationBytesPerMessage - 1,
                                     [](std::uint8_t byte) { return byte != 0; }) -
                        data.begin());
    if (count == 0 || count > 0xFF ||
        std::any_of(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(fill),
                    [](std::uint8_t byte) { return byte != 0; })) {
        return std::nullopt;
    }
    Bytes answer{kVehicleInformation, pid, static_cast<std::uint8_t>(count)};
    answer.insert(answer.end(), data.begin() + static_cast<std::ptrdiff_t>(fill), data.end());
    return answer;
}

}  // namespace

std::uint8_t CheckByte(Framing framing, const Bytes& message) {
    if (framing == Framing::J1850) {
        // SAE J1850 CRC: polynomial x^8 + x^4 + x^3 + x^2 + 1, initial
        // value FF, sent inverted.
        std::uint8_t crc = 0xFF;
        for (std::uint8_t byte : message) {
            crc ^= byte;
            for (int bit = 0; bit < 8; ++bit) {
                crc = static_cast<std::uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x1D : crc << 1);
            }
        }
        return static_cast<std::uint8_t>(~crc);
    }
    std::uint8_t sum = 0;
    for (std::uint8_t byte : message) {
        sum = static_cast<std::uint8_t>(sum + byte);
    }
    return sum;
}

std::optional<std::size_t> DeclaredDataLength(Framing framing, const Bytes& message) {
    if (framing != Framing::Iso || message.empty() || (message[0] & 0x80) == 0 ||
        (message[0] & 0x3F) == 0) {
        return std::nullopt;
    }
    return message[0] & 0x3F;
}

Bytes AnswerHeader(const ProtocolInfo& protocol, std::uint8_t source, std::size_t dataLength) {
    if (protocol.protocol == DataLinkProtocol::Iso14230SlowInit ||
        protocol.protocol == DataLinkProtocol::Iso14230FastInit) {
        // The format byte carries the length of the data.
        return {static_cast<std::uint8_t>(protocol.responsePriority | (dataLength & 0x3F)),
                kTesterAddress, source};
    }
    return {protocol.responsePriority, 0x6B, source};
}

std::vector<Bytes> ToLegacyMessages(const Bytes& answer) {
    if (answer.size() < 2 || answer[0] == kNegativeResponse) {
        return {answer};
    }
    const std::uint8_t service = answer[0];
    std::vector<Bytes> messages;
    if (IsTroubleCodeAnswer(service)) {
        const std::size_t codes = (answer.size() - 2) / kCodeBytes;
        for (std::size_t first = 0; first == 0 || first < codes; first += kCodesPerMessage) {
            Bytes message{service};
            for (std::size_t i = first; i < first + kCodesPerMessage; ++i) {
                const bool present = i < codes;
                message.push_back(present ? answer[2 + i * kCodeBytes] : 0);
                message.push_back(present ? answer[3 + i * kCodeBytes] : 0);
            }
            messages.push_back(std::move(message));
        }
        return messages;
    }
    if (service == kVehicleInformation) {
        const std::uint8_t pid = answer[1];
        if (IsSupportId(pid)) {
            Bytes message{service, pid, 0x01};
            message.insert(message.end(), answer.begin() + 2, answer.end());
            return {message};
        }
        if (answer.size() < 4) {
            return {answer};
        }
        Bytes data(answer.begin() + 3, answer.end());
        const std::size_t fill =
            (kInformationBytesPerMessage - data.size() % kInformationBytesPerMessage) %
            kInformationBytesPerMessage;
        data.insert(data.begin(), fill, 0x00);
        for (std::size_t i = 0; i < data.size(); i += kInformationBytesPerMessage) {
            Bytes message{service, pid,
                          static_cast<std::uint8_t>(i / kInformationBytesPerMessage + 1)};
            message.insert(message.end(), data.begin() + static_cast<std::ptrdiff_t>(i),
                           data.begin() + static_cast<std::ptrdiff_t>(i) +
                               static_cast<std::ptrdiff_t>(kInformationBytesPerMessage));
            messages.push_back(std::move(message));
        }
        return messages;
    }
    return {answer};
}

std::optional<Bytes> FromLegacyMessages(const std::vector<Bytes>& messages) {
    if (messages.empty()) {
        return std::nullopt;
    }
    for (const Bytes& message : messages) {
        if (message.empty() || message.size() > kMaxLegacyData) {
            return std::nullopt;
        }
        if (message[0] == kNegativeResponse) {
            return message;
        }
        if (message[0] != messages.front()[0]) {
            return std::nullopt;
        }
    }
    const std::uint8_t service = messages.front()[0];
    if (IsTroubleCodeAnswer(service)) {
        return JoinTroubleCodes(messages);
    }
    if (service == kVehicleInformation && messages.front().size() >= 2) {
        return JoinInformation(messages);
    }
    // Several PIDs asked at once come one message per PID: the records
    // follow each other after one service byte, as on CAN.
    Bytes answer = messages.front();
    for (std::size_t i = 1; i < messages.size(); ++i) {
        answer.insert(answer.end(), messages[i].begin() + 1, messages[i].end());
    }
    return answer;
}

}  // namespace obd::elm327
