#include "obd/elm327/DialogueAnonymiser.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "bus/Hex.h"
#include "bus/Protocols.h"
#include "elm327/AnswerParser.h"
#include "elm327/LegacyMessages.h"

namespace obd::elm327 {

namespace {

using bus::Framing;

// The VIN's length and where its serial part (the last six characters)
// starts, as ISO 3779 lays it out.
constexpr std::size_t kVinLength = 17;
constexpr std::size_t kVinSerialStart = 11;

// One byte of a frame as the answer prints it: its value and where its two
// hex digits stand in the text.
struct PrintedByte {
    std::uint8_t value;
    std::size_t high;
    std::size_t low;
};
using PrintedBytes = std::vector<PrintedByte>;

// The hex digits of text[begin, end) by position; nothing when the range
// holds anything but hex digits and blanks.
std::optional<std::vector<std::size_t>> DigitsAt(const std::string& text, std::size_t begin,
                                                 std::size_t end) {
    std::vector<std::size_t> digits;
    for (std::size_t i = begin; i < end; ++i) {
        if (bus::HexDigitValue(text[i]) >= 0) {
            digits.push_back(i);
        } else if (text[i] != ' ' && text[i] != '\t') {
            return std::nullopt;
        }
    }
    return digits;
}

PrintedBytes BytesAt(const std::string& text, const std::vector<std::size_t>& digits,
                     std::size_t first) {
    PrintedBytes bytes;
    for (std::size_t i = first; i + 1 < digits.size(); i += 2) {
        bytes.push_back({static_cast<std::uint8_t>(bus::HexDigitValue(text[digits[i]]) * 16 +
                                                   bus::HexDigitValue(text[digits[i + 1]])),
                         digits[i], digits[i + 1]});
    }
    return bytes;
}

void Write(std::string& text, const PrintedByte& byte, std::uint8_t value) {
    // In the case the adapter printed (lowercase clones exist).
    const bool lower = std::any_of(text.begin() + static_cast<std::ptrdiff_t>(byte.high),
                                   text.begin() + static_cast<std::ptrdiff_t>(byte.low) + 1,
                                   [](char c) { return c >= 'a' && c <= 'f'; });
    const char* digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
    text[byte.high] = digits[value >> 4];
    text[byte.low] = digits[value & 0x0F];
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    return text;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// A frame of SAE J1850, ISO 9141-2 or ISO 14230-4 with its check byte.
struct CheckedFrame {
    PrintedBytes covered;  // header and data
    PrintedByte check;
    Framing framing;
};

// The bytes of one ECU's message (as ISO 15765-4 or the older buses carry
// it) in which identifiers are looked for; `vin` when it answers SAE J1979
// service 09 PID 02, the VIN being then its last 17 bytes.
struct Message {
    PrintedBytes data;
    bool vin = false;
};

// Reads one answer into its messages, following the framing of each line.
class AnswerReader {
public:
    AnswerReader(const std::string& text, bool headers, const bus::ProtocolInfo* protocol)
        : text_(text), headers_(headers), protocol_(protocol) {}

    void line(std::size_t begin, std::size_t end) {
        const auto colon = text_.find(':', begin);
        if (!headers_ && colon < end) {
            numberedLine(colon + 1, end);
            return;
        }
        const auto digits = DigitsAt(text_, begin, end);
        if (!digits || digits->empty()) {
            return;
        }
        if (!headers_) {
            plainLine(*digits);
        } else if (const Framing framing = FramingOf(*digits);
                   framing == Framing::Can11 || framing == Framing::Can29) {
            canFrame(*digits, framing == Framing::Can11 ? 3 : 8);
        } else {
            legacyFrame(BytesAt(text_, *digits, 0), framing);
        }
    }

    std::vector<Message> messages() {
        finishNumbered();
        for (auto& [sender, stream] : legacyStreams_) {
            messages_.push_back(std::move(stream));
        }
        legacyStreams_.clear();
        return std::move(messages_);
    }

    const std::vector<CheckedFrame>& checkedFrames() const { return checked_; }

private:
    // The protocol named, or else the one the frame's shape shows: three
    // digits of identifier on 11-bit CAN, 18 DA or 18 DB on 29-bit CAN.
    Framing FramingOf(const std::vector<std::size_t>& digits) const {
        if (protocol_ != nullptr) {
            return protocol_->framing;
        }
        if (digits.size() % 2 != 0) {
            return Framing::Can11;
        }
        const PrintedBytes bytes = BytesAt(text_, digits, 0);
        if (bytes.size() > 4 && bytes[0].value == 0x18 &&
            (bytes[1].value == 0xDA || bytes[1].value == 0xDB)) {
            return Framing::Can29;
        }
        return Framing::Iso;  // or J1850: the check byte tells them apart
    }

    // A numbered line of a multi-frame answer without headers ("0: 49 02 01").
    void numberedLine(std::size_t begin, std::size_t end) {
        const auto digits = DigitsAt(text_, begin, end);
        if (!numbered_ || !digits || digits->size() % 2 != 0) {
            return;
        }
        const PrintedBytes bytes = BytesAt(text_, *digits, 0);
        numbered_->data.insert(numbered_->data.end(), bytes.begin(), bytes.end());
    }

    void plainLine(const std::vector<std::size_t>& digits) {
        if (digits.size() == 3) {  // the length line of a numbered answer
            finishNumbered();
            numbered_ = Message{};
            numberedLength_ = 0;
            for (std::size_t digit : digits) {
                numberedLength_ = numberedLength_ * 16 +
                                  static_cast<std::size_t>(bus::HexDigitValue(text_[digit]));
            }
            return;
        }
        if (digits.size() % 2 != 0) {
            return;
        }
        finishNumbered();
        // A message of the older buses, or a single frame's data on CAN.
        legacyMessage(0, BytesAt(text_, digits, 0));
    }

    void finishNumbered() {
        if (numbered_) {
            if (numbered_->data.size() >= numberedLength_) {
                numbered_->data.resize(numberedLength_);
                add(std::move(*numbered_));
            }
            numbered_.reset();
        }
    }

    // A CAN frame: identifier, ISO 15765-2 control byte, data, padding.
    void canFrame(const std::vector<std::size_t>& digits, std::size_t idLength) {
        if (digits.size() < idLength + 2 || (digits.size() - idLength) % 2 != 0) {
            return;
        }
        std::string sender;
        for (std::size_t i = 0; i < idLength; ++i) {
            sender += text_[digits[i]];
        }
        const PrintedBytes frame = BytesAt(text_, digits, idLength);
        const std::uint8_t control = frame[0].value;
        Segmented& message = segmented_[Upper(sender)];
        std::size_t first = 1;
        std::size_t count = 0;
        switch (control >> 4) {
            case 0:  // single frame
                message = {{}, control & 0x0Fu};
                count = message.length;
                break;
            case 1:  // first frame
                if (frame.size() < 2) {
                    return;
                }
                message = {{}, (control & 0x0Fu) << 8 | frame[1].value};
                first = 2;
                count = std::min<std::size_t>(6, message.length);
                break;
            case 2:  // consecutive frame
                count = std::min<std::size_t>(7, message.length - message.data.data.size());
                break;
            default:
                return;
        }
        for (std::size_t i = first; i < frame.size() && i < first + count; ++i) {
            message.data.data.push_back(frame[i]);
        }
        if (message.length > 0 && message.data.data.size() == message.length) {
            add(std::move(message.data));
            message = {};
        }
    }

    // A frame of the older buses: 3 header bytes, data, check byte (none
    // where the format byte says the data ends with the frame).
    void legacyFrame(const PrintedBytes& frame, Framing framing) {
        if (frame.size() < 4) {
            return;
        }
        Bytes values;
        for (const PrintedByte& byte : frame) {
            values.push_back(byte.value);
        }
        const auto declared = DeclaredDataLength(framing, values);
        std::size_t end = declared ? std::min(frame.size(), 3 + *declared) : frame.size() - 1;
        if (end < frame.size()) {
            const Bytes covered(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(end));
            // ISO 9141-2 and SAE J1850 share their header bytes: the check
            // byte the car sent tells which it is. One that matches neither
            // stays as the car sent it.
            for (Framing candidate :
                 {framing, framing == Framing::J1850 ? Framing::Iso : Framing::J1850}) {
                if (CheckByte(candidate, covered) == values[end]) {
                    checked_.push_back(
                        {PrintedBytes(frame.begin(),
                                      frame.begin() + static_cast<std::ptrdiff_t>(end)),
                         frame[end], candidate});
                    break;
                }
            }
        }
        legacyMessage(values[2], PrintedBytes(frame.begin() + 3,
                                              frame.begin() + static_cast<std::ptrdiff_t>(end)));
    }

    // SAE J1979 on the older buses splits vehicle information into messages
    // of four bytes behind "49 PID number"; they are joined per ECU (in the
    // order of their numbers) so that a text they split is found whole. A
    // message that is not vehicle information, or a number that starts
    // again, ends the joined one.
    void legacyMessage(std::uint8_t sender, PrintedBytes data) {
        const bool information = data.size() >= 3 && data[0].value == 0x49;
        auto stream = legacyStreams_.find(sender);
        if (stream != legacyStreams_.end() &&
            (!information || data[1].value != streamPid_[sender] ||
             data[2].value <= streamNumber_[sender])) {
            messages_.push_back(std::move(stream->second));
            legacyStreams_.erase(stream);
            stream = legacyStreams_.end();
        }
        if (!information || data.size() == 3 + kVinLength) {
            // Whole already: a CAN answer some clones print on one line.
            add({std::move(data), false});
            return;
        }
        if (stream == legacyStreams_.end()) {
            stream = legacyStreams_.emplace(sender, Message{{}, data[1].value == 0x02}).first;
        }
        streamPid_[sender] = data[1].value;
        streamNumber_[sender] = data[2].value;
        stream->second.data.insert(stream->second.data.end(), data.begin() + 3, data.end());
    }

    void add(Message message) {
        message.vin = message.vin || (message.data.size() >= 3 && message.data[0].value == 0x49 &&
                                      message.data[1].value == 0x02);
        messages_.push_back(std::move(message));
    }

    struct Segmented {
        Message data;
        std::size_t length = 0;
    };

    const std::string& text_;
    const bool headers_;
    const bus::ProtocolInfo* const protocol_;
    std::vector<Message> messages_;
    std::vector<CheckedFrame> checked_;
    std::map<std::string, Segmented> segmented_;  // per CAN identifier
    std::optional<Message> numbered_;
    std::size_t numberedLength_ = 0;
    std::map<std::uint8_t, Message> legacyStreams_;  // per sender
    std::map<std::uint8_t, std::uint8_t> streamPid_;
    std::map<std::uint8_t, std::uint8_t> streamNumber_;
};

// Where the data begins: past the progress texts an adapter prints ahead of
// it on the same line.
std::size_t AfterProgress(const std::string& text, std::size_t begin, std::size_t end) {
    for (bool again = true; again;) {
        begin = std::min(end, text.find_first_not_of(" \t", begin));
        const std::size_t length =
            LeadingProgressText(std::string_view(text).substr(begin, end - begin));
        begin += length;
        again = length > 0;
    }
    return begin;
}

// Each occurrence of `text` in the message's data, by its first byte.
std::vector<std::size_t> Occurrences(const PrintedBytes& data, const std::string& text) {
    std::vector<std::size_t> found;
    for (std::size_t at = 0; !text.empty() && at + text.size() <= data.size(); ++at) {
        bool same = true;
        for (std::size_t i = 0; same && i < text.size(); ++i) {
            same = data[at + i].value == static_cast<std::uint8_t>(text[i]);
        }
        if (same) {
            found.push_back(at);
        }
    }
    return found;
}

}  // namespace

struct DialogueAnonymiser::State {
    std::vector<std::string> identifiers;
    std::set<std::string> vins;  // every VIN seen so far
    std::optional<bool> headers;
    const bus::ProtocolInfo* protocol = nullptr;

