#include "sim/SimulatedProfileEcu.h"

#include <algorithm>
#include <cmath>

#include "sim/SimulatedEcu.h"

namespace obd::sim {

namespace {

constexpr std::uint8_t kRequestOutOfRange = 0x31;
constexpr std::uint8_t kIncorrectLength = 0x13;
constexpr std::uint8_t kResponsePending = 0x78;

Bytes Negative(std::uint8_t service, std::uint8_t code) {
    return {kNegativeResponse, service, code};
}

// The data an identifier sends now.
Bytes DataOf(const IdentifierModel& identifier, double t) {
    if (!identifier.live) {
        return identifier.data;
    }
    // A value that ran past what the bytes hold stays at the bound.
    const double span = std::ldexp(1.0, 8 * identifier.size);
    const double raw = std::clamp(std::round(identifier.value.at(t)), -span / 2, span - 1);
    const auto number = static_cast<std::uint64_t>(static_cast<std::int64_t>(raw));
    Bytes data;
    for (int byte = identifier.size - 1; byte >= 0; --byte) {
        data.push_back(static_cast<std::uint8_t>(number >> (8 * byte)));
    }
    return data;
}

// The pending answers and the final one; one pending answer without the
// final one from a module that pends forever.
std::vector<Bytes> WithPending(std::uint8_t service, std::uint8_t pending, Bytes final) {
    if (pending == kPendingForever) {
        return {Negative(service, kResponsePending)};
    }
    std::vector<Bytes> messages(pending, Negative(service, kResponsePending));
    messages.push_back(std::move(final));
    return messages;
}

}  // namespace

SimulatedProfileEcu::SimulatedProfileEcu(ProfileEcuModel model) : model_(std::move(model)) {}

std::vector<Bytes> SimulatedProfileEcu::answer(const Bytes& request, double secondsSinceOpen) {
    orvane::MutexLock lock(mutex_);
    if (request.empty()) {
        return {};
    }
    switch (request[0]) {
        case 0x22:
            return readIdentifiers(request, secondsSinceOpen);
        case 0x21:
            return readLocal(request, secondsSinceOpen);
        case 0x19:
            return readCodes(request);
        case 0x14:
            return clearCodes(request);
        default:
            return {Negative(request[0], nrc::kServiceNotSupported)};
    }
}

std::vector<Bytes> SimulatedProfileEcu::readIdentifiers(const Bytes& request, double t) const {
    if (request.size() < 3 || request.size() % 2 != 1) {
        return {Negative(0x22, kIncorrectLength)};
    }
    const std::size_t count = request.size() / 2;
    if (count > 1 && !model_.sharedRequests) {
        return {Negative(0x22, kIncorrectLength)};
    }
    Bytes positive{0x62};
    std::uint8_t pending = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto id = static_cast<std::uint16_t>(request[1 + 2 * i] << 8 | request[2 + 2 * i]);
        const auto found = model_.identifiers.find(id);
        if (found == model_.identifiers.end() || found->second.refusal != 0) {
            if (count == 1) {
                return {Negative(0x22, found == model_.identifiers.end() ? kRequestOutOfRange
                                                                         : found->second.refusal)};
            }
            continue;  // left out of a shared answer
        }
        pending = std::max(pending, found->second.pending);
        positive.push_back(request[1 + 2 * i]);
        positive.push_back(request[2 + 2 * i]);
        const Bytes data = DataOf(found->second, t);
        positive.insert(positive.end(), data.begin(), data.end());
    }
    if (positive.size() == 1) {
        return {Negative(0x22, kRequestOutOfRange)};
    }
    return WithPending(0x22, pending, std::move(positive));
}

std::vector<Bytes> SimulatedProfileEcu::readLocal(const Bytes& request, double t) const {
    if (request.size() != 2) {
        return {Negative(0x21, kIncorrectLength)};
    }
    const auto found = model_.localIdentifiers.find(request[1]);
    if (found == model_.localIdentifiers.end()) {
        return {Negative(0x21, kRequestOutOfRange)};
    }
    if (found->second.refusal != 0) {
        return {Negative(0x21, found->second.refusal)};
    }
    Bytes positive{0x61, request[1]};
    const Bytes data = DataOf(found->second, t);
    positive.insert(positive.end(), data.begin(), data.end());
    return WithPending(0x21, found->second.pending, std::move(positive));
}

std::vector<Bytes> SimulatedProfileEcu::readCodes(const Bytes& request) const {
    if (request.size() != 3) {
        return {Negative(0x19, kIncorrectLength)};
    }
    if (request[1] != 0x02) {
        return {Negative(0x19, nrc::kSubFunctionNotSupported)};
    }
    // Sub-function echo and the status bits this module supports (all).
    Bytes positive{0x59, 0x02, 0xFF};
    for (const ModuleCodeModel& code : model_.codes) {
        if ((code.status & request[2]) != 0) {
            positive.push_back(static_cast<std::uint8_t>(code.raw >> 16));
            positive.push_back(static_cast<std::uint8_t>(code.raw >> 8));
            positive.push_back(static_cast<std::uint8_t>(code.raw));
            positive.push_back(code.status);
        }
    }
    return {positive};
}

std::vector<Bytes> SimulatedProfileEcu::clearCodes(const Bytes& request) {
    if (request.size() != 4) {
        return {Negative(0x14, kIncorrectLength)};
    }
    if (!model_.clearAccepted) {
        return {Negative(0x14, model_.clearRefusal)};
    }
    if (request[1] != 0xFF || request[2] != 0xFF || request[3] != 0xFF) {
        return {Negative(0x14, kRequestOutOfRange)};
    }
    model_.codes.clear();
    return {{0x54}};
}

}  // namespace obd::sim
