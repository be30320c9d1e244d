// Fuzzes the masking of a recorded dialogue (zelt-scan --record-anonymise)
// on every framing: CAN with and without headers, the numbered lines, the
// older buses' messages with their check bytes.
//
// Whatever the adapter printed, the masking must return, never throw or
// read outside the answer, and change nothing but hex digits into hex
// digits: the answer keeps its length, its lines and its texts.
//
// Input layout: byte 0 picks the protocol (its value modulo 10, 0 for
// unknown) and, in bit 7, headers off; the rest is the adapter's answers to
// 0902, one after each ">" prompt, with a calibration id named "JMB*36761500".

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "bus/Hex.h"
#include "obd/elm327/DialogueAnonymiser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    obd::elm327::DialogueAnonymiser anonymiser({"JMB*36761500"});
    anonymiser.mask((data[0] & 0x80) != 0 ? "ATH0" : "ATH1", "OK\r\r");
    anonymiser.mask("ATSP" + std::to_string((data[0] & 0x7F) % 10), "OK\r\r");
    const std::string dialogue(reinterpret_cast<const char*>(data + 1), size - 1);
    for (std::size_t begin = 0; begin <= dialogue.size();) {
        const std::size_t end = std::min(dialogue.find('>', begin), dialogue.size());
        const std::string answer = dialogue.substr(begin, end - begin);
        const std::string masked = anonymiser.mask("0902", answer);
        zelt::fuzz::Check(masked.size() == answer.size(), "the masked answer changed its length");
        for (std::size_t i = 0; i < answer.size(); ++i) {
            zelt::fuzz::Check(masked[i] == answer[i] || (obd::bus::HexDigitValue(masked[i]) >= 0 &&
                                                         obd::bus::HexDigitValue(answer[i]) >= 0),
                              "a character other than a hex digit changed", answer);
        }
        begin = end + 1;
    }
    return 0;
}