    void follow(const std::string& command, const std::string& answer) {
        if (command == "ATH1") {
            headers = true;
        } else if (command == "ATH0" || command == "ATZ" || command == "ATD" || command == "ATWS") {
            headers = false;
        }
        const auto digit = [](char c) { return bus::FindProtocol(c - '0'); };
        if ((StartsWith(command, "ATSP") || StartsWith(command, "ATTP")) && command.size() == 5) {
            protocol = digit(command[4]);
        } else if (command == "ATDPN") {
            const auto last = answer.find_last_of("123456789");
            if (last != std::string::npos) {
                protocol = digit(answer[last]);
            }
        }
    }
};

DialogueAnonymiser::DialogueAnonymiser(std::vector<std::string> identifiers)
    : state_(std::make_unique<State>()) {
    for (std::string& identifier : identifiers) {
        if (!identifier.empty()) {
            state_->identifiers.push_back(std::move(identifier));
        }
    }
}

DialogueAnonymiser::~DialogueAnonymiser() = default;

std::string DialogueAnonymiser::mask(const std::string& command, const std::string& answer) {
    std::string compact;
    for (char c : Upper(command)) {
        if (c != ' ') {
            compact += c;
        }
    }
    if (StartsWith(compact, "AT")) {
        state_->follow(compact, answer);
        return answer;
    }
    std::string masked = answer;
    const std::size_t prompt = std::min(answer.find('>'), answer.size());
    std::optional<AnswerReader> reader;
    bool first = true;
    for (std::size_t begin = 0; begin < prompt;) {
        const std::size_t end =
            std::min(answer.find_first_of(std::string("\r\n\0", 3), begin), prompt);
        const std::size_t start = AfterProgress(answer, begin, end);
        const auto digits = DigitsAt(answer, start, end);
        const bool echo = first && Upper(answer.substr(start, end - start)) == Upper(command);
        if (start < end && !echo) {
            if (!state_->headers && digits && !digits->empty()) {
                // Not set by the dialogue: a headed line starts with a CAN
                // identifier or one of the older buses' answer headers.
                const std::string line = Upper(answer.substr(start, end - start));
                state_->headers = answer.find(' ', start) == start + 3 ||
                                  (digits->size() % 2 != 0 && digits->size() > 3) ||
                                  StartsWith(line, "18DA") || StartsWith(line, "48 6B") ||
                                  StartsWith(line, "486B");
            }
            if (!reader) {
                reader.emplace(answer, state_->headers.value_or(false), state_->protocol);
            }
            reader->line(start, end);
        }
        first = first && start == end;
        begin = end + 1;
    }
    if (!reader) {
        return answer;
    }
    const std::vector<Message> messages = reader->messages();
    for (const Message& message : messages) {
        if (message.vin && message.data.size() >= kVinLength) {
            std::string vin;
            for (auto byte = message.data.end() - kVinLength; byte != message.data.end(); ++byte) {
                vin += static_cast<char>(byte->value);
            }
            state_->vins.insert(vin);
        }
    }
    for (const Message& message : messages) {
        for (const std::string& vin : state_->vins) {
            for (std::size_t at : Occurrences(message.data, vin)) {
                for (std::size_t i = kVinSerialStart; i < kVinLength; ++i) {
                    Write(masked, message.data[at + i], kMaskCharacter);
                }
            }
        }
        for (const std::string& identifier : state_->identifiers) {
            for (std::size_t at : Occurrences(message.data, identifier)) {
                for (std::size_t i = 0; i < identifier.size(); ++i) {
                    Write(masked, message.data[at + i], kMaskCharacter);
                }
            }
        }
    }
    for (const CheckedFrame& frame : reader->checkedFrames()) {
        Bytes covered;
        for (const PrintedByte& byte : frame.covered) {
            covered.push_back(static_cast<std::uint8_t>(bus::HexDigitValue(masked[byte.high]) * 16 +
                                                        bus::HexDigitValue(masked[byte.low])));
        }
        Write(masked, frame.check, CheckByte(frame.framing, covered));
    }
    return masked;
}

}  // namespace obd::elm327
