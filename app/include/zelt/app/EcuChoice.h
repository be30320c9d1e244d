#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zelt/app/Export.h"

namespace zelt::app {

// An ECU as a user names it: a response address in hex ("7E9", "0x7E9",
// "18DAF110", the K-line's "10") or, after "@", an index among the
// answering ECUs ("@1"), which cannot be read as an address.
struct EcuChoice {
    // True for an address, false for an index.
    bool byAddress = false;
    // The address or the index.
    std::uint32_t value = 0;
};

// Reads `text` as an EcuChoice; throws InputError for anything but a hex
// address of up to 32 bits or "@" and a decimal index up to 255.
ZELT_APP_API EcuChoice ParseEcu(const std::string& text);

// The response address `choice` (read from `text`) names among `addresses`
// (the answering ECUs, in the vehicle's order); throws InputError, listing
// them, for an ECU that did not answer.
ZELT_APP_API std::uint32_t ResolveEcu(const EcuChoice& choice, const std::string& text,
                                      const std::vector<std::uint32_t>& addresses);

}  // namespace zelt::app
