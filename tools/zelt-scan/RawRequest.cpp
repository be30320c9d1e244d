#include "RawRequest.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "obd/NegativeResponse.h"
#include "obd/ParameterIdentifier.h"
#include "zelt/app/JsonReport.h"

namespace zelt::scan {

// The command line is an application of the application library.
using namespace app;  // NOLINT(google-build-using-namespace)

namespace {

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

bool IsNegative(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() >= 3 && bytes[0] == obd::kNegativeResponse;
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
            out << "  (negative response: " << obd::NegativeResponseName(answer.bytes[2]) << ')';
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
                        {"name", obd::NegativeResponseName(answer.bytes[2])}};
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
