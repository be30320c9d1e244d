#pragma once

#include <cstdint>
#include <vector>

#include "obd/NegativeResponse.h"

namespace obd::j1979 {

// How an ECU answers a request (SAE J1979, as ISO 14229-1): a positive
// answer starts with the request's service id plus this offset ...
constexpr std::uint8_t kPositiveResponseOffset = 0x40;
// ... a refusal with obd::kNegativeResponse, the refused service id and a
// negative response code (ISO 14229-1 names them: obd::NegativeResponseName).
using obd::kNegativeResponse;
// The code that asks the tester to wait for the answer still coming.
constexpr std::uint8_t kResponsePending = 0x78;

// Whether `message` asks the tester to wait: 7F, the service id, 78.
inline bool IsResponsePending(const std::vector<std::uint8_t>& message) {
    return message.size() == 3 && message[0] == kNegativeResponse && message[2] == kResponsePending;
}

// The negative response codes a J1979 ECU gives (ISO 14229-1 numbers).
namespace nrc {
constexpr std::uint8_t kServiceNotSupported = 0x11;
constexpr std::uint8_t kSubFunctionNotSupported = 0x12;  // also: invalid format
constexpr std::uint8_t kConditionsNotCorrect = 0x22;
}  // namespace nrc

}  // namespace obd::j1979
