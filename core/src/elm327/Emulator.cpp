#include "elm327/Emulator.h"

#include <cstdio>
#include <thread>
#include <vector>

#include "bus/IsoTp.h"

namespace obd::elm327 {

namespace {

using detail::Bytes;

constexpr std::uint32_t kExtendedResponseBase = 0x18DAF100;
constexpr std::uint32_t kExtendedFirstEcu = 0x10;  // engine ECU source address

const char* ProtocolName(int protocol) {
    switch (protocol) {
        case 1:
            return "SAE J1850 PWM";
        case 2:
            return "SAE J1850 VPW";
        case 3:
            return "ISO 9141-2";
        case 4:
            return "ISO 14230-4 (KWP 5BAUD)";
        case 5:
            return "ISO 14230-4 (KWP FAST)";
        case 6:
            return "ISO 15765-4 (CAN 11/500)";
        case 7:
            return "ISO 15765-4 (CAN 29/500)";
        case 8:
            return "ISO 15765-4 (CAN 11/250)";
        case 9:
            return "ISO 15765-4 (CAN 29/250)";
        default:
            return "AUTO";
    }
}

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

int Digit(char c) {
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

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

}  // namespace

Emulator::Emulator(detail::IRequestChannel& vehicle, EmulatorOptions options)
    : vehicle_(vehicle), options_(std::move(options)) {}

void Emulator::injectError(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    injected_ = std::move(text);
}

std::string Emulator::receive(std::string_view bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string output;
    for (char c : bytes) {
        if (c != '\r') {
            pending_ += c;
            continue;
        }
        std::string typed;
        typed.swap(pending_);
        if (settings_.echo) {
            output += typed + (settings_.linefeeds ? "\r\n" : "\r");
        }
        std::string command = Normalise(typed);
        if (command.empty()) {
            command = lastCommand_;  // an empty line repeats the last command
        }
        std::string answer = command.empty() ? std::string() : execute(command);
        const std::string eol = settings_.linefeeds ? "\r\n" : "\r";
        // Lines end with the chosen line ending, then a blank line and the prompt.
        std::string formatted;
        for (char a : answer) {
            formatted += a == '\r' ? eol : std::string(1, a);
        }
        output += formatted;
        if (!answer.empty()) {
            output += eol;
        }
        output += '>';
        if (command.rfind("AT", 0) != 0) {
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
    if (command.rfind("AT", 0) == 0) {
        return atCommand(command.substr(2));
    }
    return request(command);
}

std::string Emulator::atCommand(const std::string& c) {
    auto flag = [&](bool& setting) {
        setting = c.back() == '1';
        return std::string("OK\r");
    };
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
    if ((c.rfind("SP", 0) == 0 || c.rfind("TP", 0) == 0) && c.size() >= 3 && c.size() <= 4) {
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
        return "OK\r";
    }
    if (c.rfind("SH", 0) == 0) {
        const std::string header = c.substr(2);
        if ((header.size() != 3 && header.size() != 6 && header.size() != 8) ||
            header.find_first_not_of("0123456789ABCDEF") != std::string::npos) {
            return "?\r";
        }
        settings_.header = header;
        return "OK\r";
    }
    // Settings the emulated bus has no use for are accepted.
    if (c.rfind("ST", 0) == 0 || c.rfind("AT", 0) == 0 || c == "M0" || c == "M1" || c == "PC" ||
        c == "CFC0" || c == "CFC1") {
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
    return std::string(settings_.automatic ? "AUTO, " : "") + ProtocolName(shown);
}

bool Emulator::extended() const {
    return settings_.active == 7 || settings_.active == 9;
}

std::string Emulator::hexBytes(const Bytes& bytes, std::size_t from, std::size_t to) const {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = from; i < to && i < bytes.size(); ++i) {
        if (!text.empty() && settings_.spaces) {
            text += ' ';
        }
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

std::string Emulator::canId(std::uint32_t id) const {
    char text[16];
    if (!extended()) {
        std::snprintf(text, sizeof text, "%03X", static_cast<unsigned>(id & 0x7FF));
        return text;
    }
    Bytes parts{static_cast<std::uint8_t>(id >> 24), static_cast<std::uint8_t>(id >> 16),
                static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id)};
    return hexBytes(parts, 0, 4);
}

std::string Emulator::request(const std::string& command) {
    for (char c : command) {
        if (!IsHex(c)) {
            return "?\r";
        }
    }
    std::string digits = command;
    std::size_t expected = 0;  // answers to wait for; 0 = as many as come
    if (digits.size() % 2 != 0) {
        if (digits.size() < 3) {
            return "?\r";
        }
        expected = static_cast<std::size_t>(Digit(digits.back()));
        digits.pop_back();
    }
    Bytes request;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        request.push_back(static_cast<std::uint8_t>(Digit(digits[i]) << 4 | Digit(digits[i + 1])));
    }
    if (request.size() > 7) {
        return "?\r";
    }
    if (options_.latency.count() > 0) {
        std::this_thread::sleep_for(options_.latency);
    }

    std::string out;
    const int vehicle = static_cast<int>(options_.vehicleProtocol);
    const bool canVehicle = vehicle >= 6 && vehicle <= 9;
    if (settings_.active == 0 || (settings_.automatic && settings_.active != vehicle)) {
        out += "SEARCHING...\r";
        if (!canVehicle) {
            return out + "UNABLE TO CONNECT\r";
        }
        settings_.active = vehicle;
    }
    if (settings_.active != vehicle) {
        if (settings_.active >= 6) {
            return "CAN ERROR\r";
        }
        if (settings_.active >= 3) {
            return "BUS INIT: ...ERROR\r";
        }
        return "NO DATA\r";
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

    // Whom the request is for: the functional address by default, or one
    // ECU by its request identifier.
    std::uint32_t ecu = detail::kAllEcus;
    if (!settings_.header.empty()) {
        std::uint32_t id = 0;
        for (char c : settings_.header) {
            id = id << 4 | static_cast<std::uint32_t>(Digit(c));
        }
        if (!extended()) {
            id &= 0x7FF;
            if (id != bus::kFunctionalRequestId) {
                ecu = id + bus::kResponseToRequestOffset;
            }
        } else if (((id >> 16) & 0xFF) == 0xDA) {
            // "DA10F1" or "18DA10F1": physical, to target address 10.
            ecu = bus::kFirstResponseId + (((id >> 8) & 0xFF) - kExtendedFirstEcu);
        }
    }

    std::vector<detail::EcuResponse> responses = vehicle_.transact(request, ecu);
    if (expected != 0 && responses.size() > expected) {
        responses.resize(expected);
    }
    if (responses.empty()) {
        return out + "NO DATA\r";
    }
    for (const auto& response : responses) {
        std::uint32_t id = response.ecu;
        if (extended()) {
            id = kExtendedResponseBase + kExtendedFirstEcu + (response.ecu - bus::kFirstResponseId);
        }
        std::vector<bus::CanFrame> frames;
        try {
            frames = bus::Segment(id, response.payload, 0x00);
        } catch (const bus::IsoTpError&) {
            continue;
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
            continue;
        }
        if (frames.size() == 1) {
            out += hexBytes(response.payload, 0, response.payload.size()) + "\r";
            continue;
        }
        char length[8];
        std::snprintf(length, sizeof length, "%03X",
                      static_cast<unsigned>(response.payload.size()));
        out += std::string(length) + "\r";
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const Bytes data(frames[i].data.begin(), frames[i].data.end());
            const std::string index(1, "0123456789ABCDEF"[i & 0x0F]);
            out += index + ":" + (settings_.spaces ? " " : "") +
                   hexBytes(data, i == 0 ? 2 : 1, data.size()) + "\r";
        }
    }
    return out;
}

}  // namespace obd::elm327
