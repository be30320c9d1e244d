#include "emulator/Emulator.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <thread>
#include <vector>

#include "bus/Addressing.h"
#include "bus/Hex.h"
#include "bus/IsoTp.h"
#include "bus/Protocols.h"
#include "elm327/LegacyMessages.h"
#include "emulator/OlderBusAnnouncements.h"
#include "j1979/Responses.h"

namespace obd::elm327 {

// The protocol table is the bus layer's.
using bus::FindProtocol;
using bus::Framing;
using bus::IsLegacy;
using bus::kFirstEcuAddress;
using bus::ProtocolInfo;
using bus::ProtocolName;

namespace {

using detail::Bytes;

constexpr std::uint32_t kExtendedResponseBase = 0x18DAF100;

// Upper case without blanks, as the adapter reads commands.
std::string Normalise(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\0') {
            continue;
        }
        out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return out;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// The one-byte address of the simulated vehicle's ECU answering as `ecu`
// on CAN (7E8 is the first).
std::uint8_t EcuAddress(std::uint32_t ecu) {
    return static_cast<std::uint8_t>(kFirstEcuAddress + (ecu - bus::kFirstResponseId));
}

std::uint32_t ResponseIdOf(std::uint32_t address) {
    return bus::kFirstResponseId + (address - kFirstEcuAddress);
}

}  // namespace

const char* const kCloneProfiles[3] = {"genuine", "cheap", "bluetooth"};

bool ApplyCloneProfile(std::string_view name, EmulatorOptions& options) {
    if (name == "genuine") {
        options.identification = "ELM327 v1.5";
        options.quirks = CloneQuirks{};
        return true;
    }
    if (name == "cheap") {
        options.identification = "ELM327 v2.1";
        options.quirks = CloneQuirks{};
        options.quirks.refusesNewerCommands = true;
        options.quirks.lowerCaseHex = true;
        options.quirks.refusesRepeat = true;
        options.quirks.extraBlankLines = true;
        options.quirks.firstPromptDelay = std::chrono::milliseconds(1500);
        options.quirks.refusesResponseCount = true;
        return true;
    }
    if (name == "bluetooth") {
        options.identification = "ELM327 v1.5";
        options.quirks = CloneQuirks{};
        options.quirks.hangsUpOnReset = true;
        return true;
    }
    return false;
}

Emulator::Emulator(detail::IRequestChannel& vehicle, EmulatorOptions options)
    : vehicle_(vehicle), options_(std::move(options)) {}

void Emulator::injectError(std::string text) {
    orvane::MutexLock lock(mutex_);
    injected_ = std::move(text);
}

bool Emulator::hungUp() const {
    orvane::MutexLock lock(mutex_);
    return hungUp_;
}

std::string Emulator::receive(std::string_view bytes) {
    orvane::MutexLock lock(mutex_);
    std::string output;
    for (char c : bytes) {
        if (hungUp_) {
            break;
        }
        if (awaitingFinal_) {
            // Any character stops the wait and is not kept (ELM327
            // datasheet).
            awaitingFinal_ = false;
            const std::string eol = settings_.linefeeds ? "\r\n" : "\r";
            output += "STOPPED" + eol + eol + ">";
            continue;
        }
        if (c != '\r') {
            // A line that never ends must not grow without bound.
            if (pending_.size() < kMaxCommandLength) {
                pending_ += c;
            } else {
                overlong_ = true;
            }
            continue;
        }
        std::string typed;
        typed.swap(pending_);
        const bool overlong = overlong_;
        overlong_ = false;
        if (settings_.echo) {
            output += typed + (settings_.linefeeds ? "\r\n" : "\r");
        }
        std::string command = Normalise(typed);
        const bool repeat = command.empty();
        if (repeat) {
            command = lastCommand_;  // an empty line repeats the last command
        }
        std::string answer;
        if (overlong || (repeat && options_.quirks.refusesRepeat)) {
            answer = "?\r";
        } else if (!command.empty()) {
            answer = execute(command);
        }
        if (hungUp_) {
            break;
        }
        if (!awake_ && options_.quirks.firstPromptDelay.count() > 0) {
            std::this_thread::sleep_for(options_.quirks.firstPromptDelay);
        }
        awake_ = true;
        const std::string eol = settings_.linefeeds ? "\r\n" : "\r";
        // Lines end with the chosen line ending, then a blank line and the prompt.
        std::string formatted;
        for (char a : answer) {
            if (a != '\r') {
                formatted += a;
            } else {
                formatted += options_.quirks.extraBlankLines ? eol + eol : eol;
            }
        }
        output += formatted;
        if (awaitingFinal_) {
            lastCommand_ = command;
            continue;  // no prompt while the adapter waits
        }
        if (!answer.empty()) {
            output += eol;
        }
        output += '>';
        if (!overlong && !StartsWith(command, "AT")) {
            lastCommand_ = command;
        }
    }
    // The link carries both ways at the same rate: the command typed and
    // the answer printed.
    const std::size_t carried = bytes.size() + output.size();
    if (options_.bytesPerSecond > 0 && carried != 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long long>(carried) *
                                                              1000000 / options_.bytesPerSecond));
    }
    return output;
}

