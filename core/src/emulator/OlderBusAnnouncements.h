#pragma once

// What the emulated vehicle announces on the buses older than CAN (SAE
// J1850, ISO 9141-2, ISO 14230-4): only what the emulator can answer there,
// so that a tester never asks for what then stays silent.

#include <vector>

#include "bus/RequestChannel.h"

namespace obd::elm327 {

// Edits the ECUs' `responses` to `request` for the older buses: service 06
// goes unanswered (its records there have a format of their own, which the
// emulator does not speak), and a service 01 support bitmap leaves out the
// PIDs whose answer does not fit one message of these buses.
void KeepToWhatOlderBusesCarry(const detail::Bytes& request,
                               std::vector<detail::EcuResponse>& responses);

}  // namespace obd::elm327
