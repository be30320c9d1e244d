#include "emulator/InferredBitmaps.h"

#include <map>
#include <set>

#include "bus/Hex.h"
#include "bus/IsoTp.h"
#include "bus/Protocols.h"
#include "j1979/Responses.h"
#include "sim/SimulatedEcu.h"

namespace obd::elm327 {

namespace {

using detail::Bytes;
using detail::EcuResponse;

bool IsBitmapId(std::uint8_t id) {
    return id % 0x20 == 0;
}

// Whether the dialogue asked any support bitmap of `service`.
bool AskedBitmaps(const ReplayedDialogue& dialogue, std::uint8_t service) {
    for (const auto& [request, responses] : dialogue.answers) {
        const auto bytes = bus::ParseHex(request);
        if (bytes && bytes->size() >= 2 && (*bytes)[0] == service && IsBitmapId((*bytes)[1])) {
            return true;
        }
    }
    return false;
}

// Per ECU, the ids it answered positively in `service` (the id each answer
// starts with); an ECU that answered the service only with refusals, or,
// when `anyService`, answered any request at all, is there with none.
std::map<std::uint32_t, std::set<std::uint8_t>> AnsweredIds(const ReplayedDialogue& dialogue,
                                                            std::uint8_t service, bool anyService) {
    const auto positive = static_cast<std::uint8_t>(service + j1979::kPositiveResponseOffset);
    std::map<std::uint32_t, std::set<std::uint8_t>> answered;
    for (const auto& [request, responses] : dialogue.answers) {
        for (const EcuResponse& response : responses) {
            const Bytes& payload = response.payload;
            if (payload.size() >= 2 && payload[0] == positive) {
                answered[response.ecu].insert(payload[1]);
            } else if (anyService || (payload.size() >= 2 && payload[0] == kNegativeResponse &&
                                      payload[1] == service)) {
                answered[response.ecu];
            }
        }
    }
    return answered;
}

void Infer(ReplayedDialogue& dialogue, std::uint8_t service, bool anyService,
           std::vector<std::string>& lines) {
    if (AskedBitmaps(dialogue, service)) {
        return;
    }
    const auto positive = static_cast<std::uint8_t>(service + j1979::kPositiveResponseOffset);
    for (auto& [ecu, ids] : AnsweredIds(dialogue, service, anyService)) {
        std::set<std::uint8_t> marked;
        for (std::uint8_t id : ids) {
            if (!IsBitmapId(id)) {
                marked.insert(id);
            }
        }
        for (std::uint8_t base : sim::BitmapIds(marked)) {
            Bytes payload{positive, base};
            const Bytes bitmap = sim::SupportBitmap(marked, base);
            payload.insert(payload.end(), bitmap.begin(), bitmap.end());
            const Bytes request{service, base};
            dialogue.answers[AnswerKey(request)].push_back({ecu, payload});
            // The vehicle names its ECUs as on 11-bit CAN: 7E8 is the ECU at 10.
            lines.push_back("never asked " + AnswerKey(request) + ": ECU " +
                            bus::HexNumber(ecu - bus::kFirstResponseId + bus::kFirstEcuAddress) +
                            " answers " + bus::ToHex(payload));
        }
    }
}

}  // namespace

std::vector<std::string> InferBitmaps(ReplayedDialogue& dialogue) {
    std::vector<std::string> lines;
    Infer(dialogue, 0x01, true, lines);
    Infer(dialogue, 0x09, false, lines);
    return lines;
}

}  // namespace obd::elm327
