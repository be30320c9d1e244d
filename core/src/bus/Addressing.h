#pragma once

// How a tester addresses one ECU, from the id the ECU answers with, on every
// addressing SAE J1979 uses:
//  - 11-bit CAN (ISO 15765-4): an ECU answering on 7E8+n is asked on 7E0+n;
//  - 29-bit CAN (ISO 15765-4): one answering on 18DAF1xx is asked on
//    18DAxxF1 (target and source swapped);
//  - SAE J1850, ISO 9141-2 and ISO 14230-4: an ECU is named by its one-byte
//    address, which is also the target byte of a request to it.

#include <cstdint>

#include "bus/IsoTp.h"

namespace obd::bus {

// On 11-bit CAN an ECU answers 8 ids above the one it is asked on (7E0 and
// 7E8); modules outside the emissions set mostly keep the pairing (7B0 and
// 7B8).
constexpr std::uint32_t kRequestToResponse11 = kFirstResponseId - kFirstPhysicalRequestId;

// The id a request to the ECU answering as `response` is sent on.
std::uint32_t RequestIdFor(std::uint32_t response);

// The id the ECU asked on `request` answers with; the reverse of
// RequestIdFor().
std::uint32_t ResponseIdFor(std::uint32_t request);

}  // namespace obd::bus
