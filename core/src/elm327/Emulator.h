#pragma once

// An ELM327-compatible adapter in process: the command interpreter in front
// of a vehicle reached through a request channel (the simulated bus). It
// reads what a tester writes to the adapter and returns what the adapter
// prints, prompt included, so that the adapter protocol can be exercised
// without hardware, over a data bridge or a socket.

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "obd/DataLinkProtocol.h"
#include "services/RequestChannel.h"

namespace obd::elm327 {

struct EmulatorOptions {
    // The protocol the vehicle speaks. Only CAN (6 to 9) is emulated; with
    // another one every request fails as with a vehicle that is not there.
    DataLinkProtocol vehicleProtocol = DataLinkProtocol::Iso15765Can11Bit500k;
    // Time the adapter takes for each vehicle request before answering.
    std::chrono::milliseconds latency{0};
    // Bytes per second the link to the adapter carries, in each direction
    // (what the tester writes and what the adapter prints); 0 for no limit.
    // 38400 baud carries about 3840 bytes per second.
    int bytesPerSecond = 0;
    std::string identification = "ELM327 v1.5";
    std::string description = "OBDII to RS232 Interpreter";
    // From the `errorFrom`th vehicle request on (1: the first, which also
    // searches the protocol), every vehicle request is answered with
    // `errorText` (e.g. "UNABLE TO CONNECT", "CAN ERROR"), as an adapter
    // whose vehicle bus failed. 0: never.
    int errorFrom = 0;
    std::string errorText;
};

// Thread safety: receive() may be called from any thread; calls are
// serialised.
class Emulator {
public:
    Emulator(detail::IRequestChannel& vehicle, EmulatorOptions options = {});

    // Takes bytes the tester wrote; returns what the adapter prints in
    // reply: nothing until a command is complete (ended by a carriage
    // return), then its answer and the ">" prompt.
    std::string receive(std::string_view bytes);

    // The next vehicle request is answered with `text` (e.g. "CAN ERROR",
    // "BUFFER FULL", "STOPPED") instead of the vehicle's answer.
    void injectError(std::string text);

private:
    struct Settings {
        bool echo = true;
        bool linefeeds = false;
        bool headers = false;
        bool spaces = true;
        bool autoFormat = true;
        int protocol = 0;       // as selected by ATSP; 0 = automatic
        bool automatic = true;  // the protocol may be searched for
        int active = 0;         // the protocol found; 0 before the first search
        std::string header;     // ATSH; empty = functional
    };

    std::string execute(const std::string& command);  // REQUIRES: mutex_ held
    std::string atCommand(const std::string& command);
    std::string request(const std::string& command);
    std::string describeProtocol(bool number) const;
    std::string hexBytes(const detail::Bytes& bytes, std::size_t from, std::size_t to) const;
    std::string canId(std::uint32_t id) const;
    bool extended() const;

    detail::IRequestChannel& vehicle_;
    const EmulatorOptions options_;

    std::mutex mutex_;
    Settings settings_;
    std::string pending_;      // the command being typed
    std::string lastCommand_;  // repeated by an empty line
    std::optional<std::string> injected_;
    int vehicleRequests_ = 0;  // reaching the vehicle protocol, counted for errorFrom
};

}  // namespace obd::elm327
