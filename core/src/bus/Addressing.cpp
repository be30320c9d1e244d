#include "bus/Addressing.h"

#include "bus/IsoTp.h"

namespace obd::bus {

namespace {

// 11-bit CAN: requests 7E0-7E7, answers 7E8-7EF.
constexpr std::uint32_t kLastResponseId11 = kFirstResponseId + kRequestToResponse11 - 1;

// 29-bit CAN: priority 18, format DA (physical), then target and source.
constexpr std::uint32_t kPhysical29 = 0x18DA0000;

bool IsPhysical29(std::uint32_t id) {
    return (id & 0xFFFF0000) == kPhysical29;
}

// Swaps the target and source bytes of a 29-bit physical id.
std::uint32_t Swapped29(std::uint32_t id) {
    const std::uint32_t target = id >> 8 & 0xFF;
    const std::uint32_t source = id & 0xFF;
    return kPhysical29 | source << 8 | target;
}

}  // namespace

std::uint32_t RequestIdFor(std::uint32_t response) {
    if (IsPhysical29(response)) {
        return Swapped29(response);
    }
    if (response >= kFirstResponseId && response <= kLastResponseId11) {
        return response - kRequestToResponse11;
    }
    return response;
}

std::uint32_t ResponseIdFor(std::uint32_t request) {
    if (IsPhysical29(request)) {
        return Swapped29(request);
    }
    if (request >= kFirstPhysicalRequestId &&
        request < kFirstPhysicalRequestId + kRequestToResponse11) {
        return request + kRequestToResponse11;
    }
    return request;
}

}  // namespace obd::bus