std::string Emulator::execute(const std::string& command) {
    if (StartsWith(command, "AT")) {
        return atCommand(command.substr(2));
    }
    return request(command);
}

bool Emulator::refused(const std::string& c) const {
    return options_.quirks.refusesNewerCommands &&
           (c == "S0" || c == "S1" || c == "WS" || StartsWith(c, "AT") || StartsWith(c, "ST"));
}

std::string Emulator::atCommand(const std::string& c) {
    auto flag = [&](bool& setting) {
        setting = c.back() == '1';
        return std::string("OK\r");
    };
    if (refused(c)) {
        return "?\r";
    }
    if (c == "Z" && options_.quirks.hangsUpOnReset) {
        hungUp_ = true;
        return {};
    }
    if (c == "Z" || c == "WS") {
        settings_ = Settings{};
        return "\r" + options_.identification + "\r";
    }
    if (c == "D") {
        settings_ = Settings{};
        return "OK\r";
    }
    if (c == "E0" || c == "E1") {
        return flag(settings_.echo);
    }
    if (c == "L0" || c == "L1") {
        return flag(settings_.linefeeds);
    }
    if (c == "H0" || c == "H1") {
        return flag(settings_.headers);
    }
    if (c == "S0" || c == "S1") {
        return flag(settings_.spaces);
    }
    if (c == "CAF0" || c == "CAF1") {
        return flag(settings_.autoFormat);
    }
    if (c == "I") {
        return options_.identification + "\r";
    }
    if (c == "@1") {
        return options_.description + "\r";
    }
    if (c == "RV") {
        const auto volts = vehicle_.readBatteryVoltage();
        if (!volts) {
            return "?\r";
        }
        char text[16];
        std::snprintf(text, sizeof text, "%.1fV", *volts);
        return std::string(text) + "\r";
    }
    if (c == "DP") {
        return describeProtocol(false) + "\r";
    }
    if (c == "DPN") {
        return describeProtocol(true) + "\r";
    }
    if ((StartsWith(c, "SP") || StartsWith(c, "TP")) && c.size() >= 3 && c.size() <= 4) {
        std::string value = c.substr(2);
        const bool automatic = value[0] == 'A';
        if (automatic) {
            value = value.substr(1);
        }
        if (value.size() != 1 || value[0] < '0' || value[0] > '9') {
            return "?\r";
        }
        settings_.protocol = value[0] - '0';
        settings_.automatic = automatic || settings_.protocol == 0;
        settings_.active = settings_.protocol;
        settings_.initialised = false;
        return "OK\r";
    }
    if (StartsWith(c, "SH")) {
        const std::string header = c.substr(2);
        if ((header.size() != 3 && header.size() != 6 && header.size() != 8) ||
            header.find_first_not_of("0123456789ABCDEF") != std::string::npos) {
            return "?\r";
        }
        settings_.header = header;
        return "OK\r";
    }
    if (StartsWith(c, "ST") && c.size() == 4 &&
        c.find_first_not_of("0123456789ABCDEF", 2) == std::string::npos) {
        const int steps = std::stoi(c.substr(2), nullptr, 16);
        settings_.timeoutSteps = steps == 0 ? Settings{}.timeoutSteps : steps;
        return "OK\r";
    }
    if (c == "AT0" || c == "AT1" || c == "AT2") {
        settings_.adaptiveTiming = c.back() - '0';
        return "OK\r";
    }
    if (c == "PC") {
        settings_.initialised = false;  // the bus goes to sleep
        return "OK\r";
    }
    // Settings the emulated bus has no use for are accepted. The receive
    // filter (CRA, lifted by AR) is one: a physical request is answered
    // by the addressed module alone.
    if (StartsWith(c, "ST") || StartsWith(c, "AT") || c == "M0" || c == "M1" || c == "CFC0" ||
        c == "CFC1" || StartsWith(c, "CRA") || c == "AR") {
        return "OK\r";
    }
    return "?\r";
}

