#include "emulator/ReplayedVehicle.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "bus/Addressing.h"
#include "bus/Hex.h"
#include "bus/Protocols.h"
#include "elm327/AnswerParser.h"
#include "emulator/InferredBitmaps.h"
#include "j1979/Responses.h"

namespace obd::elm327 {

namespace {

using detail::Bytes;
using detail::EcuResponse;
using Json = nlohmann::json;

std::string Compact(std::string_view text) {
    std::string compact;
    for (char c : text) {
        if (c != ' ' && c != '\t') {
            compact += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        }
    }
    return compact;
}

bool IsHex(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// The protocol an ATDP answer names ("AUTO, ISO 15765-4 (CAN 29/500)").
DataLinkProtocol ProtocolNamed(const std::string& compact) {
    static const std::pair<const char*, int> kNames[] = {
        {"CAN11/500", 6}, {"CAN29/500", 7}, {"CAN11/250", 8}, {"CAN29/250", 9}, {"KWPFAST", 5},
        {"KWP5BAUD", 4},  {"9141", 3},      {"VPW", 2},       {"PWM", 1},
    };
    for (const auto& [name, number] : kNames) {
        if (compact.find(name) != std::string::npos) {
            return static_cast<DataLinkProtocol>(number);
        }
    }
    return DataLinkProtocol::Automatic;
}

// The protocol the shape of a headed frame shows, for a dialogue that never
// asked the adapter: 3 digits of identifier for 11-bit CAN, 18 DA or 18 DB
// for 29-bit CAN, a format byte with the tester as target for ISO 14230-4,
// 48 6B for ISO 9141-2.
DataLinkProtocol ProtocolShown(const std::string& line) {
    const auto space = line.find(' ');
    const std::string compact = Compact(line);
    if (!IsHex(compact)) {
        return DataLinkProtocol::Automatic;
    }
    if (space == 3 || (space == std::string::npos && compact.size() % 2 != 0)) {
        return DataLinkProtocol::Iso15765Can11Bit500k;
    }
    if (StartsWith(compact, "18DA") || StartsWith(compact, "18DB")) {
        return DataLinkProtocol::Iso15765Can29Bit500k;
    }
    if (compact.size() >= 6 && compact.substr(2, 2) == "F1" && compact[0] >= '8') {
        return DataLinkProtocol::Iso14230FastInit;
    }
    if (StartsWith(compact, "486B")) {
        return DataLinkProtocol::Iso9141;
    }
    return DataLinkProtocol::Automatic;
}

// Splits frames a logger glued into one line (CR dropped) by their
// ISO 15765-2 control bytes: a single frame is as long as it says, others
// are eight bytes.
std::vector<std::string> SplitGluedFrames(const std::string& digits, std::size_t idLength) {
    std::vector<std::string> frames;
    std::size_t at = 0;
    while (digits.size() - at > idLength + 16) {
        const std::size_t control = std::stoul(digits.substr(at + idLength, 2), nullptr, 16);
        const std::size_t bytes = (control >> 4) == 0 ? 1 + (control & 0x0F) : 8;
        frames.push_back(digits.substr(at, idLength + 2 * bytes));
        at += idLength + 2 * bytes;
    }
    frames.push_back(digits.substr(at));
    return frames;
}

struct Reader {
    ReplayedDialogue dialogue;
    // Headers on (ATH1); unknown until the dialogue sets them, and then
    // told by the shape of the first answer.
    std::optional<bool> headers;
    std::string lastRequest;
    std::map<std::string, bool> headed;  // per request: its answers named their ECUs

    // The answer's lines as a parser takes them: progress texts glued to
    // data taken off, glued frames apart, lines of an odd count of digits
    // (cut or garbled in the car or the log: what they held is lost) left
    // out.
    std::string Cleaned(const std::string& answer) {
        const bus::ProtocolInfo* info = bus::FindProtocol(dialogue.protocol);
        const bool can11 = info && info->framing == bus::Framing::Can11;
        const bool can29 = info && info->framing == bus::Framing::Can29;
        std::string cleaned;
        for (std::string line : SplitLines(answer)) {
            if (StartsWith(line, "SEARCHING...")) {
                line.erase(0, 12);
            }
            const std::string compact = Compact(line);
            if (!IsHex(compact)) {
                cleaned += line + "\r";
                continue;
            }
            if (!headers) {
                headers = ProtocolShown(line) != DataLinkProtocol::Automatic;
            }
            if ((compact.size() % 2 != 0) != (*headers && can11)) {
                continue;
            }
            const std::size_t idLength = !*headers ? 0 : can11 ? 3 : can29 ? 8 : 0;
            const bool glued = (can11 || can29) && line.find(' ') == std::string::npos;
            for (const std::string& frame : glued&&* headers ? SplitGluedFrames(compact, idLength)
                                                             : std::vector<std::string>{line}) {
                cleaned += frame + "\r";
            }
        }
        return cleaned;
    }

    void Adapter(const std::string& command, const std::string& answer) {
        if (command == "ATH1") {
            headers = true;
        } else if (command == "ATH0" || command == "ATZ" || command == "ATD" || command == "ATWS") {
            headers = false;
        }
        if (command == "ATZ" || command == "ATI" || command == "ATWS") {
            const auto at = answer.find("ELM327");
            if (at != std::string::npos) {
                const auto end = answer.find_first_of("\r\n", at);
                dialogue.identification = answer.substr(at, end - at);
            }
        } else if (command == "ATRV") {
            const auto lines = SplitLines(answer);
            if (!lines.empty()) {
                dialogue.voltage = ReadVoltage(Compact(lines.back()));
            }
        }
    }

    // The request an answer is to, for an empty command (the adapter
    // repeats its last request, which the log may not show): the one the
    // most of its messages answer.
    static std::string RequestAnswered(const std::vector<EcuResponse>& responses) {
        std::map<std::string, int> votes;
        for (const EcuResponse& response : responses) {
            const Bytes& payload = response.payload;
            if (payload.empty() || payload[0] < j1979::kPositiveResponseOffset ||
                payload[0] == kNegativeResponse) {
                continue;
            }
            Bytes request{static_cast<std::uint8_t>(payload[0] - j1979::kPositiveResponseOffset)};
            const bool hasPid = request[0] == 0x01 || request[0] == 0x02 || request[0] == 0x06 ||
                                request[0] == 0x09;
            if (hasPid && payload.size() >= 2) {
                request.push_back(payload[1]);
            }
            ++votes[AnswerKey(request)];
        }
        const auto best = std::max_element(votes.begin(), votes.end(),
                                           [](auto& a, auto& b) { return a.second < b.second; });
        return best == votes.end() ? std::string() : best->first;
    }

    void Request(std::string command, const std::string& answer) {
        if (command.size() % 2 != 0 && command.size() >= 3) {
            command.pop_back();  // the adapter's response count
        }
        const bus::ProtocolInfo* info = bus::FindProtocol(dialogue.protocol);
        const std::string cleaned = Cleaned(answer);
        AnswerFormat format;
        format.headers = headers.value_or(false);
        format.protocol = dialogue.protocol;
        ParsedAnswer parsed = ParseAnswer(cleaned, command, format);
        if (parsed.status == AnswerStatus::Error && info == nullptr && dialogue.failure.empty()) {
            dialogue.failure = parsed.message;
        }
        if (parsed.status == AnswerStatus::Error) {
            return;
        }
        // The vehicle names its ECUs as on 11-bit CAN (7E8 is the ECU at
        // 10), whatever the protocol; lines without headers are told apart
        // by their order only.
        for (std::size_t i = 0; i < parsed.responses.size(); ++i) {
            std::uint32_t& ecu = parsed.responses[i].ecu;
            const std::uint32_t address =
                !format.headers ? bus::kFirstEcuAddress + static_cast<std::uint32_t>(i)
                : info->framing == bus::Framing::Can11
                    ? ecu - bus::kFirstResponseId + bus::kFirstEcuAddress
                    : ecu & 0xFF;
            ecu = bus::kFirstResponseId + address - bus::kFirstEcuAddress;
        }
        std::string key = command.empty() ? lastRequest : command;
        if (command.empty() || !IsHex(key)) {
            key = RequestAnswered(parsed.responses);
        }
        if (key.empty()) {
            return;
        }
        lastRequest = key;
        auto& kept = dialogue.answers[key];
        // Answers that name their ECUs replace those that do not; asked again
        // (of another ECU, say), the car adds the answers of ECUs it had not
        // given.
        if (format.headers && !headed[key]) {
            kept.clear();
            headed[key] = true;
        }
        const std::vector<EcuResponse> before = kept;
        for (EcuResponse& response : parsed.responses) {
            if (std::none_of(before.begin(), before.end(),
                             [&](const EcuResponse& known) { return known.ecu == response.ecu; })) {
                kept.push_back(std::move(response));
            }
        }
    }
};

// A recording's text holds one character per byte (Latin-1): the bytes back.
std::string Latin1Bytes(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size()) {
            bytes += static_cast<char>(((c & 0x03) << 6) | (text[++i] & 0x3F));
        } else {
            bytes += static_cast<char>(c);
        }
    }
    return bytes;
}

// A zelt-scan --record file: a header line, then one exchange per line.
std::vector<std::pair<std::string, std::string>> RecordedPairs(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::size_t number = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        if (line.empty()) {
            continue;
        }
        const Json json = Json::parse(line.begin(), line.end(), nullptr, false);
        if (number == 1) {
            if (json.is_discarded() || !json.is_object() ||
                json.value("format", "") != "zelt-adapter-recording") {
                throw std::invalid_argument(
                    "neither a transcript nor a zelt-scan recording (not JSON)");
            }
            if (json.value("version", 0) != 1) {
                throw std::invalid_argument("a recording of version " +
                                            json.value("version", Json()).dump() +
                                            ", newer than this emulator reads (1)");
            }
            continue;
        }
        if (json.is_discarded() || !json.is_object() || !json.contains("command") ||
            !json["command"].is_string() || !json.contains("answer") ||
            !json["answer"].is_string()) {
            // A run cut short leaves its last line unfinished.
            throw std::invalid_argument("line " + std::to_string(number) + " is not an exchange");
        }
        pairs.emplace_back(Latin1Bytes(json["command"].get<std::string>()),
                           Latin1Bytes(json["answer"].get<std::string>()));
    }
    return pairs;
}

