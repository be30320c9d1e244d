#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "zelt/link/Export.h"

namespace zelt::link {

// An adapter address that cannot be read. The message is one line for the
// user and names the address and the forms it may take.
class ZELT_LINK_API AddressError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// What an ELM327 on a serial port talks at when it is not told otherwise.
constexpr int kDefaultBaudRate = 38400;

// The serial rates this platform can set, ascending.
ZELT_LINK_API std::vector<int> SupportedBaudRates();

// Where an adapter is: a Wi-Fi ELM327 at tcp://192.168.0.10:35000, a USB
// or classic Bluetooth one on a serial port (serial:/dev/ttyUSB0,
// serial:COM3:115200), or a Bluetooth Low Energy one by its address or the
// name it advertises (ble://AA:BB:CC:DD:EE:FF, ble://OBDII).
struct ZELT_LINK_API Address {
    // Which link the address names; the fields marked with it apply.
    enum class Kind { Tcp, Serial, Ble };

    // Reads tcp://HOST:PORT (PORT 1 to 65535; an IPv6 HOST in brackets) or
    // serial:DEVICE[:BAUD] (BAUD one of SupportedBaudRates(); without it
    // kDefaultBaudRate, and detectBaudRate is set; the last colon starts the
    // rate, so a DEVICE containing a colon must give one) or ble://DEVICE
    // (six colon-separated hexadecimal bytes are an address, anything else
    // a name). Throws AddressError.
    static Address Parse(const std::string& text);

    Kind kind = Kind::Tcp;   // which of the fields below apply
    std::string host;        // Tcp
    std::uint16_t port = 0;  // Tcp
    // Serial: the port. Ble: the device's address in upper case, or the
    // name it advertises when bleByName.
    std::string device;
    bool bleByName = false;  // Ble
    int baudRate = 0;        // Serial
    // Serial: no rate was given, so OpenTransport() finds the adapter's
    // (see OpenSerialTransportFindingRate()).
    bool detectBaudRate = false;
};

}  // namespace zelt::link