std::string Emulator::describeProtocol(bool number) const {
    const int shown = settings_.active != 0 ? settings_.active : settings_.protocol;
    if (number) {
        return (settings_.automatic ? "A" : "") + std::to_string(shown);
    }
    if (shown == 0) {
        return "AUTO";
    }
    return std::string(settings_.automatic ? "AUTO, " : "") +
           ProtocolName(static_cast<DataLinkProtocol>(shown));
}

bool Emulator::extended() const {
    const ProtocolInfo* info = FindProtocol(settings_.active);
    return info && info->framing == Framing::Can29;
}

std::string Emulator::hexBytes(const Bytes& bytes, std::size_t from, std::size_t to) const {
    const Bytes part(bytes.begin() + static_cast<std::ptrdiff_t>(std::min(from, bytes.size())),
                     bytes.begin() + static_cast<std::ptrdiff_t>(std::min(to, bytes.size())));
    std::string text;
    for (char c : bus::ToHex(part)) {
        if (c == ' ' && !settings_.spaces) {
            continue;
        }
        text += options_.quirks.lowerCaseHex && c >= 'A' && c <= 'F'
                    ? static_cast<char>(c - 'A' + 'a')
                    : c;
    }
    return text;
}

std::string Emulator::canId(std::uint32_t id) const {
    if (!extended()) {
        char text[16];
        std::snprintf(text, sizeof text, "%03X", static_cast<unsigned>(id & 0x7FF));
        return text;
    }
    Bytes parts{static_cast<std::uint8_t>(id >> 24), static_cast<std::uint8_t>(id >> 16),
                static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id)};
    return hexBytes(parts, 0, 4);
}

std::uint32_t Emulator::addressee() const {
    if (settings_.header.empty()) {
        return detail::kAllEcus;
    }
    const std::uint32_t id = static_cast<std::uint32_t>(std::stoul(settings_.header, nullptr, 16));
    const ProtocolInfo* info = FindProtocol(settings_.active);
    if (info && (info->framing == Framing::J1850 || info->framing == Framing::Iso)) {
        // Priority, target, source: "68 6A F1" asks every ECU, "68 10 F1"
        // the engine.
        const std::uint8_t target = static_cast<std::uint8_t>(id >> 8);
        return target == info->functionalTarget ? detail::kAllEcus : ResponseIdOf(target);
    }
    if (!extended()) {
        const std::uint32_t canId = id & 0x7FF;
        // Any module keeps the usual pairing, 7B0 as well as 7E0.
        return canId == bus::kFunctionalRequestId ? detail::kAllEcus
                                                  : canId + bus::kRequestToResponse11;
    }
    if (((id >> 16) & 0xFF) == 0xDA) {
        // "DA10F1" or "18DA10F1": physical, to target address 10.
        return ResponseIdOf((id >> 8) & 0xFF);
    }
    return detail::kAllEcus;
}

std::string Emulator::canLines(const detail::EcuResponse& response, std::size_t& limit) const {
    std::uint32_t id = response.ecu;
    if (extended()) {
        id = kExtendedResponseBase + EcuAddress(response.ecu);
    }
    std::vector<bus::CanFrame> frames;
    try {
        frames = bus::Segment(id, response.payload, 0x00);
    } catch (const bus::IsoTpError&) {
        return {};
    }
    if (frames.size() > limit) {
        frames.resize(limit);  // the adapter stopped listening
    }
    limit -= frames.size();
    std::string out;
    if (frames.empty()) {
        return out;
    }
    if (settings_.headers || !settings_.autoFormat) {
        for (const auto& frame : frames) {
            const Bytes data(frame.data.begin(), frame.data.end());
            std::string line = settings_.headers ? canId(id) : std::string();
            if (!line.empty() && settings_.spaces) {
                line += ' ';
            }
            out += line + hexBytes(data, 0, data.size()) + "\r";
        }
        return out;
    }
    if (frames.size() == 1 && response.payload.size() <= 7) {
        return hexBytes(response.payload, 0, response.payload.size()) + "\r";
    }
    char length[8];
    std::snprintf(length, sizeof length, "%03X", static_cast<unsigned>(response.payload.size()));
    out += std::string(length) + "\r";
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Bytes data(frames[i].data.begin(), frames[i].data.end());
        const std::string index(1, "0123456789ABCDEF"[i & 0x0F]);
        out += index + ":" + (settings_.spaces ? " " : "") +
               hexBytes(data, i == 0 ? 2 : 1, data.size()) + "\r";
    }
    return out;
}

