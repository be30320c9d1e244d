#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "obd/DataLinkProtocol.h"
#include "obd/Export.h"
#include "obd/VehicleRoot.h"

namespace obd::elm327 {

// The core's root over a real vehicle, reached through an ELM327-compatible
// adapter (a USB, Bluetooth or Wi-Fi dongle, or an emulator). The core
// speaks to the adapter through a data connection; the application carries
// its bytes to the adapter (see zelt::ConnectionBridge, and zelt::link for
// transports that do it). The connection opens only through
// getConnectionManager()->openConnection() with that data connection:
// opening initialises the adapter, finds the vehicle's protocol and the ECUs
// that answer, and selects the first.
//
// Choosing the protocol: openConnection(bridge, protocol, search) with
// DataLinkProtocol::Automatic lets the adapter search; when its search finds
// nothing ("UNABLE TO CONNECT", or "NO DATA" to the first request), the
// protocols are tried one by one, CAN first, and protocolFallback() says
// which answered or that none did. A chosen protocol (1 to 9, see parseProtocol()) is used as
// it is; with `search` the adapter searches from it when it fails.
//
// When the adapter stops answering, or its data connection becomes invalid,
// the connection is closed on the root's event thread; phase listeners learn
// of it (ConnectionPhase::Closed), so that whoever carries the bytes can
// stop.
//
// Events, thread safety and lifetime: as VehicleRoot says.
class OBD_API AdapterQuorvix : public VehicleRoot {
public:
    // A root with the connection closed.
    static std::shared_ptr<AdapterQuorvix> create();

    ~AdapterQuorvix() override;
    AdapterQuorvix(const AdapterQuorvix&) = delete;
    AdapterQuorvix& operator=(const AdapterQuorvix&) = delete;

    // The most recent failure the adapter reported since the connection was
    // last opened, as a text the application can show: one of its error
    // texts ("CAN ERROR", "UNABLE TO CONNECT", "BUS INIT: ...ERROR",
    // "BUFFER FULL", "STOPPED", "?"), that it stopped answering, or why the
    // opening failed. A later successful request does not clear it; "NO
    // DATA" is no failure (the vehicle had no answer). Empty when nothing
    // failed.
    std::string lastAdapterError() const;
    // After the adapter's own search found nothing: which protocol answered
    // when the protocols were tried one by one, e.g. "the adapter's search
    // found nothing (UNABLE TO CONNECT); ISO 9141-2 answered when tried", or,
    // when the opening failed, which were tried. Empty when the search or
    // the chosen protocol answered; kept until the next opening.
    // getConnectionManager()->getProtocol() names the protocol in use;
    // lastAdapterError() tells why an opening failed.
    std::string protocolFallback() const;
    // Receives one line for each message the adapter's answers carried that
    // did not belong to the request (another ECU's, another service's, an
    // earlier request's): set aside, not an error. Called on the thread of
    // the request; null stops it.
    void setDebugListener(std::function<void(const std::string&)> listener);

    // How long a request may take before the adapter counts as gone (the
    // connection manager's timeout), and the adapter's own wait for the
    // vehicle's answer (ATST) with it: half of `timeout`, at most 1020 ms,
    // so that the adapter says "NO DATA" before the request gives up. The
    // adapter's adaptive timing (ATAT1) stays on where it has it; an adapter
    // that refuses ATST keeps its own wait. The first request of a
    // connection waits at least 15 s whatever the timeout: the adapter's
    // search and the 5-baud start of ISO 9141-2 and ISO 14230-4 take
    // seconds. Takes effect at the next request.
    void setTimeout(std::chrono::milliseconds timeout);

    // An answer to a request of the application's own.
    struct RawAnswer {
        std::uint32_t ecu = 0;            // who answered, as getEcuAddresses() names ECUs
        std::vector<std::uint8_t> bytes;  // the service byte first, e.g. 62 F1 90 ...
    };
    // Sends `request` (a service byte and its data, 1 to 7 bytes, e.g.
    // 22 F1 90 for a manufacturer's data identifier) to the ECU `ecu` (an
    // address from getEcuAddresses()), or to every ECU with 0, on whatever
    // protocol is in use. Every answer that came: none when no ECU answered
    // ("NO DATA"). Nothing when the request failed; lastAdapterError() then
    // says why.
    std::optional<std::vector<RawAnswer>> sendRawRequest(const std::vector<std::uint8_t>& request,
                                                         std::uint32_t ecu = 0);
    // The same with a header of the application's own (ATSH), for an ECU
    // or addressing the services do not know: "7E0" (an 11-bit CAN
    // identifier: 3 hex digits), "18DA10F1" (29-bit: 8 digits) or "6810F1"
    // (the three header bytes of SAE J1850, ISO 9141-2 and ISO 14230-4:
    // priority or format, target, source: 6 digits). The services' headers
    // come back by themselves at their next request.
    std::optional<std::vector<RawAnswer>> sendRawRequestWithHeader(
        const std::vector<std::uint8_t>& request, const std::string& header);

    // Reading what a user typed, for the operations above. Each gives
    // nothing for a text that is not of its form.
    // "auto" (any case) or the adapter's protocol number "1" to "9" (1 SAE
    // J1850 PWM, 2 VPW, 3 ISO 9141-2, 4 ISO 14230-4 5-baud, 5 fast, 6 to 9
    // ISO 15765-4 CAN 11/500, 29/500, 11/250, 29/250).
    static std::optional<DataLinkProtocol> parseProtocol(const std::string& text);
    // Hex bytes, spaces between them allowed: "22F190", "22 F1 90"; 1 to 7
    // bytes.
    static std::optional<std::vector<std::uint8_t>> parseRequest(const std::string& text);
    // An ECU address in hex, with or without 0x: "7E8", "0x18DAF110", "10".
    static std::optional<std::uint32_t> parseEcu(const std::string& text);
    // True from the moment the adapter stopped answering or its data
    // connection went (the connection then closes on the event thread) until
    // the connection is opened again.
    bool isAdapterLost() const;

private:
    AdapterQuorvix();
};

}  // namespace obd::elm327
