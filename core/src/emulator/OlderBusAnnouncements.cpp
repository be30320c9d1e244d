#include "emulator/OlderBusAnnouncements.h"

#include "elm327/LegacyMessages.h"
#include "j1979/Codec.h"
#include "j1979/Responses.h"
#include "obd/ParameterIdentifier.h"

namespace obd::elm327 {

namespace {

constexpr std::uint8_t kCurrentData = 0x01;
constexpr std::uint8_t kTestResults = 0x06;

// Whether a PID's answer (41, the PID and its data) fits one message.
bool FitsOneMessage(std::uint8_t pid) {
    return 2 + j1979::CurrentDataLength(pid) <= kMaxLegacyData;
}

}  // namespace

void KeepToWhatOlderBusesCarry(const detail::Bytes& request,
                               std::vector<detail::EcuResponse>& responses) {
    if (request.empty()) {
        return;
    }
    if (request[0] == kTestResults) {
        responses.clear();
        return;
    }
    if (request[0] != kCurrentData) {
        return;
    }
    for (detail::EcuResponse& response : responses) {
        detail::Bytes& answer = response.payload;
        // 41, the bitmap's id and its four bytes: bit 0x80 of the first
        // byte stands for the id after the bitmap's.
        if (answer.size() != 6 || answer[0] != kCurrentData + j1979::kPositiveResponseOffset ||
            !IsSupportId(answer[1])) {
            continue;
        }
        for (int bit = 0; bit < 32 && answer[1] + bit + 1 <= 0xFF; ++bit) {
            if (!FitsOneMessage(static_cast<std::uint8_t>(answer[1] + bit + 1))) {
                answer[2 + bit / 8] &= static_cast<std::uint8_t>(~(0x80 >> (bit % 8)));
            }
        }
    }
}

}  // namespace obd::elm327
