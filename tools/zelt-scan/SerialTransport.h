#pragma once

#include <memory>
#include <string>
#include <vector>

#include "AdapterLink.h"

namespace zelt::scan {

// What an ELM327 on a serial port talks at when it is not told otherwise.
constexpr int kDefaultBaudRate = 38400;

// The rates OpenSerialTransport accepts on this platform, ascending.
std::vector<int> SupportedBaudRates();

// Opens the serial port `device` (/dev/ttyUSB0, /dev/rfcomm0, a pty; COM3 on
// Windows) raw, 8N1, without flow control, at `baudRate`, which must be one
// of SupportedBaudRates(). Throws std::runtime_error when the port cannot be
// opened or set up.
std::unique_ptr<AdapterLink> OpenSerialTransport(const std::string& device, int baudRate);

}  // namespace zelt::scan