std::vector<std::pair<std::string, std::string>> Pairs(std::string_view text) {
    const Json json = Json::parse(text.begin(), text.end(), nullptr, false);
    if (json.is_discarded() || (json.is_object() && json.contains("format"))) {
        return RecordedPairs(text);  // a recording of one line is JSON too
    }
    const Json& dialog = json.is_object() && json.contains("dialog") ? json["dialog"] : json;
    if (!dialog.is_array()) {
        throw std::invalid_argument("no dialogue: give an array of [command, answer] pairs");
    }
    std::vector<std::pair<std::string, std::string>> pairs;
    for (std::size_t i = 0; i < dialog.size(); ++i) {
        const Json& pair = dialog[i];
        if (!pair.is_array() || pair.size() != 2 || !pair[0].is_string() || !pair[1].is_string()) {
            throw std::invalid_argument("exchange " + std::to_string(i) +
                                        " is not a [command, answer] pair of texts");
        }
        pairs.emplace_back(pair[0].get<std::string>(), pair[1].get<std::string>());
    }
    return pairs;
}

}  // namespace

std::string AnswerKey(const Bytes& request) {
    return Compact(bus::ToHex(request));
}

ReplayedDialogue ReadTranscript(std::string_view text) {
    const auto pairs = Pairs(text);
    Reader reader;
    // The protocol first: the adapter names it only after the first request.
    DataLinkProtocol chosen = DataLinkProtocol::Automatic;
    DataLinkProtocol shown = DataLinkProtocol::Automatic;
    bool data = false;  // some request was answered with hex
    for (const auto& [command, answer] : pairs) {
        const std::string compact = Compact(command);
        const auto lines = SplitLines(answer);
        const std::string last = lines.empty() ? std::string() : Compact(lines.back());
        if (compact == "ATDPN" && !last.empty()) {
            const char digit = last.back();
            if (digit >= '1' && digit <= '9') {
                reader.dialogue.protocol = static_cast<DataLinkProtocol>(digit - '0');
            }
        } else if (compact == "ATDP") {
            reader.dialogue.protocol = ProtocolNamed(last);
        } else if ((StartsWith(compact, "ATSP") || StartsWith(compact, "ATTP")) &&
                   compact.size() == 5 && compact[4] >= '1' && compact[4] <= '9') {
            chosen = static_cast<DataLinkProtocol>(compact[4] - '0');
        } else if (IsHex(compact) || compact.empty()) {
            for (const std::string& line : lines) {
                data = data || IsHex(Compact(line));
                if (shown == DataLinkProtocol::Automatic) {
                    shown = ProtocolShown(line);
                }
            }
        }
    }
    if (reader.dialogue.protocol == DataLinkProtocol::Automatic && data) {
        // Data came: on the protocol chosen, or else the one its frames show.
        reader.dialogue.protocol = chosen != DataLinkProtocol::Automatic ? chosen : shown;
    }
    for (const auto& [command, answer] : pairs) {
        const std::string compact = Compact(command);
        if (IsHex(compact) || compact.empty()) {
            reader.Request(compact, answer);
        } else {
            reader.Adapter(compact, answer);
        }
    }
    if (bus::FindProtocol(reader.dialogue.protocol) == nullptr && reader.dialogue.failure.empty()) {
        reader.dialogue.failure = "UNABLE TO CONNECT";
    }
    if (reader.dialogue.failure.empty()) {
        reader.dialogue.inferred = InferBitmaps(reader.dialogue);
    }
    return std::move(reader.dialogue);
}

