#pragma once

// An ELM327-compatible adapter in process: the command interpreter in front
// of a vehicle reached through a request channel (the simulated bus). It
// reads what a tester writes to the adapter and returns what the adapter
// prints, prompt included, so that the adapter protocol can be exercised
// without hardware, over a data bridge or a socket.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "bus/RequestChannel.h"
#include "obd/DataLinkProtocol.h"
#include "orvane/Mutex.h"

namespace obd::elm327 {

// How an adapter departs from the ELM327's own behaviour, as makes of
// clone do.
struct CloneQuirks {
    // "?" to commands of later ELM327 versions: ATS0/ATS1, ATAT, ATST, ATWS.
    bool refusesNewerCommands = false;
    bool lowerCaseHex = false;     // "41 0c 1a f8"
    bool extraBlankLines = false;  // a blank line before each answer line
    bool hangsUpOnReset = false;   // ATZ drops the link (Bluetooth clones)
    bool refusesRepeat = false;    // "?" to an empty line, which an ELM327 takes as "again"
    std::chrono::milliseconds firstPromptDelay{0};  // slow to wake up
    // The automatic search ends in "UNABLE TO CONNECT" though the vehicle
    // answers its protocol when chosen (a search that gives up too soon).
    bool searchFindsNothing = false;
    // "?" to a request ended by the response count digit ("010C1").
    bool refusesResponseCount = false;
};

struct EmulatorOptions {
    // The protocol the vehicle speaks, 1 to 9.
    DataLinkProtocol vehicleProtocol = DataLinkProtocol::Iso15765Can11Bit500k;
    // Time the adapter takes for each vehicle request before answering.
    std::chrono::milliseconds latency{0};
    // Bytes per second the link to the adapter carries, in each direction
    // (what the tester writes and what the adapter prints); 0 for no limit.
    // 38400 baud carries about 3840 bytes per second.
    int bytesPerSecond = 0;
    // The wait after the last answer to a vehicle request, for answers that
    // may still come. Unset: the ELM327's own (see endOfAnswerWait()); a
    // fixed time otherwise, none by default in process. No wait follows a
    // request whose response count digit the answers reached.
    std::optional<std::chrono::milliseconds> answerWait{0};
    std::string identification = "ELM327 v1.5";
    std::string description = "OBDII to RS232 Interpreter";
    // From the `errorFrom`th vehicle request on (1: the first, which also
    // searches the protocol), every vehicle request is answered with
    // `errorText` (e.g. "UNABLE TO CONNECT", "CAN ERROR"), as an adapter
    // whose vehicle bus failed. 0: never.
    int errorFrom = 0;
    std::string errorText;
    // What the search prints when no protocol reaches the vehicle.
    std::string searchFailure = "UNABLE TO CONNECT";
    CloneQuirks quirks;
};

// The adapter makes `elm327-emulator --clone` knows, in the order shown to
// the user: "genuine" (an ELM327 v1.5), "cheap" (refuses newer commands,
// prints lower case and blank lines, slow to its first prompt) and
// "bluetooth" (drops the link on ATZ).
extern const char* const kCloneProfiles[3];
// Sets the identification and quirks of the profile `name`; false for a
// name that is not a profile.
bool ApplyCloneProfile(std::string_view name, EmulatorOptions& options);

// The longest command the adapter takes; the rest of a longer line is
// dropped and the line answered with "?".
constexpr std::size_t kMaxCommandLength = 64;

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

    // True once the adapter hung up (a clone that drops the link on ATZ):
    // the transport should be closed.
    bool hungUp() const;

private:
    struct Settings {
        bool echo = true;
        bool linefeeds = false;
        bool headers = false;
        bool spaces = true;
        bool autoFormat = true;
        int protocol = 0;          // as selected by ATSP; 0 = automatic
        bool automatic = true;     // the protocol may be searched for
        int active = 0;            // the protocol found; 0 before the first search
        bool initialised = false;  // the bus of the older protocols is awake
        std::string header;        // ATSH; empty = functional
        int timeoutSteps = 0x32;   // ATST, in steps of 4 ms
        int adaptiveTiming = 1;    // ATAT0, ATAT1 or ATAT2
    };

    // The ELM327's wait for more answers after the last (datasheet): the
    // ATST time (0x32 steps of 4 ms, 200 ms, by default) with adaptive
    // timing off (ATAT0). Adaptive timing learns how soon the ECUs answer
    // and waits less; modelled simply, ATAT1 (the default) waits twice the
    // answer time plus 20 ms, ATAT2 the answer time plus 8 ms, never more
    // than the ATST time.
    std::chrono::milliseconds endOfAnswerWait() const ORVANE_REQUIRES(mutex_);
    std::string execute(const std::string& command) ORVANE_REQUIRES(mutex_);
    std::string atCommand(const std::string& command) ORVANE_REQUIRES(mutex_);
    std::string request(const std::string& command) ORVANE_REQUIRES(mutex_);
    std::string describeProtocol(bool number) const ORVANE_REQUIRES(mutex_);
    std::string hexBytes(const detail::Bytes& bytes, std::size_t from, std::size_t to) const
        ORVANE_REQUIRES(mutex_);
    std::string canId(std::uint32_t id) const ORVANE_REQUIRES(mutex_);
    bool extended() const ORVANE_REQUIRES(mutex_);
    // Whom a request goes to: every ECU or one, by the header set with ATSH.
    std::uint32_t addressee() const ORVANE_REQUIRES(mutex_);
    // The lines an ECU's answer takes on the active protocol, at most
    // `frames` of its frames; `frames` is lowered by the frames printed.
    std::string canLines(const detail::EcuResponse& response, std::size_t& frames) const
        ORVANE_REQUIRES(mutex_);
    std::string legacyLines(const detail::EcuResponse& response, std::size_t& frames) const
        ORVANE_REQUIRES(mutex_);
    bool refused(const std::string& command) const ORVANE_REQUIRES(mutex_);

    detail::IRequestChannel& vehicle_;
    const EmulatorOptions options_;

    mutable orvane::Mutex mutex_;
    Settings settings_ ORVANE_GUARDED_BY(mutex_);
    std::string pending_
        ORVANE_GUARDED_BY(mutex_);  // the command being typed, at most kMaxCommandLength
    bool overlong_ ORVANE_GUARDED_BY(mutex_) = false;  // the command being typed was cut
    bool awake_ ORVANE_GUARDED_BY(mutex_) = false;     // the first prompt was given
    bool hungUp_ ORVANE_GUARDED_BY(mutex_) = false;
    std::string lastCommand_ ORVANE_GUARDED_BY(mutex_);  // repeated by an empty line
    std::optional<std::string> injected_ ORVANE_GUARDED_BY(mutex_);
    // The vehicle's answer ended with "response pending" (7F xx 78): the
    // adapter waits for the final answer, without a prompt, until a
    // character interrupts it.
    bool awaitingFinal_ ORVANE_GUARDED_BY(mutex_) = false;
    int vehicleRequests_ ORVANE_GUARDED_BY(mutex_) =
        0;  // reaching the vehicle protocol, counted for errorFrom
};

}  // namespace obd::elm327
