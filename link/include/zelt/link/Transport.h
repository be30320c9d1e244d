#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zelt/link/Address.h"
#include "zelt/link/Export.h"

namespace zelt::link {

// A byte stream to an OBD adapter: a TCP connection, a serial port, or a
// Bluetooth LE device's pair of characteristics.
//
// Thread safety: one thread sends and receives; wake() may be called from
// any thread at any time.
class ZELT_LINK_API ITransport {
public:
    virtual ~ITransport();

    // Sends every byte; false when the link is gone.
    virtual bool send(const std::uint8_t* data, std::size_t size) = 0;
    // Waits until bytes arrive, the link goes, or wake() is called, with no
    // time limit; fills `data` with what arrived (empty when woken). False
    // when the link is gone.
    virtual bool receive(std::vector<std::uint8_t>& data) = 0;
    // Makes the receive() that waits, or else the next one, return at once.
    virtual void wake() = 0;
};

// How OpenTransport() reaches an adapter; the defaults suit Wi-Fi, USB and
// Bluetooth ones.
struct ZELT_LINK_API TransportOptions {
    // How long a TCP connection may take to be accepted before it is given
    // up (an unreachable Wi-Fi adapter otherwise takes the system's minutes).
    std::chrono::milliseconds connectTimeout{5000};
    // A serial address without a rate (Address::detectBaudRate): how long
    // the adapter may take to answer at each rate tried.
    std::chrono::milliseconds probeTimeout{1000};
    // A Bluetooth LE address: how long the device may take to be seen
    // advertising, and then to connect and show its services.
    std::chrono::milliseconds bleSearchTimeout{10000};
    // Told the rate the adapter answered at, when it was found; may be
    // empty. Called before OpenTransport() returns, on its thread.
    std::function<void(int baudRate)> baudRateFound;
};

// Opens the link to the adapter at `address`; on a serial port without a
// rate, at the rate the adapter answers at (options.baudRateFound is told
// which). Throws std::runtime_error (with the system's reason) when it cannot
// be reached.
ZELT_LINK_API std::unique_ptr<ITransport> OpenTransport(const Address& address,
                                                        const TransportOptions& options = {});
// The same from an address's text; throws AddressError for one that cannot
// be read.
ZELT_LINK_API std::unique_ptr<ITransport> OpenTransport(const std::string& address,
                                                        const TransportOptions& options = {});

// The two transports, for an application that knows which it wants.
// Connects to `host`:`port` within `connectTimeout`.
ZELT_LINK_API std::unique_ptr<ITransport> OpenTcpTransport(
    const std::string& host, std::uint16_t port, std::chrono::milliseconds connectTimeout);
// Opens the serial port `device` (/dev/ttyUSB0, /dev/rfcomm0, a pty; COM3 on
// Windows) raw, 8N1, without flow control, at `baudRate`, one of
// SupportedBaudRates().
ZELT_LINK_API std::unique_ptr<ITransport> OpenSerialTransport(const std::string& device,
                                                              int baudRate);

// Finds the Bluetooth LE adapter `device` (its address, AA:BB:CC:DD:EE:FF,
// or with `byName` the name it advertises) through BlueZ on the system bus
// (DBUS_SYSTEM_BUS_ADDRESS when set) within `searchTimeout`, connects,
// picks the characteristics its layout uses and subscribes to its answers.
// Throws std::runtime_error naming what failed: no Bluetooth, the device
// not seen (with those that were), pairing needed (with the bluetoothctl
// commands), another client holding it. Linux only; elsewhere it throws
// saying so.
ZELT_LINK_API std::unique_ptr<ITransport> OpenBleTransport(const std::string& device, bool byName,
                                                           std::chrono::milliseconds searchTimeout);

// The rates at which an adapter is looked for, in order: 38400 (an ELM327's
// own), 9600 (early ones), then 115200, 57600, 230400 and 500000, which
// adapters are set to for speed; those of SupportedBaudRates().
ZELT_LINK_API std::vector<int> ProbedBaudRates();
// Opens the serial port `device` at the rate its adapter answers at: at each
// of ProbedBaudRates() in turn, sends "ATI" and a carriage return and waits
// up to `probeTimeout` for the adapter's prompt (">"). Sets `baudRate` to the
// rate that answered. Throws std::runtime_error when the port cannot be
// opened, or naming the rates tried when the adapter answered at none.
ZELT_LINK_API std::unique_ptr<ITransport> OpenSerialTransportFindingRate(
    const std::string& device, std::chrono::milliseconds probeTimeout, int& baudRate);

}  // namespace zelt::link
