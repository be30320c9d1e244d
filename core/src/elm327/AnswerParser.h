#pragma once

// Reading what an ELM327-compatible adapter prints in answer to an OBD
// request. Adapters differ in how they print (echo, spaces, line endings,
// headers, the two styles of multi-frame output) and many clones are sloppy,
// so the parser accepts every variant it can tell apart and reports anything
// else as an error rather than guessing.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bus/RequestChannel.h"
#include "obd/DataLinkProtocol.h"

namespace obd::elm327 {

enum class AnswerStatus {
    Answered,  // at least one ECU answered; see `responses`
    NoData,    // the adapter heard no answer ("NO DATA")
    Error,     // the adapter or the answer failed; see `message`
};

struct ParsedAnswer {
    AnswerStatus status = AnswerStatus::NoData;
    // Per ECU, in ECU address order. The address is the CAN identifier the
    // ECU answered with (11- or 29-bit), the source byte of the header on
    // the older buses, or kUnknownSender without headers.
    std::vector<detail::EcuResponse> responses;
    // For an error, a text the application can show, e.g. "CAN ERROR".
    std::string message;
};

// The sender of an answer printed without headers.
constexpr std::uint32_t kUnknownSender = 0;

struct AnswerFormat {
    // Headers are on (ATH1): each line starts with the CAN identifier, three
    // hex digits for 11-bit and eight for 29-bit, followed by the raw frame
    // including its ISO-TP control byte.
    bool headers = true;
    // The protocol the answer came over. On SAE J1850, ISO 9141-2 and
    // ISO 14230-4 a line with headers is a 3-byte header (the ECU's address
    // is its last byte), the data and a check byte; each ECU's messages
    // are joined into one answer as ISO 15765-4 would carry it. Automatic
    // reads CAN frames.
    DataLinkProtocol protocol = DataLinkProtocol::Automatic;
};

// Parses the adapter's text for one request, up to and excluding the ">"
// prompt (anything after a prompt is ignored). `command` is the request as
// sent; a line repeating it (echo left on) is skipped.
ParsedAnswer ParseAnswer(std::string_view text, std::string_view command,
                         const AnswerFormat& format);

// The battery voltage in an ATRV answer ("12.6V"): digits, at most one
// point, the unit (which some clones leave out). Nothing for any other text or for a voltage no
// vehicle supply has (over 40 V): never a made-up value.
std::optional<double> ReadVoltage(const std::string& text);

// Splits adapter text into trimmed, non-empty lines, stopping at ">".
// Carriage returns, line feeds and NUL bytes some clones send all separate.
std::vector<std::string> SplitLines(std::string_view text);

// The length of the progress text `line` starts with ("SEARCHING...",
// "BUS INIT: ...OK", "STOPPED", in any case), which adapters overprint ahead
// of the data on the same line; 0 when it starts with none.
std::size_t LeadingProgressText(std::string_view line);

}  // namespace obd::elm327
