#pragma once

#include <chrono>

#include "zelt/link/Discovery.h"

namespace zelt::link::detail {

// Adds the Bluetooth LE devices heard while listening for `listening` to
// `into.adapters`, or why none could be heard to `into.problems`.
void DiscoverBleDevices(std::chrono::milliseconds listening, Discovery& into);

}  // namespace zelt::link::detail
