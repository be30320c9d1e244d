#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "obd/Export.h"
#include "obd/sim/Scenario.h"

namespace obd::sim {

// How an EmulatedAdapter behaves beyond what its scenario says.
struct OBD_API EmulatedAdapterOptions {
    // Time the adapter takes for each vehicle request before answering.
    std::chrono::milliseconds latency{0};
    // Bytes per second the link to the adapter carries, in each direction;
    // 0 for no limit. 38400 baud carries about 3840 bytes per second.
    int bytesPerSecond = 0;
    // The adapter's wait after the last answer to a vehicle request, for
    // answers that may still come, unless the request's response count digit
    // was reached. Unset: the ELM327's own (its ATST time, 200 ms by default,
    // shortened by adaptive timing: ATAT1 waits twice `latency` plus 20 ms,
    // ATAT2 `latency` plus 8 ms); otherwise this time, none by default.
    std::optional<std::chrono::milliseconds> answerWait{0};
    // From the `errorFrom`th vehicle request on (1: the first, which also
    // searches the protocol), every vehicle request is answered with
    // `errorText` (e.g. "UNABLE TO CONNECT", "CAN ERROR"), as an adapter
    // whose vehicle bus failed. 0: never.
    int errorFrom = 0;
    // The error text answered from the `errorFrom`th request on.
    std::string errorText;
    // The vehicle's protocol by its ELM327 number (1 SAE J1850 PWM to 9
    // ISO 15765-4 CAN 29 bit 250 kbaud); 0 for the scenario's.
    int protocol = 0;
    // The make of adapter to behave as: one of EmulatedAdapter::cloneProfiles().
    std::string clone = "genuine";
};

// An ELM327-compatible adapter in process, in front of the simulated vehicle
// of a scenario (its ECUs on a simulated CAN bus). It takes what a tester
// writes to the adapter and returns what the adapter prints, prompt
// included: the adapter protocol can be exercised without hardware, over a
// data bridge, a socket or a pseudo-terminal (see tools/elm327-emulator).
// The adapter names itself as the scenario's "adapter" section says.
//
// Thread safety: every operation may be called from any thread; calls are
// serialised.
//
// Not copyable: it owns the vehicle's state.
class OBD_API EmulatedAdapter {
public:
    // Throws std::invalid_argument for a protocol outside 0 to 9 or a make of
    // adapter not in cloneProfiles().
    explicit EmulatedAdapter(const Scenario& scenario, const EmulatedAdapterOptions& options = {});
    // An adapter in front of the car of a recorded dialogue: a plain
    // transcript, a JSON array of [command, answer] pairs (or an object
    // holding it as "dialog") as the adapter printed them under the
    // recording client's settings. It answers each request with what the
    // car's ECUs said to it, printed under the settings the client now asks
    // for on the car's protocol; "NO DATA" to what the car was never asked;
    // and the adapter's failure, as it printed it, when the car never
    // answered. The options' latency, link rate and make of adapter apply.
    // Throws std::invalid_argument for a text that is not such a dialogue.
    static std::unique_ptr<EmulatedAdapter> replay(std::string_view transcript,
                                                   const EmulatedAdapterOptions& options = {});
    // The largest dialogue file replayFile() reads: hours of live data.
    static constexpr std::size_t kMaxReplayFileBytes = std::size_t{64} * 1024 * 1024;
    // replay() of the file at `path` (a transcript or a zelt-scan
    // recording). Throws std::invalid_argument, its message starting with
    // `path`, for a file it cannot read, one larger than
    // kMaxReplayFileBytes (refused before it is read whole) or one that
    // holds no such dialogue.
    static std::unique_ptr<EmulatedAdapter> replayFile(const std::string& path,
                                                       const EmulatedAdapterOptions& options = {});

    ~EmulatedAdapter();
    EmulatedAdapter(const EmulatedAdapter&) = delete;
    EmulatedAdapter& operator=(const EmulatedAdapter&) = delete;

    // The makes of adapter it can behave as, in the order to show them:
    // "genuine" (the scenario's adapter), "cheap" (refuses newer commands,
    // prints lower case and blank lines, slow to its first prompt) and
    // "bluetooth" (drops the link on ATZ).
    static std::vector<std::string> cloneProfiles();

    // Takes bytes the tester wrote; returns what the adapter prints in
    // reply: nothing until a command is complete (ended by a carriage
    // return), then its answer and the ">" prompt.
    std::string receive(std::string_view bytes);

    // The next vehicle request is answered with `text` (e.g. "CAN ERROR",
    // "BUFFER FULL", "STOPPED") instead of the vehicle's answer.
    void injectError(std::string text);

    // True once the adapter hung up (the "bluetooth" make on ATZ): whoever
    // carries its bytes should close the link.
    bool hungUp() const;

    // For a replayed car, what the adapter answers that the car was never
    // asked, a line each: the support bitmaps worked out from the PIDs it
    // answered, when the dialogue asked none ("never asked 0100: ECU 0x12
    // answers 41 00 00 12 00 00"). Empty for a scenario's vehicle.
    std::vector<std::string> inferred() const;

    // As if the adapter were powered off and on for a new tester: its
    // settings are the defaults again and the vehicle's live values start
    // over. The vehicle's stored state (trouble codes cleared) is kept.
    void reset();

private:
    struct Impl;
    explicit EmulatedAdapter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace obd::sim
