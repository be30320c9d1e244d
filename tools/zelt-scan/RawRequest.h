#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <ostream>
#include <vector>

#include "obd/elm327/AdapterQuorvix.h"

namespace zelt::scan {

using RawAnswers = std::vector<obd::elm327::AdapterQuorvix::RawAnswer>;

// Whether sending `request` (service byte first) may change the vehicle:
// clear its codes (04, 14), run a test (08 beyond its support ids, 31),
// write data (2E, 2F, 3B), leave the default session (10 other than 10 01),
// reset it (11), unlock it (27), silence its buses (28), stop it storing
// codes (85), ... Only the reading services are known to change nothing: a
// service not named among them counts as changing.
bool RawRequestChangesVehicle(const std::vector<std::uint8_t>& request);

// "0x7E8: 62 F1 90 57 42 41", one line per ECU that answered; a negative
// response is named after it.
void WriteRawAnswers(const RawAnswers& answers, std::ostream& out);

// The same as one JSON document: the request's bytes, and each ECU's
// address and answer bytes, with the negative response named (null for a
// positive answer).
nlohmann::ordered_json RawAnswersJson(const std::vector<std::uint8_t>& request,
                                      const RawAnswers& answers);

}  // namespace zelt::scan
