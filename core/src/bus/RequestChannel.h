#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace obd::detail {

using Bytes = std::vector<std::uint8_t>;

// One ECU's answer to a request, kept with the ECU's response address.
struct EcuResponse {
    std::uint32_t ecu = 0;
    Bytes payload;  // service id + 0x40 and data, or 7F, service id, code
};

// Addresses a request to every ECU (functional addressing).
constexpr std::uint32_t kAllEcus = 0;

// The way from the services to the vehicle: takes J1979 requests as bytes and
// returns the ECUs' answers, framing and transport already undone. In process
// this is the simulated bus; an adapter protocol over a byte transport can
// stand in its place.
class IRequestChannel {
public:
    virtual ~IRequestChannel() = default;

    // Sends `request` to the ECU with response address `ecu`, or to all ECUs
    // with kAllEcus; returns every answer in ECU address order, empty when
    // nobody answered.
    virtual std::vector<EcuResponse> transact(const Bytes& request, std::uint32_t ecu) = 0;

    // transact(), told how many frames the answers take in all (0: not
    // known), so that an adapter need not wait for more after the last. A
    // channel without such a wait ignores it.
    virtual std::vector<EcuResponse> transactExpecting(const Bytes& request, std::uint32_t ecu,
                                                       std::size_t frames) {
        (void)frames;
        return transact(request, ecu);
    }

    // Whether the calling thread's last transact() failed (an adapter error,
    // an answer that did not belong, no answer in time) rather than being
    // answered; nobody answering and a negative response are answers.
    virtual bool lastRequestFailed() const { return false; }

    // The supply voltage the adapter measures; nothing when unknown.
    virtual std::optional<double> readBatteryVoltage() = 0;

    // The live values of the vehicle start over (the connection opened).
    virtual void restartClock() = 0;
};

}  // namespace obd::detail
