// Fuzzes the reading of what an ELM327-compatible adapter prints: the
// answer parser on every framing (CAN with and without headers, the numbered
// multi-frame lines, the 3-byte-header messages of the older buses and their
// joining into one answer per ECU) and the battery voltage text.
//
// Whatever the bytes, the parser must return, never throw or read outside
// its input; an answer it accepts must hold at least one ECU's non-empty
// payload, and a voltage it reads must be a plausible one.
//
// Input layout: byte 0 picks the protocol (its value modulo 10, 0 for
// automatic = CAN) and, in bit 7, headers off; the rest is the adapter's
// text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "elm327/AnswerParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    obd::elm327::AnswerFormat format;
    format.headers = (data[0] & 0x80) == 0;
    format.protocol = static_cast<obd::DataLinkProtocol>((data[0] & 0x7F) % 10);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    const obd::elm327::ParsedAnswer answer = obd::elm327::ParseAnswer(text, "0100", format);
    if (answer.status == obd::elm327::AnswerStatus::Answered) {
        if (answer.responses.empty()) {
            std::abort();
        }
        for (const auto& response : answer.responses) {
            if (response.payload.empty()) {
                std::abort();
            }
        }
    }
    const auto volts = obd::elm327::ReadVoltage(std::string(text));
    if (volts && !(*volts >= 0.0 && *volts <= 40.0)) {
        std::abort();
    }
    return 0;
}
