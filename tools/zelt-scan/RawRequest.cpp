#include "RawRequest.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "JsonReport.h"
#include "obd/ParameterIdentifier.h"

namespace zelt::scan {

namespace {

constexpr std::uint8_t kNegativeResponse = 0x7F;
constexpr std::uint8_t kTestsOnBoardSystem = 0x08;
constexpr std::uint8_t kSessionControl = 0x10;
constexpr std::uint8_t kDefaultSession = 0x01;

// SAE J1979's reading services (01 live data, 02 freeze frames, 03, 07, 0A
// trouble codes, 05 and 06 monitor results, 09 vehicle information) and
// those of ISO 14229 and ISO 14230 that only read (19 trouble codes, 1A ECU
// identification, 21 and 22 data by identifier, 3E tester present).
bool IsReadingService(std::uint8_t service) {
    static const std::uint8_t kReading[] = {0x01, 0x02, 0x03, 0x05, 0x06, 0x07, 0x09,
                                            0x0A, 0x19, 0x1A, 0x21, 0x22, 0x3E};
    return std::find(std::begin(kReading), std::end(kReading), service) != std::end(kReading);
}

// The name ISO 14229-1 gives a negative response code.
const char* NegativeResponseName(std::uint8_t code) {
    static const struct {
        std::uint8_t code;
        const char* name;
    } kNames[] = {
        {0x10, "general reject"},
        {0x11, "service not supported"},
        {0x12, "sub-function not supported"},
        {0x13, "incorrect message length or invalid format"},
        {0x14, "response too long"},
        {0x21, "busy, repeat request"},
        {0x22, "conditions not correct"},
        {0x24, "request sequence error"},
        {0x25, "no response from subnet component"},
        {0x26, "failure prevents execution of requested action"},
        {0x31, "request out of range"},
        {0x33, "security access denied"},
        {0x35, "invalid key"},
        {0x36, "exceeded number of attempts"},
        {0x37, "required time delay not expired"},
        {0x70, "upload/download not accepted"},
        {0x71, "transfer data suspended"},
        {0x72, "general programming failure"},
        {0x73, "wrong block sequence counter"},
        {0x78, "request correctly received, response pending"},
        {0x7E, "sub-function not supported in active session"},
        {0x7F, "service not supported in active session"},
    };
    for (const auto& entry : kNames) {
        if (entry.code == code) {
            return entry.name;
        }
    }
    return "unknown negative response";
}

bool IsNegative(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() >= 3 && bytes[0] == kNegativeResponse;
}

}  // namespace

bool RawRequestChangesVehicle(const std::vector<std::uint8_t>& request) {
    if (request.empty()) {
        return false;
    }
    const std::uint8_t service = request[0];
    if (service == kTestsOnBoardSystem) {
        // Asking which tests exist (ids 00, 20, ...) starts none.
        return request.size() < 2 ||
               std::any_of(request.begin() + 1, request.end(),
                           [](std::uint8_t id) { return !obd::IsSupportId(id); });
    }
    if (service == kSessionControl) {
        return request.size() != 2 || request[1] != kDefaultSession;
    }
    return !IsReadingService(service);
}

void WriteRawAnswers(const RawAnswers& answers, std::ostream& out) {
    if (answers.empty()) {
        out << "no ECU answered (NO DATA)\n";
    }
    for (const auto& answer : answers) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%X:", answer.ecu);
        out << text;
        for (std::uint8_t byte : answer.bytes) {
            std::snprintf(text, sizeof text, " %02X", byte);
            out << text;
        }
        if (IsNegative(answer.bytes)) {
            out << "  (negative response: " << NegativeResponseName(answer.bytes[2]) << ')';
        }
        out << '\n';
    }
}

nlohmann::ordered_json RawAnswersJson(const std::vector<std::uint8_t>& request,
                                      const RawAnswers& answers) {
    using Json = nlohmann::ordered_json;
    Json list = Json::array();
    for (const auto& answer : answers) {
        Json negative = nullptr;
        if (IsNegative(answer.bytes)) {
            negative = {{"service", answer.bytes[1]},
                        {"code", answer.bytes[2]},
                        {"name", NegativeResponseName(answer.bytes[2])}};
        }
        list.push_back(
            {{"ecu", answer.ecu}, {"bytes", answer.bytes}, {"negativeResponse", negative}});
    }
    return {{"schema", kJsonSchemaVersion},
            {"tool", {{"name", "zelt-scan"}, {"version", ZELT_VERSION}}},
            {"request", request},
            {"answers", list}};
}

}  // namespace zelt::scan
