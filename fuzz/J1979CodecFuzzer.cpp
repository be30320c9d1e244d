// Fuzzes the core's decoders of SAE J1979 responses: service 01 parameter
// data (DecodePid), trouble code bytes (DecodeTroubleCode, and the reverse
// EncodeTroubleCode on arbitrary texts, which also go through IsVinValid) and
// service 06 test records (DecodeMonitorTestResult, MonitorName).
//
// Each call must give a decoded value or throw obd::j1979::CodecError; any
// other exception, a crash or a sanitizer report (a read past the end of the
// exactly sized input buffers among them) is a finding. Decoded values are
// checked against the PID definitions and must survive a round trip through
// the matching encoder.
//
// Input layout: byte 0 picks the decoder, the rest is its input:
//   0: PID byte, then data bytes of any length
//   1: PID byte, then data bytes cut or padded to the PID's length
//   2: two trouble code bytes, or a text: a trouble code or a VIN
//   3: a service 06 record of any length

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "j1979/Codec.h"

namespace {

namespace j1979 = obd::j1979;

using zelt::fuzz::Check;
using zelt::fuzz::Fail;

std::string Hex(const std::uint8_t* bytes, std::size_t size) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t index = 0; index < size; ++index) {
        text += kDigits[bytes[index] >> 4];
        text += kDigits[bytes[index] & 0x0F];
        text += ' ';
    }
    return text;
}

std::string Describe(std::uint8_t pid, const j1979::Bytes& data) {
    return "PID " + Hex(&pid, 1) + "data " + Hex(data.data(), data.size());
}

// Whether `number` lies in the range of the sensor's definition. The limits
// went through a float, so they may be off by a float's rounding.
bool WithinLimits(double number, const j1979::SensorDefinition& sensor) {
    const double slack = std::max(std::abs(sensor.minimum), std::abs(sensor.maximum)) * 1e-6;
    return number >= sensor.minimum - slack && number <= sensor.maximum + slack;
}

void FuzzPid(std::uint8_t pid, const j1979::Bytes& data) {
    const j1979::PidDefinition* definition = j1979::FindPid(pid);
    std::vector<j1979::DecodedSensor> decoded;
    try {
        decoded = j1979::DecodePid(pid, data);
    } catch (const j1979::CodecError&) {
        Check(definition == nullptr || data.size() != definition->dataBytes,
              "CodecError for a known PID with the right length", Describe(pid, data));
        return;
    }
    Check(definition != nullptr, "an unknown PID decoded", Describe(pid, data));
    Check(data.size() == definition->dataBytes, "data of the wrong length decoded",
          Describe(pid, data));
    Check(decoded.size() == definition->sensors.size(), "one value per sensor expected",
          Describe(pid, data));

    bool allNumeric = true;
    for (std::size_t index = 0; index < decoded.size(); ++index) {
        const j1979::SensorDefinition& sensor = definition->sensors[index];
        const j1979::DecodedSensor& value = decoded[index];
        Check(std::isfinite(value.number), "a value that is not finite", Describe(pid, data));
        if (!sensor.numeric) {
            allNumeric = false;
            Check(value.number == 0, "a number for a sensor that is not numeric",
                  Describe(pid, data));
        } else if (!value.text.empty()) {
            Check(WithinLimits(value.number, sensor), "a value outside the sensor's limits",
                  sensor.name + ": " + value.text + " from " + Describe(pid, data));
        }
    }
    if (!allNumeric) {
        // Texts: EncodeRawPid takes the same bytes back unchanged.
        Check(j1979::EncodeRawPid(pid, data) == data, "EncodeRawPid changed the bytes",
              Describe(pid, data));
        return;
    }

    // Numbers: encoding what was decoded and decoding again gives the same
    // readings. Sensors that the support byte marks absent are encoded as 0,
    // which makes them present, so only the present ones are compared.
    std::vector<double> numbers;
    for (const j1979::DecodedSensor& value : decoded) {
        numbers.push_back(value.number);
    }
    const j1979::Bytes encoded = j1979::EncodePid(pid, numbers);
    const std::vector<j1979::DecodedSensor> again = j1979::DecodePid(pid, encoded);
    Check(again.size() == decoded.size(), "the round trip changed the number of values",
          Describe(pid, data));
    for (std::size_t index = 0; index < decoded.size(); ++index) {
        if (decoded[index].text.empty()) {
            continue;
        }
        Check(again[index].text == decoded[index].text, "the round trip changed a value",
              decoded[index].text + " became " + again[index].text + " for " + Describe(pid, data) +
                  "encoded " + Hex(encoded.data(), encoded.size()));
    }
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

char Upper(char c) {
    return c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
}

void FuzzTroubleCode(const std::uint8_t* bytes, std::size_t size) {
    if (size == 2) {
        const auto raw = static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
        const std::string code = j1979::DecodeTroubleCode(raw);
        Check(code.size() == 5, "a trouble code is five characters", code);
        Check(j1979::EncodeTroubleCode(code) == raw, "a decoded trouble code does not encode back",
              code);
        return;
    }
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    // Vehicle identification numbers arrive as texts too.
    Check(!j1979::IsVinValid(text) || text.size() == 17, "a valid VIN that is not 17 characters",
          text);
    std::uint16_t raw = 0;
    try {
        raw = j1979::EncodeTroubleCode(text);
    } catch (const j1979::CodecError&) {
        const bool wellFormed = text.size() == 5 &&
                                std::string("PCBU").find(text[0]) != std::string::npos &&
                                text[1] >= '0' && text[1] <= '3' && IsHexDigit(text[2]) &&
                                IsHexDigit(text[3]) && IsHexDigit(text[4]);
        Check(!wellFormed, "CodecError for a well-formed trouble code", text);
        return;
    }
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(), Upper);
    Check(j1979::DecodeTroubleCode(raw) == upper, "an encoded trouble code does not decode back",
          text);
}

