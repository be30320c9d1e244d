#pragma once

// A vehicle that answers from a recorded adapter dialogue: what each ECU
// said to each request, read out of the adapter's printed answers, so that
// an emulated adapter can print it again under whatever settings a client
// asks for. It answers only what the car was asked (nothing, "NO DATA",
// otherwise), and a dialogue in which the car never answered gives a
// vehicle the adapter cannot reach.
//
// The dialogue is a plain transcript: a JSON array of [command, answer]
// pairs, or an object holding it as "dialog", the command as sent without
// its carriage return (empty: "repeat the last request") and the answer as
// the adapter printed it under the recording client's settings, prompt left
// out.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bus/RequestChannel.h"
#include "obd/DataLinkProtocol.h"

namespace obd::elm327 {

struct ReplayedDialogue {
    // The protocol the car answered on; Automatic when it never answered.
    DataLinkProtocol protocol = DataLinkProtocol::Automatic;
    // What the adapter printed when it could not reach the car
    // ("UNABLE TO CONNECT", "BUS INIT: ...ERROR"); empty when it could.
    std::string failure;
    // How the adapter named itself ("ELM327 v1.5"); empty when unknown.
    std::string identification;
    std::optional<double> voltage;
    // Per request (its bytes as hex, no spaces, "0100"), each ECU's messages
    // in the order they came, foreign ones included.
    std::map<std::string, std::vector<detail::EcuResponse>> answers;
    // What the replay answers that the car was never asked, a line each
    // (see InferBitmaps()).
    std::vector<std::string> inferred;
};

// The key of a request's answers: its bytes as hex, no spaces ("0100").
std::string AnswerKey(const detail::Bytes& request);

// Reads a transcript; throws std::invalid_argument naming the fault.
ReplayedDialogue ReadTranscript(std::string_view text);

class ReplayedVehicle : public detail::IRequestChannel {
public:
    explicit ReplayedVehicle(ReplayedDialogue dialogue) : dialogue_(std::move(dialogue)) {}

    const ReplayedDialogue& dialogue() const { return dialogue_; }

    std::vector<detail::EcuResponse> transact(const detail::Bytes& request,
                                              std::uint32_t ecu) override;
    std::optional<double> readBatteryVoltage() override { return dialogue_.voltage; }
    void restartClock() override {}

private:
    const ReplayedDialogue dialogue_;
};

}  // namespace obd::elm327
