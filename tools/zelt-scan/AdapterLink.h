#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zelt::scan {

// A byte stream to an OBD adapter: an ELM327 Wi-Fi dongle at
// tcp://192.168.0.10:35000, or a USB or Bluetooth one on a serial port
// (serial:/dev/ttyUSB0, serial:COM3:115200).
//
// Thread safety: one thread sends and receives; a link is not shared.
class AdapterLink {
public:
    virtual ~AdapterLink() = default;

    // Opens the link `address` names: tcp://HOST:PORT or
    // serial:DEVICE[:BAUD]. Throws UsageError for an address it cannot read
    // (or a transport this platform lacks), std::runtime_error when the
    // adapter cannot be reached.
    static std::unique_ptr<AdapterLink> Open(const std::string& address);

    // Sends every byte; false when the link is gone.
    virtual bool send(const std::vector<std::uint8_t>& data) = 0;
    // Waits up to `timeoutMilliseconds` for bytes; `data` is empty when none
    // came. False when the link is gone.
    virtual bool receive(std::vector<std::uint8_t>& data, int timeoutMilliseconds) = 0;
};

}  // namespace zelt::scan