std::vector<EcuResponse> ReplayedVehicle::transact(const Bytes& request, std::uint32_t ecu) {
    std::vector<EcuResponse> responses;
    const auto found = dialogue_.answers.find(AnswerKey(request));
    if (found != dialogue_.answers.end()) {
        responses = found->second;
    } else if (request.size() > 2 && request[0] == 0x01) {
        // Several PIDs at once, each recorded alone: each ECU answers the
        // ones it had, one service byte before them all, as SAE J1979 has it.
        std::map<std::uint32_t, Bytes> joined;
        std::vector<std::uint32_t> order;
        for (std::size_t i = 1; i < request.size(); ++i) {
            const auto single = dialogue_.answers.find(AnswerKey(Bytes{0x01, request[i]}));
            if (single == dialogue_.answers.end()) {
                continue;
            }
            for (const EcuResponse& response : single->second) {
                if (response.payload.size() < 2 || response.payload[0] != 0x41 ||
                    response.payload[1] != request[i]) {
                    continue;
                }
                Bytes& answer = joined[response.ecu];
                if (answer.empty()) {
                    answer.push_back(0x41);
                    order.push_back(response.ecu);
                }
                answer.insert(answer.end(), response.payload.begin() + 1, response.payload.end());
            }
        }
        for (std::uint32_t sender : order) {
            responses.push_back({sender, joined[sender]});
        }
    }
    if (ecu != detail::kAllEcus) {
        responses.erase(std::remove_if(responses.begin(), responses.end(),
                                       [ecu](const EcuResponse& r) { return r.ecu != ecu; }),
                        responses.end());
    }
    return responses;
}

}  // namespace obd::elm327