void FuzzMonitorTestResult(const std::uint8_t* bytes, std::size_t size) {
    // A buffer of exactly `size` bytes, so that a read past its end is seen.
    const std::unique_ptr<std::uint8_t[]> record(new std::uint8_t[size == 0 ? 1 : size]);
    std::copy(bytes, bytes + size, record.get());
    const std::uint8_t* pointer = size == 0 ? nullptr : record.get();
    j1979::MonitorTestResult result;
    try {
        result = j1979::DecodeMonitorTestResult(pointer, size);
    } catch (const j1979::CodecError&) {
        return;
    }
    Check(size >= 9, "a short record decoded", Hex(bytes, size));
    Check(result.monitorId == bytes[0] && result.testId == bytes[1] &&
              result.unitAndScalingId == bytes[2],
          "ids not copied", Hex(bytes, size));
    Check(std::isfinite(result.value) && std::isfinite(result.minimum) &&
              std::isfinite(result.maximum),
          "a value that is not finite", Hex(bytes, size));
    Check(!j1979::MonitorName(result.monitorId).empty(), "a monitor without a name", Hex(bytes, 1));
    // The encoder takes every decoded result back to the same nine bytes.
    const j1979::Bytes encoded = j1979::EncodeMonitorTestResult(result);
    Check(encoded == j1979::Bytes(bytes, bytes + 9), "the round trip changed the record",
          Hex(bytes, 9) + "became " + Hex(encoded.data(), encoded.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::uint8_t* rest = bytes + 1;
    const std::size_t restSize = size - 1;
    switch (bytes[0] % 4) {
        case 0:
        case 1: {
            if (restSize < 1) {
                return 0;
            }
            const std::uint8_t pid = rest[0];
            j1979::Bytes given(rest + 1, rest + restSize);
            const j1979::PidDefinition* definition = j1979::FindPid(pid);
            if (bytes[0] % 4 == 1 && definition != nullptr) {
                given.resize(definition->dataBytes);
            }
            // Exactly as large as its data, so that a read past the end is seen.
            const j1979::Bytes data(given.begin(), given.end());
            FuzzPid(pid, data);
            break;
        }
        case 2:
            FuzzTroubleCode(rest, restSize);
            break;
        default:
            FuzzMonitorTestResult(rest, restSize);
            break;
    }
    return 0;
}
