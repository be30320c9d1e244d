#include "elm327/AnswerParser.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <map>
#include <optional>

#include "bus/Hex.h"
#include "bus/IsoTp.h"
#include "elm327/LegacyMessages.h"

namespace obd::elm327 {

// The protocol table is the bus layer's.
using bus::FindProtocol;
using bus::IsLegacy;
using bus::ProtocolInfo;

namespace {

using detail::Bytes;
using detail::EcuResponse;

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// The line without blanks, or nothing when it holds anything but hex digits.
std::optional<std::string> HexDigits(std::string_view line) {
    std::string digits;
    digits.reserve(line.size());
    for (char c : line) {
        if (c == ' ' || c == '\t') {
            continue;
        }
        if (!IsHexDigit(c)) {
            return std::nullopt;
        }
        digits += c;
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    return digits;
}

// REQUIRES: hex digits only, at most eight.
std::uint32_t ValueOf(std::string_view digits) {
    std::uint32_t value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    return value;
}

// REQUIRES: an even number of hex digits.
Bytes BytesOf(std::string_view digits) {
    return bus::ParseHex(std::string(digits)).value_or(Bytes{});
}

std::string Upper(std::string_view text) {
    std::string upper;
    upper.reserve(text.size());
    for (char c : text) {
        if (c == ' ' || c == '\t') {
            continue;
        }
        upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return upper;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Texts an adapter prints instead of, or among, the answer. Nothing for a
// line that is not a known adapter text.
enum class Remark { None, NoData, Skip, Error };

Remark Classify(const std::string& compact) {
    if (compact == "NODATA") {
        return Remark::NoData;
    }
    if (StartsWith(compact, "SEARCHING") || compact == "OK") {
        return Remark::Skip;
    }
    if (StartsWith(compact, "BUSINIT:")) {
        // "BUS INIT: ...OK" is progress; "BUS INIT: ...ERROR" is a failure.
        return compact.find("ERROR") != std::string::npos ? Remark::Error : Remark::Skip;
    }
    return Remark::None;
}

// Progress texts an adapter overprints on the line of the data that follows
// (a lone carriage return moves back to the line's start only).
std::string WithoutProgress(std::string line) {
    for (std::size_t length = LeadingProgressText(line); length > 0;
         length = LeadingProgressText(line)) {
        const auto rest = line.find_first_not_of(" \t", length);
        if (rest == std::string::npos) {
            break;
        }
        line.erase(0, rest);
    }
    return line;
}

ParsedAnswer Failure(std::string message) {
    ParsedAnswer answer;
    answer.status = AnswerStatus::Error;
    answer.message = std::move(message);
    return answer;
}

// A multi-frame answer printed without headers: a length line ("014") then
// numbered lines ("0: 49 02 01 ...").
struct NumberedMessage {
    std::size_t length = 0;
    Bytes data;
    int nextIndex = 0;
};

}  // namespace

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::string current;
    auto flush = [&] {
        const auto first = current.find_first_not_of(" \t");
        if (first != std::string::npos) {
            const auto last = current.find_last_not_of(" \t");
            lines.push_back(current.substr(first, last - first + 1));
        }
        current.clear();
    };
    for (char c : text) {
        if (c == '>') {
            break;
        }
        if (c == '\r' || c == '\n' || c == '\0') {
            flush();
        } else {
            current += c;
        }
    }
    flush();
    return lines;
}

ParsedAnswer ParseAnswer(std::string_view text, std::string_view command,
                         const AnswerFormat& format) {
    const std::vector<std::string> lines = SplitLines(text);
    const std::string echo = Upper(command);

    std::vector<EcuResponse> responses;
    std::map<std::uint32_t, bus::Reassembler> senders;
    std::optional<NumberedMessage> numbered;
    std::map<std::uint32_t, std::size_t> remainingBytes;  // of a multi-frame message, per sender
    const ProtocolInfo* legacy =
        IsLegacy(format.protocol) ? FindProtocol(format.protocol) : nullptr;
    std::map<std::uint32_t, std::vector<Bytes>> legacyMessages;  // per sender

    auto finishNumbered = [&]() -> bool {
        if (!numbered) {
            return true;
        }
        if (numbered->data.size() < numbered->length) {
            return false;
        }
        numbered->data.resize(numbered->length);
        responses.push_back(EcuResponse{kUnknownSender, std::move(numbered->data)});
        numbered.reset();
        return true;
    };

    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string line = WithoutProgress(lines[i]);
        const std::string compact = Upper(line);
        if (i == 0 && !echo.empty() && compact == echo) {
            continue;  // echo left on
        }
        switch (Classify(compact)) {
            case Remark::NoData:
            case Remark::Skip:
                continue;
            case Remark::Error:
                return Failure(line);
            case Remark::None:
                break;
        }

        // "0: 49 02 01" or "0:490201": a numbered line of a multi-frame answer.
        const auto colon = line.find(':');
        if (!format.headers && colon != std::string::npos) {
            const auto index = HexDigits(std::string_view(line).substr(0, colon));
            const auto data = HexDigits(std::string_view(line).substr(colon + 1));
            if (!index || index->size() != 1 || !data || data->size() % 2 != 0) {
                return Failure(line);
            }
            if (!numbered ||
                ValueOf(*index) != static_cast<std::uint32_t>(numbered->nextIndex & 0x0F)) {
                return Failure("malformed multi-frame answer: " + line);
            }
            const Bytes bytes = BytesOf(*data);
            numbered->data.insert(numbered->data.end(), bytes.begin(), bytes.end());
            ++numbered->nextIndex;
            continue;
        }

        const auto digits = HexDigits(line);
        if (!digits) {
            // CAN ERROR, STOPPED, UNABLE TO CONNECT, ?, BUFFER FULL, BUS
            // BUSY, and whatever else an adapter prints: shown as it came.
            return Failure(line);
        }
        if (legacy) {
            if (digits->size() % 2 != 0) {
                continue;  // a line cut short ("41 0C 000"): its value is missing, not misread
            }
            Bytes bytes = BytesOf(*digits);
            if (!format.headers) {
                legacyMessages[kUnknownSender].push_back(std::move(bytes));
                continue;
            }
            // Header (priority or format, target, source), data, check byte.
            if (bytes.size() < 4 || bytes.size() > 4 + kMaxLegacyData) {
                return Failure("malformed answer: " + line);
            }
            const auto declared = DeclaredDataLength(legacy->framing, bytes);
            if (declared && bytes.size() < 3 + *declared) {
                return Failure("frame shorter than its format byte declares: " + line);
            }
            // Some ECUs send no check byte where the format byte says where
            // the data ends. A last byte that sums up the rest is a check
            // byte all the same: the format byte then miscounts.
            const bool checked = !declared || bytes.size() > 3 + *declared;
            if (bytes.size() < (checked ? 5U : 4U)) {
                return Failure("malformed answer: " + line);
            }
            if (!checked &&
                CheckByte(legacy->framing, Bytes(bytes.begin(), bytes.end() - 1)) == bytes.back()) {
                return Failure("frame length differs from its format byte: " + line);
            }
            if (checked) {
                const std::size_t end = declared ? 3 + *declared : bytes.size() - 1;
                const std::uint8_t check = bytes[end];
                bytes.resize(end);
                if (CheckByte(legacy->framing, bytes) != check) {
                    return Failure("check byte does not match: " + line);
                }
            }
            legacyMessages[bytes[2]].emplace_back(bytes.begin() + 3, bytes.end());
            continue;
        }
        if (!format.headers) {
            if (digits->size() == 3) {  // the length line of a numbered answer
                if (!finishNumbered()) {
                    return Failure("incomplete multi-frame answer");
                }
                if (ValueOf(*digits) == 0) {
                    return Failure("malformed answer: " + line);
                }
                numbered = NumberedMessage{ValueOf(*digits), {}, 0};
                continue;
            }
            if (digits->size() % 2 != 0) {
                continue;  // a line cut short: its value is missing, not misread
            }
            if (!finishNumbered()) {
                return Failure("incomplete multi-frame answer");
            }
            responses.push_back(EcuResponse{kUnknownSender, BytesOf(*digits)});
            continue;
        }

        // Headers on: the identifier has 3 digits on 11-bit CAN, 8 on 29-bit;
        // where the protocol is not known yet, an odd count of digits means
        // a 3-digit identifier. The rest is the raw frame.
        const ProtocolInfo* can = FindProtocol(format.protocol);
        std::size_t idLength = digits->size() % 2 != 0 ? 3 : 8;
        if (can != nullptr &&
            (can->framing == bus::Framing::Can11 || can->framing == bus::Framing::Can29)) {
            idLength = can->framing == bus::Framing::Can11 ? 3 : 8;
        }
        if (digits->size() > idLength && (digits->size() - idLength) % 2 != 0) {
            continue;  // a line cut short: its value is missing, not misread
        }
        if (digits->size() < idLength + 2 || digits->size() > idLength + 16) {
            return Failure("malformed answer: " + line);
        }
        const std::uint32_t sender = ValueOf(std::string_view(*digits).substr(0, idLength));
        const Bytes data = BytesOf(std::string_view(*digits).substr(idLength));
        // A frame must hold what its control byte declares; the frame is
        // copied into eight zeroed bytes, so a short one would read as data.
        std::size_t& remaining = remainingBytes[sender];
        const int type = data[0] >> 4;
        std::size_t needed = 0;
        if (type == 0) {
            needed = 1 + static_cast<std::size_t>(data[0] & 0x0F);
        } else if (type == 1) {
            needed = 8;
        } else if (type == 2) {
            needed = 1 + std::min<std::size_t>(7, remaining);
        }
        if (data.size() < needed) {
            return Failure("frame shorter than it declares: " + line);
        }
        if (type == 1) {
            const std::size_t total = static_cast<std::size_t>(data[0] & 0x0F) << 8 | data[1];
            remaining = total > 6 ? total - 6 : 0;
        } else if (type == 2) {
            remaining -= std::min<std::size_t>(7, remaining);
        }
        bus::CanFrame frame;
        frame.id = sender;
        std::copy(data.begin(), data.end(), frame.data.begin());
        try {
            if (auto message = senders[sender].feed(frame)) {
                responses.push_back(EcuResponse{sender, std::move(*message)});
            }
        } catch (const bus::IsoTpError& error) {
            return Failure(std::string("malformed multi-frame answer: ") + error.what());
        }
    }

    if (!finishNumbered()) {
        return Failure("incomplete multi-frame answer");
    }
    for (const auto& [sender, reassembler] : senders) {
        if (reassembler.inProgress()) {
            return Failure("incomplete multi-frame answer");
        }
    }
    for (const auto& [sender, messages] : legacyMessages) {
        auto joined = FromLegacyMessages(messages);
        if (!joined) {
            return Failure("messages that do not form one answer");
        }
        responses.push_back(EcuResponse{sender, std::move(*joined)});
    }
    ParsedAnswer answer;
    if (responses.empty()) {
        // "NO DATA", or only progress texts: nobody answered.
        answer.status = AnswerStatus::NoData;
        return answer;
    }
    std::stable_sort(responses.begin(), responses.end(),
                     [](const EcuResponse& a, const EcuResponse& b) { return a.ecu < b.ecu; });
    answer.status = AnswerStatus::Answered;
    answer.responses = std::move(responses);
    return answer;
}

std::optional<double> ReadVoltage(const std::string& text) {
    constexpr double kMostPlausibleVolts = 40.0;
    const bool unit = !text.empty() && (text.back() == 'V' || text.back() == 'v');
    const std::string number = text.substr(0, text.size() - (unit ? 1 : 0));
    if (number.find_first_not_of("0123456789.") != std::string::npos ||
        number.find_first_of("0123456789") == std::string::npos ||
        number.find('.') != number.rfind('.')) {
        return std::nullopt;
    }
    // Digits and one point only: no sign, exponent, hex or "inf" reaches strtod.
    const double volts = std::strtod(number.c_str(), nullptr);
    if (volts > kMostPlausibleVolts) {
        return std::nullopt;
    }
    return volts;
}

std::size_t LeadingProgressText(std::string_view line) {
    static constexpr std::string_view kProgress[] = {"SEARCHING...", "BUS INIT: ...OK",
                                                     "BUS INIT:...OK", "STOPPED"};
    for (std::string_view text : kProgress) {
        const std::string_view head = line.substr(0, text.size());
        if (std::equal(head.begin(), head.end(), text.begin(), text.end(), [](char a, char b) {
                return (a >= 'a' && a <= 'z' ? static_cast<char>(a - 'a' + 'A') : a) == b;
            })) {
            return text.size();
        }
    }
    return 0;
}

}  // namespace obd::elm327