std::string Emulator::legacyLines(const detail::EcuResponse& response, std::size_t& limit) const {
    const ProtocolInfo& protocol = *FindProtocol(settings_.active);
    std::vector<Bytes> messages = ToLegacyMessages(response.payload);
    for (const Bytes& message : messages) {
        if (message.size() > kMaxLegacyData) {
            return {};  // the bus cannot carry it: the ECU stays silent
        }
    }
    if (messages.size() > limit) {
        messages.resize(limit);  // the adapter stopped listening
    }
    limit -= messages.size();
    std::string out;
    for (const Bytes& data : messages) {
        if (!settings_.headers) {
            out += hexBytes(data, 0, data.size()) + "\r";
            continue;
        }
        Bytes frame = AnswerHeader(protocol, EcuAddress(response.ecu), data.size());
        frame.insert(frame.end(), data.begin(), data.end());
        frame.push_back(CheckByte(protocol.framing, frame));
        out += hexBytes(frame, 0, frame.size()) + "\r";
    }
    return out;
}

std::string Emulator::request(const std::string& command) {
    if (command.find_first_not_of("0123456789ABCDEF") != std::string::npos) {
        return "?\r";
    }
    std::string digits = command;
    // The response count digit: how many answer lines (frames) to wait for;
    // 0 = as many as come.
    std::size_t expected = 0;
    if (digits.size() % 2 != 0) {
        if (digits.size() < 3 || options_.quirks.refusesResponseCount) {
            return "?\r";
        }
        expected =
            static_cast<std::size_t>(std::stoul(digits.substr(digits.size() - 1), nullptr, 16));
        digits.pop_back();
    }
    const Bytes request = bus::ParseHex(digits).value_or(Bytes{});
    if (request.empty() || request.size() > 7) {
        return "?\r";
    }
    if (options_.latency.count() > 0) {
        std::this_thread::sleep_for(options_.latency);
    }

    std::string out;
    const int vehicle = static_cast<int>(options_.vehicleProtocol);
    if (settings_.active == 0 || (settings_.automatic && settings_.active != vehicle)) {
        // The search wakes the bus up silently.
        out += "SEARCHING...\r";
        if (FindProtocol(vehicle) == nullptr || options_.quirks.searchFindsNothing) {
            return out + options_.searchFailure + "\r";
        }
        settings_.active = vehicle;
        settings_.initialised = true;
    }
    const ProtocolInfo* active = FindProtocol(settings_.active);
    if (!settings_.initialised && active->init != ProtocolInfo::Init::None) {
        // Chosen, not searched: the adapter reports how the bus woke up.
        out += active->init == ProtocolInfo::Init::Slow ? "BUS INIT: ..." : "BUS INIT: ";
        if (settings_.active != vehicle) {
            return out + "ERROR\r";
        }
        out += "OK\r";
        settings_.initialised = true;
    }
    if (settings_.active != vehicle) {
        return active->framing == Framing::Can11 || active->framing == Framing::Can29
                   ? "CAN ERROR\r"
                   : "NO DATA\r";
    }
    ++vehicleRequests_;
    if (options_.errorFrom > 0 && vehicleRequests_ >= options_.errorFrom) {
        return out + options_.errorText + "\r";
    }
    if (injected_) {
        std::string text = std::move(*injected_);
        injected_.reset();
        return out + text + "\r";
    }

    std::vector<detail::EcuResponse> responses = vehicle_.transact(request, addressee());
    if (IsLegacy(active->protocol)) {
        KeepToWhatOlderBusesCarry(request, responses);
    }
    std::size_t left = expected != 0 ? expected : std::numeric_limits<std::size_t>::max();
    std::string lines;
    for (const auto& response : responses) {
        lines +=
            IsLegacy(active->protocol) ? legacyLines(response, left) : canLines(response, left);
    }
    if (!responses.empty() && j1979::IsResponsePending(responses.back().payload)) {
        // The ECU works on the request: the adapter waits on for its final
        // answer.
        awaitingFinal_ = true;
        return out + lines;
    }
    if (expected == 0 || left != 0) {
        // Nothing told the adapter that the last answer came.
        std::this_thread::sleep_for(endOfAnswerWait());
    }
    return out + (lines.empty() ? "NO DATA\r" : lines);
}

std::chrono::milliseconds Emulator::endOfAnswerWait() const {
    if (options_.answerWait) {
        return *options_.answerWait;
    }
    const std::chrono::milliseconds timeout(settings_.timeoutSteps * 4);
    switch (settings_.adaptiveTiming) {
        case 1:
            return std::min(timeout, 2 * options_.latency + std::chrono::milliseconds(20));
        case 2:
            return std::min(timeout, options_.latency + std::chrono::milliseconds(8));
        default:
            return timeout;
    }
}

}  // namespace obd::elm327
